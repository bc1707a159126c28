'use strict';
// A host's protocol (src/host/protocol.def), one exchange a row: the message
// written to the host program's standard input, the reply expected on its
// standard output. Every host runs the same table; a row of one platform's
// host says so. ROOT.pem is the tests' authority, which the host's plug-in
// is built with, its key beside it.
//
//   node conformance.js --platform windows --authority ROOT.pem -- PROGRAM [ARGS...]

const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const util = require('node:util');

const { checks, show } = require('../../tools/node/checks');
const { OpenSslCa } = require('../../tools/node/ca');
const { HostClient, frame } = require('../../tools/node/host_client');
const { readProtocol } = require('../../extension/protocol');

const { values: options, positionals: command } = util.parseArgs({ allowPositionals: true,
  options: { platform: { type: 'string' }, authority: { type: 'string' } } });
if (!options.platform || !options.authority || command.length === 0) {
  console.error('usage: node conformance.js --platform NAME --authority ROOT.pem -- PROGRAM [ARGS...]');
  process.exit(2);
}
const protocol = readProtocol();
const projectVersion = /project\(npzvcert VERSION ([\d.]+)/
  .exec(fs.readFileSync(path.join(__dirname, '..', '..', 'CMakeLists.txt'), 'utf8'))[1];
// The plug-in's Version is the project's version, its dots left out.
const pluginVersion = Number(projectVersion.replaceAll('.', ''));

// A message of `size` bytes: head, unit repeated, tail.
function near(head, unit, tail, size) {
  const room = size - head.length - tail.length;
  return Buffer.concat([Buffer.from(head), Buffer.alloc(room - (room % unit.length), unit), Buffer.from(tail)]);
}
const sha = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');
const base64 = (text) => Buffer.from(text).toString('base64');
// CertSign's data as the consent window shows it: the whole text, rendered from the bytes.
const shown = (text, rendered = text, escaped = 0, folded = 0) => ({ valid: true, size: Buffer.byteLength(text),
  sha256: sha(text), printable: true, text: rendered, escaped, folded, unshown: '' });
const unicode = 'Café 张三 😀 "quoted" \\ line\nend';
const [rlo, cr, blank] = ['account \u202E12345\u202C.', 'Pay 10 EUR\rPay 99999 EUR', `I agree.\n${'\n'.repeat(60)}Pay`];
const refused = (id, reason, error) => ({ id, ok: false, reason, error });
const noPlugin = { platform: 'windows', args: ['--plugin=Z:\\nowhere\\npzvcert.dll'] };
// A Linux host whose module fails a call as a token would (tests/token/failing_module.c).
const failing = (call, code) => ({ platform: 'linux', env: { ZVCERT_TEST_FAIL: `${call}:${code}` } });
const linux = { platform: 'linux' };
const encode = (id, text) => ({ id, member: 'Base64Encode', args: [text] });

// [label, message, expected reply, { platform, args, env, setup }]: the
// message is an object, a text or bytes; a RegExp in the reply matches a text,
// a function holds for a value. args and env start a host of the row's own
// with more arguments or environment; setup 'issued' stores a certificate of
// the authority's (serial 31300) first, logged in to a token where there is one.
const ROWS = [
  ['page: the origin the extension names', { id: 'page', page: 'https://ca.example.com' }, { id: 'page', ok: true, value: null }],
  ['page: once a connection', { id: 61, page: 'https://ca.example.com' }, refused(61, 'failed', /already set/)],
  // A token wants its PIN before it makes or uses a key; Windows has none to ask.
  ['login: nothing to log in to', { id: 80, login: {} }, { id: 80, ok: true, value: null }, { platform: 'windows' }],
  ['tokens: none where keys live in the user\'s store', { id: 88, tokens: {} }, { id: 88, ok: true, value: [] }, { platform: 'windows' }],
  ['tokens: the test token, chosen', { id: 89, tokens: {} }, { id: 89, ok: true,
    value: (list) => list.length === 1 && list[0].label === 'T' && list[0].chosen === true && list[0].pinPad === false }, linux],
  ['useToken: no token in that slot', { id: 90, useToken: { slot: '424242' } }, refused(90, 'failed', /no such token/), { platform: 'windows' }],
  // Slots are the host's own decimal texts: anything else names no token.
  ...['424242', 'abc', '', '-1', ' 1', '18446744073709551616'].map((slot) =>
    [`no-token: useToken of the slot ${JSON.stringify(slot)}`, { id: 91, useToken: { slot } }, refused(91, 'no-token', /no token/), linux]),
  ['tokens: a label that hides a right-to-left override is shown escaped', { id: 94, tokens: {} },
    { id: 94, ok: true, value: (list) => list.length === 1 && list[0].label === 'Pay⟨U+202E⟩gpj.exe' },
    { platform: 'linux', env: { SOFTHSM2_CONF: process.env.ZVCERT_TEST_HOSTILE_TOKEN_CONF } }],
  ['pin-required: GetCSR before the PIN', { id: 81, member: 'GetCSR' }, refused(81, 'pin-required', /PIN/), linux],
  ['pin-incorrect: a wrong PIN', { id: 82, login: { pin: '0000' } }, refused(82, 'pin-incorrect', /wrong/), linux],
  ['token-removed: a PIN for a token no longer in use', { id: 93, login: { slot: '424242', pin: '1234' } }, refused(93, 'token-removed', /no longer in use/), linux],
  ['pin-incorrect: a PIN of 64 KiB', { id: 95, login: { pin: '1'.repeat(65536) } }, refused(95, 'pin-incorrect', /wrong/), linux],
  ['login: the token\'s PIN', { id: 83, login: { pin: '1234' } }, { id: 83, ok: true, value: null }, linux],
  ['pin-locked: a PIN the token no longer takes', { id: 84, login: { pin: '1234' } }, refused(84, 'pin-locked', /locked/), failing('C_Login', 'CKR_PIN_LOCKED')],
  ['token-removed: the token gone during a call', { id: 85, member: 'IsCertExist', args: ['1'] }, refused(85, 'token-removed', /removed/),
    failing('C_FindObjectsInit', 'CKR_DEVICE_REMOVED')],
  ['no-token: no token present', { id: 86, member: 'IsCertExist', args: ['1'] }, refused(86, 'no-token', /no token/),
    { platform: 'linux', env: { SOFTHSM2_CONF: process.env.ZVCERT_TEST_NO_TOKEN_CONF } }],
  ['no-module: a module that is not there', { id: 87, member: 'IsCertExist', args: ['1'] }, refused(87, 'no-module', /module/),
    { platform: 'linux', env: { ZVCERT_PKCS11_MODULE: '/nowhere/pkcs11.so' } }],
  ['member: Version is a number', { id: 1, member: 'Version' }, { id: 1, ok: true, value: pluginVersion }],
  ['member: HostName is text under a string id', { id: 'n', member: 'HostName', args: [] }, { id: 'n', ok: true, value: (v) => typeof v === 'string' }],
  ['member: Base64Encode encodes the UTF-8 bytes', encode(2, unicode), { id: 2, ok: true, value: base64(unicode) }],
  ['member: Base64Decode gives the text back', { id: 3, member: 'Base64Decode', args: [base64(unicode)] }, { id: 3, ok: true, value: unicode }],
  ['member: invalid UTF-8 in a result becomes U+FFFD', { id: 4, member: 'Base64Decode', args: ['/w=='] }, { id: 4, ok: true, value: '\uFFFD' }],
  ['failed: a failed call carries the plug-in\'s own result', { id: 5, member: 'Base64Decode', args: ['abc'] }, { id: 5, ok: false, reason: 'failed', value: '' }],
  ['member: a number where text is due reaches the plug-in', encode(28, 12), { id: 28, ok: (ok) => typeof ok === 'boolean', error: undefined }],
  ['member: a number beyond every integer range reaches the plug-in', { id: 35, member: 'IsCertExist', args: [1e300] }, { id: 35, error: undefined }],
  ['member: a lone surrogate is read as U+FFFD', '{"id":34,"member":"Base64Encode","args":["a\\ud800b"]}', { id: 34, ok: true, value: base64('a\uFFFDb') }],
  // The whole reply counts: with a four-digit id this one is exactly 1 MiB, with five a byte over.
  ['member: a reply of exactly 1 MiB is sent', encode(1000, 'a'.repeat(786408)), { id: 1000, ok: true, size: 1 << 20 }],
  ['too-long: a reply a byte over 1 MiB', encode(10000, 'a'.repeat(786408)), refused(10000, 'too-long', /1 MiB/)],
  ['status: the host\'s version and the plug-in\'s', { id: 11, status: {} }, { id: 11, ok: true, value: { host: projectVersion, plugin: pluginVersion } }],
  ['describe: a text that is no certificate finds nothing', { id: 33, describe: { pem: '-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----' } },
    { id: 33, ok: true, value: { found: false, subject: '', issuer: '', fromAuthority: false, thumbprint: '', canonical: /^-----BEGIN/ } }],
  // CertSign's data as the plug-in decodes it, padding judged group by group
  // (which the browser's atob refuses), and serials as it reads them.
  ...[['padding inside the text', 'QQ==QUJD', shown('AABC')],
    ['bytes that are no text', 'AAEC', { ...shown('\0\u0001\u0002', ''), printable: false, unshown: 'not text' }],
    ['text beyond 4 KiB, whole', base64('é'.repeat(2049)), shown('é'.repeat(2049))],
    ['a right-to-left override', base64(rlo), shown(rlo, 'account ⟨U+202E⟩12345⟨U+202C⟩.', 2)],
    ['a lone CR', base64(cr), shown(cr, 'Pay 10 EUR⟨U+000D⟩Pay 99999 EUR', 1)],
    ['60 blank lines', base64(blank), shown(blank, 'I agree.\n⟨60 blank lines⟩\nPay', 0, 1)],
    ['text too long to show', base64('a'.repeat(70000)), { ...shown('a'.repeat(70000), ''), unshown: 'too long' }],
    ['no Base64', 'not base64!', { valid: false }],
  ].map(([what, data, value]) => [`describe data: ${what}`, { id: 36, describe: { data } }, { id: 36, ok: true, value }]),
  ...[['leading zeros', '0000042', '42'], ['a zero byte', '12\u00003', '12'], ['letters', 'abc', '0'],
    ['2^64 + 1, wrapped', '18446744073709551617', '1'], ['the top bit set', '9223372036854775813', '9223372036854775813'],
  ].map(([what, serial, canonical]) => [`describe serial: ${what} reads as ${canonical}`, { id: 37, describe: { serial } }, { id: 37, ok: true, value: { canonical } }]),
  ['list: the authority\'s certificate stored', { id: 72, list: {} }, { id: 72, ok: true,
    value: (list) => list.some((c) => c.serial === '31300' && c.fromAuthority && c.expired === false) }, { setup: 'issued' }],
  ['signCms: a signature openssl verifies', { id: 73, signCms: { serial: '31300', data: 'QUJD', detached: false } },
    { id: 73, ok: true, value: (v, { ca }) => ca.verifyCms(Buffer.from(v, 'base64')).verified }, { setup: 'issued' }],
  ['failed: signCms of a serial not served', { id: 74, signCms: { serial: '999', data: 'QQ==' } }, refused(74, 'failed', /no such certificate from the authority is served/)],
  ['failed: signCms of data the plug-in does not decode', { id: 75, signCms: { serial: '31300', data: 'QQ=' } }, refused(75, 'failed', /Base64/)],
  ...[['JSON', '{"id": 1, "member": ', null, /malformed JSON/],
    ['invalid UTF-8', Buffer.from('{"id":1,"member":"Base64Encode","args":["\xff"]}', 'latin1'), null, /UTF-8/],
    ['a document that is not an object', '[1]', null, /not a JSON object/],
    ['no id', { member: 'Version' }, null, /id/],
    ['an id that is an object', { id: {}, member: 'Version' }, null, /id/],
    ['an id of 65 characters', { id: 'i'.repeat(65), member: 'Version' }, null, /id longer/],
    ['no command', { id: 20 }, 20, /member/],
    ['a member that is not a string', { id: 21, member: 7 }, 21, /member/],
    ['an unknown member', { id: 22, member: 'Nope' }, 22, /unknown member/],
    ['a member in the wrong case', { id: 23, member: 'version' }, 23, /unknown member/],
    ['args not an array', { id: 24, member: 'Base64Encode', args: 'x' }, 24, /not an array/],
    ['an object argument', { id: 25, member: 'Base64Encode', args: [{}] }, 25, /argument 1/],
    ['an array argument', { id: 26, member: 'SetChallenge', args: ['a', ['b']] }, 26, /argument 2/],
    ['arguments to a property', { id: 27, member: 'Version', args: [1] }, 27, /property/],
    ['a page that is no text', { id: 62, page: 5 }, 62, /page/],
    ['describe that is not an object', { id: 31, describe: 'x' }, 31, /describe is not an object/],
    ['describe with neither serial nor pem', { id: 32, describe: { serial: 5 } }, 32, /a serial, a pem or a data/],
    ['a thumbprint that is not text', { id: 48, describe: { serial: '5', thumbprint: 5 } }, 48, /thumbprint is not 64 hex/],
    ['a thumbprint that is no SHA-256', { id: 49, describe: { serial: '5', thumbprint: 'ab' } }, 49, /thumbprint is not 64 hex/],
    ['a slot that is no text', { id: 92, useToken: { slot: 1 } }, 92, /slot is not a text/],
    ['a pin that is no text', { id: 79, login: { pin: 1234 } }, 79, /pin is not a text/],
    ['signCms that is not an object', { id: 76, signCms: [] }, 76, /signCms is not an object/],
    ['signCms without data', { id: 77, signCms: { serial: '1' } }, 77, /a serial and a data/],
    ['a detached that is no boolean', { id: 78, signCms: { serial: '1', data: 'QQ==', detached: 1 } }, 78, /detached/],
  ].map(([what, message, id, error]) => [`malformed: ${what}`, message, refused(id, 'malformed', error)]),
  // Near the 64 MiB limit, answered under their ids, the host still there for what follows.
  ['too-long: a 12 MiB array', near('{"id":38,"member":"Base64Encode","args":[', '0,', '0]}', 12 << 20), refused(38, 'too-long', /more than 1024 values/)],
  ['too-long: 64 MiB of short strings', near('{"id":39,"member":"Base64Encode","args":[', '"a",', '"a"]}', (64 << 20) - 1), refused(39, 'too-long', /values/)],
  ['too-long: a 60 MiB string to Base64Encode', near('{"id":40,"member":"Base64Encode","args":["', 'a', '"]}', 60 << 20), refused(40, 'too-long', /1 MiB/)],
  ['no-plugin: a member call', { id: 50, member: 'Version' }, refused(50, 'no-plugin', 'npzvcert.dll could not be started'), noPlugin],
  ['no-plugin: list', { id: 52, list: {} }, refused(52, 'no-plugin', /could not be started/), noPlugin],
  ['status: no plug-in version where it could not start', { id: 51, status: {} }, { id: 51, ok: true, value: { host: projectVersion, plugin: null } }, noPlugin],
];

// Whether a value has what the row expects: a RegExp's match, a function's
// truth, an object's members (those named), else equality.
function matches(actual, expected, context) {
  if (expected instanceof RegExp) return typeof actual === 'string' && expected.test(actual);
  if (typeof expected === 'function') return actual !== undefined && expected(actual, context) === true;
  if (expected !== null && typeof expected === 'object' && !Array.isArray(expected)) {
    return actual !== null && typeof actual === 'object' && Object.entries(expected).every(([k, v]) => matches(actual[k], v, context));
  }
  return util.isDeepStrictEqual(actual, expected);
}

// What every reply must be, whatever the row: a value when ok, else a reason
// the host sends and either the plug-in's value (failed) or why.
function shapeProblem(reply) {
  if (reply.ok === true) return 'value' in reply && !('reason' in reply) && !('error' in reply) ? '' : 'not { ok, value }';
  const reason = Object.hasOwn(protocol.reasons, reply.reason ?? '') ? protocol.reasons[reply.reason] : undefined;
  if (reply.ok !== false || reason?.sender !== 'Host') return `a reason the host does not send: ${reply.reason}`;
  if ('value' in reply) return reply.reason === 'failed' && !('error' in reply) ? '' : 'a value beside an error or another reason';
  return typeof reply.error === 'string' ? '' : 'neither a value nor an error';
}

const { check, report } = checks();
const [program, ...args] = command;
// One host for each set of further arguments, kept for the rows that give them.
const hosts = new Map();
const hostWith = (more = [], env = {}) => {
  const key = JSON.stringify([more, env]);
  if (!hosts.has(key)) {
    hosts.set(key, new HostClient(null, { command: [program, [...args, ...more]], env: { ...process.env, ...env }, timeoutMs: 30000 }));
  }
  return hosts.get(key);
};

(async () => {
  const ca = new OpenSslCa(undefined, { root: options.authority });
  const host = hostWith();
  // The authority's certificate for the host's request, stored.
  let issued = false;
  const issue = async () => {
    if (options.platform === 'linux') await host.request({ id: 'login', login: { pin: '1234' } });
    return (await host.call('ImportCert', ca.issue((await host.call('GetCSR')).value ?? '', 0x7a44n))).value === 1;
  };
  try {
    for (const [label, message, expected, { platform, args: more, env, setup } = {}] of ROWS) {
      if (platform !== undefined && platform !== options.platform) continue;
      if (setup === 'issued' && !issued && !(issued = await issue())) throw new Error('the certificate was not stored');
      const target = hostWith(more, env);
      const body = Buffer.isBuffer(message) || typeof message === 'string' ? message : JSON.stringify(message);
      target.send(frame(body));
      const reply = await target.next();
      const problem = reply === null ? 'no reply' : shapeProblem(reply);
      check(label, !problem && matches(reply, expected, { ca }), problem || `got ${show(reply)}`);
    }
    const unnamed = Object.keys(protocol.commands).filter((key) => !ROWS.some(([, m]) => m.constructor === Object && key in m));
    const unsent = Object.keys(protocol.reasons).filter((text) => protocol.reasons[text].sender === 'Host' && !ROWS.some(([, , r]) => r.reason === text));
    check('a row for every command and every reason the host sends', unnamed.length + unsent.length === 0, show([unnamed, unsent]));
  } finally {
    if (issued) await host.call('DelCert', '31300');
    ca.remove();
  }
  const codes = await Promise.all([...hosts.values()].map((h) => h.close()));
  check('every host exits 0 when its input ends', codes.every((c) => c === 0), show([codes, host.stderr]));
  process.exit(report());
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
