'use strict';
// npzvcert-host.exe driven from Node over its pipes under Wine, as a browser
// extension's native port drives it: each message a 4-byte little-endian
// length and that many bytes of JSON (docs/native-messaging.md).
//
//   const host = new HostClient(buildDir);         // build/win32's shipped host
//   await host.call('SetSubject', 'CN=Alice');     // { ok, value }, as a page sees it
//   await host.get('Version');
//   await host.close();                            // the host's exit code
//
// options.checks runs npzvcert-host-checks.exe instead, which exits 2 when the
// plug-in misused the browser; options.plugin (a Windows path, checks only)
// names another build's DLL; options.program another program of the build's
// bin folder, options.exe any host's path (an installed one), options.command
// any host's [program, args] (buildDir unused). send(), next() and request()
// speak raw messages.

const { spawn } = require('node:child_process');
const path = require('node:path');

const REPLY_TIMEOUT_MS = 60000;

const frame = (body) => {
  const bytes = Buffer.isBuffer(body) ? body : Buffer.from(body, 'utf8');
  const header = Buffer.alloc(4);
  header.writeUInt32LE(bytes.length);
  return Buffer.concat([header, bytes]);
};

// The program and arguments that start a build's host under its Wine prefix.
function hostCommand(buildDir, { checks = false, plugin, program, hostDir = buildDir,
  exe = path.join(hostDir, 'bin', program ?? (checks ? 'npzvcert-host-checks.exe' : 'npzvcert-host.exe')) } = {}) {
  return [path.join(buildDir, 'wine-run.sh'), [exe, ...(plugin ? [`--plugin=${plugin}`] : [])]];
}

class HostClient {
  #waiters = [];
  #buffer = Buffer.alloc(0);
  #lastId = 0;
  #queue = Promise.resolve();

  constructor(buildDir, options = {}) {
    const [program, args] = options.command ?? hostCommand(buildDir, options);
    this.timeoutMs = options.timeoutMs ?? REPLY_TIMEOUT_MS;
    this.child = spawn(program, args, { env: options.env ?? process.env, stdio: ['pipe', 'pipe', 'pipe'] });
    this.stderr = '';
    this.replies = [];
    this.child.stderr.on('data', (chunk) => { this.stderr = (this.stderr + chunk).slice(-8192); });
    // A host that died must not leave a request hanging on a closed pipe.
    this.child.stdin.on('error', () => {});
    this.child.stdout.on('data', (chunk) => {
      this.#buffer = Buffer.concat([this.#buffer, chunk]);
      while (this.#buffer.length >= 4 && this.#buffer.length >= 4 + this.#buffer.readUInt32LE(0)) {
        const size = this.#buffer.readUInt32LE(0);
        const body = this.#buffer.subarray(4, 4 + size).toString('utf8');
        this.#buffer = this.#buffer.subarray(4 + size);
        let reply;
        try { reply = JSON.parse(body); } catch { reply = { unparsable: body }; }
        reply.size = size;
        this.replies.push(reply);
      }
      this.#wake();
    });
    this.exited = new Promise((resolve) => {
      this.child.on('error', (error) => { this.stderr += String(error); this.done = true; this.#wake(); resolve(null); });
      this.child.on('exit', (code) => { this.done = true; this.#wake(); resolve(code); });
    });
  }

  #wake() { for (const w of this.#waiters.splice(0)) w(); }

  // The next reply, or null when none comes in time or the host is gone.
  async next(timeoutMs = this.timeoutMs) {
    const deadline = Date.now() + timeoutMs;
    while (this.replies.length === 0) {
      if (this.done || Date.now() >= deadline) return null;
      await new Promise((resolve) => {
        const timer = setTimeout(resolve, Math.max(0, deadline - Date.now()));
        this.#waiters.push(() => { clearTimeout(timer); resolve(); });
      });
    }
    return this.replies.shift();
  }

  send(bytes) { this.child.stdin.write(bytes); }

  request(message) {
    this.send(frame(typeof message === 'string' ? message : JSON.stringify(message)));
    return this.next();
  }

  // One script call after another: { ok, value }, or an error when the host
  // refuses the message or does not answer (a late reply would answer the
  // next call, so a silent host is ended).
  #ask(message) {
    const run = async () => {
      const id = ++this.#lastId;
      const reply = await this.request({ id, ...message });
      if (reply === null) {
        this.child.kill('SIGKILL');
        throw new Error(`no reply from the host to ${message.member}: ${this.stderr.trim()}`);
      }
      if (reply.id !== id || 'error' in reply) {
        throw new Error(`the host refused ${message.member}: ${JSON.stringify(reply)}`);
      }
      return { ok: reply.ok, value: reply.value };
    };
    const result = this.#queue.then(run, run);
    this.#queue = result.catch(() => {});
    return result;
  }

  call(member, ...args) { return this.#ask({ member, args }); }
  get(property) { return this.#ask({ member: property }); }

  // The exit code once stdin is closed, or 'hang' (and the host killed) when
  // it does not end in time.
  async close(timeoutMs = this.timeoutMs) {
    await this.#queue;
    this.child.stdin.end();
    let timer;
    const late = new Promise((resolve) => { timer = setTimeout(() => resolve('hang'), timeoutMs); });
    const code = await Promise.race([this.exited, late]);
    clearTimeout(timer);
    if (code === 'hang') this.child.kill('SIGKILL');
    return code;
  }
}

module.exports = { HostClient, hostCommand, frame };
