'use strict';
// The host's peak memory for the largest message of each shape: one fresh
// npzvcert-host.exe per shape, its peak resident set (VmHWM, read from /proc
// for the Wine process) after a first small call and after the large
// message; then whether the next call on the same connection is answered.
// (VmPeak says nothing here: Wine reserves the address space up front.)
//
//   node bench/host_memory.js <build/win32 folder> [MiB = 64]
//
// Run with the build's wineserver up (scripts/lib/in-wine.sh, or
// scripts/bench.sh, which does). Figures, not a test: it always exits 0
// unless the host cannot be started at all.

const fs = require('node:fs');
const path = require('node:path');

const { HostClient, frame } = require('../tools/node/host_client');

const buildDir = path.resolve(process.argv[2] ?? 'build/win32');
const mib = Number(process.argv[3] ?? 64);
const MiB = 1 << 20;
// The framing allows 64 MiB; what the host reads is the body alone.
const bodyLimit = Math.min(mib * MiB, 64 * MiB);

// A JSON body of about `size` bytes: head, then `unit` repeated, then tail.
function filled(head, unit, separator, tail, size) {
  const count = Math.max(1, Math.floor((size - head.length - tail.length + separator.length) / (unit.length + separator.length)));
  return Buffer.from(head + Array(count).fill(unit).join(separator) + tail, 'utf8');
}
const call = (member, before, after = '') => (size) => filled(`{"id":7,"member":"${member}","args":[`, before, ',', `]${after}}`, size);
const oneString = (head, tail, unit = 'a') => (size) => {
  const room = size - head.length - tail.length;
  const fill = Buffer.alloc(room - (room % unit.length), unit);
  return Buffer.concat([Buffer.from(head), fill, Buffer.from(tail)]);
};

// Each shape at its largest; and arrays of 8 and 12 MiB, which the host
// before its reader's bounds took 401 MiB for, and ended on.
const SHAPES = [
  ['array of numbers, 8 MiB', (s) => call('Base64Encode', '0')(Math.min(s, 8 * MiB))],
  ['array of numbers, 12 MiB', (s) => call('Base64Encode', '0')(Math.min(s, 12 * MiB))],
  ['array of numbers', call('Base64Encode', '0')],
  ['array of short strings', call('Base64Encode', '"a"')],
  ['object of many members', (s) => filled('{"id":7,"member":"Base64Encode","args":[{', '"a":0', ',', '}]}', s)],
  ['nested arrays', (s) => Buffer.concat([Buffer.from('{"id":7,"member":"Version","args":'), Buffer.alloc(s - 40, '[')])],
  ['one string to Base64Encode', oneString('{"id":7,"member":"Base64Encode","args":["', '"]}')],
  ['one string to Base64Decode', oneString('{"id":7,"member":"Base64Decode","args":["', '"]}', 'QUJD')],
  ['one string to SetSubject', oneString('{"id":7,"member":"SetSubject","args":["CN=', '"]}')],
  ['one string as the id', oneString('{"member":"Version","id":"', '"}')],
  ['one number as the id', oneString('{"member":"Version","id":1', '}', '1')],
  ['one string as a member name', oneString('{"id":7,"member":"Version","', '":0}')],
  ['describe data', oneString('{"id":7,"describe":{"data":"', '"}}', 'QUJD')],
  ['signCms data, detached, unknown serial', oneString('{"id":7,"signCms":{"serial":"1","detached":true,"data":"', '"}}', 'QUJD')],
];

function memory(pid) {
  try {
    const status = fs.readFileSync(`/proc/${pid}/status`, 'utf8');
    return Number(/^VmHWM:\s+(\d+) kB/m.exec(status)?.[1] ?? NaN);
  } catch {
    return NaN;
  }
}

const toMiB = (kib) => (Number.isNaN(kib) ? '—' : (kib / 1024).toFixed(0));
const summary = (reply) => (reply === null ? 'no reply (host ended)' : reply.ok === false && 'error' in reply
  ? `refused under id ${JSON.stringify(reply.id)}: ${String(reply.error).slice(0, 60)}` : `ok ${reply.ok}, value ${JSON.stringify(reply.value).slice(0, 24)}`);

async function measure(label, make) {
  const host = new HostClient(buildDir, { timeoutMs: 120000 });
  const first = await host.request({ id: 1, member: 'Version' });
  if (first === null) throw new Error(`the host did not start: ${host.stderr}`);
  // wine-run.sh execs wine, which becomes the Windows process.
  const before = memory(host.child.pid);
  const body = make(bodyLimit - 64);
  const started = Date.now();
  host.send(frame(body));
  const reply = await host.next();
  const ms = Date.now() - started;
  const after = memory(host.child.pid);
  const next = reply === null ? null : await host.request({ id: 8, member: 'Version' });
  const code = await host.close();
  console.log(`| ${label} | ${(body.length / MiB).toFixed(1)} | ${summary(reply)} | ${toMiB(before)} | ${toMiB(after)} | `
    + `${toMiB(after - before)} | ${ms} | ${next?.value === 1022 ? 'yes' : 'no'} | ${code} |`);
}

(async () => {
  console.log(`host: ${path.join(buildDir, 'bin', 'npzvcert-host.exe')}; bodies up to ${(bodyLimit / MiB).toFixed(0)} MiB`);
  console.log('| shape | MiB | reply | VmHWM before | VmHWM after | growth | ms | next call answered | exit |');
  console.log('|---|---|---|---|---|---|---|---|---|');
  for (const [label, make] of SHAPES) await measure(label, make);
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
