'use strict';
// The extension's build rules, its page-world script and the page library
// as built (web/build.js), in Node.js without a browser (browser_test.js runs
// them in Chromium and Firefox). Exits 0 only when every check passed.

const assert = require('node:assert');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { setTimeout: sleep } = require('node:timers/promises');
const { pathToFileURL } = require('node:url');
const vm = require('node:vm');

const { checks } = require('../../tools/node/checks');
const { build, checkOrigin, readLocales, checkLocales, checkWindowTexts, checkHostCalls, BuildError } = require('../../extension/build');
const identity = require('../../extension/identity.json');
const { checkIdentity, writeIdentity } = require('../../extension/identity');
const { memberTable, namesOf, readMembers } = require('../../extension/members');
const { readProtocol } = require('../../extension/protocol');
const pageLibrary = require('../../web/build');

const DOWNLOAD = 'https://ca.example.com/npzvcert/';
const packageDir = fs.mkdtempSync(path.join(os.tmpdir(), 'zvcert-page-'));
const built = pageLibrary.build({ out: packageDir, downloadUrl: DOWNLOAD, requires: '1.0.2.2' });
const zvcertPage = require(path.join(packageDir, 'dist', 'zvcert.js'));
const LOCALES = readLocales(path.join(__dirname, '../../extension/_locales'));

const tests = [];
const test = (name, body) => tests.push({ name, body });

test('origins: what the build accepts and refuses', () => {
  const accepted = {
    'https://ca.example.com': 'https://ca.example.com',
    'https://ca.example.com/': 'https://ca.example.com',
    'https://ca.example.com:8443': 'https://ca.example.com:8443',
    'https://xn--fiqs8s.example': 'https://xn--fiqs8s.example',
    'http://127.0.0.1:8765': 'http://127.0.0.1:8765',
    'http://localhost': 'http://localhost',
  };
  for (const [input, origin] of Object.entries(accepted)) assert.strictEqual(checkOrigin(input), origin, input);
  const refused = {
    'http://ca.example.com': /plain http is allowed only for/,
    'http://127.0.0.2': /plain http is allowed only for/,
    'http://[::1]:8080': /plain http is allowed only for/,
    'ftp://ca.example.com': /only https/,
    'file:///tmp/page.html': /not an origin|only https/,
    'https://ca.example.com/enrol': /give scheme:\/\/host\[:port\] only, as https:\/\/ca.example.com$/,
    'https://ca.example.com:443': /as https:\/\/ca.example.com$/,
    'https://127.0.0.1.': /as https:\/\/127.0.0.1$/,
    'https://CA.example.com': /as https:\/\/ca.example.com$/,
    'https://user@ca.example.com': /not an origin/,
    'https://ca.example.com?x': /not an origin/,
    'ca.example.com': /not an origin/,
    '': /not an origin/,
  };
  for (const [input, message] of Object.entries(refused)) {
    assert.throws(() => checkOrigin(input), (e) => e instanceof BuildError && message.test(e.message), input);
  }
  // A release build: the authority's https pages only, never this machine.
  assert.strictEqual(checkOrigin('https://ca.example.com:8443', true), 'https://ca.example.com:8443');
  for (const input of ['http://127.0.0.1:8765', 'http://localhost', 'https://localhost', 'https://a.localhost',
    'https://127.1.2.3', 'https://0.0.0.0', 'https://[::1]', 'https://[::ffff:7f00:1]', 'http://ca.example.com',
    'https://localhost.', 'https://foo.localhost.', 'https://localhost..:8443']) {
    assert.throws(() => checkOrigin(input, true), /a release build serves only the authority's https pages/, input);
  }
});

function buildInto(options) {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'zvcert-ext-'));
  build({ out, version: '1.0.2.2', consentTimeout: '60', identity: path.join(__dirname, '../../extension/identity.json'), ...options });
  return out;
}

test('build: manifest, permissions and substituted scripts', () => {
  const out = buildInto({ origins: 'https://ca.example.com, https://ca.example.com:8443;http://127.0.0.1:8765' });
  const manifest = JSON.parse(fs.readFileSync(path.join(out, 'manifest.json'), 'utf8'));
  assert.strictEqual(manifest.manifest_version, 3);
  assert.strictEqual(manifest.version, '1.0.2.2');
  assert.strictEqual(manifest.name, '__MSG_extNameDevelopment__');
  assert.strictEqual(manifest.default_locale, 'en');
  const english = JSON.parse(fs.readFileSync(path.join(out, '_locales', 'en', 'messages.json'), 'utf8'));
  assert.strictEqual(english.extNameDevelopment.message, 'npzvcert certificates (development build)');
  assert.match(english.extDescriptionDevelopment.message, /^Development build, not for shipping\. /);
  assert.deepStrictEqual(fs.readdirSync(path.join(out, '_locales')).sort(), ['de', 'en', 'es', 'fr', 'ru', 'zh_CN', 'zh_TW']);
  // A key missing in a language, or placeholders other than English's, stop the build.
  const en = { a: { message: 'Sign for $ORIGIN$', placeholders: { origin: { content: '$1' } } }, b: { message: 'Deny' } };
  for (const [de, message] of [[{ a: en.a }, /de lacks b/], [{ ...en, b: { message: ' ' } }, /de lacks b/],
    [{ ...en, a: { message: 'Signieren' } }, /de a has other placeholders/], [{ ...en, c: { message: 'x' } }, /de has c/]]) {
    assert.throws(() => checkLocales({ en, de }), message);
  }
  // So do a window's own text, a message English lacks and an action in other words than the member list's.
  const source = (name) => fs.readFileSync(path.join(__dirname, '../../extension', name), 'utf8');
  const windows = { 'consent.html': source('consent.html'), 'consent.js': source('consent.js') };
  const messages = JSON.parse(source('_locales/en/messages.json'));
  for (const [name, change, message] of [
    ['consent.html', (t) => t.replace('<dt data-i18n="labelPage"></dt>', '<dt>Page</dt>'), /consent\.html shows "Page"/],
    ['consent.js', (t) => t.replace("'unshownNotText'", "'unshownNotTxt'"), /names unshownNotTxt, which English lacks/],
    ['consent.js', (t) => `${t}\nbox.textContent = 'Allow';`, /sets "\.textContent = 'Allow"/],
    ['_locales', (m) => ({ ...m, actionDelCert: { message: 'delete it' } }), /English actionDelCert is not the member list's action/],
    ['_locales', ({ actionNewKeyOnToken, ...m }) => m, /GetCSR's token choice names actionNewKeyOnToken, which English lacks/]]) {
    const english = name === '_locales' ? change(messages) : messages;
    const changed = name === '_locales' ? windows : { ...windows, [name]: change(windows[name]) };
    assert.throws(() => checkWindowTexts(changed, english, memberTable()), message);
  }
  // The worker asks the host only the protocol's commands, with their fields.
  const consent = { 'worker/consent.js': source('worker/consent.js') };
  assert.doesNotThrow(() => checkHostCalls(consent, readProtocol()));
  for (const [change, message] of [[(t) => t.replace("call('describe'", "call('descibe'"), /call\('descibe' names no command/],
    [(t) => t.replace("call('describe'", 'call(kind'), /call\(kind names no command/],
    [(t) => t.replace('{ pem: arg }', '{ pem: arg, serials }'), /describe has no field serials/],
    [(t) => `${t}\nhost.call('member', 'Version', { argv: [] });`, /member has no field argv/]]) {
    assert.throws(() => checkHostCalls({ 'worker/consent.js': change(consent['worker/consent.js']) }, readProtocol()), message);
  }
  // Content scripts only, on the authority's hosts; no host permissions.
  assert.deepStrictEqual(manifest.permissions, ['nativeMessaging']);
  assert.strictEqual(manifest.host_permissions, undefined);
  const [page, relay] = manifest.content_scripts;
  assert.deepStrictEqual(page.matches, ['https://ca.example.com/*', 'http://127.0.0.1/*']);
  assert.deepStrictEqual([page.world, relay.world], ['MAIN', undefined]);
  assert.deepStrictEqual([page.js, relay.js], [['page.js'], ['relay.js']]);
  assert.strictEqual(manifest.browser_specific_settings.gecko.id, identity.firefoxId);
  for (const name of fs.readdirSync(out, { recursive: true })) {
    if (fs.statSync(path.join(out, name)).isFile()) assert.doesNotMatch(fs.readFileSync(path.join(out, name), 'utf8'), /__ZVCERT_\w+__/, name);
  }
  // Firefox runs the same module as its background script.
  assert.deepStrictEqual(manifest.background, { service_worker: 'background.js', scripts: ['background.js'], type: 'module' });
  const pageText = fs.readFileSync(path.join(out, 'page.js'), 'utf8');
  assert.ok(pageText.includes('"origins":["https://ca.example.com","https://ca.example.com:8443","http://127.0.0.1:8765"]'));
  fs.rmSync(out, { recursive: true });
});

test('build: the committed public key gives the fixed extension id', () => {
  const digest = crypto.createHash('sha256').update(Buffer.from(identity.publicKey, 'base64')).digest('hex');
  const id = [...digest.slice(0, 32)].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join('');
  assert.strictEqual(id, identity.chromiumId);
  assert.doesNotThrow(() => crypto.createPublicKey({ key: Buffer.from(identity.publicKey, 'base64'), format: 'der', type: 'spki' }));
});

// An authority's own identity, made as docs/extension.md says.
const ownDir = fs.mkdtempSync(path.join(os.tmpdir(), 'zvcert-identity-'));
const own = writeIdentity(ownDir, { hostName: 'com.example.ca.zvcert', firefoxId: 'zvcert@example-ca.com' });

test('identity: a release takes only the authority\'s own', () => {
  const key = fs.readFileSync(own.files.key, 'utf8');
  assert.strictEqual(crypto.createPublicKey(key).export({ type: 'spki', format: 'der' }).toString('base64'),
    own.identity.publicKey, 'the private key is the public key\'s');
  assert.strictEqual(fs.statSync(own.files.key).mode & 0o077, 0, 'the private key is its owner\'s alone');
  assert.throws(() => writeIdentity(ownDir, { hostName: 'x', firefoxId: 'x@x' }), /exists/);
  const cases = [ // identity, refused in development, refused in a release
    [identity, null, / publicKey, chromiumId, firefoxId, hostName are the development identity's/],
    [own.identity, null, null],
    [{ ...own.identity, hostName: identity.hostName }, null, / hostName is the development/],
    [{ ...own.identity, chromiumId: identity.chromiumId }, /is not publicKey's id/, /is not publicKey's id/],
    [{ ...own.identity, firefoxId: 'zvcert' }, /neither name@domain nor a \{GUID\}/, /neither/],
  ];
  for (const [value, ...expected] of cases) {
    for (const inRelease of [false, true]) {
      const refusal = expected[Number(inRelease)], what = `${JSON.stringify(value)}, release ${inRelease}`;
      if (refusal) assert.throws(() => checkIdentity(value, inRelease), refusal, what);
      else assert.doesNotThrow(() => checkIdentity(value, inRelease), what);
    }
  }
});

test('build: bad settings stop it', () => {
  for (const options of [{ origins: '' }, { origins: 'https://a.example', consentTimeout: '0' },
    { origins: 'https://a.example', consentTimeout: '2.5' }, { origins: 'https://a.example', version: '1.x' }]) {
    assert.throws(() => buildInto(options), BuildError, JSON.stringify(options));
  }
});

test('build: the CMake option goes through the same rules', () => {
  const { spawnSync } = require('node:child_process');
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'zvcert-ext-'));
  const script = path.join(__dirname, '../../cmake/BuildExtension.cmake');
  const run = (origins, release = 'OFF') => spawnSync('cmake', [`-DORIGINS=${origins}`, `-DOUT=${out}`,
    `-DRELEASE=${release}`, `-DIDENTITY=${own.files.identity}`, '-P', script], { encoding: 'utf8' });
  for (const origins of ['', 'http://127.0.0.1:8765;http://localhost:8765']) {
    const unnamed = run(origins, 'ON');
    assert.notStrictEqual(unnamed.status, 0);
    assert.match(unnamed.stderr.replace(/\s+/g, ' '), /ZVCERT_RELEASE is ON but ZVCERT_EXTENSION_ORIGINS is not set/);
  }
  assert.match(run('https://localhost', 'ON').stderr.replace(/\s+/g, ' '), /a release build serves only/);
  assert.strictEqual(run('https://ca.example.com', 'ON').status, 0);
  assert.strictEqual(JSON.parse(fs.readFileSync(path.join(out, 'manifest.json'), 'utf8')).name, '__MSG_extName__');
  // The plug-in's own page lock reads its list by the same rules.
  const buildJs = path.join(__dirname, '../../extension/build.js');
  const lock = (...args) => spawnSync('node', [buildJs, '--check-origins', ...args], { encoding: 'utf8' });
  assert.strictEqual(lock('https://ca.example.com/;https://ra.example.com:8443').stdout, 'https://ca.example.com\nhttps://ra.example.com:8443\n');
  assert.match(lock('https://CA.example.com').stderr, /as https:\/\/ca.example.com/);
  assert.strictEqual(lock('http://localhost:8765', '--release').status, 2);
  const refused = run('https://ca.example.com;http://ca.example.com');
  assert.notStrictEqual(refused.status, 0);
  assert.match(refused.stderr.replace(/\s+/g, ' '), /ZVCERT_EXTENSION_ORIGINS: .*"http:\/\/ca.example.com": plain http is allowed only/);
  const textOnly = spawnSync('cmake', ['-DORIGINS=https://ca.example.com', `-DOUT=${out}`, '-DSIGN_TEXT_ONLY=ON', '-P', script]);
  assert.strictEqual(textOnly.status, 0);
  assert.match(fs.readFileSync(path.join(out, 'worker/config.js'), 'utf8'), /"signTextOnly":true/);
  const accepted = run('https://ca.example.com;https://ra.example.com:8443');
  assert.strictEqual(accepted.status, 0, accepted.stderr);
  const manifest = JSON.parse(fs.readFileSync(path.join(out, 'manifest.json'), 'utf8'));
  assert.deepStrictEqual(manifest.content_scripts[0].matches, ['https://ca.example.com/*', 'https://ra.example.com/*']);
  fs.rmSync(out, { recursive: true });
});

// A window just big enough for page.js: messages to itself, events.
function fakeWindow(origin) {
  const listeners = {};
  const posted = [];
  const window = {
    location: { origin },
    addEventListener: (type, f) => { (listeners[type] ??= []).push(f); },
    removeEventListener: (type, f) => { listeners[type] = (listeners[type] || []).filter((g) => g !== f); },
    dispatchEvent: (event) => { for (const f of listeners[event.type] || []) f(event); },
    postMessage: (data, targetOrigin) => { posted.push({ data: structuredClone(data), targetOrigin }); },
    reply: (data) => { for (const f of listeners.message || []) f({ source: window, data }); },
    posted,
  };
  window.top = window;
  window.window = window;
  return window;
}

function runPageScript(origin) {
  const out = buildInto({ origins: 'https://ca.example.com' });
  const window = fakeWindow(origin);
  vm.runInNewContext(fs.readFileSync(path.join(out, 'page.js'), 'utf8'), { window, location: window.location, Event: class { constructor(type) { this.type = type; } } });
  fs.rmSync(out, { recursive: true });
  return window;
}

test('page script: only the allowed origin, port included, gets window.zvcert', () => {
  assert.strictEqual(typeof runPageScript('https://ca.example.com').zvcert, 'object');
  for (const origin of ['https://ca.example.com:8443', 'https://evil.example', 'http://ca.example.com']) {
    assert.strictEqual(runPageScript(origin).zvcert, undefined, origin);
  }
});

test('page script: calls go out as messages, replies settle the Promises', async () => {
  const window = runPageScript('https://ca.example.com');
  const { zvcert } = window;
  assert.ok(Object.isFrozen(zvcert));
  const csr = zvcert.GetCSR();
  const imported = zvcert.ImportCert('pem', undefined);
  const version = zvcert.Version;
  assert.deepStrictEqual(window.posted.map((p) => [p.data.member, p.data.args, p.targetOrigin]),
    [['GetCSR', [], 'https://ca.example.com'], ['ImportCert', ['pem', null], 'https://ca.example.com'],
      ['Version', [], 'https://ca.example.com']]);
  const [a, b, c] = window.posted.map((p) => p.data);
  // Replies arrive in any order; a message from elsewhere is ignored.
  window.reply({ channel: c.channel, direction: 'reply', id: c.id, ok: true, value: 1022 });
  window.reply({ channel: 'other', direction: 'reply', id: a.id, ok: true, value: 'forged' });
  window.reply({ channel: b.channel, direction: 'reply', id: b.id, ok: false, reason: 'denied', error: 'ImportCert was not allowed: the user denied it' });
  window.reply({ channel: a.channel, direction: 'reply', id: a.id, ok: false, value: -1 });
  assert.strictEqual(await version, 1022);
  await assert.rejects(imported, (e) => e.reason === 'denied' && /user denied/.test(e.message) && !('result' in e));
  await assert.rejects(csr, (e) => e.reason === 'failed' && e.result === -1 && e.member === 'GetCSR');
  await assert.rejects(zvcert.Base64Encode(() => {}), (e) => e.reason === 'failed');
});

// ---- zvcert.js ---------------------------------------------------------------

function pageWindow({ mimeTypes = {}, zvcert, element, languages, system = {} } = {}) {
  const window = fakeWindow('https://ca.example.com');
  window.navigator = { mimeTypes, languages, ...system };
  const appended = [];
  window.document = {
    createElement: () => element ?? { style: {} },
    body: { appendChild: (e) => appended.push(e) },
  };
  if (zvcert) window.zvcert = zvcert;
  window.appended = appended;
  return window;
}

test('zvcert.js: the plug-in where the browser lists it', async () => {
  const plugin = {
    style: {}, Version: 1022,
    GetCSR: () => '-----BEGIN CERTIFICATE REQUEST-----',
    ImportCert: () => { throw new Error('plug-in failure'); },
  };
  const window = pageWindow({ mimeTypes: { 'application/zvcert': { enabledPlugin: {} } }, element: plugin });
  const zv = await zvcertPage.connect({ window, waitMs: 100 });
  assert.strictEqual(zv.viaExtension, false);
  assert.deepStrictEqual(window.appended, [plugin]);
  assert.strictEqual(plugin.type, 'application/zvcert');
  assert.strictEqual(await zv.Version, 1022);
  assert.strictEqual(await zv.GetCSR(), '-----BEGIN CERTIFICATE REQUEST-----');
  await assert.rejects(zv.ImportCert('x'), (e) => e.reason === 'failed' && e.member === 'ImportCert');
  for (const member of ['chooseCertificate', 'signCms']) {
    await assert.rejects(zv[member]('1', 'AQID'), (e) => e.reason === 'unsupported' && /browser extension/.test(e.message), member);
  }
});

test('zvcert.js: the extension otherwise, also when it comes late; its refusals in the page\'s language', async () => {
  const api = { viaExtension: true };
  assert.deepStrictEqual(await zvcertPage.connect({ window: pageWindow({ zvcert: api }) }), api);
  const window = pageWindow();
  const late = zvcertPage.connect({ window, waitMs: 2000 });
  setTimeout(() => { window.zvcert = api; window.dispatchEvent({ type: 'zvcert-ready' }); }, 20);
  assert.deepStrictEqual(await late, api);
  const said = 'ImportCert was not allowed: the user denied it';
  for (const [language, reason, worded] of [['en', 'denied', said], ['de', 'denied', LOCALES.de.pageDenied.message],
    ['fr', 'pin-incorrect', LOCALES.fr.pagePinIncorrect.message], ['ru', 'pin-locked', LOCALES.ru.pagePinLocked.message],
    ['es', 'no-token', LOCALES.es.pageNoToken.message], ['zh_TW', 'token-removed', LOCALES.zh_TW.pageTokenRemoved.message]]) {
    const zvcert = { ImportCert: async () => { throw Object.assign(new Error(said), { reason, member: 'ImportCert', result: null }); } };
    const zv = await zvcertPage.connect({ window: pageWindow({ zvcert }), language });
    await assert.rejects(zv.ImportCert('pem'), (e) => e.message === worded.replace('$MEMBER$', 'ImportCert') && e.detail === said &&
      e.reason === reason && e.member === 'ImportCert' && e.result === null, language);
  }
});

test('zvcert.js: neither is a clear error', async () => {
  const disabled = { 'application/zvcert': { enabledPlugin: null } };
  for (const window of [pageWindow(), pageWindow({ mimeTypes: disabled })]) {
    await assert.rejects(zvcertPage.connect({ window, waitMs: 50 }),
      (e) => e instanceof zvcertPage.NotInstalledError && e.reason === 'not-installed' && /extension/.test(e.message));
  }
  // It names what brings the host on the browser's system.
  for (const [platform, key] of [['Win32', 'pageNotInstalled'], ['Linux x86_64', 'pageNotInstalledPackage'], ['MacIntel', 'pageNoHost']]) {
    await assert.rejects(zvcertPage.connect({ window: pageWindow({ system: { platform } }), waitMs: 20 }),
      (e) => e.message === LOCALES.en[key].message, platform);
  }
  // Listed, but the element never becomes scriptable (blocked by the user).
  const listed = pageWindow({ mimeTypes: { 'application/zvcert': {} }, element: { style: {} } });
  await assert.rejects(zvcertPage.connect({ window: listed, waitMs: 100 }), zvcertPage.NotInstalledError);
});

test('package: the module and the classic script carry the same members and build values', async () => {
  const esm = await import(path.join(packageDir, 'dist', 'zvcert.mjs'));
  assert.deepStrictEqual(Object.keys(esm).sort(), Object.keys(zvcertPage).sort());
  assert.strictEqual(zvcertPage.VERSION, JSON.parse(fs.readFileSync(path.join(packageDir, 'package.json'))).version);
  assert.deepStrictEqual(built.requires, { extension: '1.0.2.2', host: '1.0.2.2', plugin: 1022 });
  assert.throws(() => pageLibrary.classicScript('export default 1;\n'), /cannot be carried/);
  const refused = { 'http://ca.example.com/': [true, /https only/], 'ftp://ca.example.com/': [false, /https only/],
    'not a url': [false, /not a URL/], '': [true, /names the authority's download address/] };
  for (const [url, [release, message]] of Object.entries(refused)) {
    assert.throws(() => pageLibrary.build({ out: path.join(packageDir, 'x'), downloadUrl: url, release }), message, url);
  }
  // The library's member lists are the plug-in's; its types' must follow them.
  const members = readMembers();
  assert.deepStrictEqual([esm.METHODS, esm.PROPERTIES], [namesOf(members, 'Method'), namesOf(members, 'Property')]);
  const [source, types] = ['zvcert.mjs', 'zvcert.d.ts'].map((f) => fs.readFileSync(path.join(__dirname, '..', '..', 'web', f), 'utf8'));
  const drifted = [[types.replace("| 'GetCSR' ", ''), /MethodName lacks GetCSR/], [types.replace("'HostName'", "'HostName' | 'Owner'"), /PROPERTIES has Owner/],
    [types.replace("| 'Base64Decode'", "| 'Base64Decode' | 'GetCSR'"), /MethodName names a member twice/]];
  for (const [t, message] of drifted) assert.throws(() => pageLibrary.checkMemberLists(t, members), message);
  // So do its messages (page* only) and languages; substitutions are taken as they are.
  assert.throws(() => pageLibrary.pageMessages(`${source}'pageNoSuch'`, types, LOCALES), /en lacks the page library's pageNoSuch$/);
  assert.throws(() => pageLibrary.pageMessages(source, types.replace("| 'ru' ", ''), LOCALES), /Language is de, en, es, fr, zh_CN, zh_TW; the locales are de, en, es, fr, ru, zh_CN, zh_TW/);
  assert.deepStrictEqual([zvcertPage.message('extName'), zvcertPage.message('pageUpdateExtensionFrom', 'https://x/$1$$', 'de')],
    ['', LOCALES.de.pageUpdateExtensionFrom.message.replace('$URL$', () => 'https://x/$1$$')]);
});

test('status: the path, the versions and what to install or update', async () => {
  const plugin = (version) => ({ mimeTypes: { 'application/zvcert': { enabledPlugin: { version } } } });
  const extension = (answer) => ({ zvcert: { viaExtension: true, ...(answer && { status: async () => answer }) } });
  const current = { extension: '1.0.2.2', host: '1.0.2.2', plugin: 1022 };
  const cases = [
    ['the current plug-in', plugin('1.0.2.2'), 'plugin', { plugin: 1022 }, []],
    ['an older plug-in, by its FileVersion', plugin('1, 0, 1, 9'), 'plugin', { plugin: 1019 }, ['setup update']],
    ['a plug-in that shows no version', plugin(undefined), 'plugin', {}, []],
    ['the current extension and host', extension(current), 'extension', current, []],
    ['an extension too old to say', extension(null), 'extension', {}, ['extension update']],
    ['no host behind the extension', extension({ ...current, host: null, plugin: null }), 'extension',
      { extension: '1.0.2.2' }, ['setup install']],
    ['an older host', extension({ ...current, host: '1.0.1.0' }), 'extension', { ...current, host: '1.0.1.0' }, ['setup update']],
    ['a newer extension', extension({ ...current, extension: '1.0.10' }), 'extension', { ...current, extension: '1.0.10' }, []],
    ['neither', {}, 'none', {}, ['setup install', 'extension install']],
    ['an extension too old to say, in German', { ...extension(null), language: 'de' }, 'extension', {}, ['extension update'], 'de'],
    ['an older host, in German', { ...extension({ ...current, host: '1.0.1.0' }), language: 'de' }, 'extension',
      { ...current, host: '1.0.1.0' }, ['setup update'], 'de'],
    ['neither, in Simplified Chinese', { language: 'zh_CN' }, 'none', {}, ['setup install', 'extension install'], 'zh_CN'],
    ['neither, in the first of the browser\'s languages there is', { languages: ['it-IT', 'zh-HK', 'de'] }, 'none', {},
      ['setup install', 'extension install'], 'zh_TW'],
    ['neither, asked in a language that is an object\'s own name', { language: '__proto__', languages: ['constructor'] }, 'none',
      {}, ['setup install', 'extension install'], 'en'],
    // What brings the host, by the system the browser names: Client Hints, navigator.platform, the user agent.
    ['neither, on Windows', { system: { userAgentData: { platform: 'Windows' }, platform: 'Linux' } }, 'none', {}, ['setup install', 'extension install']],
    ['neither, on Linux', { system: { userAgentData: { platform: 'Linux' } } }, 'none', {}, ['package install', 'extension install']],
    ['no host behind the extension, on Linux', { ...extension({ ...current, host: null }), system: { platform: 'Linux x86_64' } },
      'extension', { extension: '1.0.2.2', plugin: 1022 }, ['package install']],
    ['an older host on Linux, in Chinese', { ...extension({ ...current, host: '1.0.1.0' }), system: { userAgent: 'Mozilla/5.0 (X11; Linux x86_64)' },
      language: 'zh_CN' }, 'extension', { ...current, host: '1.0.1.0' }, ['package update'], 'zh_CN'],
    ['neither, on macOS', { system: { platform: 'MacIntel' }, language: 'de' }, 'none', {}, ['host install'], 'de'],
    ['neither, on macOS by its user agent', { system: { userAgent: 'Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7)' } }, 'none', {}, ['host install']],
    ['neither, on Android, whose Firefox says Linux', { system: { platform: 'Linux armv8l', userAgent: 'Mozilla/5.0 (Android 14; Mobile)' } },
      'none', {}, ['host install']],
  ];
  const cap = (word) => word[0].toUpperCase() + word.slice(1);
  for (const [label, parts, path_, versions, needs, language = 'en'] of cases) {
    const window = pageWindow({ mimeTypes: parts.mimeTypes, zvcert: parts.zvcert, languages: parts.languages, system: parts.system });
    const found = await zvcertPage.status({ window, waitMs: 20, language: parts.language });
    assert.strictEqual(found.path, path_, label);
    assert.deepStrictEqual(found.versions, { library: '1.0.2', extension: null, host: null, plugin: null, ...versions }, label);
    assert.deepStrictEqual(found.needs.map((n) => `${n.component} ${n.action}`), needs, label);
    // No host for the system: nothing to download.
    assert.deepStrictEqual(found.needs.map((n) => [n.url, n.message]), found.needs.map((n) => (n.component === 'host'
      ? ['', LOCALES[language].pageNoHost.message]
      : [DOWNLOAD, LOCALES[language][`page${cap(n.action)}${cap(n.component)}From`].message.replace('$URL$', DOWNLOAD)])), label);
    assert.strictEqual(found.ready, needs.length === 0 && path_ !== 'none', label);
  }
});

// Waits a second at most for what a worker test waits on.
const until = async (done) => { for (let i = 0; i < 200 && !done(); i += 1) await sleep(5); };
const { setTimeout: realTimeout } = globalThis;

// The service worker, its modules imported as the browser imports them, with
// a page's port and native ports of the test's own. Every timer runs a
// thousand times faster from then on: the worker's tests come last.
async function runWorker(origin, nativeReplies, options = {}) {
  const out = buildInto({ origins: origin, ...options });
  const listen = () => { const fs_ = []; return { addListener: (f) => fs_.push(f), fire: (...a) => fs_.forEach((f) => f(...a)) }; };
  const natives = [];
  const onConnect = listen();
  const chrome = {
    runtime: {
      id: 'x', onConnect, onMessage: listen(), getURL: (p) => p,
      connectNative: () => {
        const native = { onMessage: listen(), onDisconnect: listen(), sent: [], disconnected: false,
          disconnect() { this.disconnected = true; },
          postMessage(m) { this.sent.push(m); nativeReplies(native, m); } };
        natives.push(native);
        return native;
      },
    },
    windows: { onRemoved: listen(), opened: [], async create(w) { this.opened.push(w); return { id: 1 }; }, async remove() {} },
  };
  Object.assign(globalThis, { chrome, setTimeout: (f, ms) => realTimeout(f, ms / 1000) });
  await import(pathToFileURL(path.join(out, 'background.js')));
  fs.rmSync(out, { recursive: true });
  const page = { name: 'zvcert-extension', sender: { origin }, disconnect() {}, onMessage: listen(), onDisconnect: listen(), replies: [],
    postMessage(m) { this.replies.push(m); } };
  onConnect.fire(page);
  const call = async (message) => {
    page.onMessage.fire(message);
    await until(() => page.replies.some((r) => r.id === message.id));
    return page.replies.find((r) => r.id === message.id);
  };
  // The user's answer in the nth window opened; what that window is shown.
  const answer = (n, allow, choice, pin) => {
    const url = chrome.windows.opened[n].url;
    chrome.runtime.onMessage.fire({ type: 'answer', token: url.split('#')[1], allow, choice, pin }, { id: 'x', url }, () => {});
  };
  const details = (n) => {
    const url = chrome.windows.opened[n].url;
    let shown;
    chrome.runtime.onMessage.fire({ type: 'details', token: url.split('#')[1] }, { id: 'x', url }, (d) => { shown = d; });
    return shown;
  };
  return { call, natives, windows: chrome.windows.opened, answer, details };
}

test('service worker: a text-only build refuses data the window cannot show, before any window', async () => {
  const { call, windows } = await runWorker('https://ca.example.com', (native, m) => {
    const value = !m.describe ? null : m.describe.serial ? { found: true, fromAuthority: true, canonical: '42' }
      : { valid: true, text: m.describe.data === 'QUJD' ? 'ABC' : '', unshown: m.describe.data === 'QUJD' ? '' : 'not text' };
    if (value) setTimeout(() => native.onMessage.fire({ id: m.id, ok: true, value }), 1);
  }, { signTextOnly: true });
  for (const member of ['CertSign', 'signCms']) {
    const refused = await call({ id: member, member, args: ['42', 'AAEC'] });
    assert.match(`${refused.reason} ${refused.error}`, new RegExp(`^failed ${member} failed: its data cannot be shown as text \\(not text\\)`));
  }
  assert.strictEqual(windows.length, 0);
  call({ id: 3, member: 'CertSign', args: ['42', 'QUJD'] });
  await until(() => windows.length > 0);
  assert.match(windows[0]?.url ?? '', /^consent\.html#/, 'text is asked about');
});

test('service worker: a silent host times out, a reply without an id still answers', async () => {
  let mode = 'silent';
  const { call, natives } = await runWorker('https://ca.example.com', (native, m) => {
    const reply = mode === 'silent' ? null : mode === 'no id' ? { id: null, ok: false, reason: 'malformed', error: 'malformed JSON' }
      : { id: m.id, ok: true, value: 1022 };
    if (mode === 'exits' && m.member) setTimeout(() => native.onDisconnect.fire({ error: { message: 'gone' } }), 1);
    else if (reply) setTimeout(() => native.onMessage.fire(reply), 1);
  });
  const silent = await call({ id: 1, member: 'Version' });
  assert.strictEqual(silent.reason, 'unavailable');
  assert.match(silent.error, /did not answer within 120 s/);
  assert.ok(natives[0].disconnected, 'the silent host is let go');
  assert.deepStrictEqual({ ...natives[0].sent[0] }, { id: 'page', page: 'https://ca.example.com' }, 'the host is told the page first');
  mode = 'answers';
  assert.strictEqual((await call({ id: 2, member: 'Version' })).value, 1022, 'the next call works');
  assert.strictEqual(natives.length, 2, 'with a new host');
  mode = 'no id';
  const unread = await call({ id: 3, member: 'Version' });
  assert.match(`${unread.ok} ${unread.reason} ${unread.error}`, /^false failed malformed JSON/, 'the page reads the host\'s malformed as failed');
  // A host that ends fails the call it had; the next call starts another.
  mode = 'exits';
  const ended = await call({ id: 4, member: 'Version' });
  assert.match(`${ended.reason} ${ended.error}`, /^unavailable the certificate host stopped or is not installed \(gone\)$/);
  mode = 'answers';
  assert.strictEqual((await call({ id: 5, member: 'Version' })).value, 1022);
  assert.strictEqual(natives.length, 3);
});

test('service worker: signatures only with the authority\'s certificate the window named', async () => {
  const sent = [];
  let fromAuthority = false;
  let found = 'ab';
  const listed = [{ serial: '5', canonical: '5', thumbprint: 'ab' }];
  const { call, windows, answer } = await runWorker('https://ca.example.com', (native, m) => {
    sent.push(m);
    const certificate = { found: found !== 'none', fromAuthority, canonical: '5',
      thumbprint: { ab: 'ab', chooser: 'ab', other: 'cd', none: '' }[found] };
    const value = m.describe?.data ? { valid: true, size: 1, sha256: '00', printable: true, text: 'A', unshown: '' }
      : m.describe ? certificate : m.list ? listed : 'signed';
    setTimeout(() => native.onMessage.fire({ id: m.id, ok: true, value }), 1);
  });
  // What the plug-in returns on a refusal: CertSign's empty signature.
  for (const [id, member, args, value] of [[1, 'CertSign', ['5', 'QQ=='], ''], [2, 'signCms', ['5', 'QQ==', {}], null]]) {
    const reply = await call({ id, member, args });
    assert.deepStrictEqual([reply.reason, reply.value], ['failed', value], member);
    assert.match(reply.error, /not the authority's: its signature does not verify/, member);
  }
  assert.ok(!sent.some((m) => m.member || m.signCms), 'nothing was asked to sign');
  // A page's own thumbprint is not passed on: the host signs what the window named.
  fromAuthority = true;
  const signed = call({ id: 3, member: 'signCms', args: ['5', 'QQ==', { thumbprint: 'cd' }] });
  await until(() => windows.length > 0);
  answer(0, true);
  assert.strictEqual((await signed)?.value, 'signed');
  assert.strictEqual(sent.at(-1).signCms?.thumbprint, 'ab');
  // Chosen, then gone: another of its serial, or none, fails before any window.
  const opened = windows.length;
  found = 'chooser';
  const chosen = call({ id: 4, member: 'chooseCertificate' });
  await until(() => windows.length > opened);
  answer(opened, true, 0);
  assert.strictEqual((await chosen)?.value, '5');
  for (const [id, gone, why] of [[5, 'other', /another certificate of this serial than the one chosen/],
    [6, 'none', /the certificate chosen for this serial is no longer in the store/]]) {
    found = gone;
    const reply = await call({ id, member: 'signCms', args: ['5', 'QQ==', {}] });
    assert.match(`${reply.reason} ${reply.error}`, why, gone);
  }
  assert.strictEqual(windows.length, opened + 1, 'no consent window after the chooser');
  assert.strictEqual(sent.filter((m) => m.signCms).length, 1, 'nothing more was signed');
});

test('service worker: what a page may pass is capped before the host hears of it', async () => {
  const { call, natives } = await runWorker('https://ca.example.com', (native, m) => {
    setTimeout(() => native.onMessage.fire({ id: m.id, ok: true, value: 'x' }), 1);
  });
  const MiB = 1 << 20;
  const cases = [
    ['four arguments', ['a', 'b', 'c', 'd'], /no member takes more than 3 arguments/],
    ['a string over 48 MiB', ['a'.repeat(48 * MiB - 1)], /argument 1 is longer than 48 MiB/],
    ['escapes over 48 MiB', ['\u0001'.repeat(9 * MiB)], /argument 1 is longer than 48 MiB/],
    ['strings over 60 MiB together', ['a', 'b'.repeat(31 * MiB), 'c'.repeat(31 * MiB)], /longer than 60 MiB together/],
    ['an array', [[1, 2]], /argument 1 is not a string, number, boolean or null/],
    // Options only where a member reads them; too few strings for a consent: no question.
    ['options to CertSign', ['1', 'QQ==', {}], /^CertSign failed: argument 3 is not a string/, 'CertSign'],
    ['a number for DelCert\'s serial', [5], /^DelCert failed$/, 'DelCert', null],
    ['a name every object has', [], /^zvcert has no member constructor$/, 'constructor'],
    ['a name that is not a string', [], /^zvcert has no member Version$/, ['Version']],
  ];
  for (const [i, [label, args, error, member = 'Base64Encode', ...value]] of cases.entries()) {
    const reply = await call({ id: i + 1, member, args });
    assert.ok(reply?.ok === false && reply.reason === 'failed' && error.test(reply.error), `${label}: ${reply?.error}`);
    assert.deepStrictEqual(Object.hasOwn(reply, 'value') ? [reply.value] : [], value, label);
  }
  assert.strictEqual(natives.length, 0, 'nothing reached the host');
  assert.strictEqual((await call({ id: 'last', member: 'Base64Encode', args: ['a'.repeat(48 * MiB - 2)] }))?.ok, true, 'a string at the limit does');
});

test('service worker: a new key on the token the user picks, logged in with its PIN in the extension\'s windows', async () => {
  const sent = [];
  const TOKENS = [{ slot: '0', label: 'Other', manufacturer: 'Maker', model: 'M0', serial: '66' },
    { slot: '1', label: 'Alice', manufacturer: 'Maker', model: 'M1', serial: '77' }];
  const named = ({ slot, ...shown }) => shown;
  let host;  // this row's host: { tokens (or their refusal), chosen (the slot in use), pinPad, keeps (the login), loggedIn, exits }
  const { call, windows, answer, details } = await runWorker('https://ca.example.com', (native, m) => {
    sent.push(JSON.parse(JSON.stringify(m)));
    const pin = m.login?.pin;
    const reply = m.tokens && !Array.isArray(host.tokens) ? { ok: false, ...host.tokens }
      : m.tokens ? { ok: true, value: host.tokens.map((t) => ({ ...t, pinPad: host.pinPad, chosen: t.slot === host.chosen })) }
      : m.useToken ? (host.loggedIn &&= m.useToken.slot === host.chosen, host.chosen = m.useToken.slot, { ok: true, value: null })
      : m.login && m.login.slot !== host.chosen ? { ok: false, reason: 'token-removed', error: 'another token' }
      : m.login && pin === '0000' ? { ok: false, reason: 'pin-locked', error: 'locked' }
      : m.login && pin !== (host.pinPad ? undefined : '1234') ? { ok: false, reason: 'pin-incorrect', error: 'wrong PIN' }
      : m.login ? (host.loggedIn = host.keeps, { ok: true, value: null })
      : host.loggedIn ? { ok: true, value: m.list ? [{ serial: '5', canonical: '5', thumbprint: 'ab' }] : 'csr' }
      : { ok: false, reason: 'pin-required', error: 'log in first' };
    if (m.id !== 'page') {
      setTimeout(() => { native.onMessage.fire({ id: m.id, ...reply }); if (m.useToken && host.exits) native.onDisconnect.fire({}); }, 1);
    }
  });
  const token = ['token', true, 1];
  const cases = [ // label, host, the windows in order and the user's answers, the page's replies, what the host was sent
    ['a PIN', {}, [token, ['pin', true, '1234']], ['ok csr'], 'tokens useToken:1 member login:1:1234 member'],
    ['the other token: its PIN window and login', {}, [['token', true, 0], ['pin', true, '1234']], ['ok csr'],
      'tokens useToken:0 member login:0:1234 member'],
    ['the token window denied', {}, [['token', false]], ['denied GetCSR was not allowed: the user denied it'], 'tokens'],
    ['a wrong PIN, not retried', {}, [token, ['pin', true, '9999']], ['pin-incorrect the token was not logged in: wrong PIN'],
      'tokens useToken:1 member login:1:9999'],
    ['a locked PIN', {}, [token, ['pin', true, '0000']], ['pin-locked the token was not logged in: locked'],
      'tokens useToken:1 member login:1:0000'],
    ['the PIN cancelled', {}, [token, ['pin', false]], ['denied no PIN was given: the user cancelled the PIN question'],
      'tokens useToken:1 member'],
    ['a PIN pad: no PIN goes, and none the window sends', { pinPad: true }, [token, ['pin', true, '1234']], ['ok csr'],
      'tokens useToken:1 member login:1 member'],
    ['a login the host forgets: one retry only', { keeps: false }, [token, ['pin', true, '1234']], ['failed log in first'],
      'tokens useToken:1 member login:1:1234 member'],
    ['two calls, one login', {}, [token, ['pin', true, '1234'], token], ['ok csr', 'ok csr'],
      'tokens useToken:1 member login:1:1234 member tokens useToken:1 member'],
    ['a host that stops once told: no key on another', { exits: true }, [token],
      ['unavailable the certificate host stopped after the token was chosen'], 'tokens useToken:1'],
    ['no token module: nobody is asked', { tokens: { reason: 'no-module', error: 'no module' } }, [], ['unavailable no module'], 'tokens'],
    ['no token', { tokens: { reason: 'no-token', error: 'none' } }, [], ['no-token none'], 'tokens'],
    ['keys in the user\'s store (Windows)', { tokens: [], loggedIn: true }, [], ['ok csr'], 'tokens member'],
  ];
  for (const [i, [label, row, asked, expected, told]] of cases.entries()) {
    host = { tokens: TOKENS, chosen: '1', pinPad: false, keeps: true, loggedIn: false, ...row };
    const [opened, from] = [windows.length, sent.length];
    const replies = expected.map((_, j) => call({ id: `${i}.${j}`, member: 'GetCSR', args: [] }));
    let picked;
    for (const [n, [kind, allow, value]] of asked.entries()) {
      await until(() => windows.length > opened + n);
      assert.match(windows[opened + n]?.url ?? '', new RegExp(`^${kind}\\.html#`), `${label}: window ${n}`);
      const shown = details(opened + n);
      // The token window lists the tokens, the host's preselected; the PIN window names the one picked.
      if (kind === 'token') {
        assert.deepStrictEqual([shown.origin, shown.action, shown.tokens, shown.chosen],
          ['https://ca.example.com', 'actionNewKeyOnToken', TOKENS.map(named), 1], label);
        picked = TOKENS[value];
      } else {
        assert.deepStrictEqual([shown.pinPad, shown.token], [host.pinPad, named(picked)], label);
      }
      answer(opened + n, allow, kind === 'token' ? value : undefined, kind === 'pin' ? value : undefined);
    }
    assert.deepStrictEqual((await Promise.all(replies)).map((r) => `${r.ok ? 'ok' : r.reason} ${r.value ?? r.error}`), expected, label);
    assert.strictEqual(windows.length, opened + asked.length, `${label}: windows`);
    assert.strictEqual(sent.slice(from).filter((m) => m.id !== 'page').map((m) => (m.useToken ? `useToken:${m.useToken.slot}`
      : m.login ? ['login', m.login.slot, m.login.pin].filter((x) => x !== undefined).join(':') : Object.keys(m)[0])).join(' '), told, label);
  }
  // The chooser's list and CMS signatures log in the same way, to the token the host uses.
  host = { tokens: TOKENS, chosen: '1', pinPad: true, keeps: true, loggedIn: false };
  const chosen = call({ id: 'chooser', member: 'chooseCertificate' });
  const first = windows.length;
  await until(() => windows.length === first + 1);
  assert.deepStrictEqual(details(first).token, named(TOKENS[1]));
  answer(first, true);
  await until(() => windows.length === first + 2);
  assert.match(windows.at(-1).url, /^chooser\.html#/);
  answer(first + 1, true, 0);
  assert.strictEqual((await chosen).value, '5');
});

(async () => {
  const { check, report } = checks();
  for (const { name, body } of tests) {
    try {
      await body();
      check(name, true);
    } catch (error) {
      check(name, false, error.stack);
    }
  }
  fs.rmSync(packageDir, { recursive: true, force: true });
  fs.rmSync(ownDir, { recursive: true, force: true });
  process.exitCode = report();
})();
