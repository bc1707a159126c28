'use strict';
// Headless Chromium driven through the DevTools protocol on 127.0.0.1, with
// a WebSocket client of its own (Node 20 has none built in): just what the
// browser tests need, text frames from a client, any frames from the browser.

const { spawn } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const net = require('node:net');

class WebSocketClient {
  static connect(url) {
    const { hostname, port, pathname, search } = new URL(url);
    return new Promise((resolve, reject) => {
      const socket = net.connect(Number(port), hostname);
      const key = crypto.randomBytes(16).toString('base64');
      let head = Buffer.alloc(0);
      const onData = (chunk) => {
        head = Buffer.concat([head, chunk]);
        const end = head.indexOf('\r\n\r\n');
        if (end < 0) return;
        socket.off('data', onData);
        const status = head.subarray(0, end).toString('latin1').split('\r\n')[0];
        if (!/^HTTP\/1\.1 101/.test(status)) {
          socket.destroy();
          reject(new Error(`DevTools refused the WebSocket: ${status}`));
          return;
        }
        resolve(new WebSocketClient(socket, head.subarray(end + 4)));
      };
      socket.on('data', onData);
      socket.once('error', reject);
      socket.write(`GET ${pathname}${search} HTTP/1.1\r\nHost: ${hostname}:${port}\r\n` +
        'Upgrade: websocket\r\nConnection: Upgrade\r\n' +
        `Sec-WebSocket-Key: ${key}\r\nSec-WebSocket-Version: 13\r\n\r\n`);
    });
  }

  constructor(socket, rest) {
    this.socket = socket;
    this.buffer = Buffer.alloc(0);
    this.fragments = [];
    this.onmessage = () => {};
    this.onclose = () => {};
    socket.on('data', (chunk) => this.#receive(chunk));
    socket.on('close', () => this.onclose());
    socket.on('error', () => {});
    if (rest.length) this.#receive(rest);
  }

  #receive(chunk) {
    this.buffer = Buffer.concat([this.buffer, chunk]);
    for (;;) {
      if (this.buffer.length < 2) return;
      const fin = (this.buffer[0] & 0x80) !== 0;
      const opcode = this.buffer[0] & 0x0f;
      const masked = (this.buffer[1] & 0x80) !== 0;
      let length = this.buffer[1] & 0x7f;
      let offset = 2;
      if (length === 126) {
        if (this.buffer.length < 4) return;
        length = this.buffer.readUInt16BE(2);
        offset = 4;
      } else if (length === 127) {
        if (this.buffer.length < 10) return;
        length = Number(this.buffer.readBigUInt64BE(2));
        offset = 10;
      }
      const maskOffset = offset;
      if (masked) offset += 4;
      if (this.buffer.length < offset + length) return;
      let payload = this.buffer.subarray(offset, offset + length);
      if (masked) {
        const mask = this.buffer.subarray(maskOffset, maskOffset + 4);
        payload = Buffer.from(payload.map((b, i) => b ^ mask[i % 4]));
      }
      this.buffer = this.buffer.subarray(offset + length);
      if (opcode === 0x8) {
        this.socket.end();
        return;
      }
      if (opcode === 0x9) {
        this.#send(0xa, payload);
        continue;
      }
      if (opcode === 0xa) continue;
      this.fragments.push(payload);
      if (fin) {
        const message = Buffer.concat(this.fragments).toString('utf8');
        this.fragments = [];
        this.onmessage(message);
      }
    }
  }

  #send(opcode, payload) {
    const mask = crypto.randomBytes(4);
    let header;
    if (payload.length < 126) {
      header = Buffer.from([0x80 | opcode, 0x80 | payload.length]);
    } else if (payload.length < 65536) {
      header = Buffer.alloc(4);
      header[0] = 0x80 | opcode;
      header[1] = 0x80 | 126;
      header.writeUInt16BE(payload.length, 2);
    } else {
      header = Buffer.alloc(10);
      header[0] = 0x80 | opcode;
      header[1] = 0x80 | 127;
      header.writeBigUInt64BE(BigInt(payload.length), 2);
    }
    const body = Buffer.from(payload.map((b, i) => b ^ mask[i % 4]));
    this.socket.write(Buffer.concat([header, mask, body]));
  }

  send(text) { this.#send(0x1, Buffer.from(text, 'utf8')); }

  close() { this.socket.destroy(); }
}

// Commands with replies over a WebSocket, as both DevTools and WebDriver
// BiDi speak them: {id, method, params} out; replies carry the id, anything
// else goes to the listeners. reply(message) -> { error } or { result }.
class RpcSocket {
  constructor(ws, reply) {
    this.ws = ws;
    this.reply = reply;
    this.nextId = 1;
    this.waiting = new Map();
    this.listeners = [];
    this.closed = false;
    ws.onmessage = (text) => {
      const message = JSON.parse(text);
      const waiter = message.id !== undefined && this.waiting.get(message.id);
      if (!waiter) {
        if (message.id === undefined) for (const listener of this.listeners) listener(message);
        return;
      }
      this.waiting.delete(message.id);
      const { error, result } = this.reply(message);
      if (error) waiter.reject(new Error(`${waiter.method}: ${error}`));
      else waiter.resolve(result);
    };
    ws.onclose = () => {
      this.closed = true;
      for (const waiter of this.waiting.values()) waiter.reject(new Error('the browser went away'));
      this.waiting.clear();
    };
  }

  // A command's result; rejects when the browser has not answered within
  // timeoutMs (a page that navigates away may never answer).
  send(method, params = {}, extra = {}, timeoutMs = 20000) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      if (this.closed) {
        reject(new Error(`${method}: the browser went away`));
        return;
      }
      const timer = setTimeout(() => {
        this.waiting.delete(id);
        reject(new Error(`${method}: no answer within ${timeoutMs} ms`));
      }, timeoutMs);
      timer.unref();  // an unanswered command must not keep Node running
      const settle = (f) => (value) => { clearTimeout(timer); f(value); };
      this.waiting.set(id, { resolve: settle(resolve), reject: settle(reject), method });
      this.ws.send(JSON.stringify({ id, method, params, ...extra }));
    });
  }

  on(listener) { this.listeners.push(listener); }
}

// One DevTools connection; commands for an attached target name its session.
class Cdp extends RpcSocket {
  constructor(ws) {
    super(ws, (m) => (m.error ? { error: m.error.message } : { result: m.result }));
  }

  send(method, params = {}, sessionId = undefined, timeoutMs = undefined) {
    return super.send(method, params, sessionId ? { sessionId } : {}, timeoutMs);
  }
}

// A page (or extension page) target to evaluate script in.
class PageSession {
  constructor(cdp, targetId, sessionId) {
    Object.assign(this, { cdp, targetId, sessionId });
  }

  send(method, params = {}, timeoutMs = undefined) {
    return this.cdp.send(method, params, this.sessionId, timeoutMs);
  }

  // The value of an expression (awaited when it is a Promise); throws with
  // the page's own message when the expression throws.
  async evaluate(expression, timeoutMs = undefined) {
    const { result, exceptionDetails } = await this.send('Runtime.evaluate',
      { expression, awaitPromise: true, returnByValue: true }, timeoutMs);
    if (exceptionDetails) {
      const text = exceptionDetails.exception?.description ?? exceptionDetails.text;
      throw new Error(`in the page: ${text}`);
    }
    return result.value;
  }

  async screenshot(file) {
    const { data } = await this.send('Page.captureScreenshot', { format: 'png' });
    fs.writeFileSync(file, Buffer.from(data, 'base64'));
  }
}

const delay = (ms) => new Promise((resolve) => { setTimeout(resolve, ms); });

class Chromium {
  // Starts headless Chromium with one unpacked extension and a fresh profile.
  // lang: the UI language, as Chromium names it ('zh-CN', 'de'); Chromium on
  // Linux reads it from the environment, and the flag sets what pages are told.
  static async launch({ binary = '/usr/bin/chromium', userDataDir, extensionDir, lang, log = () => {} }) {
    const args = [
      '--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage',
      '--no-first-run', '--no-default-browser-check', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-quic', '--disable-default-apps',
      '--remote-debugging-address=127.0.0.1', '--remote-debugging-port=0',
      `--user-data-dir=${userDataDir}`, '--window-size=1000,900',
      `--load-extension=${extensionDir}`, `--disable-extensions-except=${extensionDir}`,
      ...(lang ? [`--lang=${lang}`] : []), 'about:blank',
    ];
    const env = lang ? { ...process.env, LANGUAGE: lang.replace('-', '_'), LANG: `${lang.replace('-', '_')}.UTF-8` }
      : process.env;
    const child = spawn(binary, args, { stdio: ['ignore', 'ignore', 'pipe'], detached: true, env });
    let stderr = '';
    const url = await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`Chromium did not start:\n${stderr.slice(-2000)}`)), 30000);
      child.stderr.on('data', (chunk) => {
        stderr += chunk;
        const match = /DevTools listening on (ws:\/\/\S+)/.exec(stderr);
        if (match) {
          clearTimeout(timer);
          resolve(match[1]);
        }
      });
      child.once('exit', (code) => {
        clearTimeout(timer);
        reject(new Error(`Chromium exited with ${code}:\n${stderr.slice(-2000)}`));
      });
    });
    child.stderr.on('data', (chunk) => log(String(chunk)));
    const cdp = new Cdp(await WebSocketClient.connect(url));
    return new Chromium(child, cdp);
  }

  constructor(child, cdp) {
    this.child = child;
    this.cdp = cdp;
    this.exited = new Promise((resolve) => child.once('exit', resolve));
  }

  async targets() {
    return (await this.cdp.send('Target.getTargets')).targetInfos;
  }

  async attach(targetId) {
    const { sessionId } = await this.cdp.send('Target.attachToTarget', { targetId, flatten: true });
    return new PageSession(this.cdp, targetId, sessionId);
  }

  // A new tab showing url, once its document has loaded.
  async open(url) {
    const { targetId } = await this.cdp.send('Target.createTarget', { url: 'about:blank' });
    const page = await this.attach(targetId);
    await page.send('Page.enable');
    const loaded = new Promise((resolve) => {
      this.cdp.on((m) => { if (m.sessionId === page.sessionId && m.method === 'Page.loadEventFired') resolve(); });
    });
    await page.send('Page.navigate', { url });
    await loaded;
    return page;
  }

  async close(page) {
    await this.closeTarget(page.targetId);
  }

  async closeTarget(targetId) {
    await this.cdp.send('Target.closeTarget', { targetId });
  }

  async version() {
    return (await this.cdp.send('Browser.getVersion')).product;
  }

  quit() { return quitBrowser(this, this.cdp, 'Browser.close'); }

  kill(signal = 'SIGKILL') { killBrowser(this, this.cdp, signal); }
}

// Ends a browser politely (its close command), then by force: its whole
// process group.
async function quitBrowser(browser, rpc, closeMethod) {
  try {
    await Promise.race([rpc.send(closeMethod), delay(3000)]);
  } catch {
    // gone already
  }
  await Promise.race([browser.exited, delay(5000)]);
  killBrowser(browser, rpc);
}

function killBrowser(browser, rpc, signal = 'SIGKILL') {
  try {
    process.kill(-browser.child.pid, signal);
  } catch {
    // gone already
  }
  rpc.ws.close();
}

module.exports = { Chromium, RpcSocket, WebSocketClient, quitBrowser, killBrowser, delay };
