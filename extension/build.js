#!/usr/bin/env node
'use strict';
// Builds the browser extension (unpacked) for one authority: the pages that
// may use it are fixed here, as the root certificate is fixed in the plug-in.
//
//   node extension/build.js --out DIR --origins "https://ca.example.com,http://127.0.0.1:8765"
//        [--version 1.0.2.2] [--consent-timeout SECONDS] [--identity FILE] [--release]
//        [--sign-text-only]
//   node extension/build.js --check-origins LIST [--release]
//        prints the origins as browsers write them, one a line
//
// An origin is https://host[:port]; plain http is allowed only for
// 127.0.0.1 and localhost, for development. With --release, neither plain
// http nor this machine is allowed: any local program could serve such a
// page; nor the development identity (extension/identity.js). Exits 2 with a
// reason otherwise. With --sign-text-only, CertSign and signCms refuse data
// the consent window cannot show as text.

const fs = require('node:fs');
const path = require('node:path');
const util = require('node:util');
const { IdentityError, readIdentity } = require('./identity');
const { memberTable, readMembers } = require('./members');
const { readProtocol } = require('./protocol');

// The windows the user answers, whose every word is a message.
const WINDOW_SOURCES = ['consent.html', 'consent.js', 'chooser.html', 'chooser.js', 'token.html', 'token.js', 'pin.html',
  'pin.js', 'question.js', 'i18n.js', 'arming.js'];
// The service worker: background.js and the modules it imports but its settings, which the build writes.
const WORKER_SOURCES = ['background.js', 'browser.js', ...fs.readdirSync(path.join(__dirname, 'worker'),
  { recursive: true }).filter((name) => name.endsWith('.js')).map((name) => path.join('worker', name))];
const SOURCES = ['page.js', 'relay.js', ...WORKER_SOURCES, ...WINDOW_SOURCES, 'window.css'];
const DEVELOPMENT_HOSTS = ['127.0.0.1', 'localhost'];

// A window's page: its source is the body; the head, its title's message and
// its script are named after the window.
const windowPage = (kind, body) => `<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title data-i18n="${kind}Title"></title>
<link rel="stylesheet" href="window.css">
<script type="module" src="${kind}.js"></script>
</head>
<body>
${body}</body>
</html>
`;

class BuildError extends Error {}

// Names of this machine, as URL writes them: localhost and its subdomains,
// 127.0.0.0/8, the unspecified addresses, ::1 and IPv4-mapped loopback. URL
// keeps a name's trailing dots, which still resolve to the same machine.
const isLoopback = (name) => {
  const host = name.replace(/\.+$/, '');
  return host === 'localhost' || host.endsWith('.localhost') ||
    /^127\.\d+\.\d+\.\d+$/.test(host) || host === '0.0.0.0' || host === '[::1]' || host === '[::]' ||
    /^\[::ffff:7f[0-9a-f]{2}:[0-9a-f]{1,4}\]$/.test(host);
};

// The origin as browsers write it, or a BuildError saying why it is refused.
function checkOrigin(text, release = false) {
  let url;
  try {
    url = new URL(text);
  } catch {
    throw new BuildError(`"${text}" is not an origin (scheme://host[:port])`);
  }
  if (url.origin !== text.replace(/\/$/, '') || url.username || url.password) {
    throw new BuildError(`"${text}" is not an origin: give scheme://host[:port] only, as ${url.origin}`);
  }
  if (release && (url.protocol !== 'https:' || isLoopback(url.hostname))) {
    throw new BuildError(`"${text}": a release build serves only the authority's https pages, not plain http or this machine`);
  }
  if (url.protocol === 'https:') return url.origin;
  if (url.protocol === 'http:' && DEVELOPMENT_HOSTS.includes(url.hostname)) return url.origin;
  if (url.protocol === 'http:') {
    throw new BuildError(`"${text}": plain http is allowed only for ${DEVELOPMENT_HOSTS.join(' and ')}`);
  }
  throw new BuildError(`"${text}": only https (and http on ${DEVELOPMENT_HOSTS.join(' or ')}) pages may use the extension`);
}

// Content scripts go where the host matches; the scripts compare the whole
// origin, port included, themselves (match patterns cannot carry a port in
// every browser).
const matchPattern = (origin) => {
  const url = new URL(origin);
  return `${url.protocol}//${url.hostname}/*`;
};

function build({ out, origins: originList, version, consentTimeout, identity: identityFile, release = false,
  signTextOnly = false }) {
  const origins = [...new Set(originList.split(/[,;\s]+/).filter(Boolean).map((o) => checkOrigin(o, release)))];
  if (origins.length === 0) throw new BuildError('no origins given');
  if (!/^\d+(\.\d+){0,3}$/.test(version)) throw new BuildError(`version "${version}" is not 1 to 4 numbers`);
  const timeout = Number(consentTimeout);
  if (!Number.isInteger(timeout) || timeout < 1 || timeout > 3600) {
    throw new BuildError(`consent timeout "${consentTimeout}" is not a whole number of seconds from 1 to 3600`);
  }
  let identity;
  try {
    identity = readIdentity(identityFile, release);
  } catch (error) {
    if (!(error instanceof IdentityError)) throw error;
    throw new BuildError(`identity ${identityFile}: ${error.message}`);
  }

  const members = memberTable();
  const named = (kind) => Object.keys(members).filter((name) => members[name].kind === kind);
  const config = {
    origins, hostName: identity.hostName, channel: 'zvcert-extension',
    consentTimeoutSeconds: timeout, methods: named('method'), properties: named('property'), members,
    signTextOnly: signTextOnly === true,
  };
  const matches = [...new Set(origins.map(matchPattern))];
  const manifest = {
    manifest_version: 3,
    // A development build says so wherever the user sees the extension, in
    // the browser's language (_locales).
    name: release ? '__MSG_extName__' : '__MSG_extNameDevelopment__',
    description: release ? '__MSG_extDescription__' : '__MSG_extDescriptionDevelopment__',
    default_locale: 'en',
    version,
    key: identity.publicKey,
    permissions: ['nativeMessaging'],
    // Chromium runs the service worker; Firefox, which has none, the same
    // module as its background script.
    background: { service_worker: 'background.js', scripts: ['background.js'], type: 'module' },
    content_scripts: [
      { matches, js: ['page.js'], run_at: 'document_start', world: 'MAIN' },
      { matches, js: ['relay.js'], run_at: 'document_start' },
    ],
    browser_specific_settings: { gecko: { id: identity.firefoxId, strict_min_version: '128.0' } },
  };

  fs.rmSync(out, { recursive: true, force: true });
  fs.mkdirSync(out, { recursive: true });
  const configText = JSON.stringify(config);
  const written = {};
  for (const name of SOURCES) {
    const source = fs.readFileSync(path.join(__dirname, name), 'utf8');
    // The content scripts, which cannot import, carry the settings in their text.
    written[name] = name.endsWith('.html') ? windowPage(path.basename(name, '.html'), source)
      : source.replaceAll('__ZVCERT_CONFIG__', configText);
    fs.mkdirSync(path.dirname(path.join(out, name)), { recursive: true });
    fs.writeFileSync(path.join(out, name), written[name]);
  }
  fs.writeFileSync(path.join(out, 'worker', 'config.js'), `// This build's settings (extension/build.js).\nexport const CONFIG = ${configText};\n`);
  const protocol = readProtocol();
  checkHostCalls(Object.fromEntries(WORKER_SOURCES.map((name) => [name, written[name]])), protocol);
  const reasons = Object.fromEntries(Object.entries(protocol.reasons).map(([text, { page }]) => [text, page]));
  fs.writeFileSync(path.join(out, 'worker', 'protocol.js'), '// The protocol with the native host, as this build read it (src/host/protocol.def).\n' +
    `export const PROTOCOL = ${JSON.stringify({ reasons })};\n`);
  const locales = readLocales(path.join(__dirname, '_locales'));
  checkWindowTexts(Object.fromEntries(WINDOW_SOURCES.map((name) => [name, written[name]])), locales.en, members);
  const unknown = [manifest.name, manifest.description].map((t) => /^__MSG_(\w+)__$/.exec(t)[1])
    .filter((key) => !(key in locales.en));
  if (unknown.length) throw new BuildError(`the manifest names messages the locales lack: ${unknown.join(', ')}`);
  for (const [language, messages] of Object.entries(locales)) {
    fs.mkdirSync(path.join(out, '_locales', language), { recursive: true });
    fs.writeFileSync(path.join(out, '_locales', language, 'messages.json'), `${JSON.stringify(messages, null, 2)}\n`);
  }
  fs.writeFileSync(path.join(out, 'manifest.json'), `${JSON.stringify(manifest, null, 2)}\n`);
  return { origins, matches, id: identity.chromiumId };
}

// Every language's messages, read and checked against English's: the same
// keys, each text non-empty, and the same placeholders, so that no window
// shows a key, a gap or a value in the wrong place in any language.
function readLocales(dir) {
  const locales = {};
  for (const language of fs.readdirSync(dir).sort()) {
    locales[language] = JSON.parse(fs.readFileSync(path.join(dir, language, 'messages.json'), 'utf8'));
  }
  checkLocales(locales);
  return locales;
}

function checkLocales(locales) {
  const english = locales.en;
  if (!english) throw new BuildError('_locales has no English (en), the default');
  const placeholders = (entry) => [...new Set([...(entry.message ?? '').matchAll(/\$(\w+)\$/g)]
    .map((m) => m[1].toLowerCase()))].sort().join(',') + `|${Object.keys(entry.placeholders ?? {}).sort().join(',')}`;
  const problems = [];
  for (const [language, messages] of Object.entries(locales)) {
    for (const key of Object.keys(english)) {
      const entry = messages[key];
      if (!entry || typeof entry.message !== 'string' || entry.message.trim() === '') {
        problems.push(`${language} lacks ${key}`);
      } else if (placeholders(entry) !== placeholders(english[key])) {
        problems.push(`${language} ${key} has other placeholders than English's`);
      }
    }
    for (const key of Object.keys(messages)) {
      if (!(key in english)) problems.push(`${language} has ${key}, which English has not`);
    }
  }
  if (problems.length) throw new BuildError(`_locales: ${problems.join('; ')}`);
}

// Every word a window shows is a message English has: the windows' pages
// hold no text of their own, their scripts set no literal text and name
// only messages there are, and each consent rule's action is a message, a
// plug-in member's in the very words of the member list, as is the action
// the token window names.
function checkWindowTexts(sources, english, members, listed = readMembers()) {
  const problems = [];
  const known = (key, where) => { if (!(key in english)) problems.push(`${where} names ${key}, which English lacks`); };
  for (const [name, text] of Object.entries(sources)) {
    if (name.endsWith('.html')) {
      const body = text.replace(/<(script|style)\b[\s\S]*?<\/\1>/g, '').replace(/<!--[\s\S]*?-->/g, '');
      for (const [, shown] of body.matchAll(/>([^<]*)</g)) {
        if (shown.trim()) problems.push(`${name} shows "${shown.trim()}" rather than a message`);
      }
      for (const [, key] of text.matchAll(/data-i18n="([^"]*)"/g)) known(key, name);
    } else {
      for (const [literal] of text.matchAll(/\.(?:textContent|innerText|innerHTML|title)\s*=\s*['"`][^'"`]*/g)) {
        problems.push(`${name} sets "${literal}" rather than a message`);
      }
      // The keys given to say(), message(), cell() and openQuestion(): quoted
      // words, past the element looked up by id and the values compared with.
      for (const [, args] of text.matchAll(/\b(?:say|message|cell|openQuestion)\(([^;]*)\)/g)) {
        const keys = args.replace(/\$\('[^']*'\)/g, '').replace(/===? '[^']*'/g, '');
        for (const [, key] of keys.matchAll(/'(\w+)'/g)) known(key, name);
      }
    }
  }
  for (const [member, { consent, token }] of Object.entries(members)) {
    if (token) known(token.action, `${member}'s token choice`);
    if (!consent) continue;
    for (const key of [consent.action, consent.detachedAction].filter((k) => k !== undefined)) known(key, `${member}'s consent`);
    const entry = listed.find((m) => m.name === member);
    if (entry && english[consent.action] && english[consent.action].message !== entry.action) {
      problems.push(`${member}: English ${consent.action} is not the member list's action "${entry.action}"`);
    }
  }
  if (problems.length) throw new BuildError(`windows: ${problems.join('; ')}`);
}

// The worker asks the host only what the protocol's list has: each
// host.call names a command of the list by a literal, and the members it
// writes in a literal object are that command's fields (of its value for an
// Object command, else of the message beside it).
function checkHostCalls(sources, { commands }) {
  const problems = [];
  for (const [name, text] of Object.entries(sources)) {
    for (const [, first, value, rest] of text.matchAll(/\bhost\.call\(\s*([^,)]*)(?:,\s*(\{[^{}]*\}|[^,)]*))?(?:,\s*(\{[^{}]*\}))?/g)) {
      const key = /^'(\w+)'$/.exec(first.trim())?.[1];
      const command = key !== undefined && Object.hasOwn(commands, key) ? commands[key] : undefined;
      if (!command) {
        problems.push(`${name}: host.call(${first.trim()} names no command of the protocol`);
        continue;
      }
      const literal = command.type === 'Object' ? value : rest;
      const named = [...(literal ?? '').slice(1, -1).matchAll(/(?:^|,)\s*(\w+)\s*(?=[:,]|$)/g)].map((m) => m[1]);
      for (const field of named.filter((f) => !Object.hasOwn(command.fields, f))) {
        problems.push(`${name}: ${key} has no field ${field}`);
      }
    }
  }
  if (problems.length) throw new BuildError(`worker: ${problems.join('; ')}`);
}

module.exports = { build, checkOrigin, readLocales, checkLocales, checkWindowTexts, checkHostCalls, BuildError };

if (require.main === module) {
  const { values } = util.parseArgs({
    options: {
      out: { type: 'string' },
      origins: { type: 'string', default: 'http://127.0.0.1:8765,http://localhost:8765' },
      version: { type: 'string', default: '1.0.0' },
      'consent-timeout': { type: 'string', default: '60' },
      identity: { type: 'string', default: path.join(__dirname, 'identity.json') },
      release: { type: 'boolean', default: false },
      'sign-text-only': { type: 'boolean', default: false },
      'check-origins': { type: 'string' },
    },
  });
  if (values['check-origins'] !== undefined) {
    // The same rules for the plug-in's own origin lock: one origin a line.
    try {
      const origins = values['check-origins'].split(/[,;\s]+/).filter(Boolean).map((o) => checkOrigin(o, values.release));
      console.log([...new Set(origins)].join('\n'));
    } catch (error) {
      if (!(error instanceof BuildError)) throw error;
      console.error(error.message);
      process.exit(2);
    }
    process.exit(0);
  }
  if (!values.out) {
    console.error('usage: node extension/build.js --out DIR [--origins LIST] [--version V] [--consent-timeout S] [--identity FILE] [--release] [--sign-text-only]');
    process.exit(2);
  }
  try {
    const built = build({ ...values, consentTimeout: values['consent-timeout'], signTextOnly: values['sign-text-only'] });
    console.log(`extension ${built.id} for ${built.origins.join(', ')} in ${values.out}`);
  } catch (error) {
    if (!(error instanceof BuildError)) throw error;
    console.error(`extension: ${error.message}`);
    process.exit(2);
  }
}
