'use strict';
// What a run of the extension in headless Chromium or Firefox needs around it: the
// authority's pages and enrolment endpoint on 127.0.0.1, a browser profile
// whose native-messaging manifest starts npzvcert-host.exe under Wine, and
// answers to the consent window.

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
// buildDir's Wine prefix.
function prepareProfile({ workDir, buildDir, hostDir, origins, consentTimeout = 60, version = pageLibrary.projectVersion() }) {
  const extensionDir = path.join(workDir, 'extension');
  const userDataDir = path.join(workDir, 'profile');
  const homeDir = path.join(workDir, 'home');
  extensionBuild.build({ out: extensionDir, origins: origins.join(','), version, consentTimeout,
    identity: path.join(REPO, 'extension', 'identity.json') });

  const launcher = path.join(workDir, 'npzvcert-host.sh');
  const [program, args] = hostCommand(buildDir, { hostDir });
  fs.writeFileSync(launcher, `#!/bin/sh\nexec ${[program, ...args].map((a) => `'${a}'`).join(' ')} "$@"\n`,
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
    const text = (id) => document.getElementById(id).textContent;
    const box = document.getElementById('text');
    if (!box.hidden) box.scrollTop = box.scrollHeight;
    // The runs of digits of the text, escapes' included, in the order the
    // window draws them: line by line, left to right.
    const drawnNumbers = (element) => {
      const node = element.firstChild;
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

// Is there still a consent window (or chooser) open?
async function consentWindows(browser) {
  return (await browser.targets()).filter((t) => isConsentWindow(t.url) || isChooserWindow(t.url));
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

// The sample page's enrolment as a user does it: fill in the form, Enrol,
// choose the new certificate, Sign, both CMS signatures, and (unless keep)
// Delete, allowing each consent window. Stops at the first step the page
// reports as failed. onStep(name, detail) hears of each; with screenshots (a
// folder), each consent window is kept as a picture.
//   -> { steps: [{ step, state, consent }], serial, signature, cms, cmsDetached (Buffers),
//        chooser (rows shown), status (the page's status line), log, page }
async function enrolInPage(browser, url, { subject, text, keep = false, onStep = () => {}, screenshots }) {
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
    const screenshot = screenshots && path.join(screenshots, `${button === 'choose' ? 'chooser' : `consent-${button}`}.png`);
    let consent = null;
    if (button === 'choose') {
      const serial = await page.evaluate('document.body.dataset.serial || ""');
      result.chooser = await answerChooser(browser, serial, seen, { screenshot });
      onStep('chooser', `${result.chooser.length} certificate(s) listed -> ${serial}`);
    } else {
      consent = await answerConsent(browser, 'allow', seen, { screenshot });
      onStep('consent', `${consent.action}: ${consent.subject}, serial ${consent.serial}` +
        (consent.data ? `, ${consent.data}, SHA-256 ${consent.sha256}` : '') + ' -> Allow');
    }
    const reached = await waitForState(page, [done, 'error']);
    steps.push({ step: button, state: reached, consent });
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
  answerConsent, answerChooser, consentWindows, sha256Hex, waitForState, enrolInPage,
};
