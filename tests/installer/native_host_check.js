'use strict';
// The JSON side of installer_test.sh:
//
//   node native_host_check.js identity <identity.json>
//       prints hostName, chromiumId and firefoxId, one a line
//   node native_host_check.js manifest <file> chromium|firefox <host name> <extension id>
//       prints the manifest's "path"; each fault goes to stderr, and exit 1
//   node native_host_check.js reply <file> <expected JSON>
//       <file> must hold exactly one native message (4-byte little-endian
//       length, then the JSON) equal to the expected one; faults as above
//   node native_host_check.js enrol <host exe> <build dir> <root.pem>
//       a certificate through that (installed) host as a page gets one:
//       GetCSR, the authority issues, ImportCert; prints its serial in hex

const fs = require('node:fs');
const util = require('node:util');

const [command, file, ...rest] = process.argv.slice(2);
const faults = [];
const fault = (text) => faults.push(text);
const show = (value) => JSON.stringify(value);

function parse(text, what) {
  try {
    return JSON.parse(text);
  } catch (e) {
    fault(`${what} is not JSON: ${e.message}`);
    return null;
  }
}

function identity() {
  const id = parse(fs.readFileSync(file, 'utf8'), file);
  if (id === null) return;
  for (const key of ['hostName', 'chromiumId', 'firefoxId']) {
    if (typeof id[key] !== 'string' || id[key] === '' || /[\r\n]/.test(id[key])) {
      fault(`${file}: ${key} is ${show(id[key])}`);
    } else {
      console.log(id[key]);
    }
  }
}

function manifest() {
  const [family, hostName, extensionId] = rest;
  // Read as UTF-8 without stripping anything: browsers refuse a leading BOM,
  // and so does JSON.parse.
  const m = parse(fs.readFileSync(file, 'utf8'), file);
  if (m === null) return;
  if (typeof m !== 'object' || Array.isArray(m)) return fault(`${file} is not a JSON object`);
  if (m.name !== hostName) fault(`name is ${show(m.name)}, expected ${show(hostName)}`);
  if (m.type !== 'stdio') fault(`type is ${show(m.type)}, expected "stdio"`);
  if (typeof m.description !== 'string' || m.description === '') fault(`description is ${show(m.description)}`);
  const [wanted, foreign, allowed] = family === 'chromium'
    ? ['allowed_origins', 'allowed_extensions', `chrome-extension://${extensionId}/`]
    : ['allowed_extensions', 'allowed_origins', extensionId];
  if (!util.isDeepStrictEqual(m[wanted], [allowed])) {
    fault(`${wanted} is ${show(m[wanted])}, expected ${show([allowed])}`);
  }
  // The other family's list means the wrong manifest was registered.
  if (foreign in m) fault(`a ${family} manifest has ${foreign}`);
  if (typeof m.path !== 'string' || m.path === '') fault(`path is ${show(m.path)}`);
  else console.log(m.path);
}

function reply() {
  const bytes = fs.readFileSync(file);
  if (bytes.length < 4) return fault(`${bytes.length} bytes, not even a length`);
  const size = bytes.readUInt32LE(0);
  if (bytes.length !== 4 + size) {
    return fault(`the length says ${size} bytes, ${bytes.length - 4} follow: ${show(bytes.subarray(4).toString('latin1'))}`);
  }
  const got = parse(bytes.subarray(4).toString('utf8'), 'the reply');
  const expected = JSON.parse(rest[0]);
  if (got !== null && !util.isDeepStrictEqual(got, expected)) {
    fault(`the reply is ${show(got)}, expected ${show(expected)}`);
  }
}

async function enrol() {
  const { HostClient } = require('../../tools/node/host_client');
  const { OpenSslCa } = require('../../tools/node/ca');
  const [buildDir, root] = rest;
  const host = new HostClient(buildDir, { exe: file });
  const ca = new OpenSslCa(undefined, { root });
  try {
    await host.call('SetSubject', 'CN=Enrolled Before Uninstalling');
    const request = await host.call('GetCSR');
    // 63 bits, the first nibble 4 to 7: stored as 8 bytes, read back as written.
    const serial = (require('node:crypto').randomBytes(8).readBigUInt64BE() >> 2n) | (1n << 62n);
    const stored = request.ok ? await host.call('ImportCert', ca.issue(request.value, serial)) : request;
    if (stored.value !== 1) fault(`the installed host did not enrol: ${show([request, stored])} ${host.stderr}`);
    else console.log(serial.toString(16).toUpperCase());
  } finally {
    await host.close();
    ca.remove();
  }
}

const commands = { identity, manifest, reply, enrol };
if (!commands[command] || !file) {
  console.error('usage: see the comment at the top of native_host_check.js');
  process.exit(2);
}
Promise.resolve(commands[command]()).then(() => {
  for (const f of faults) console.error(f);
  process.exit(faults.length === 0 ? 0 : 1);
});
