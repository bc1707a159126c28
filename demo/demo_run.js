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

module.exports = { demoOptions, Report };
