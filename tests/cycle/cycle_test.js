'use strict';
// The whole enrolment cycle through the built plug-in, as a page drives it:
// request, issue by a real OpenSSL authority (the one whose root the plug-in
// is built with), import, look up,
// sign, delete; checked with OpenSSL and the store as another process sees it.
// Certificates also come from CFSSL and with the CA tools' own random serials.
//
//   node cycle_test.js <build/win32 folder> <repository root> [<plug-in build folder>]
//
// The plug-in is the build folder's own, or that of another build of it (of
// another key size, hash or serial length), which the expectations follow.
// Run under Xvfb with the build's wineserver up (scripts/lib/in-wine.sh).
// Exits 0 only when every check passed.

const { execFileSync, spawnSync } = require('node:child_process');
const crypto = require('node:crypto');
const path = require('node:path');

const { checks, show } = require('../../tools/node/checks');
const { HostClient } = require('../../tools/node/host_client');
const { OpenSslCa } = require('../../tools/node/ca');
const { buildProfile, serialView, splitSignature } = require('../../tools/node/profile');
const { listStore, purgeIssuer, purgePending } = require('../../tools/node/store');

if (process.argv.length < 4) {
  console.error('usage: node cycle_test.js <build/win32 folder> <repository root> [<plug-in build folder>]');
  process.exit(2);
}
const buildDir = path.resolve(process.argv[2]);
const pluginDir = path.resolve(process.argv[4] ?? buildDir);
const profile = buildProfile(pluginDir);
// The test build of the host: it exits 0 only when the plug-in used the
// browser as it must.
const hostOptions = {
  checks: true,
  plugin: process.argv[4] && `Z:${path.join(pluginDir, 'bin', 'npzvcert.dll').replaceAll('/', '\\')}`,
};

// ---- reporting: the values checked are shown on passing lines too ----

const { check, checkEqual, report } = checks({ detailOnPass: true });

// A script reply as { ok, value } (the wire type shows in value's type).
const reply = (r) => ({ ok: r.ok, value: r.value });

// ---- the certificates' subjects and serials ----

// serial: what the CA is told to issue ('random': the CA tool's own choice;
// issuer 'cfssl': CFSSL issues it). What FindCert gives for the subject's
// values and whether the serial methods reach it follow from the serial and
// the build's serial length (serialView).
const CASES = [
  {
    name: 'serial 5',
    serial: 5n,
    subject: 'C=CN, ST=Beijing, L=Haidian, O=ZV Cycle Five, OU=Enrolment, CN=cycle-five, ' +
      'SN=Wu, G=Wei, T=Tester, E=five@zv.test',
    lookups: [['cn', 'cycle-five'], ['O', 'ZV Cycle Five'], ['e', 'five@zv.test'], ['Sn', 'Wu']],
  },
  {
    // DER 00 8F 12 34: the sign byte takes no part in matching.
    name: 'serial 0x8F1234',
    serial: 0x8f1234n,
    subject: 'C=DE, ST=Berlin, L=Mitte, O=ZV Cycle Sign Byte, OU=Enrolment, ' +
      'CN=cycle-sign-byte, E=sign-byte@zv.test, T=Signer',
    lookups: [['CN', 'cycle-sign-byte'], ['o', 'ZV Cycle Sign Byte'], ['E', 'sign-byte@zv.test'],
              ['t', 'Signer']],
  },
  {
    // 8-byte builds: script has no decimal for it, but its decimal text
    // still names it.
    name: 'serial 0x8000000000000005',
    serial: 0x8000000000000005n,
    subject: 'C=FR, L=Lyon, O=ZV Cycle Top Bit, OU=High Serials, CN=cycle-top-bit, ' +
      'G=Jeanne, E=top-bit@zv.test',
    lookups: [['Cn', 'cycle-top-bit'], ['ou', 'High Serials'], ['g', 'Jeanne']],
  },
  {
    // 8-byte builds: FindCert shows the eight least significant bytes
    // (0x030405060708090A); nothing reaches it by serial.
    name: 'serial 0x0102030405060708090A',
    serial: 0x0102030405060708090an,
    subject: 'C=JP, ST=Tokyo, O=ZV Cycle Long Serial, CN=cycle-long-serial, E=long@zv.test',
    lookups: [['cN', 'cycle-long-serial'], ['st', 'Tokyo']],
  },
  {
    name: 'non-ASCII subject',
    serial: 0x2an,
    subject: 'CN=张三, O=Café, L=Zürich',
    lookups: [['CN', '张三'], ['o', 'Café'], ['l', 'Zürich']],
  },
  {
    name: 'CFSSL, its random serial',
    serial: 'random',
    issuer: 'cfssl',
    subject: 'C=NL, O=ZV Cycle CFSSL, CN=cycle-cfssl, E=cfssl@zv.test',
    lookups: [['CN', 'cycle-cfssl'], ['o', 'ZV Cycle CFSSL']],
  },
  {
    name: 'OpenSSL, its random serial',
    serial: 'random',
    subject: 'C=SE, O=ZV Cycle Random, CN=cycle-random',
    lookups: [['CN', 'cycle-random']],
  },
  {
    // 20 bytes with the top bit set: DER adds a sign byte (21 bytes).
    name: 'serial of 20 bytes, top bit set',
    serial: 0x8102030405060708090a0b0c0d0e0f1011121314n,
    subject: 'O=ZV Cycle Twenty, CN=cycle-twenty',
    lookups: [['CN', 'cycle-twenty']],
  },
  {
    // More than any build holds: never reached by serial.
    name: 'serial of 21 bytes',
    serial: 0x0102030405060708090a0b0c0d0e0f101112131415n,
    subject: 'O=ZV Cycle Twenty-One, CN=cycle-twenty-one',
    lookups: [['CN', 'cycle-twenty-one']],
  },
];

// Shares serial 5 with the first case but comes from an authority whose name
// only begins like ours: the plug-in must neither find nor touch it.
const OTHER_AUTHORITY_CASE = {
  name: 'other authority, serial 5',
  serial: 5n,
  subject: 'O=ZV Cycle Elsewhere, CN=cycle-other-authority, E=elsewhere@zv.test',
  lookups: [['CN', 'cycle-other-authority'], ['e', 'elsewhere@zv.test']],
};

const SIGNED_DATA = [
  ['no data', Buffer.alloc(0)],
  ['a short text', Buffer.from('zvcert enrolment cycle', 'utf8')],
  ['every byte value', Buffer.from(Array.from({ length: 256 }, (_, i) => i))],
  ['48 KiB of random bytes', crypto.randomBytes(48 * 1024)],
];
const NOT_BASE64 = ['not base64!', 'QUJ', 'QU=D'];

const CONTAINER_NAME = /^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$/;
const AT_SIGNATURE = 2;
// CertSign's result: the serial field and a signature as long as the key.
const SIGNATURE_BASE64 = Math.ceil((profile.serialBytes + profile.signatureBytes) / 3) * 4;

const serialHex = (serial) => serial.toString(16).toUpperCase();

// The certificates in the store from the issuer with the serial.
const storedCerts = (listing, issuer, serial) =>
  listing.filter((c) => c.issuer === issuer && BigInt(`0x${c.serial || '0'}`) === serial);

// Wine keeps a user's key containers as registry keys; listing them shows
// whether a container is gone even once no certificate names it.
function wineKeyContainers() {
  try {
    const out = execFileSync(path.join(buildDir, 'wine-run.sh'),
                             ['reg', 'query', 'HKCU\\Software\\Wine\\Crypto\\RSA'],
                             { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
    return new Set(out.split(/\r?\n/)
      .map((line) => /\\Crypto\\RSA\\(.+)$/i.exec(line.trim())?.[1])
      .filter(Boolean)
      .map((name) => name.toUpperCase()));
  } catch (error) {
    if (error.status === 1) return new Set();  // no container was ever made
    throw error;
  }
}

// ---- the steps ----

// What three independent parsers say of a request: OpenSSL and GnuTLS print
// their verdicts and exit 0 either way; CFSSL (Go's crypto/x509) signs only
// a request whose signature it checked. A CA's rule too: keys below 2048 bits
// are refused where the build makes such keys.
function checkRequest(tag, pem, ca) {
  const run = (command, ...args) => {
    const r = spawnSync(command, args, { input: pem, encoding: 'utf8' });
    return `${r.stdout}${r.stderr}`;
  };
  const text = run('openssl', 'req', '-noout', '-verify', '-text');
  check(`${tag} openssl req -verify: verify OK`, /verify OK/.test(text), /\S*verif[^\n]*/.exec(text)?.[0]);
  const bits = Number(/Public-Key: \((\d+) bit\)/.exec(text)?.[1]);
  const algorithm = /Signature Algorithm: (\S+)/.exec(text)?.[1];
  checkEqual(`${tag} the request's key size and signature algorithm`, [bits, algorithm],
             [profile.keyBits, `${profile.digest}WithRSAEncryption`]);
  if (profile.keyBits >= 2048) check(`${tag} a CA's floor of 2048 bits accepts the key`, bits >= 2048);
  const crq = run('certtool', '--crq-info');
  check(`${tag} certtool: Self signature: verified`, /Self signature: verified/.test(crq),
        /Self signature[^\n]*/.exec(crq)?.[0]);
  try {
    check(`${tag} CFSSL checks the request and signs it`, /BEGIN CERTIFICATE/.test(ca.issueWithCfssl(pem)));
  } catch (error) {
    check(`${tag} CFSSL checks the request and signs it`, false, String(error.stdout || error));
  }
}

async function enrol(host, ca, c) {
  const tag = `[${c.name}]`;
  checkEqual(`${tag} SetSubject "${c.subject}"`, reply(await host.call('SetSubject', c.subject)),
             { ok: true, value: 1 });
  checkEqual(`${tag} SetChallenge`, reply(await host.call('SetChallenge', 'cycle', 'pass word')),
             { ok: true, value: 1 });
  const csr = await host.call('GetCSR');
  const isPem = csr.ok && typeof csr.value === 'string' &&
    /-----BEGIN [A-Z ]*REQUEST-----/.test(csr.value);
  if (!check(`${tag} GetCSR gives a PEM request`, isPem, isPem ? undefined : show(csr))) {
    return null;
  }
  checkRequest(tag, csr.value, ca);
  try {
    const random = c.serial === 'random';
    c.certificate = c.issuer === 'cfssl' ? ca.issueWithCfssl(csr.value)
      : ca.issue(csr.value, random ? undefined : c.serial);
    if (random) c.serial = ca.serialOf(c.certificate);
  } catch (error) {
    check(`${tag} ${c.issuer ?? 'the CA'} issues a certificate from the request`, false,
          String(error.stderr || error));
    return null;
  }
  checkEqual(`${tag} the CA issued serial 0x${serialHex(c.serial)}`, ca.serialOf(c.certificate),
             c.serial);
  Object.assign(c, serialView(c.serial, profile));
  return c.certificate;
}

// Certificates the pending key must refuse, serials 0x7001 on; replaced is
// the certificate for a request that a later GetCSR replaced.
async function importRefusals(host, ca, c, replaced) {
  const tag = `[${c.name}]`;
  const wrong = [
    // With keys pending in the store a later request replaces none.
    ...(profile.pendingKeys === 'store' ? [] : [['the certificate for a replaced request', replaced]]),
    ['a certificate for another 1024-bit key',
     ca.issueForNewKey(0x7002n, { bits: 1024, commonName: 'cycle-five' })],
    ['a certificate for another 2048-bit key',
     ca.issueForNewKey(0x7003n, { bits: 2048, commonName: 'cycle-five' })],
    ['text that is no certificate',
     '-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydGlmaWNhdGU=\n-----END CERTIFICATE-----\n'],
  ];
  for (const [what, pem] of wrong) {
    checkEqual(`${tag} ImportCert with ${what}`, reply(await host.call('ImportCert', pem)),
               { ok: false, value: -1 });
  }
  const leaked = listStore(buildDir).filter((s) => /^0*700[1-3]$/.test(s.serial));
  checkEqual(`${tag} refused certificates are not in the store`, leaked, []);
}

// A key kept in the store waits for the authority's own certificate: one
// from another authority is stored but uses up nothing.
async function importCert(host, c, fromAuthority = true) {
  const tag = `[${c.name}]`;
  checkEqual(`${tag} ImportCert with the request's certificate`,
             reply(await host.call('ImportCert', c.certificate)), { ok: true, value: 1 });
  const waits = !fromAuthority && profile.pendingKeys === 'store';
  checkEqual(`${tag} ImportCert again (${waits ? 'the request still waits' : 'the key is used up'})`,
             reply(await host.call('ImportCert', c.certificate)), waits ? { ok: true, value: 1 } : { ok: false, value: -1 });
}

function checkStored(listing, issuer, c, keys) {
  const tag = `[${c.name}]`;
  const found = storedCerts(listing, issuer, c.serial);
  if (!checkEqual(`${tag} store holds one certificate 0x${serialHex(c.serial)} from "${issuer}"`,
                  found.length, 1)) {
    return;
  }
  const [cert] = found;
  c.container = cert.container;
  check(`${tag} key container named "{GUID}" in upper case`, CONTAINER_NAME.test(cert.container),
        show(cert.container));
  checkEqual(`${tag} provider type, key kind, container exists`,
             [cert.providerType, cert.keySpec, cert.containerExists],
             [profile.providerType, AT_SIGNATURE, true]);
  check(`${tag} provider named`, profile.providerType === 24
    ? /RSA and AES/.test(cert.provider) : cert.provider.length > 0, show(cert.provider));
  check(`${tag} container in Wine's key store`, keys.has(cert.container.toUpperCase()),
        show(cert.container));
}

async function lookups(host, c, expected) {
  const tag = `[${c.name}]`;
  for (const [key, value] of c.lookups) {
    checkEqual(`${tag} FindCert("${key}", "${value}")`,
               reply(await host.call('FindCert', key, value)), { ok: true, value: expected });
  }
}

async function signing(host, ca, c, serialText) {
  const tag = `[${c.name}]`;
  const texts = new Map();
  for (const [what, data] of SIGNED_DATA) {
    const r = await host.call('CertSign', serialText, data.toString('base64'));
    const label = `${tag} CertSign(${serialText}, ${what})`;
    if (!check(`${label} gives ${SIGNATURE_BASE64} Base64 characters`,
               r.ok && typeof r.value === 'string' && r.value.length === SIGNATURE_BASE64 &&
               /^[A-Za-z0-9+/]+=*$/.test(r.value),
               r.ok && typeof r.value === 'string' ? `${r.value.length} characters` : show(reply(r)))) {
      continue;
    }
    texts.set(what, r.value);
    const { serial, signature } = splitSignature(Buffer.from(r.value, 'base64'), profile);
    checkEqual(`${label} starts with the serial, big-endian in ${profile.serialBytes} bytes`, serial,
               c.serial);
    const verdict = ca.verify(c.certificate, data, signature, profile.digest);
    check(`${label} verifies with the certificate's key`, verdict.verified, verdict.output);
  }
  const [what, data] = SIGNED_DATA[1];
  if (texts.has(what)) {
    const again = await host.call('CertSign', serialText, data.toString('base64'));
    checkEqual(`${tag} CertSign of ${what} again gives the same text`, again.value, texts.get(what));
  }
  for (const bad of NOT_BASE64) {
    checkEqual(`${tag} CertSign(${serialText}, "${bad}")`,
               reply(await host.call('CertSign', serialText, bad)), { ok: false, value: '' });
  }
}

async function unreachable(host, c, serialTexts) {
  const tag = `[${c.name}]`;
  for (const text of serialTexts) {
    checkEqual(`${tag} IsCertExist(${text})`, reply(await host.call('IsCertExist', text)),
               { ok: true, value: 0 });
    checkEqual(`${tag} CertSign(${text}, ...)`,
               reply(await host.call('CertSign', text, 'aGVsbG8=')), { ok: false, value: '' });
    checkEqual(`${tag} DelCert(${text})`, reply(await host.call('DelCert', text)),
               { ok: true, value: 0 });
  }
}

async function deletion(host, c, serialText) {
  const tag = `[${c.name}]`;
  checkEqual(`${tag} DelCert(${serialText})`, reply(await host.call('DelCert', serialText)),
             { ok: true, value: 1 });
  checkEqual(`${tag} DelCert(${serialText}) again`,
             reply(await host.call('DelCert', serialText)), { ok: true, value: 0 });
  checkEqual(`${tag} IsCertExist(${serialText}) after DelCert`,
             reply(await host.call('IsCertExist', serialText)), { ok: true, value: 0 });
  const [key, value] = c.lookups[0];
  checkEqual(`${tag} FindCert("${key}", "${value}") after DelCert`,
             reply(await host.call('FindCert', key, value)), { ok: true, value: '' });
  checkEqual(`${tag} CertSign(${serialText}, ...) after DelCert`,
             reply(await host.call('CertSign', serialText, 'aGVsbG8=')), { ok: false, value: '' });
}

// With keys pending in the store, a request outlives the process that made
// it: one host requests and exits, a new one imports, signs and deletes.
async function laterProcess(ca) {
  const c = { name: 'imported by a later process', serial: 0x7004n };
  const maker = new HostClient(buildDir, hostOptions);
  await maker.call('SetSubject', 'O=ZV Cycle Later, CN=cycle-later');
  const csr = await maker.call('GetCSR');
  checkEqual(`[${c.name}] the requesting host exits 0`, await maker.close(), 0);
  c.certificate = ca.issue(csr.value, c.serial);
  const importer = new HostClient(buildDir, hostOptions);
  checkEqual(`[${c.name}] ImportCert`, reply(await importer.call('ImportCert', c.certificate)),
             { ok: true, value: 1 });
  await signing(importer, ca, c, c.serial.toString());
  checkEqual(`[${c.name}] DelCert`, reply(await importer.call('DelCert', c.serial.toString())),
             { ok: true, value: 1 });
  checkEqual(`[${c.name}] the importing host exits 0`, await importer.close(), 0);
}

// ---- the cycle ----

async function cycle(host, ca, otherCa) {
  const issuer = ca.commonName;

  console.log('-- import before any request');
  const early = ca.issueForNewKey(0x7000n);  // issued for a key of openssl's
  checkEqual('ImportCert with no pending key', reply(await host.call('ImportCert', early)),
             { ok: false, value: -1 });

  console.log('-- enrolment');
  for (const [i, c] of CASES.entries()) {
    // The first request's key is replaced by the next GetCSR (kept in the
    // store, it would wait to be imported instead: laterProcess).
    const replaced = i === 0 && profile.pendingKeys !== 'store'
      ? ca.issue((await host.call('GetCSR')).value, 0x7001n) : null;
    if (!(await enrol(host, ca, c))) continue;
    // A mismatch keeps the key: the right certificate still imports after.
    if (i === 0) await importRefusals(host, ca, c, replaced);
    await importCert(host, c);
  }
  const other = OTHER_AUTHORITY_CASE;
  if (await enrol(host, otherCa, other)) await importCert(host, other, false);
  if (profile.pendingKeys === 'store') await laterProcess(ca);

  console.log('-- the store as another handle sees it');
  const listing = listStore(buildDir);
  const keys = wineKeyContainers();
  for (const c of CASES) checkStored(listing, issuer, c, keys);
  checkStored(listing, otherCa.commonName, other, keys);
  const containers = [...CASES, other].map((c) => c.container).filter(Boolean);
  checkEqual('every certificate has a container of its own', new Set(containers).size,
             CASES.length + 1);

  console.log('-- lookups');
  for (const c of CASES) await lookups(host, c, c.found);
  await lookups(host, other, '');
  for (const [key, value] of [['CN', 'nobody-has-this-name'], ['O', 'cycle-five'], ['CN', '']]) {
    checkEqual(`FindCert("${key}", "${value}") matching no certificate`,
               reply(await host.call('FindCert', key, value)), { ok: true, value: '' });
  }
  checkEqual('FindCert("CNX", ...) with an unknown key',
             reply(await host.call('FindCert', 'CNX', 'cycle-five')),
             { ok: false, value: null });
  for (const c of CASES.filter((x) => x.reachable)) {
    const text = c.serial.toString();
    checkEqual(`[${c.name}] IsCertExist(${text})`, reply(await host.call('IsCertExist', text)),
               { ok: true, value: 1 });
  }

  console.log('-- signing');
  for (const c of CASES.filter((x) => x.reachable && x.certificate)) {
    await signing(host, ca, c, c.serial.toString());
  }
  const unreached = CASES.filter((x) => !x.reachable && x.certificate);
  for (const c of unreached) await unreachable(host, c, [c.found, c.serial.toString()].filter(Boolean));

  console.log('-- deletion');
  for (const c of CASES.filter((x) => x.reachable)) await deletion(host, c, c.serial.toString());
  // Serial 5 is gone from our authority; the other one's must be untouched.
  const after = listStore(buildDir);
  const kept = storedCerts(after, otherCa.commonName, other.serial);
  checkEqual(`[${other.name}] still stored with its container after DelCert(5)`,
             kept.map((s) => [s.container, s.containerExists]), [[other.container, true]]);
  checkEqual(`purge removes the ${unreached.length} certificates DelCert cannot reach`,
             purgeIssuer(buildDir, issuer), unreached.length);
  checkEqual(`[${other.name}] purge of "${otherCa.commonName}"`,
             purgeIssuer(buildDir, otherCa.commonName), 1);

  console.log('-- seen from new processes');
  const seen = listStore(buildDir);
  checkEqual('a new process finds no certificate of the cycle',
             [...CASES, other].filter((c) => seen.some((s) =>
               (s.issuer === issuer || s.issuer === otherCa.commonName) &&
               BigInt(`0x${s.serial || '0'}`) === c.serial)).map((c) => c.name),
             []);
  const fresh = new HostClient(buildDir, hostOptions);
  const reachable = CASES.filter((c) => c.reachable);
  const answers = [];
  for (const c of reachable) answers.push((await fresh.call('IsCertExist', c.serial.toString())).value);
  checkEqual('a new host finds none of the reachable serials, and exits 0',
             [...answers, await fresh.close()], [...reachable.map(() => 0), 0]);
  const left = wineKeyContainers();
  checkEqual('no key container of the cycle is left',
             containers.filter((name) => left.has(name.toUpperCase())), []);
}

async function main() {
  const started = Date.now();
  // Room for the cycle's requests, whatever other tests left waiting.
  if (profile.pendingKeys === 'store') purgePending(buildDir);
  const ca = OpenSslCa.ofBuild(pluginDir);
  console.log(`authority "${ca.commonName}", plug-in of ${pluginDir} (${profile.name})`);
  const otherCa = new OpenSslCa(`${ca.commonName} 2`);
  let host;
  try {
    for (const name of [ca.commonName, otherCa.commonName]) {
      const count = purgeIssuer(buildDir, name);
      check(`purge "${name}" left by earlier runs`, Number.isInteger(count), `${count} removed`);
    }
    host = new HostClient(buildDir, hostOptions);
    checkEqual('the host loads the plug-in', (await host.get('Version')).ok, true);
    await cycle(host, ca, otherCa);
  } catch (error) {
    check('the cycle ran to its end', false, error.stack);
  } finally {
    if (host) {
      try {
        for (const name of [ca.commonName, otherCa.commonName]) {
          checkEqual(`purge "${name}" at the end finds nothing left`, purgeIssuer(buildDir, name), 0);
        }
      } catch (error) {
        check('clean-up', false, String(error));
      }
      checkEqual('the host exits 0 (the plug-in behaved)', await host.close(), 0);
    }
    ca.remove();
    otherCa.remove();
  }
  console.log(`took ${((Date.now() - started) / 1000).toFixed(1)} s`);
  process.exitCode = report();
}

main();
