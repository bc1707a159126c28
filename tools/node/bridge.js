'use strict';
// Drives zvcert-bridge.exe (tools/script_bridge.cpp) from Node: the plug-in's
// scriptable object as a page sees it, one request at a time.
//
//   const bridge = await Bridge.start('/path/to/build/win32');
//   const reply = await bridge.call('GetCSR');   // { ok, type, value }
//   await bridge.close();                        // the bridge's exit code
//
// Values go both ways as JavaScript values: undefined (void), null, booleans,
// integers (int32), other numbers (double) and strings (UTF-8). A reply keeps
// the wire type too, so that an int32 1 and a double 1 can be told apart.

const { spawn } = require('node:child_process');
const path = require('node:path');
const readline = require('node:readline');

const DEFAULT_TIMEOUT_MS = 60000;

const toBase64 = (text) => Buffer.from(text, 'utf8').toString('base64');
const fromBase64 = (text) => Buffer.from(text, 'base64').toString('utf8');

// A number that must travel as a double even when it is whole.
class Double {
  constructor(value) {
    this.value = value;
  }
}

function encodeValue(value) {
  if (value === undefined) return 'v';
  if (value === null) return 'n';
  if (typeof value === 'boolean') return value ? 'b:1' : 'b:0';
  if (value instanceof Double) return `d:${value.value}`;
  if (typeof value === 'number') {
    return Number.isInteger(value) && value >= -(2 ** 31) && value < 2 ** 31
      ? `i:${value}`
      : `d:${value}`;
  }
  if (typeof value === 'string') return `s:${toBase64(value)}`;
  throw new TypeError(`no bridge form for ${typeof value}`);
}

function decodeValue(field) {
  if (field === 'v') return { type: 'void', value: undefined };
  if (field === 'n') return { type: 'null', value: null };
  const [tag, rest] = [field.slice(0, 2), field.slice(2)];
  if (tag === 'b:') return { type: 'bool', value: rest === '1' };
  if (tag === 'i:') return { type: 'int', value: Number.parseInt(rest, 10) };
  if (tag === 'd:') return { type: 'double', value: Number.parseFloat(rest) };
  if (tag === 's:') return { type: 'string', value: fromBase64(rest) };
  throw new Error(`bridge sent an unknown value "${field}"`);
}

// Member names and plain fields travel unencoded: they must not break a line.
function plainField(text) {
  if (typeof text !== 'string' || /[\t\r\n]/.test(text)) {
    throw new TypeError(`"${text}" cannot travel as a bridge field`);
  }
  return text;
}

function parseCertLine(fields) {
  const [, serial, issuer, subject, container, provider, type, kind, exists] = fields;
  return {
    serial, // big-endian hex, as stored (a DER sign byte included)
    issuer: fromBase64(issuer),
    subject: fromBase64(subject),
    container: fromBase64(container),
    provider: fromBase64(provider),
    providerType: Number(type),
    keyKind: Number(kind), // which key of the container: 1 exchange, 2 signature
    containerExists: exists === '1',
  };
}

class Bridge {
  // Starts the bridge of a Windows build folder (build/win32) through its
  // wine-run.sh. options.plugin: another DLL (a Windows path); options.env:
  // the environment; options.timeoutMs: the longest wait for one reply.
  static async start(buildDir, options = {}) {
    const bridge = new Bridge(buildDir, options);
    const first = await bridge.#nextLine();
    if (first !== 'ready') {
      const code = await bridge.#exit;
      throw new Error(`bridge did not start (${first}, exit ${code}): ${bridge.stderr.trim()}`);
    }
    return bridge;
  }

  #child;
  #lines = [];
  #waiters = [];
  #ended = false;
  #queue = Promise.resolve();
  #exit;
  #timeoutMs;

  constructor(buildDir, options) {
    const args = [path.join(buildDir, 'bin', 'zvcert-bridge.exe')];
    if (options.plugin) args.push(options.plugin);
    this.#timeoutMs = options.timeoutMs ?? DEFAULT_TIMEOUT_MS;
    this.stderr = '';
    this.#child = spawn(path.join(buildDir, 'wine-run.sh'), args, {
      env: options.env ?? process.env,
      stdio: ['pipe', 'pipe', 'pipe'],
    });
    this.#child.stderr.setEncoding('utf8');
    this.#child.stderr.on('data', (chunk) => {
      this.stderr = (this.stderr + chunk).slice(-8192);
    });
    // A bridge that died must not leave a request hanging on a closed pipe.
    this.#child.stdin.on('error', () => {});
    const lines = readline.createInterface({ input: this.#child.stdout, crlfDelay: Infinity });
    lines.on('line', (line) => this.#deliver(line.replace(/\r$/, '')));
    lines.on('close', () => {
      this.#ended = true;
      for (const waiter of this.#waiters.splice(0)) waiter(null);
    });
    this.#exit = new Promise((resolve) => {
      this.#child.on('error', (error) => {
        this.stderr += String(error);
        resolve(null);
      });
      this.#child.on('exit', (code) => resolve(code));
    });
  }

  #deliver(line) {
    const waiter = this.#waiters.shift();
    if (waiter) waiter(line);
    else this.#lines.push(line);
  }

  // The next line of output, or null once the output has ended.
  #nextLine() {
    if (this.#lines.length > 0) return Promise.resolve(this.#lines.shift());
    if (this.#ended) return Promise.resolve(null);
    return new Promise((resolve, reject) => {
      const waiter = (line) => {
        clearTimeout(timer);
        resolve(line);
      };
      // A late reply would answer the next request: a silent bridge is ended.
      const timer = setTimeout(() => {
        this.#waiters.splice(this.#waiters.indexOf(waiter), 1);
        this.#child.kill('SIGKILL');
        reject(new Error(`no reply from the bridge in ${this.#timeoutMs} ms`));
      }, this.#timeoutMs);
      this.#waiters.push(waiter);
    });
  }

  async #expectLine() {
    const line = await this.#nextLine();
    if (line === null) {
      // A Wine program whose wineserver is stopped (wineserver -k on the same
      // prefix) ends at once with exit code 0 and says nothing.
      const code = await this.#exit;
      const why = code === 0 && !this.stderr.trim() ? ' (was its wineserver stopped?)' : '';
      throw new Error(`the bridge ended before replying, exit ${code}${why}: ${this.stderr.trim()}`);
    }
    if (line.startsWith('error\t')) throw new Error(`bridge: ${line.slice(6)}`);
    return line;
  }

  // Sends one request line and reads its reply with read(); requests are
  // served one after another even when callers do not wait.
  #request(fields, read) {
    const run = async () => {
      this.#child.stdin.write(`${fields.join('\t')}\n`);
      return read();
    };
    const result = this.#queue.then(run, run);
    this.#queue = result.catch(() => {});
    return result;
  }

  async #readValueReply() {
    const fields = (await this.#expectLine()).split('\t');
    if (fields[0] !== 'ok' || fields.length !== 3) {
      throw new Error(`unexpected reply "${fields.join('\t')}"`);
    }
    return { ok: fields[1] === '1', ...decodeValue(fields[2]) };
  }

  // A method call: { ok, type, value }; ok is what the plug-in's Invoke
  // returned (a browser raises a script error when it is false).
  call(method, ...args) {
    return this.#request(['call', plainField(method), ...args.map(encodeValue)], () =>
      this.#readValueReply(),
    );
  }

  // A property read: { ok, type, value }.
  get(property) {
    return this.#request(['get', plainField(property)], () => this.#readValueReply());
  }

  // Whether the object recognises the name as a method and as a property.
  has(member) {
    return this.#request(['has', plainField(member)], async () => {
      const fields = (await this.#expectLine()).split('\t');
      if (fields[0] !== 'has') throw new Error(`unexpected reply "${fields.join('\t')}"`);
      return { method: fields[1] === '1', property: fields[2] === '1' };
    });
  }

  // The certificates in the user's "MY" store, read through a store handle
  // of the bridge's own.
  store() {
    return this.#request(['store'], async () => {
      const certs = [];
      for (;;) {
        const line = await this.#expectLine();
        if (line === 'end') return certs;
        const fields = line.split('\t');
        if (fields[0] !== 'cert' || fields.length !== 9) {
          throw new Error(`unexpected store line "${line}"`);
        }
        certs.push(parseCertLine(fields));
      }
    });
  }

  // Deletes every certificate from the issuer (common name) and its key
  // container; the number deleted.
  purge(issuerCommonName) {
    return this.#request(['purge', toBase64(issuerCommonName)], async () => {
      const line = await this.#expectLine();
      const match = /^purged\t(\d+)$/.exec(line);
      if (!match) throw new Error(`unexpected reply "${line}"`);
      return Number(match[1]);
    });
  }

  // Ends the bridge; its exit code (0 only when the plug-in behaved, null if
  // it was killed, as it is when it does not end in time).
  async close() {
    await this.#queue;
    if (!this.#child.stdin.destroyed) {
      this.#child.stdin.end('quit\n');
    }
    const timer = setTimeout(() => this.#child.kill('SIGKILL'), this.#timeoutMs);
    const code = await this.#exit;
    clearTimeout(timer);
    return code;
  }

  // Stops a bridge that no longer answers.
  kill() {
    this.#child.kill('SIGKILL');
    return this.#exit;
  }
}

module.exports = { Bridge, Double, encodeValue, decodeValue };
