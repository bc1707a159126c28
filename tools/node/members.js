'use strict';
// The script members, read from the plug-in's own list (src/npapi/members.def),
// for the builds of the extension and the page library and for the tests.

const fs = require('node:fs');
const path = require('node:path');

const DEF = path.join(__dirname, '..', '..', 'src', 'npapi', 'members.def');
const LINE = /^ZVCERT_MEMBER\((\w+), (Property|Method), (\d+), (Open|Locked), (None|Asks|AsksWithData), "((?:[^"\\]|\\.)*)"\)$/;

// [{ name, kind, strings, locked, consent, action }] in the list's order.
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

// What differs between a list of names and the members of that kind, as
// text, or '' when they are the same names.
function listDifference(what, names, members, kind) {
  const want = new Set(namesOf(members, kind));
  const have = new Set(names);
  const missing = [...want].filter((n) => !have.has(n));
  const extra = [...have].filter((n) => !want.has(n));
  if (missing.length === 0 && extra.length === 0 && names.length === want.size) return '';
  return `${what} ${[missing.length ? `lacks ${missing.join(', ')}` : '',
    extra.length ? `has ${extra.join(', ')}, which the plug-in does not` : '',
    names.length !== have.size ? 'names a member twice' : ''].filter(Boolean).join('; ')}`;
}

module.exports = { readMembers, namesOf, listDifference };
