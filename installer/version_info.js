#!/usr/bin/env node
'use strict';
// Reads strings of a Windows program's version resource, as Windows finds
// them: through the PE file's resource directory, not a search of its bytes.
//   node installer/version_info.js <exe or dll> <name>...
// prints each named string of its one string table on a line of its own, and
// exits 1 with the reason when the file has no such resource or string.

const fs = require('node:fs');

const RT_VERSION = 16;

function fail(message) {
  console.error(message);
  process.exit(1);
}

// The data of the version resource: type 16, its first name, its first language.
function versionResource(file) {
  const pe = fs.readFileSync(file);
  const header = pe.readUInt32LE(0x3c);
  if (pe.toString('latin1', header, header + 4) !== 'PE\0\0') fail(`${file} is no PE file`);
  const sections = pe.readUInt16LE(header + 6);
  const optional = header + 24;
  const directories = optional + (pe.readUInt16LE(optional) === 0x20b ? 112 : 96);
  const table = optional + pe.readUInt16LE(header + 20);
  const offsetOf = (rva) => {
    for (let i = 0; i < sections; i++) {
      const s = table + 40 * i;
      const address = pe.readUInt32LE(s + 12);
      if (rva >= address && rva < address + pe.readUInt32LE(s + 16)) return rva - address + pe.readUInt32LE(s + 20);
    }
    fail(`${file}: address ${rva} is in no section`);
  };
  const resourceRva = pe.readUInt32LE(directories + 16);
  if (resourceRva === 0) fail(`${file} has no resources`);
  const base = offsetOf(resourceRva);
  // The entry of a directory with the given id, or its first.
  const entry = (directory, id) => {
    const named = pe.readUInt16LE(directory + 12);
    const count = named + pe.readUInt16LE(directory + 14);
    for (let i = id === undefined ? 0 : named; i < count; i++) {
      const e = directory + 16 + 8 * i;
      if (id === undefined || pe.readUInt32LE(e) === id) return pe.readUInt32LE(e + 4);
    }
    fail(`${file} has no version resource`);
  };
  const subdirectory = (value) => {
    if (!(value & 0x80000000)) fail(`${file}: its resource directory is malformed`);
    return base + (value & 0x7fffffff);
  };
  const names = subdirectory(entry(base, RT_VERSION));
  const languages = subdirectory(entry(names));
  const data = base + entry(languages);
  const at = offsetOf(pe.readUInt32LE(data));
  return pe.subarray(at, at + pe.readUInt32LE(data + 4));
}

// One node of the resource: its key, its text value up to the first NUL,
// and its children, each 32-bit aligned from the resource's start.
function block(data, offset) {
  const align = (n) => (n + 3) & ~3;
  const length = data.readUInt16LE(offset);
  const valueLength = data.readUInt16LE(offset + 2);
  const text = data.readUInt16LE(offset + 4) === 1;
  const end = offset + length;
  if (length < 6 || end > data.length) throw new Error('a block runs past the resource');
  let at = offset + 6;
  let keyStop = at;
  while (keyStop < end && data.readUInt16LE(keyStop) !== 0) keyStop += 2;
  const key = data.toString('utf16le', at, keyStop);
  at = align(keyStop + 2);
  const valueBytes = text ? valueLength * 2 : valueLength;
  const raw = data.toString('utf16le', at, Math.min(at + valueBytes, end));
  const value = raw.includes('\0') ? raw.slice(0, raw.indexOf('\0')) : raw;
  at = align(at + valueBytes);
  const children = [];
  while (at < end) {
    const child = block(data, at);
    children.push(child);
    at = align(at + data.readUInt16LE(at));
  }
  return { key, value, children };
}

const [file, ...wanted] = process.argv.slice(2);
if (!file || wanted.length === 0) fail('usage: version_info.js <exe or dll> <name>...');
let root;
try {
  root = block(versionResource(file), 0);
} catch (error) {
  fail(`${file}: its version resource cannot be read: ${error.message}`);
}
const tables = root.children.filter((c) => c.key === 'StringFileInfo').flatMap((c) => c.children);
// One table only: with two, which one a reader believed would be a choice.
if (tables.length !== 1) fail(`${file} has ${tables.length} string tables in its version resource, not one`);
for (const name of wanted) {
  const found = tables[0].children.filter((c) => c.key === name);
  if (found.length !== 1) fail(`${file} has ${found.length ? 'more than one' : 'no'} "${name}" in its version resource`);
  console.log(found[0].value);
}
