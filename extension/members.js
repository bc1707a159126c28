'use strict';
// The member table the service worker serves pages by (CONFIG.members):
// plain data keyed by member name, made when the extension is built from
// the plug-in's own list (src/npapi/members.def), what the extension adds
// to it and the extension's own members, whose rules stand beside their
// actions (worker/actions/). The page library's build reads the list here too.
//
//   kind      'method' or 'property' of the plug-in, which the host passes
//             to it; 'extension' for the extension's own (page.js defines them)
//   consent   the member changes the store or uses a key: it runs only once
//             the user allows it in the consent window
//     strings       the string arguments the plug-in needs before it does
//                   anything; with fewer it refuses, and nobody is asked
//     certificate   how the first argument names the certificate: 'pem' (the
//                   certificate itself) or 'serial'
//     data          it signs: the second argument is Base64 data, shown in the
//                   window as the plug-in decodes it; only the authority's
//                   certificate signs, and only the one chosen for its serial
//     chosen        it signs with the certificate the chooser gave the page
//                   for that serial, not the one the plug-in's lookup finds
//     action        the message (_locales) that says in the window what the
//                   page asks; detachedAction when the options leave the data
//                   out. A plug-in member's is action<Name>, whose English
//                   text is the list's
//   token     it makes a new key: where the host has tokens, the user first
//             picks the one it is made on in the token window
//     action        the message that says there what the page asks
//   options   the argument (0-based) that may be an options object: { detached }
//   failed    what the plug-in returns when it refuses (the page's
//             error.result) once past its own argument checks; null if not given

const fs = require('node:fs');
const path = require('node:path');
const { OWN_ACTIONS, plugin } = require('./worker/actions.js');

const DEF = path.join(__dirname, '..', 'src', 'npapi', 'members.def');
const LINE = /^ZVCERT_MEMBER\((\w+), (Property|Method), (\d+), (Open|Locked), (None|Asks|AsksWithData), "((?:[^"\\]|\\.)*)"\)$/;

// The plug-in's members as its list has them, in the list's order:
// [{ name, kind, strings, locked, consent, action }].
function readMembers(file = DEF) {
  const members = [];
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    if (!line.startsWith('ZVCERT_MEMBER(')) continue;
    const m = LINE.exec(line.trimEnd());
    if (!m) throw new Error(`${file}: a member line this reader cannot take: ${line}`);
    members.push({ name: m[1], kind: m[2], strings: Number(m[3]), locked: m[4] === 'Locked',
      consent: m[5], action: m[6].replace(/\\(.)/g, '$1') });
  }
  return members;
}

const namesOf = (members, kind) => members.filter((m) => m.kind === kind).map((m) => m.name);

function memberTable(members = readMembers()) {
  const table = {};
  for (const { name, kind, strings, consent } of members) {
    const { consent: extraConsent, ...extra } = plugin.RULES[name] ?? {};
    table[name] = { kind: kind.toLowerCase(), ...extra };
    if (consent !== 'None') {
      table[name].consent = { strings, certificate: 'serial', data: consent === 'AsksWithData', action: `action${name}`,
        ...extraConsent };
    }
  }
  return { ...table, ...Object.fromEntries(Object.entries(OWN_ACTIONS).map(([name, { rule }]) => [name, rule])) };
}

module.exports = { memberTable, readMembers, namesOf };
