'use strict';
// Headless Firefox driven through WebDriver BiDi on 127.0.0.1, with the same
// face as Chromium in cdp.js (open, targets, attach, evaluate, screenshot,
// quit), so that the extension's tests and demonstration run in both.

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const { RpcSocket, WebSocketClient, quitBrowser, killBrowser } = require('./cdp');

class Bidi extends RpcSocket {
  constructor(ws) {
    super(ws, (m) => (m.type === 'error' ? { error: `${m.error}: ${m.message}` } : { result: m.result }));
  }

  send(method, params = {}, timeoutMs = undefined) {
    return super.send(method, params, {}, timeoutMs);
  }
}

// A BiDi remote value as a plain JavaScript value.
function fromRemote(value) {
  switch (value.type) {
    case 'undefined': return undefined;
    case 'null': return null;
    case 'string':
    case 'boolean': return value.value;
    case 'number': return typeof value.value === 'number' ? value.value : Number(value.value);
    case 'bigint': return BigInt(value.value);
    case 'array': return value.value.map(fromRemote);
    case 'object': return Object.fromEntries(value.value.map(([k, v]) => [typeof k === 'string' ? k : fromRemote(k), fromRemote(v)]));
    default: return `[${value.type}]`;
  }
}

class FirefoxPage {
  constructor(bidi, context) {
    this.bidi = bidi;
    this.targetId = context;
  }

  async evaluate(expression, timeoutMs = undefined) {
    const reply = await this.bidi.send('script.evaluate', {
      expression, target: { context: this.targetId }, awaitPromise: true, resultOwnership: 'none',
      serializationOptions: { maxObjectDepth: 10 },
    }, timeoutMs);
    if (reply.type === 'exception') throw new Error(`in the page: ${reply.exceptionDetails.text}`);
    return fromRemote(reply.result);
  }

  async screenshot(file) {
    const { data } = await this.bidi.send('browsingContext.captureScreenshot', { context: this.targetId });
    fs.writeFileSync(file, Buffer.from(data, 'base64'));
  }
}

class Firefox {
  // Starts headless Firefox in profileDir with HOME at homeDir (where it
  // looks for native-messaging manifests) and installs the extension, as a
  // temporary add-on, from its folder.
  // lang: the UI language ('zh-CN', 'de'), from the system's language packs.
  static async launch({ binary = 'firefox-esr', homeDir, profileDir, extensionDir, lang }) {
    fs.mkdirSync(profileDir, { recursive: true });
    fs.writeFileSync(path.join(profileDir, 'user.js'), [
      'user_pref("app.update.enabled", false);',
      'user_pref("browser.shell.checkDefaultBrowser", false);',
      'user_pref("datareporting.policy.dataSubmissionEnabled", false);',
      'user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);',
      'user_pref("browser.startup.homepage_override.mstone", "ignore");',
      'user_pref("network.captive-portal-service.enabled", false);',
      'user_pref("extensions.update.enabled", false);',
      ...(lang ? [`user_pref("intl.locale.requested", "${lang}");`, 'user_pref("extensions.autoDisableScopes", 0);'] : []),
    ].join('\n'));
    const child = spawn(binary, ['--headless', '--no-remote', '--profile', profileDir,
      '--remote-debugging-port=0', '--width=1000', '--height=900', 'about:blank'], {
      stdio: ['ignore', 'pipe', 'pipe'], detached: true,
      env: { ...process.env, HOME: homeDir, MOZ_CRASHREPORTER_DISABLE: '1' },
    });
    let output = '';
    const url = await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`Firefox did not start:\n${output.slice(-2000)}`)), 60000);
      const read = (chunk) => {
        output += chunk;
        const match = /WebDriver BiDi listening on (ws:\/\/\S+)/.exec(output);
        if (match) {
          clearTimeout(timer);
          resolve(match[1]);
        }
      };
      child.stdout.on('data', read);
      child.stderr.on('data', read);
      child.once('exit', (code) => {
        clearTimeout(timer);
        reject(new Error(`Firefox exited with ${code}:\n${output.slice(-2000)}`));
      });
    });
    const bidi = new Bidi(await WebSocketClient.connect(`${url}/session`));
    const session = await bidi.send('session.new', { capabilities: {} });
    await bidi.send('webExtension.install', { extensionData: { type: 'path', path: extensionDir } });
    return new Firefox(child, bidi, session.capabilities);
  }

  constructor(child, bidi, capabilities) {
    this.child = child;
    this.bidi = bidi;
    this.capabilities = capabilities;
    this.exited = new Promise((resolve) => child.once('exit', resolve));
  }

  // Every browsing context, frames included, as { targetId, url }.
  async targets() {
    const { contexts } = await this.bidi.send('browsingContext.getTree', {});
    const all = [];
    const walk = (list) => {
      for (const c of list || []) {
        all.push({ targetId: c.context, url: c.url });
        walk(c.children);
      }
    };
    walk(contexts);
    return all;
  }

  async attach(targetId) { return new FirefoxPage(this.bidi, targetId); }

  async open(url) {
    const { context } = await this.bidi.send('browsingContext.create', { type: 'tab' });
    await this.bidi.send('browsingContext.navigate', { context, url, wait: 'complete' }, 60000);
    return new FirefoxPage(this.bidi, context);
  }

  async closeTarget(targetId) {
    await this.bidi.send('browsingContext.close', { context: targetId });
  }

  async close(page) { await this.closeTarget(page.targetId); }

  async version() {
    return `${this.capabilities.browserName} ${this.capabilities.browserVersion}`;
  }

  quit() { return quitBrowser(this, this.bidi, 'browser.close'); }

  kill(signal = 'SIGKILL') { killBrowser(this, this.bidi, signal); }
}

module.exports = { Firefox };
