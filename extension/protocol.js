'use strict';
// The protocol with the native host as its one list has it
// (src/host/protocol.def): the build gives the service worker its commands
// and reasons (worker/protocol.js) and holds the worker's host calls to them.

const fs = require('node:fs');
const path = require('node:path');

const DEF = path.join(__dirname, '..', 'src', 'host', 'protocol.def');
const COMMAND = /^ZVCERT_COMMAND\((\w+), (\w+), (String|Object|Any), "((?:\w+:\w+\??(?: (?!"))?)*)", (\w+)\)$/;
const REASON = /^ZVCERT_REASON\((\w+), "([\w-]+)", "([\w-]+)", (Host|Port)\)$/;

// { commands: { key: { handler, type, fields: { name: { type, optional } }, reply } },
//   reasons: { text: { name, page, sender } } }, in the list's order.
function readProtocol(file = DEF) {
  const protocol = { commands: {}, reasons: {} };
  for (const line of fs.readFileSync(file, 'utf8').split('\n').map((l) => l.trimEnd())) {
    if (!line.startsWith('ZVCERT_')) continue;
    const command = COMMAND.exec(line);
    const reason = REASON.exec(line);
    if (command) {
      const [, key, handler, type, fields, reply] = command;
      protocol.commands[key] = { handler, type, reply, fields: Object.fromEntries(fields.split(' ').filter(Boolean)
        .map((f) => /^(\w+):(\w+)(\??)$/.exec(f)).map(([, name, t, optional]) => [name, { type: t, optional: optional === '?' }])) };
    } else if (reason) {
      const [, name, text, page, sender] = reason;
      protocol.reasons[text] = { name, page, sender };
    } else {
      throw new Error(`${file}: a line this reader cannot take: ${line}`);
    }
  }
  return protocol;
}

module.exports = { readProtocol };
