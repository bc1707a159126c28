'use strict';
// What a run of the extension in headless Chromium or Firefox needs around it: the
// authority's pages and enrolment endpoint on 127.0.0.1, a browser profile
// whose native-messaging manifest starts npzvcert-host.exe under Wine (or
// another host, such as the Linux one on a token), and answers to the
// extension's windows.

const crypto = require('node:crypto');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');

const os = require('node:os');

const { Firefox } = require('./bidi');
const { Chromium, delay } = require('./cdp');
const { hostCommand } = require('./host_client');
const extensionBuild = require('../../extension/build');
const pageLibrary = require('../../web/build');
const { hostManifests, writeManifest } = require('../../extension/host_manifest');

const REPO = path.resolve(__dirname, '..', '..');
const identity = require('../../extension/identity.json');

// The sample page, the page library as built for this server (its download
// address is /download/ here) and a CA endpoint: POST /enrol with a PEM
// request answers with a certificate issued by ca (serials from
// nextSerial()). Every certificate issued is kept in issued, newest last.
function startPageServer({ ca, nextSerial, host = '127.0.0.1' }) {
  const packageDir = fs.mkdtempSync(path.join(os.tmpdir(), 'zvcert-page-'));
  const files = {
    '/enroll.html': path.join(REPO, 'demo', 'enroll.html'),
    '/enroll.js': path.join(REPO, 'demo', 'enroll.js'),
    '/portal.js': path.join(REPO, 'demo', 'portal.js'),
    '/zvcert.js': path.join(packageDir, 'dist', 'zvcert.js'),
    '/zvcert.mjs': path.join(packageDir, 'dist', 'zvcert.mjs'),
  };
  const issued = [];
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://x');
    if (request.method === 'POST' && url.pathname === '/enrol') {
      let body = '';
      request.setEncoding('utf8');
      request.on('data', (chunk) => { body += chunk; });
      request.on('end', () => {
        try {
          const certificate = ca.issue(body, nextSerial());
          issued.push({ request: body, certificate });
          response.writeHead(200, { 'Content-Type': 'application/x-pem-file' });
          response.end(certificate);
        } catch (error) {
          response.writeHead(400, { 'Content-Type': 'text/plain' });
          response.end(`not issued: ${error.message}`);
        }
      });
      return;
    }
    const file = files[url.pathname === '/' ? '/enroll.html' : url.pathname];
    if (request.method !== 'GET' || !file) {
      response.writeHead(404);
      response.end();
      return;
    }
    const type = file.endsWith('.html') ? 'text/html; charset=utf-8' : 'text/javascript; charset=utf-8';
    response.writeHead(200, { 'Content-Type': type, 'Cache-Control': 'no-store' });
    response.end(fs.readFileSync(file));
  });
  return new Promise((resolve) => {
    server.listen(0, host, () => {
      const { port } = server.address();
      const origin = `http://${host}:${port}`;
      const library = pageLibrary.build({ out: packageDir, downloadUrl: `${origin}/download/` });
      resolve({
        origin, port, issued, library,
        close: () => new Promise((done) => {
          server.closeAllConnections();
          server.close(done);
          fs.rmSync(packageDir, { recursive: true, force: true });
        }),
      });
    });
  });
}

// Fresh profiles for Chromium and Firefox with the extension built for
// origins and the host registered in each browser's way: the manifest names
// a launcher that runs the host under Wine through the build's wine-run.sh
// (so in the build's prefix, or in $ZVCERT_WINEPREFIX).
// hostDir: the build whose host and plug-in serve (another profile's), run in
// buildDir's Wine prefix. host: { command: [program, args], env } runs that
// program instead, with those variables set.
function prepareProfile({ workDir, buildDir, hostDir, host, origins, consentTimeout = 60, version = pageLibrary.projectVersion() }) {
  const extensionDir = path.join(workDir, 'extension');
  const userDataDir = path.join(workDir, 'profile');
  const homeDir = path.join(workDir, 'home');
  extensionBuild.build({ out: extensionDir, origins: origins.join(','), version, consentTimeout,
    identity: path.join(REPO, 'extension', 'identity.json') });

  const launcher = path.join(workDir, 'npzvcert-host.sh');
  const [program, args] = host?.command ?? hostCommand(buildDir, { hostDir });
  const quoted = (text) => `'${String(text).replaceAll("'", "'\\''")}'`;
  const exports = Object.entries(host?.env ?? {}).map(([name, value]) => `export ${name}=${quoted(value)}\n`).join('');
  fs.writeFileSync(launcher, `#!/bin/sh\n${exports}exec ${[program, ...args].map(quoted).join(' ')} "$@"\n`,
    { mode: 0o755 });
  const manifests = hostManifests(identity, launcher, 'npzvcert (test)');
  writeManifest(path.join(userDataDir, 'NativeMessagingHosts', `${identity.hostName}.json`), manifests.chromium);
  writeManifest(path.join(homeDir, '.mozilla', 'native-messaging-hosts', `${identity.hostName}.json`), manifests.firefox);
  return { extensionDir, userDataDir, homeDir, profileDir: path.join(workDir, 'firefox-profile') };
}

const BROWSERS = { chromium: Chromium, firefox: Firefox };

// Headless 'chromium' or 'firefox' with the profile's extension.
function launchBrowser(kind, profile) {
  const Browser = BROWSERS[kind];
  if (!Browser) throw new Error(`no browser ${kind}; there are ${Object.keys(BROWSERS).join(', ')}`);
  return Browser.launch(profile);
}

const isConsentWindow = (url) => /^(chrome|moz)-extension:\/\/[^/]+\/consent\.html/.test(url);
const isChooserWindow = (url) => /^(chrome|moz)-extension:\/\/[^/]+\/chooser\.html/.test(url);
const isPinWindow = (url) => /^(chrome|moz)-extension:\/\/[^/]+\/pin\.html/.test(url);
const isTokenWindow = (url) => /^(chrome|moz)-extension:\/\/[^/]+\/token\.html/.test(url);

// Waits for a browser target (tab, window, frame) whose URL matches and that
// is not in seen (target ids); returns it.
async function waitForTarget(browser, matches, { timeoutMs = 30000, seen = new Set() } = {}) {
  const end = Date.now() + timeoutMs;
  while (Date.now() < end) {
    const target = (await browser.targets()).find((t) => matches(t.url) && !seen.has(t.targetId));
    if (target) return target;
    await delay(100);
  }
  throw new Error(`no such window within ${timeoutMs} ms`);
}

// Waits for the next extension window of that kind whose probe (a script
// expression) gives something, and keeps its picture: -> { page, shown }.
async function readWindow(browser, matches, seen, probe, screenshot) {
  const target = await waitForTarget(browser, matches, { seen });
  seen.add(target.targetId);
  const page = await browser.attach(target.targetId);
  let shown = null;
  for (let i = 0; i < 100 && !shown; i += 1) {
    shown = await page.evaluate(probe, 2000).catch(() => null);
    if (!shown) await delay(100);
  }
  if (!shown) throw new Error(`the window ${target.url} never became ready`);
  if (screenshot) await page.screenshot(screenshot);
  return { page, shown };
}

// Waits for the next consent window, reads what it shows, scrolls its text
// to the end as a user does, and answers it ('allow', 'deny', or 'ignore' to
// leave it open). Returns what it showed.
async function answerConsent(browser, answer, seen, { screenshot } = {}) {
  const { page, shown } = await readWindow(browser, isConsentWindow, seen, `(() => {
    // Tolerant of fields a window lacks: a consent window may name a token instead.
    const text = (id) => document.getElementById(id)?.textContent ?? '';
    const box = document.getElementById('text');
    if (box && !box.hidden) box.scrollTop = box.scrollHeight;
    // The runs of digits of the text, escapes' included, in the order the
    // window draws them: line by line, left to right.
    const drawnNumbers = (element) => {
      const node = element?.firstChild;
      if (!node) return '';
      return [...node.data.matchAll(/\\b\\d+\\b/g)].map((match) => {
        const range = document.createRange();
        range.setStart(node, match.index);
        range.setEnd(node, match.index + match[0].length);
        const { top, left } = range.getBoundingClientRect();
        return [Math.round(top), left, match[0]];
      }).sort((a, b) => a[0] - b[0] || a[1] - b[1]).map((number) => number[2]).join(' ');
    };
    if (document.getElementById('allow').disabled) return null;
    return { origin: text('origin'), action: text('action'), subject: text('subject'),
             serial: text('serial'), data: text('data'), sha256: text('sha256'), text: text('text'),
             marks: !document.getElementById('marks').hidden, unshown: text('unshown'),
             issuer: text('issuer'), validity: text('validity'), numbers: drawnNumbers(box) };
  })()`, screenshot);
  if (answer !== 'ignore') {
    await page.evaluate(`document.getElementById('${answer}').click(); true`, 2000).catch(() => {});
  }
  return shown;
}

// Waits for the next token window, reads the tokens it lists and allows the
// one it preselects. Returns what it showed.
async function answerToken(browser, seen, { screenshot } = {}) {
  const { page, shown } = await readWindow(browser, isTokenWindow, seen, `(() => {
    if (document.getElementById('allow').disabled) return null;
    const rows = [...document.querySelectorAll('#tokens tr')];
    return { origin: document.getElementById('origin').textContent, action: document.getElementById('action').textContent,
             tokens: rows.map((row) => [...row.cells].slice(1).map((cell) => cell.textContent)),
             chosen: rows.findIndex((row) => row.querySelector('input').checked) };
  })()`, screenshot);
  await page.evaluate(`document.getElementById('allow').click(); true`, 2000).catch(() => {});
  return shown;
}

// Waits for the next PIN window, reads the token it names and gives it the
// PIN as a user types it. Returns what it showed.
async function answerPin(browser, pin, seen, { screenshot } = {}) {
  const { page, shown } = await readWindow(browser, isPinWindow, seen, `(() => {
    const text = (id) => document.getElementById(id).textContent;
    if (!text('countdown')) return null;
    return { asks: text('asks'), label: text('label'), manufacturer: text('manufacturer'), model: text('model'),
             serial: text('serial') };
  })()`, screenshot);
  await page.evaluate(`new Promise((done) => {
    const field = document.getElementById('pin');
    field.value = ${JSON.stringify(pin)};
    field.dispatchEvent(new Event('input'));
    const t = setInterval(() => { const ok = document.getElementById('ok');
      if (!ok.disabled) { clearInterval(t); ok.click(); done(true); } }, 100);
  })`, 5000).catch(() => {});
  return shown;
}

// Waits for the next certificate chooser, reads its rows and picks the one
// with that serial (or cancels: serial null). Returns the rows shown.
async function answerChooser(browser, serial, seen, { screenshot } = {}) {
  const { page, shown } = await readWindow(browser, isChooserWindow, seen, `(() => {
    const rows = [...document.querySelectorAll('#certificates tr')];
    return rows.length === 0 ? null : rows.map((row) => ({ serial: row.dataset.serial,
      expired: row.className === 'expired', cells: [...row.cells].slice(1).map((cell) => cell.textContent) }));
  })()`, screenshot);
  const pick = serial === null ? 'document.getElementById(\'cancel\').click()'
    : `document.querySelector('#certificates tr[data-serial="${serial}"] input').click();
       new Promise((done) => { const t = setInterval(() => { const b = document.getElementById('choose');
         if (!b.disabled) { clearInterval(t); b.click(); done(); } }, 100); })`;
  await page.evaluate(`(async () => { await ${pick}; return true; })()`, 5000).catch(() => {});
  return shown;
}

// A script for readWindow: once the window is ready to answer, what it
// shows. words: its own texts, each piece between the values, as rendered
// (hidden ones left out); values: by element id, the texts it shows as they
// are; rows: the chooser's cells; lang and title as the window declares them.
const WINDOW_WORDS = `(() => {
  const allow = document.getElementById('allow');
  const rows = [...document.querySelectorAll('#certificates tr')];
  const ready = document.getElementById('countdown').textContent && (allow ? !allow.disabled : rows.length > 0);
  if (!ready) return null;
  const words = [];
  const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
  for (let node = walker.nextNode(); node; node = walker.nextNode()) {
    const element = node.parentElement;
    if (element.closest('.value, pre, script, style') || !element.getClientRects().length) continue;
    if (node.textContent.trim()) words.push(node.textContent.trim());
  }
  const values = {};
  for (const element of document.querySelectorAll('[id]')) {
    const shown = [...element.querySelectorAll(':scope > .value')].map((value) => value.textContent);
    if (element.tagName === 'PRE') shown.push(element.textContent);
    if (element.getClientRects().length && shown.length) values[element.id] = shown;
  }
  return { lang: document.documentElement.lang, title: document.title, words, values,
           rows: rows.map((row) => [...row.cells].slice(1).map((cell) => cell.textContent)) };
})()`;

// Is there still a consent window (or chooser, or PIN window) open?
async function consentWindows(browser) {
  return (await browser.targets()).filter((t) => isConsentWindow(t.url) || isChooserWindow(t.url) || isPinWindow(t.url));
}

const sha256Hex = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');

async function waitForState(page, wanted, timeoutMs = 60000) {
  const end = Date.now() + timeoutMs;
  while (Date.now() < end) {
    const state = await page.evaluate('document.body.dataset.state || ""');
    if (wanted.includes(state)) return state;
    await delay(200);
  }
  throw new Error(`the page did not reach ${wanted.join(' or ')} within ${timeoutMs} ms`);
}

const WINDOW_KINDS = [['consent', isConsentWindow], ['chooser', isChooserWindow], ['pin', isPinWindow],
  ['token', isTokenWindow]];

// Answers the extension's windows as they come, whatever their order, until
// the page reaches one of the states wanted: consent windows are allowed as
// they stand (a token they preselect included), the chooser picks the page's
// serial, a PIN window gets pin. -> { state, windows: [{ kind, shown }] }
async function answerWindows(browser, page, wanted, seen, { button, pin, screenshots, onStep, result, timeoutMs = 60000 }) {
  const windows = [];
  const end = Date.now() + timeoutMs;
  for (;;) {
    const state = await page.evaluate('document.body.dataset.state || ""');
    if (wanted.includes(state)) return { state, windows };
    const target = (await browser.targets()).find((t) => !seen.has(t.targetId) && WINDOW_KINDS.some(([, is]) => is(t.url)));
    if (!target) {
      if (Date.now() > end) throw new Error(`the page did not reach ${wanted.join(' or ')} within ${timeoutMs} ms`);
      await delay(200);
      continue;
    }
    const [kind] = WINDOW_KINDS.find(([, is]) => is(target.url));
    const again = windows.filter((w) => w.kind === kind).length;
    const name = kind === 'chooser' ? 'chooser' : `${kind}-${button}`;
    const screenshot = screenshots && path.join(screenshots, `${name}${again ? `-${again + 1}` : ''}.png`);
    let shown;
    if (kind === 'chooser') {
      const serial = await page.evaluate('document.body.dataset.serial || ""');
      shown = result.chooser = await answerChooser(browser, serial, seen, { screenshot });
      onStep('chooser', `${shown.length} certificate(s) listed -> ${serial}`);
    } else if (kind === 'token') {
      shown = await answerToken(browser, seen, { screenshot });
      onStep('token', `${shown.action}: ${shown.tokens.map((t) => t[0]).join(', ')} -> ${shown.tokens[shown.chosen]?.[0]}`);
    } else if (kind === 'pin') {
      if (pin === undefined) throw new Error(`a PIN window asks for token ${target.url}, and no PIN was given`);
      shown = await answerPin(browser, pin, seen, { screenshot });
      onStep('pin', `${shown.asks} (token ${shown.label}, ${shown.manufacturer} ${shown.model}, serial ${shown.serial}) -> PIN given`);
    } else {
      shown = await answerConsent(browser, 'allow', seen, { screenshot });
      onStep('consent', `${shown.action}: ${shown.subject}, serial ${shown.serial}` +
        (shown.data ? `, ${shown.data}, SHA-256 ${shown.sha256}` : '') + ' -> Allow');
    }
    windows.push({ kind, shown });
  }
}

// The sample page's enrolment as a user does it: fill in the form, Enrol,
// choose the new certificate, Sign, both CMS signatures, and (unless keep)
// Delete, allowing each consent window (and giving a token's PIN window pin).
// Stops at the first step the page reports as failed. onStep(name, detail)
// hears of each; with screenshots (a folder), each window is kept as a picture.
//   -> { steps: [{ step, state, consent, windows }], serial, signature, cms, cmsDetached (Buffers),
//        chooser (rows shown), status (the page's status line), log, page }
async function enrolInPage(browser, url, { subject, text, keep = false, pin, onStep = () => {}, screenshots }) {
  const page = await browser.open(url);
  const log = () => page.evaluate('document.getElementById("log").textContent');
  const steps = [];
  const state = await waitForState(page, ['ready', 'missing']);
  onStep('page', state === 'ready' ? (await log()).trim() : 'neither the plug-in nor the extension is there');
  const result = { steps, page, serial: '', signature: null, log: '' };
  if (state !== 'ready') {
    result.log = await log();
    return result;
  }
  await page.evaluate(`document.getElementById('subject').value = ${JSON.stringify(subject)};
    document.getElementById('text').value = ${JSON.stringify(text)}; true`);
  const seen = new Set();
  const plan = [['enrol', 'enrolled'], ['choose', 'chosen'], ['sign', 'signed'], ['cms', 'cms'],
    ['cms-detached', 'cms-detached'], ...(keep ? [] : [['delete', 'deleted']])];
  for (const [button, done] of plan) {
    await page.evaluate(`document.getElementById('${button}').click(); true`);
    const { state: reached, windows } = await answerWindows(browser, page, [done, 'error'], seen,
      { button, pin, screenshots, onStep, result });
    const consents = windows.filter((w) => w.kind === 'consent');
    // The step's own consent is its last: a token's may come before it.
    steps.push({ step: button, state: reached, consent: consents.at(-1)?.shown ?? null, windows });
    onStep(button, reached);
    if (reached !== done) break;
  }
  result.log = await log();
  result.serial = await page.evaluate('document.body.dataset.serial || ""');
  const logged = (step) => {
    const line = new RegExp(`^${step}: (\\S+)$`, 'm').exec(result.log);
    return line ? Buffer.from(line[1], 'base64') : null;
  };
  result.signature = logged('signature');
  result.cms = logged('cms');
  result.cmsDetached = logged('cms-detached');
  result.status = (/^status: (.*)$/m.exec(result.log) || [])[1] || '';
  return result;
}

module.exports = {
  WINDOW_WORDS, delay, identity, startPageServer, prepareProfile, launchBrowser, isConsentWindow, isChooserWindow,
  waitForTarget, readWindow,
  answerConsent, answerChooser, answerPin, answerToken, answerWindows, isPinWindow, consentWindows, sha256Hex, waitForState, enrolInPage,
};
