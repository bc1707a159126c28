'use strict';
// What both demonstrations share: their command line and the report of
// steps they print and keep.

const fs = require('node:fs');
const path = require('node:path');
const util = require('node:util');

// --build, --root, --out, --subject, --text, --keep, plus options of the
// caller's own; subject is the caller's default.
function demoOptions(subject, extra = {}) {
  return util.parseArgs({
    options: {
      build: { type: 'string', default: 'build/win32' },
      // The built-in root, its key beside it (root.key): the authority's.
      root: { type: 'string', default: 'build/authority/root.pem' },
      out: { type: 'string', default: 'out' },
      subject: { type: 'string', default: subject },
      text: { type: 'string', default: 'I agree to the terms of this demonstration.' },
      keep: { type: 'boolean', default: false },
      ...extra,
    },
  }).values;
}

// Steps printed as they happen and written to <folder>/report.txt at the end.
class Report {
  constructor() {
    this.lines = [];
    this.log = this.log.bind(this);
  }

  log(step, detail) {
    const line = `${step.padEnd(14)} ${detail}`;
    console.log(line);
    this.lines.push(line);
  }

  save(folder) {
    fs.writeFileSync(path.join(folder, 'report.txt'), `${this.lines.join('\n')}\n`);
  }
}

// The machine a Windows program is built for, from its PE header: what the
// report names, so that a reader knows which build enrolled.
function windowsArchitecture(file) {
  const bytes = fs.readFileSync(file);
  const header = bytes.readUInt32LE(0x3c);
  const machine = bytes.readUInt16LE(header + 4);
  return { 0x14c: 'x86 (32-bit Windows)', 0x8664: 'x64 (64-bit Windows)' }[machine]
    ?? `machine 0x${machine.toString(16)}`;
}

module.exports = { demoOptions, Report, windowsArchitecture };
