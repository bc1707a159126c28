'use strict';
// npzvcert-host.exe over its pipes, as a browser extension's native port
// drives it, in scenarios of several steps: the request cycle within one
// connection, the end of input, several hosts, locked builds. The single
// exchanges are conformance.js's rows.
//
//   node host_test.js <build/win32 folder>
//
// Run under Xvfb with the build's wineserver up (scripts/lib/in-wine.sh).
// Exits 0 only when every check passed.

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const util = require('node:util');

const { checks, show } = require('../../tools/node/checks');
const { OpenSslCa } = require('../../tools/node/ca');
const { HostClient, frame } = require('../../tools/node/host_client');
const { buildProfile } = require('../../tools/node/profile');
const { purgeIssuer, purgePending } = require('../../tools/node/store');

if (process.argv.length < 3) {
  console.error('usage: node host_test.js <build/win32 folder>');
  process.exit(2);
}
const buildDir = path.resolve(process.argv[2]);
const currentProfileDir = process.argv[3] && path.resolve(process.argv[3]);
const repoRoot = path.resolve(__dirname, '..', '..');
const projectVersion = /project\(npzvcert VERSION ([\d.]+)/.exec(fs.readFileSync(path.join(repoRoot, 'CMakeLists.txt'), 'utf8'))[1];
const REPLY_TIMEOUT_MS = 20000;

const { check, report } = checks();

function checkReply(label, reply, expected) {
  const ok = reply !== null && Object.entries(expected).every(([k, v]) => util.isDeepStrictEqual(reply[k], v));
  return check(label, ok, `got ${show(reply)}, want ${show(expected)}`);
}

const newHost = () => new HostClient(buildDir, { timeoutMs: REPLY_TIMEOUT_MS });
// What describe gives where no certificate is found; the SHA-256 of a PEM
// certificate's DER, as describe's thumbprint.
const nothing = { found: false, subject: '', issuer: '', serial: '', serialHex: '', notBefore: '', notAfter: '',
  fromAuthority: false, thumbprint: '' };
const thumbprint = (pem) => require('node:crypto').createHash('sha256')
  .update(new (require('node:crypto').X509Certificate)(pem).raw).digest('hex');
// A call under an id of the test's own, its reply as the host wrote it.
const callAs = (host, id, member, args = []) => host.request({ id, member, args });

async function request(host) {
  checkReply('SetSubject', await callAs(host, 10, 'SetSubject', ['C=CN, O=Café Test, CN=张三']),
    { id: 10, ok: true, value: 1 });
  const csr = await callAs(host, 11, 'GetCSR');
  if (!check('GetCSR gives a PEM request', csr?.ok === true &&
    /^-----BEGIN CERTIFICATE REQUEST-----/.test(csr.value ?? ''), show(csr))) return;
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zvhost-'));
  const file = path.join(dir, 'request.pem');
  fs.writeFileSync(file, csr.value);
  let out = '';
  try {
    out = execFileSync('openssl', ['req', '-verify', '-noout', '-subject', '-nameopt', 'utf8,sep_comma_plus_space',
      '-in', file], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
  } catch (error) {
    out = `openssl failed: ${error.stderr}`;
  }
  fs.rmSync(dir, { recursive: true, force: true });
  check('openssl req -verify accepts the request, with the subject set', /CN\s*=\s*张三/.test(out) &&
    /O\s*=\s*Café Test/.test(out), out.trim());
  // The key made by GetCSR is still pending for the next call: the issued
  // certificate goes in with it, and is deleted again.
  const ca = OpenSslCa.ofBuild(buildDir);
  const rootName = ca.commonName;
  try {
    const serial = 0x7a11n;
    const certificate = ca.issue(csr.value, serial);
    // What the extension's consent window shows, before and after the import.
    const x509 = new (require('node:crypto').X509Certificate)(certificate);
    const utc = (text) => new Date(text).toISOString().replace('T', ' ').replace(/\.\d+Z$/, ' UTC');
    const names = { found: true, subject: 'C=CN, ST=XX, L=XX, O=Café Test, OU=XX, SN=XX, CN=张三, E=XX, G=XX, T=XX',
      issuer: rootName, serial: '31249', serialHex: '7A11', notBefore: utc(x509.validFrom),
      notAfter: utc(x509.validTo), fromAuthority: true, thumbprint: thumbprint(certificate) };
    const bidi = await host.request({ id: 47, describe: { pem: ca.issueForNewKey(6n, { commonName: 'Alice \u202Eevil\u202C' }) } });
    checkReply('a name\'s bidi controls are shown as escapes', { subject: bidi?.value?.subject },
      { subject: 'CN=Alice ⟨U+202E⟩evil⟨U+202C⟩' });
    // Another issuer's, a look-alike's (a Cyrillic С) and an impostor's whose root bears the authority's name.
    for (const [what, issuer] of [['another issuer', new OpenSslCa(`${rootName} Elsewhere`)],
      ['a look-alike issuer', new OpenSslCa(rootName.replace('C', '\u0421'))], ['an impostor', ca.impostor()]]) {
      const foreign = issuer.issueForNewKey(5n);
      issuer.remove();
      const elsewhere = await host.request({ id: 46, describe: { pem: foreign } });
      checkReply(`describe says when a certificate is not from the authority: ${what}'s`,
        { issuer: elsewhere?.value?.issuer, fromAuthority: elsewhere?.value?.fromAuthority }, { issuer: issuer.commonName, fromAuthority: false });
    }
    const described = { ...names, canonical: '31249' };
    checkReply('describe names the certificate in a PEM text',
      await host.request({ id: 40, describe: { pem: certificate } }),
      { id: 40, ok: true, value: { ...names, canonical: certificate } });
    checkReply('... and in that text cut at a zero byte, as the plug-in cuts it',
      await host.request({ id: 45, describe: { pem: `${certificate}\0tail` } }),
      { id: 45, ok: true, value: { ...names, canonical: certificate } });
    checkReply('describe by serial finds nothing before the import',
      await host.request({ id: 41, describe: { serial: '31249' } }),
      { id: 41, ok: true, value: { ...nothing, serial: '31249', canonical: '31249' } });
    checkReply('ImportCert links the certificate to the pending key',
      await callAs(host, 12, 'ImportCert', [certificate]), { id: 12, ok: true, value: 1 });
    checkReply('describe by serial finds the stored certificate, as DelCert would',
      await host.request({ id: 42, describe: { serial: '31249abc' } }), { id: 42, ok: true, value: described });
    // Read as the plug-in reads it: cut after 39 characters, so the 7 that
    // makes the text 312497 is not read.
    checkReply('describe by serial reads the text as DelCert does, cut after 39 characters',
      await host.request({ id: 44, describe: { serial: `${'0'.repeat(34)}312497` } }),
      { id: 44, ok: true, value: described });
    await listAndSign(host, ca, described);
    checkReply('DelCert removes it and its key', await callAs(host, 13, 'DelCert', [serial.toString()]),
      { id: 13, ok: true, value: 1 });
    checkReply('describe by serial finds nothing after the deletion',
      await host.request({ id: 43, describe: { serial: '31249' } }),
      { id: 43, ok: true, value: { ...nothing, serial: '31249', canonical: '31249' } });
    await sharedSerial(host, ca);
  } finally {
    ca.remove();
  }
}

// What a page finds through list and signs through signCms, beside an
// expired certificate of the authority's and one of another issuer's.
async function listAndSign(host, ca, described) {
  const other = new OpenSslCa(`${ca.commonName} Elsewhere`);
  const store = async (id, issuer, serial, options) => checkReply(`ImportCert of ${issuer.commonName}'s ${serial}`,
    await callAs(host, id, 'ImportCert', [issuer.issue((await callAs(host, id, 'GetCSR'))?.value ?? '', serial, options)]),
    { id, ok: true, value: 1 });
  try {
    await store(70, ca, 0x7a13n, { days: -1 });
    await store(71, other, 0x7a14n);
    const list = (await host.request({ id: 72, list: {} }))?.value ?? [];
    checkReply('list shows the stored certificate as describe does, not expired',
      { value: list.filter((c) => c.serial === '31249') }, { value: [{ ...described, expired: false }] });
    check('... one expired as expired', list.find((c) => c.serial === '31251')?.expired === true, show(list));
    check('... and only the authority\'s', list.every((c) => c.fromAuthority && c.issuer === ca.commonName &&
      c.serial !== '31252'), show(list));

    const data = Buffer.from('Café, signed \u0000\u00ff');
    const { digest } = buildProfile(buildDir);
    for (const detached of [undefined, false, true]) {
      const r = await host.request({ id: 73, signCms: { serial: '31249', data: data.toString('base64'), detached } });
      const der = Buffer.from(r?.value ?? '', 'base64');
      const v = ca.verifyCms(der, detached ? data : undefined);
      check(`signCms, detached ${detached}: openssl cms -verify succeeds`, r?.ok === true && v.verified, v.output);
      check(`... signed with ${digest}, the signer named by issuer and serial`, v.digest === digest &&
        v.signer?.[0].includes(ca.commonName) && v.signer?.[1] === '31249', show([v.digest, v.signer]));
      check(`... ${detached ? 'without the content' : 'with the content, which is the data'}`,
        detached ? !ca.verifyCms(der).verified : v.content?.equals(data), show(v.content));
    }
    const foreign = await host.request({ id: 74, signCms: { serial: '31252', data: 'QQ==' } });
    check('signCms refuses another issuer\'s serial', foreign?.ok === false && !('value' in foreign) &&
      /no such certificate/.test(foreign.error), show(foreign));
    // A build with ZVCERT_SIGN_TEXT_ONLY signs only what the consent window can show.
    const textOnly = new HostClient(buildDir, { program: 'npzvcert-host-text-only.exe', timeoutMs: REPLY_TIMEOUT_MS });
    for (const [what, bytes, signs] of [['text', Buffer.from('I agree.\r\n'), true], ['binary data', data, false],
      ['text too long to show', Buffer.alloc(70000, 'a'), false]]) {
      const r = await textOnly.request({ id: 76, signCms: { serial: '31249', data: bytes.toString('base64') } });
      check(`a text-only host ${signs ? 'signs' : 'refuses'} ${what}`, signs ? ca.verifyCms(Buffer.from(r?.value ?? '', 'base64')).verified
        : r?.ok === false && /cannot be shown as text/.test(r.error), show(r));
    }
    await textOnly.close();
    checkReply('DelCert removes the expired one', await callAs(host, 75, 'DelCert', ['31251']), { id: 75, value: 1 });
  } finally {
    purgeIssuer(buildDir, other.commonName);
    other.remove();
  }
}

// An impostor's root bears the authority's name and its certificates the
// serial of the user's own, one of them before it in store order: describe
// by serial names what this build's lookups (by name) take, while list, the
// thumbprint and signCms know the authority's by its root's signature.
async function sharedSerial(host, ca) {
  const impostor = ca.impostor();
  const importFrom = async (issuer, id) => {
    const certificate = issuer.issue((await callAs(host, id, 'GetCSR'))?.value ?? '', 0x7a15n);
    const r = await callAs(host, id, 'ImportCert', [certificate]);
    return r?.value === 1 ? thumbprint(certificate) : `not imported: ${show(r)}`;
  };
  try {
    const real = await importFrom(ca, 90);
    const forged = [];
    let described;
    // The store's order is its own: more of them until one comes first.
    for (let i = 0; i < 16 && !forged.includes(described?.thumbprint); i += 1) {
      forged.push(await importFrom(impostor, 91));
      described = (await host.request({ id: 92, describe: { serial: '31253' } }))?.value;
    }
    // Nearly always an impostor's comes first within 16; when the store
    // keeps the authority's first after all, it must be named as such.
    const first = forged.includes(described?.thumbprint) ? 'the impostor\'s' : 'the authority\'s';
    check(`describe by serial names what this build's lookups take first (${first}) and whose it is`,
      [real, ...forged].includes(described?.thumbprint) && described.fromAuthority === (described.thumbprint === real),
      show([described, real, forged]));
    const cases = [
      ['by the authority\'s thumbprint', { serial: '31253', thumbprint: real.toUpperCase() }, { found: true, thumbprint: real, fromAuthority: true }],
      ['never by the impostor\'s', { serial: '31253', thumbprint: forged[0] }, { found: false, thumbprint: '', fromAuthority: false }],
    ];
    for (const [what, describe, expected] of cases) {
      const r = await host.request({ id: 93, describe });
      checkReply(`describe ${what}`, { found: r?.value?.found, thumbprint: r?.value?.thumbprint, fromAuthority: r?.value?.fromAuthority }, expected);
    }
    const listed = ((await host.request({ id: 94, list: {} }))?.value ?? []).filter((c) => c.serial === '31253');
    checkReply('list shows the authority\'s alone', listed.map((c) => c.thumbprint), [real]);
    for (const [what, thumb, signed] of [['no thumbprint', undefined, true], ['the authority\'s thumbprint', real, true],
      ['the impostor\'s thumbprint', forged[0], false], ['a thumbprint that is no SHA-256', 'zz', false]]) {
      const r = await host.request({ id: 95, signCms: { serial: '31253', data: 'QUJD', thumbprint: thumb } });
      const v = ca.verifyCms(Buffer.from(r?.value ?? '', 'base64'));
      check(`signCms with ${what} ${signed ? 'signs with the authority\'s' : 'is refused'}`,
        signed ? r?.ok === true && v.verified : r?.ok === false && /no such certificate|64 hex/.test(r.error), `${show(r)} ${v.output}`);
    }
  } finally {
    purgeIssuer(buildDir, ca.commonName);
    impostor.remove();
  }
}

// A message over 64 MiB, as the framing refuses it: the single exchanges
// are conformance.js's rows.
async function oversized(host) {
  const refused = (label, reply, id, reason) => check(label, reply !== null && reply.ok === false &&
    util.isDeepStrictEqual(reply.id, id) && !('value' in reply) && reason.test(reply.error ?? ''), show(reply));
  // A 70 MiB header is answered at once; the body is skipped, not kept.
  const started = Date.now();
  const header = Buffer.alloc(4);
  header.writeUInt32LE(70 << 20);
  host.send(header);
  const tooLong = await host.next(10000);
  refused('a 70 MiB message is refused before its body comes', tooLong, null, /64 MiB/);
  check('... promptly', Date.now() - started < 10000, `${Date.now() - started} ms`);
  host.send(Buffer.alloc(70 << 20, 0x20));
  checkReply('the next message after the skipped one is answered', await callAs(host, 30, 'Version'),
    { id: 30, ok: true, value: 1022 });
}

async function endings() {
  const cases = [
    ['stdin closed between messages', Buffer.alloc(0)],
    ['a cut length header', Buffer.from([5, 0])],
    ['a message cut short', frame('{"id":1,"member":"Version"}').subarray(0, 12)],
  ];
  for (const [label, bytes] of cases) {
    const host = newHost();
    host.send(bytes);
    const code = await host.close();
    check(`clean exit on ${label}`, code === 0 && host.replies.length === 0,
      `exit ${code}, replies ${show(host.replies)}, stderr ${host.stderr}`);
  }
}

// Three pages' hosts making ten requests each at the same time, as three
// tabs may: every request is made, each with a key of its own, and a host's
// pending key is its own alone.
async function manyHosts() {
  const hosts = [newHost(), newHost(), newHost()];
  const requests = await Promise.all(hosts.map(async (host) => {
    const made = [];
    for (let i = 0; i < 10; i += 1) made.push(await callAs(host, 100 + i, 'GetCSR'));
    return made;
  }));
  const all = requests.flat();
  const good = all.filter((r) => r?.ok === true && /BEGIN CERTIFICATE REQUEST/.test(r.value ?? ''));
  check('30 requests from three hosts at once all succeed', good.length === 30,
    `${good.length} of 30: ${show(all.filter((r) => !good.includes(r)).slice(0, 3))}`);
  const moduli = good.map((r) => execFileSync('openssl', ['req', '-noout', '-modulus'], { input: r.value, encoding: 'utf8' }));
  check('... each with a key of its own', new Set(moduli).size === good.length, `${new Set(moduli).size} distinct`);

  const ca = OpenSslCa.ofBuild(buildDir);
  try {
    const last = requests[0].at(-1);
    const certificate = ca.issue(last?.value ?? '', 0x7a12n);
    checkReply("another host refuses the certificate of the first host's request",
      await callAs(hosts[1], 120, 'ImportCert', [certificate]), { id: 120, ok: false, value: -1 });
    checkReply('the first host imports it', await callAs(hosts[0], 121, 'ImportCert', [certificate]),
      { id: 121, ok: true, value: 1 });
    checkReply('... and deletes it', await callAs(hosts[0], 122, 'DelCert', [String(0x7a12)]),
      { id: 122, ok: true, value: 1 });
  } finally {
    ca.remove();
  }
  const codes = await Promise.all(hosts.map((h) => h.close()));
  check('the three hosts exit 0', codes.every((c) => c === 0), show(codes));
}

// Browsers pass hosts arguments of their own; only the test build reads
// --plugin=, which names another DLL to load (conformance.js's no-plugin rows).
async function pluginOption() {
  const host = new HostClient(buildDir, { plugin: 'Z:\\nowhere\\npzvcert.dll', timeoutMs: REPLY_TIMEOUT_MS });
  checkReply('the shipped host ignores --plugin= and loads the DLL beside it', await callAs(host, 50, 'Version'),
    { id: 50, ok: true, value: 1022 });
  checkReply('... and status gives its version beside the project\'s', await host.request({ id: 51, status: {} }),
    { id: 51, ok: true, value: { host: projectVersion, plugin: 1022 } });
  await host.close();
}

// A plug-in built for https://ca.example.com's pages alone serves the page
// the extension names, once, and no other.
async function pageLock() {
  const locked = `Z:${path.join(buildDir, 'locked', 'npzvcert.dll').replaceAll('/', '\\')}`;
  const ca = OpenSslCa.ofBuild(buildDir);
  try {
    for (const [i, page, served] of [[0, null, false], [1, 'https://ca.example.com:8443', false],
      [2, 'https://ca.example.com', true]]) {
      const host = new HostClient(buildDir, { checks: true, plugin: locked, timeoutMs: REPLY_TIMEOUT_MS });
      if (page !== null) {
        checkReply(`the host takes the page ${page}`, await host.request({ id: 60, page }), { id: 60, ok: true });
        checkReply('... once', await host.request({ id: 61, page: 'https://ca.example.com' }), { id: 61, ok: false });
      }
      const name = await callAs(host, 59, 'HostName');
      check(`a page ${page ?? 'unnamed'} ${served ? 'reads' : 'does not read'} the computer's name`,
        name?.ok === true && typeof name.value === 'string' && (name.value !== '') === served, show(name));
      const certificate = ca.issue((await callAs(host, 62, 'GetCSR'))?.value ?? '', 0x7a20n + BigInt(i));
      checkReply(`a page ${page ?? 'unnamed'} ${served ? 'imports' : 'imports nothing'}`,
        await callAs(host, 63, 'ImportCert', [certificate]), { id: 63, ok: served, value: served ? 1 : -1 });
      if (served) {
        const listed = await host.request({ id: 65, list: {} });
        check('... lists it and signs with it', listed?.value?.some((c) => c.serial === '31266') &&
          (await host.request({ id: 66, signCms: { serial: '31266', data: 'QQ==' } }))?.ok === true, show(listed));
        const foreign = new HostClient(buildDir, { checks: true, plugin: locked, timeoutMs: REPLY_TIMEOUT_MS });
        await foreign.request({ id: 60, page: 'https://ca.example.com:8443' });
        checkReply('another page lists nothing', await foreign.request({ id: 65, list: {} }), { ok: true, value: [] });
        checkReply('... describes nothing', await foreign.request({ id: 67, describe: { serial: '31266' } }),
          { ok: true, value: { ...nothing, serial: '31266', canonical: '31266' } });
        const r = await foreign.request({ id: 66, signCms: { serial: '31266', data: 'QQ==' } });
        check('... and signs nothing', r?.ok === false && /served to this page/.test(r.error), show(r));
        await foreign.close();
        checkReply('... and deletes', await callAs(host, 64, 'DelCert', [String(0x7a22)]), { id: 64, value: 1 });
      }
      check('the locked host exits 0', (await host.close()) === 0);
    }
  } finally {
    ca.remove();
  }
}

// Today's profile's host, run in this build's Wine prefix: a CA tool's random
// 20-byte serial listed, signed with a 2048-bit key and that build's hash.
async function currentProfile() {
  const { digest, pendingLimit } = buildProfile(currentProfileDir);
  purgePending(buildDir);
  const newHost = () => new HostClient(currentProfileDir, { timeoutMs: REPLY_TIMEOUT_MS,
    env: { ...process.env, ZVCERT_WINEPREFIX: path.join(buildDir, 'wineprefix') } });
  const host = newHost();
  const ca = OpenSslCa.ofBuild(currentProfileDir);
  const impostor = ca.impostor();
  try {
    // One page's request waits; another page asking for request after
    // request cannot push it out: once the store holds as many as it keeps,
    // all recent, it is refused.
    await host.request({ id: 88, page: 'https://ca.example.com' });
    const waiting = (await callAs(host, 88, 'GetCSR'))?.value ?? '';
    const other = newHost();
    await other.request({ id: 89, page: 'https://elsewhere.example.com' });
    const made = [];
    for (let i = 0; i <= pendingLimit; i += 1) made.push((await callAs(other, 89, 'GetCSR'))?.ok);
    await other.close();
    checkReply(`another page's requests stop at ${pendingLimit} waiting, rather than delete the first page's`,
      { made }, { made: [...Array(pendingLimit - 1).fill(true), false, false] });
    checkReply('... whose certificate then imports', await callAs(host, 88, 'ImportCert', [ca.issue(waiting)]),
      { value: 1 });
    purgeIssuer(buildDir, ca.commonName);
    purgePending(buildDir);
    // Its lookups also check the root's signature: an impostor's certificate
    // is stored, but never found, signed with or deleted.
    const forged = impostor.issue((await callAs(host, 85, 'GetCSR'))?.value ?? '', 0x7a30n);
    checkReply(`${digest}: ImportCert of an impostor's certificate`, await callAs(host, 85, 'ImportCert', [forged]), { value: 1 });
    const found = [];
    for (const [member, args] of [['IsCertExist', ['31280']], ['FindCert', ['CN', 'XX']], ['CertSign', ['31280', 'QQ==']],
      ['DelCert', ['31280']]]) {
      found.push((await callAs(host, 86, member, args))?.value);
    }
    checkReply('... which IsCertExist, FindCert, CertSign and DelCert do not take for the authority\'s', { found },
      { found: [0, '', '', 0] });
    checkReply('... nor describe', await host.request({ id: 87, describe: { serial: '31280' } }), { value: { ...nothing, serial: '31280', canonical: '31280' } });
    const certificate = ca.issue((await callAs(host, 80, 'GetCSR'))?.value ?? '');
    checkReply(`${digest}: ImportCert`, await callAs(host, 81, 'ImportCert', [certificate]), { id: 81, ok: true, value: 1 });
    const serial = ca.serialOf(certificate).toString();
    const listed = await host.request({ id: 82, list: {} });
    check(`... list gives its serial ${serial}`, listed?.value?.some((c) => c.serial === serial), show(listed));
    const r = await host.request({ id: 83, signCms: { serial, data: 'QUJD' } });
    const v = ca.verifyCms(Buffer.from(r?.value ?? '', 'base64'));
    check(`... signCms verifies, signed with ${digest}`, v.verified && v.digest === digest, v.output);
    checkReply('... DelCert', await callAs(host, 84, 'DelCert', [serial]), { id: 84, value: 1 });
  } finally {
    purgeIssuer(buildDir, ca.commonName);
    impostor.remove();
    ca.remove();
    await host.close();
  }
}

(async () => {
  const host = newHost();
  for (const part of [request, oversized]) await part(host);
  const code = await host.close();
  check('the host exits 0 when stdin closes', code === 0, `exit ${code}; ${host.stderr}`);
  await endings();
  await manyHosts();
  await pluginOption();
  await pageLock();
  if (currentProfileDir) await currentProfile();
  process.exit(report());
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
