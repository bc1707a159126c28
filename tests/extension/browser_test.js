'use strict';
// The browser extension in a real headless browser (Chromium, or Firefox:
// the same extension), with npzvcert-host.exe under Wine behind it and the
// sample page served from 127.0.0.1:
//
//   node browser_test.js <scenario> <build/win32 folder> <root certificate PEM> <artifacts folder>
//        [chromium|firefox] [<plug-in build folder>]
//
// Scenarios: enrolment, origins, consent, two-pages, vanished-browser, and
// reload, for a plug-in (of another build folder) that keeps pending keys in
// the store. Each
// builds the extension for its own server's origin, uses its own profile,
// and removes every certificate of the authority from the store before and
// after (the Wine tests take turns with the store). linux-enrolment is the
// enrolment through a native build's Linux host, on the SoftHSM2 token
// tests/token/with_token.sh made for it (fresh, so nothing to purge). Exits 0
// only when every check passed.

const { spawnSync } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const { checks, show } = require('../../tools/node/checks');
const env = require('../../tools/node/extension_env');
const { purgeIssuer, purgePending } = require('../../tools/node/store');
const { OpenSslCa, certificateCommonName } = require('../../tools/node/ca');
const { buildProfile, splitSignature } = require('../../tools/node/profile');

const REPO = path.resolve(__dirname, '..', '..');
// A block of the page library's quick start, marked <!-- quickstart: name -->.
const quickstartBlock = (name) => new RegExp(`<!-- quickstart: ${name.replace('.', '\\.')} -->\\n\`\`\`\\w*\\n([\\s\\S]*?)\\n\`\`\``)
  .exec(fs.readFileSync(path.join(REPO, 'web', 'README.md'), 'utf8'))[1];

const [scenarioName, buildArg, rootArg, artifactsArg, browserKind = 'chromium', pluginArg] = process.argv.slice(2);
if (!artifactsArg) {
  console.error('usage: node browser_test.js <scenario> <build/win32> <root.pem> <artifacts>');
  process.exit(2);
}
const buildDir = path.resolve(buildArg);
const artifacts = path.resolve(artifactsArg);
const authorityName = certificateCommonName(rootArg);
const linux = scenarioName.startsWith('linux-');
const { SOFTHSM2_CONF: tokenConf, ZVCERT_PKCS11_MODULE: tokenModule } = process.env;
// The Linux host on the scenario's token, in place of npzvcert-host.exe.
const linuxHost = () => ({ command: [path.join(buildDir, 'bin', 'npzvcert-host'), []],
  env: { SOFTHSM2_CONF: tokenConf, ZVCERT_PKCS11_MODULE: tokenModule } });

const { check, checkEqual, report } = checks();

// Serials nobody else uses, below 2^63 so that FindCert reports them.
const freshSerial = () => crypto.randomBytes(8).readBigUInt64BE() >> 1n;

// A call through window.zvcert, settled into a plain object.
const settled = (expression) => `(${expression}).then((value) => ({ value }),
  (error) => ({ reason: error.reason, message: error.message, result: error.result }))`;

async function waitFor(label, probe, timeoutMs = 30000) {
  const end = Date.now() + timeoutMs;
  let last;
  while (Date.now() < end) {
    last = await probe();
    if (last) return last;
    await env.delay(200);
  }
  throw new Error(`${label}: not within ${timeoutMs} ms (last ${show(last)})`);
}

const pageState = (page, wanted) => env.waitForState(page, wanted, 30000);

// Running hosts of this scenario: npzvcert-host.exe processes of this build's
// Wine prefix (other prefixes may run hosts of their own meanwhile), or
// Linux hosts on this scenario's token.
const winePrefix = process.env.ZVCERT_WINEPREFIX || path.join(buildDir, 'wineprefix');
const [hostProgram, hostMark] = linux ? [/\/npzvcert-host$/, `SOFTHSM2_CONF=${tokenConf}`]
  : [/npzvcert-host\.exe$/i, `WINEPREFIX=${winePrefix}`];
function hostProcesses() {
  const found = [];
  for (const pid of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    try {
      const argv0 = fs.readFileSync(`/proc/${pid}/cmdline`, 'latin1').split('\0')[0];
      if (!hostProgram.test(argv0)) continue;
      const environ = fs.readFileSync(`/proc/${pid}/environ`, 'latin1').split('\0');
      if (environ.includes(hostMark)) found.push(`${pid} ${argv0}`);
    } catch {
      // ended meanwhile
    }
  }
  return found;
}

// The world of one scenario: authority, page server, profile, browser.
async function world({ consentTimeout = 60, extraOrigins = [], hostDir, host, lang } = {}) {
  const ca = new OpenSslCa(undefined, { root: rootArg });
  const serials = [];
  const server = await env.startPageServer({ ca, nextSerial: () => { serials.push(freshSerial()); return serials.at(-1); } });
  const workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'zvcert-browser-'));
  const profile = env.prepareProfile({ workDir, buildDir, hostDir, host, origins: [server.origin, ...extraOrigins], consentTimeout });
  const browser = await env.launchBrowser(browserKind, { ...profile, lang });
  return {
    ca, server, serials, browser, workDir,
    async close() {
      await browser.quit();
      await server.close();
      ca.remove();
      fs.rmSync(workDir, { recursive: true, force: true });
    },
  };
}

// ---- scenarios --------------------------------------------------------------

// The sample page's status, enrolment, choice of the new certificate, both
// signature formats and deletion, each store change allowed in the consent
// window; on Linux the token's PIN given in its window, its pictures kept.
async function enrolment() {
  const w = await world({ host: linux ? linuxHost() : undefined });
  try {
    const cn = 'Browser Enrolment';
    const text = `I agree to the terms, signé in ${browserKind}.`;
    const pictures = linux ? path.join(artifacts, `linux-${browserKind}`) : undefined;
    if (pictures) fs.mkdirSync(pictures, { recursive: true });
    const run = await env.enrolInPage(w.browser, `${w.server.origin}/enroll.html`,
      { subject: `C=CN, O=Example Org, CN=${cn}`, text, pin: '1234', screenshots: pictures });
    const { page, steps } = run;
    check('the page finds npzvcert through the extension', /through the browser extension/.test(run.log), run.log);
    const version = w.server.library.requires.host;
    checkEqual('status names the path and every version', run.status,
      `extension; library ${w.server.library.version}, extension ${version}, host ${version}, plug-in ${w.server.library.requires.plugin}`);
    checkEqual('enrolment, choice, signatures and deletion finish',
      steps.map((s) => s.state), ['enrolled', 'chosen', 'signed', 'cms', 'cms-detached', 'deleted']);
    const serial = String(w.serials[0]);
    const [storing, , signing, cmsConsent] = steps.map((s) => s.consent);
    check('the chooser lists the new certificate, its issuer, not expired', run.chooser.length === 1 &&
      run.chooser[0].serial === serial && !run.chooser[0].expired && run.chooser[0].cells[0].includes(`CN=${cn}`) &&
      run.chooser[0].cells[1] === w.ca.commonName, show(run.chooser));
    checkEqual('the store consent names the page', storing.origin, w.server.origin);
    check('the store consent names the certificate', storing.subject.includes(`CN=${cn}`) &&
      storing.serial.startsWith(`${serial} `), show(storing));
    checkEqual('FindCert found the issued serial', run.serial, serial);

    const data = Buffer.from(text, 'utf8');
    checkEqual('the signing consent gives the data\'s size', signing.data, `${data.length} bytes`);
    checkEqual('the signing consent gives the data\'s SHA-256', signing.sha256, env.sha256Hex(data));
    checkEqual('the signature starts with the serial', run.signature.readBigUInt64BE(0), BigInt(serial));
    const verified = w.ca.verify(w.server.issued[0].certificate, data, run.signature.subarray(8));
    check('OpenSSL verifies the signature with the issued certificate', verified.verified, verified.output);
    check('the CMS consent says what is signed', /CMS signature\), the data carried in it/.test(cmsConsent.action) &&
      cmsConsent.sha256 === env.sha256Hex(data), show(cmsConsent));
    const attached = w.ca.verifyCms(run.cms ?? Buffer.alloc(0));
    check('openssl cms -verify accepts the attached signature, up to the root', attached.verified, attached.output);
    check('and it carries the text', attached.content?.equals(data), show(attached.content));
    const detached = w.ca.verifyCms(run.cmsDetached ?? Buffer.alloc(0), data);
    check('openssl cms -verify accepts the detached signature with the text', detached.verified, detached.output);
    check('which does not verify other data', !w.ca.verifyCms(run.cmsDetached ?? Buffer.alloc(0), Buffer.from('other')).verified);
    // The quick start's own server-side checks, as written, on these signatures.
    for (const [file, command] of linux ? [] : [['verify.mjs', 'node'], ['verify.py', '/usr/bin/python3']]) {
      const dir = fs.mkdtempSync(path.join(w.workDir, 'quickstart-'));
      fs.symlinkSync(path.join(REPO, 'build', 'npm', 'node_modules'), path.join(dir, 'node_modules'));
      fs.writeFileSync(path.join(dir, file), quickstartBlock(file));
      const files = { 'attached.der': run.cms, 'detached.der': run.cmsDetached, 'data.bin': data, 'root.pem': fs.readFileSync(w.ca.certFile) };
      for (const [name, bytes] of Object.entries(files)) fs.writeFileSync(path.join(dir, name), bytes ?? '');
      for (const args of [['attached.der', 'root.pem'], ['detached.der', 'root.pem', 'data.bin']]) {
        const result = spawnSync(command, [file, ...args], { cwd: dir, encoding: 'utf8' });
        check(`the quick start's ${file} verifies the ${args[0].split('.')[0]} signature`, result.status === 0, `${result.stdout}${result.stderr}`);
      }
    }

    fs.mkdirSync(artifacts, { recursive: true });
    await page.screenshot(path.join(pictures ?? artifacts, `extension-enrolment-${browserKind}.png`));
    if (linux) {
      const pins = run.steps.flatMap((s) => s.windows.filter((w) => w.kind === 'pin').map((w) => ({ step: s.step, ...w.shown })));
      check('the PIN is asked once, at the enrolment, for the token T', pins.length === 1 && pins[0].step === 'enrol' &&
        pins[0].label === 'T' && pins[0].asks.includes(w.server.origin), show(pins));
      const tokens = run.steps.flatMap((s) => s.windows.filter((w) => w.kind === 'token').map((w) => ({ step: s.step, ...w.shown })));
      check('GetCSR names the token the key is made on, T, chosen', tokens.length === 1 && tokens[0].step === 'enrol' &&
        tokens[0].origin === w.server.origin && tokens[0].tokens[tokens[0].chosen]?.[0] === 'T', show(tokens));
      const objects = spawnSync('pkcs11-tool', ['--module', tokenModule, '--login', '--pin', '1234', '--list-objects'],
        { encoding: 'utf8' });
      check('the token holds no certificate or key once deleted', objects.status === 0 &&
        !/Certificate Object|Private Key Object/.test(objects.stdout), `${objects.stdout}${objects.stderr}`);
    }
    checkEqual('the certificate is gone', (await page.evaluate(settled(`zvcert.IsCertExist('${serial}')`))).value, 0);
    checkEqual('no consent window is left open', (await env.consentWindows(w.browser)).length, 0);
  } finally {
    await w.close();
  }
}

// Only the origins the extension was built for get window.zvcert.
async function origins() {
  const w = await world();
  const other = await env.startPageServer({ ca: w.ca, nextSerial: freshSerial });
  try {
    const allowed = await w.browser.open(`${w.server.origin}/enroll.html`);
    checkEqual('the allowed origin has window.zvcert', await allowed.evaluate('typeof window.zvcert'), 'object');
    checkEqual('and reads the Version through it', (await allowed.evaluate(settled('zvcert.Version'))).value, 1022);
    // A lone surrogate once left the page's bridge waiting for good.
    checkEqual('a lone surrogate is encoded as U+FFFD', (await allowed.evaluate(settled("zvcert.Base64Encode('a\\ud800b')"))).value,
      Buffer.from('a\uFFFDb', 'utf8').toString('base64'));
    checkEqual('and the next call is answered', (await allowed.evaluate(settled('zvcert.Version'))).value, 1022);

    const pages = {
      'the same host on another port': `${other.origin}/enroll.html`,
      'localhost for 127.0.0.1': `http://localhost:${w.server.port}/enroll.html`,
    };
    for (const [label, url] of Object.entries(pages)) {
      const page = await w.browser.open(url);
      checkEqual(`${label}: no window.zvcert`, await page.evaluate('typeof window.zvcert'), 'undefined');
      checkEqual(`${label}: the page library says it is not installed`,
        await pageState(page, ['missing', 'ready']), 'missing');
      const told = await page.evaluate('document.getElementById("missing").textContent');
      // The library names what the browser's own system needs: these browsers run on Linux.
      const host = process.platform === 'linux' ? 'Install the npzvcert-host package' : 'Install npzvcert-setup.exe';
      check(`${label}: the page tells the user what to install, and where`, told.includes(host) &&
        told.includes('Install the npzvcert browser extension') && / from http:\/\/127\.0\.0\.1:\d+\/download\/\./.test(told), told);
      // A page that forges the extension's own messages reaches nothing.
      const forged = await page.evaluate(`new Promise((resolve) => {
        window.addEventListener('message', (e) => { if (e.data && e.data.direction === 'reply') resolve('answered'); });
        window.postMessage({ channel: 'zvcert-extension', direction: 'call', id: 1, member: 'Version', args: [] }, '*');
        setTimeout(() => resolve('silence'), 1500);
      })`);
      checkEqual(`${label}: forged calls get no answer`, forged, 'silence');
    }
  } finally {
    await other.close();
    await w.close();
  }
}

// A denied, unanswered or closed consent rejects and changes nothing; the
// key stays pending, so the same certificate imports once allowed.
async function consent() {
  const timeout = 6;
  const w = await world({ consentTimeout: timeout });
  try {
    const page = await w.browser.open(`${w.server.origin}/enroll.html`);
    await pageState(page, ['ready']);
    await page.evaluate(settled(`zvcert.SetSubject('C=CN, CN=Consent Test')`));
    const request = (await page.evaluate(settled('zvcert.GetCSR()'))).value;
    const serial = freshSerial();
    const certificate = w.ca.issue(request, serial);
    const seen = new Set();
    const importCall = settled(`zvcert.ImportCert(${JSON.stringify(certificate)})`);
    const present = async () => (await page.evaluate(settled(`zvcert.IsCertExist('${serial}')`))).value;

    let outcome = page.evaluate(importCall, 60000);
    await env.answerConsent(w.browser, 'deny', seen);
    const denied = await outcome;
    checkEqual('a denied import rejects as denied', denied.reason, 'denied');
    check('with a clear message', /not allowed: the user denied it/.test(denied.message), denied.message);
    checkEqual('and stores nothing', await present(), 0);

    const started = Date.now();
    outcome = page.evaluate(importCall, 60000);
    await env.answerConsent(w.browser, 'ignore', seen);
    const unanswered = await outcome;
    checkEqual('an unanswered import rejects as timed out', unanswered.reason, 'timeout');
    check(`after about ${timeout} s`, Date.now() - started >= (timeout - 1) * 1000, `${Date.now() - started} ms`);
    // The window's removal may finish a moment after the page's answer.
    check('the consent window is gone', await waitFor('the consent window to go',
      async () => (await env.consentWindows(w.browser)).length === 0, 5000).then(() => true, () => false));
    checkEqual('and nothing is stored', await present(), 0);

    outcome = page.evaluate(importCall, 60000);
    const target = await env.waitForTarget(w.browser, env.isConsentWindow, { seen });
    seen.add(target.targetId);
    await w.browser.closeTarget(target.targetId);
    checkEqual('closing the consent window rejects as closed', (await outcome).reason, 'closed');
    checkEqual('and stores nothing', await present(), 0);

    fs.mkdirSync(artifacts, { recursive: true });
    const picture = (kind) => ({ screenshot: path.join(artifacts, `consent-${kind}-${browserKind}.png`) });
    outcome = page.evaluate(importCall, 60000);
    const storing = await env.answerConsent(w.browser, 'allow', seen, picture('import'));
    check('the import window names the issuer and the validity', storing.issuer === w.ca.commonName &&
      /^[A-Z][a-z]+ \d{1,2}, \d{4} at .* UTC to [A-Z][a-z]+ \d{1,2}, \d{4} /.test(storing.validity), show(storing));
    checkEqual('the key stayed pending: allowed, the import succeeds', (await outcome).value, 1);

    // Texts a naive reading takes for another serial, and data the browser's
    // atob refuses: the window names, and the call acts on, what the plug-in
    // reads.
    const s = String(serial);
    const tricks = [
      ['a serial cut after 39 characters', `${s.padStart(39, '0')}7`],
      ['a serial wrapped at 2^64', String(serial + (1n << 64n))],
      ['a serial ended by a zero byte', `${s}\u000099`],
    ];
    for (const [i, [what, text]] of tricks.entries()) {
      outcome = page.evaluate(settled(`zvcert.CertSign(${JSON.stringify(text)}, 'QQ==QUJD')`), 60000);
      const shown = await env.answerConsent(w.browser, 'allow', seen, i === 0 ? picture('sign') : {});
      check(`${what}: the window names the stored certificate`,
        shown.serial.startsWith(`${s} `) && shown.subject.includes('CN=Consent Test'), show(shown));
      checkEqual(`${what}: and the data as the plug-in decodes it`, [shown.data, shown.text], ['4 bytes', 'AABC']);
      const bytes = Buffer.from((await outcome).value ?? '', 'base64');
      checkEqual(`${what}: CertSign signs with that certificate`, bytes.length > 8 ? bytes.readBigUInt64BE(0) : null, serial);
      check(`${what}: over those bytes`, w.ca.verify(certificate, Buffer.from('AABC'), bytes.subarray(8)).verified);
    }

    // Data as the host rendered it: what would hide or reorder text written
    // out. A text longer than its box arms Allow only once scrolled to its
    // end, and losing focus disarms it.
    const signText = (text) => page.evaluate(settled(`zvcert.CertSign('${serial}', '${Buffer.from(text).toString('base64')}')`), 60000);
    const clause = 'I also transfer 9000 EUR to account 6666.';
    for (const [text, rendered] of [['account \u202E12345\u202C.', 'account ⟨U+202E⟩12345⟨U+202C⟩.'],
      ['Pay 10 EUR\rPay 99999 EUR', 'Pay 10 EUR⟨U+000D⟩Pay 99999 EUR'],
      [`I agree.\n${'\u2800\n'.repeat(40)}${clause}\n${'\u2800\n'.repeat(40)}Signed.`,
        `I agree.\n⟨40 blank lines⟩\n${clause}\n⟨40 blank lines⟩\nSigned.`],
      ['I agree to pay 1\u20650\u{E0080}\u{E0087} EUR.', 'I agree to pay 1⟨U+2065⟩0⟨U+E0080⟩⟨U+E0087⟩ EUR.'],
      ['to IBAN DE44 \u05C0 5001 0517 5407 3249 31\nfrom account \u05C3 1111 9999',
        'to IBAN DE44 ⟨U+05C0⟩ 5001 0517 5407 3249 31\nfrom account ⟨U+05C3⟩ 1111 9999']]) {
      outcome = signText(text);
      const shown = await env.answerConsent(w.browser, 'deny', seen);
      checkEqual(`${rendered}: the window shows it written out, with a note, its numbers drawn in their order`,
        [shown.text, shown.marks, shown.numbers], [rendered, true, (rendered.match(/\b\d+\b/g) ?? []).join(' ')]);
      await outcome;
    }
    const terms = Array.from({ length: 80 }, (_, i) => `Term ${i + 1}.`).join('\n');
    outcome = signText(`I agree.\n${'\n'.repeat(60)}${terms}`);
    const { page: box } = await env.readWindow(w.browser, env.isConsentWindow, seen, 'document.getElementById(\'text\').textContent || null');
    await env.delay(1500);
    const state = () => box.evaluate(`[document.getElementById('text').textContent, document.getElementById('allow').disabled,
      !document.getElementById('scroll-note').hidden]`);
    checkEqual('60 blank lines shown as one; Allow waits for the end of the text and says so', await state(),
      [`I agree.\n⟨60 blank lines⟩\n${terms}`, true, true]);
    const armed = async () => !(await state())[1];
    const event = (script) => box.evaluate(`${script}; true`);
    await event('const b = document.getElementById(\'text\'); b.scrollTop = b.scrollHeight');
    check('scrolled to its end, Allow arms', await waitFor('Allow', armed, 5000).then(() => true, () => false));
    await event('window.dispatchEvent(new Event(\'blur\'))');
    check('the window losing focus disarms it at once', !(await armed()));
    const refocused = Date.now();
    await event('window.dispatchEvent(new Event(\'focus\'))');
    await waitFor('Allow', armed, 5000).catch(() => {});
    check('focused again, it re-arms a second later', Date.now() - refocused >= 900 && await armed(), `${Date.now() - refocused} ms`);
    await event('document.getElementById(\'allow\').click()').catch(() => {});
    const signed = Buffer.from((await outcome).value ?? '', 'base64');
    check('allowed, CertSign signs the bytes themselves', signed.length > 8 &&
      w.ca.verify(certificate, Buffer.from(`I agree.\n${'\n'.repeat(60)}${terms}`), signed.subarray(8)).verified);

    outcome = page.evaluate(settled(`zvcert.CertSign('${serial}', 'AQID')`), 60000);
    const binary = await env.answerConsent(w.browser, 'deny', seen);
    check('data that is no text: the window says it cannot be shown', binary.text === '' &&
      /not text: its content cannot be shown, so you cannot know what you would sign/.test(binary.unshown), show(binary));
    const sign = await outcome;
    check('a denied signature rejects without a signature', sign.reason === 'denied' && sign.value === undefined, show(sign));
    outcome = page.evaluate(settled(`zvcert.signCms('${serial}', 'AQID', { detached: true })`), 60000);
    const cmsShown = await env.answerConsent(w.browser, 'deny', seen);
    const cms = await outcome;
    check('a denied CMS signature rejects without a signature', cms.reason === 'denied' && cms.value === undefined &&
      /the data left out/.test(cmsShown.action) && cmsShown.data === '3 bytes', show([cms, cmsShown]));
    outcome = page.evaluate(settled('zvcert.chooseCertificate()'), 60000);
    await env.answerChooser(w.browser, null, seen);
    checkEqual('a cancelled choice rejects as cancelled', (await outcome).reason, 'cancelled');

    outcome = page.evaluate(settled(`zvcert.DelCert('${serial}')`), 60000);
    await env.answerConsent(w.browser, 'deny', seen);
    checkEqual('a denied deletion rejects', (await outcome).reason, 'denied');
    checkEqual('and the certificate stays', await present(), 1);
    // An impostor's root bears the authority's name; its certificate shares
    // the serial (before or after the authority's in the store's order). The
    // import window says whose it is; the chooser lists the authority's
    // alone, and the chosen one signs.
    const impostor = w.ca.impostor();
    try {
      const forged = impostor.issue((await page.evaluate(settled('zvcert.GetCSR()'))).value, serial);
      outcome = page.evaluate(settled(`zvcert.ImportCert(${JSON.stringify(forged)})`), 60000);
      const warned = await env.answerConsent(w.browser, 'allow', seen);
      check('the import window says an impostor\'s certificate is not the authority\'s',
        /NOT this authority/.test(warned.issuer), show(warned));
      checkEqual('it is stored', (await outcome).value, 1);
    } finally {
      impostor.remove();
    }
    outcome = page.evaluate(settled('zvcert.chooseCertificate()'), 60000);
    const listed = await env.answerChooser(w.browser, s, seen);
    checkEqual('the chooser lists the authority\'s certificate of the serial alone', listed.map((c) => c.cells[1]), [w.ca.commonName]);
    checkEqual('which is chosen', (await outcome).value, s);
    outcome = page.evaluate(settled(`zvcert.signCms('${serial}', 'QUJD')`), 60000);
    const chosenShown = await env.answerConsent(w.browser, 'allow', seen);
    const signedByChosen = w.ca.verifyCms(Buffer.from((await outcome).value ?? '', 'base64'));
    check('signCms names and signs with the chosen certificate, the authority\'s', signedByChosen.verified &&
      !/NOT/.test(chosenShown.issuer), `${show(chosenShown)} ${signedByChosen.output}`);

    outcome = page.evaluate(settled(`zvcert.DelCert('${serial + (1n << 64n)}')`), 60000);
    const deleting = await env.answerConsent(w.browser, 'allow', seen, picture('delete'));
    check('a deletion by a wrapped serial names the certificate', deleting.serial.startsWith(`${s} `), show(deleting));
    checkEqual('and, allowed, deletes it', (await outcome).value, 1);
    outcome = page.evaluate(settled(`zvcert.DelCert('${serial}')`), 60000);
    await env.answerConsent(w.browser, 'allow', seen);
    checkEqual('and the other certificate of the serial, the impostor\'s or the authority\'s', (await outcome).value, 1);
    const signedGone = await page.evaluate(settled(`zvcert.signCms('${serial}', 'QUJD')`), 60000);
    check('the chosen certificate gone, signCms fails and says so, before any window',
      signedGone.reason === 'failed' && /chosen for this serial is no longer in the store/.test(signedGone.message), show(signedGone));
    checkEqual('with no certificate left there is none to choose',
      (await page.evaluate(settled('zvcert.chooseCertificate()'))).reason, 'none');
    checkEqual('a call with no certificate argument fails without a question',
      (await page.evaluate(settled('zvcert.DelCert()'))).reason, 'failed');
    checkEqual('no consent window was opened for it', (await env.consentWindows(w.browser)).length, 0);

    // The page goes away while its question is open: the window goes too,
    // well before the timeout.
    page.evaluate(importCall, 60000).catch(() => {});
    await env.waitForTarget(w.browser, env.isConsentWindow, { seen });
    const closedAt = Date.now();
    await w.browser.close(page);
    const gone = await waitFor('the consent window to go', async () =>
      (await env.consentWindows(w.browser)).length === 0, timeout * 1000).then(() => true, () => false);
    check('closing the page closes its consent window at once', gone && Date.now() - closedAt < (timeout - 2) * 1000,
      `${Date.now() - closedAt} ms`);
  } finally {
    await w.close();
  }
}

// Each page has its own host and plug-in instance: one page's pending key is
// not the other's.
async function twoPages() {
  const w = await world();
  try {
    const [a, b] = [await w.browser.open(`${w.server.origin}/enroll.html`),
      await w.browser.open(`${w.server.origin}/enroll.html`)];
    const requests = [];
    for (const [page, cn] of [[a, 'Page A'], [b, 'Page B']]) {
      await pageState(page, ['ready']);
      await page.evaluate(settled(`zvcert.SetSubject('CN=${cn}')`));
      requests.push((await page.evaluate(settled('zvcert.GetCSR()'))).value);
    }
    check('each page made a request', requests.every((r) => /^-----BEGIN CERTIFICATE REQUEST-----\n/.test(r)), show(requests));
    check('two hosts run, one per page', hostProcesses().length >= 2, show(hostProcesses()));
    const serialA = freshSerial();
    const serialB = freshSerial();
    const certificateA = w.ca.issue(requests[0], serialA);
    const certificateB = w.ca.issue(requests[1], serialB);
    const seen = new Set();
    const importOn = async (page, certificate) => {
      const outcome = page.evaluate(settled(`zvcert.ImportCert(${JSON.stringify(certificate)})`), 60000);
      await env.answerConsent(w.browser, 'allow', seen);
      return outcome;
    };
    const crossed = await importOn(b, certificateA);
    check('page B cannot import page A\'s certificate (-1)', crossed.reason === 'failed' && crossed.result === -1, show(crossed));
    checkEqual('page A imports its own', (await importOn(a, certificateA)).value, 1);
    checkEqual('page B still has its own key pending', (await importOn(b, certificateB)).value, 1);
    for (const [page, serial] of [[a, serialA], [b, serialB]]) {
      const outcome = page.evaluate(settled(`zvcert.DelCert('${serial}')`), 60000);
      await env.answerConsent(w.browser, 'allow', seen);
      checkEqual(`deleted ${serial}`, (await outcome).value, 1);
    }
    await w.browser.close(a);
    await waitFor('one host left after a page closed', async () => hostProcesses().length === 1, 20000)
      .then(() => check('closing a page ends its host', true), (e) => check('closing a page ends its host', false, e.message));
  } finally {
    await w.close();
  }
}

// The browser dies without a word: the host sees its input end and exits.
async function vanishedBrowser() {
  const w = await world();
  try {
    const page = await w.browser.open(`${w.server.origin}/enroll.html`);
    await pageState(page, ['ready']);
    await page.evaluate(settled(`zvcert.SetSubject('CN=Vanishing')`));
    check('a host runs for the page', hostProcesses().length === 1, show(hostProcesses()));
    process.kill(w.browser.child.pid, 'SIGKILL');  // the browser process only
    const killedAt = Date.now();
    await waitFor('hosts gone', async () => hostProcesses().length === 0, 30000)
      .then(() => check(`the host exits when the browser vanishes (${Date.now() - killedAt} ms)`, true),
        (e) => check('the host exits when the browser vanishes', false, `${e.message}: ${show(hostProcesses())}`));
  } finally {
    await w.close();
  }
}

// With keys pending in the store, an enrolment outlives its page: the sample
// page requests and reloads, its host ends, and the reloaded page installs
// the certificate, chooses it, signs with it and deletes it.
async function reload() {
  const pluginDir = path.resolve(pluginArg ?? buildDir);
  const profile = buildProfile(pluginDir);
  if (profile.pendingKeys !== 'store') throw new Error(`${pluginDir} keeps pending keys in ${profile.pendingKeys}`);
  purgePending(buildDir);  // room for this scenario's requests, whatever others left
  const w = await world({ hostDir: pluginDir });
  try {
    const page = await w.browser.open(`${w.server.origin}/enroll.html`);
    await pageState(page, ['ready']);
    await page.evaluate(settled('zvcert.SetSubject(\'C=CN, O=Example Org, CN=Reloaded\')'));
    const request = (await page.evaluate(settled('zvcert.GetCSR()'))).value ?? '';
    check('the page made a request', /^-----BEGIN CERTIFICATE REQUEST-----\n/.test(request), show(request));
    const requester = hostProcesses();
    await page.evaluate('window.beforeReload = true; setTimeout(() => location.reload(), 50); true');
    await waitFor('the page reloaded', () => page.evaluate(
      'window.beforeReload === undefined && document.body.dataset.state === \'ready\'').catch(() => false));
    // The reloaded page may have a host of its own already.
    const ended = () => !hostProcesses().some((p) => requester.includes(p));
    await waitFor('the requesting host ended', async () => ended(), 20000).catch(() => {});
    check('the requesting page\'s host has ended', requester.length === 1 && ended(), show([requester, hostProcesses()]));

    const serial = freshSerial();
    const certificate = w.ca.issue(request, serial);
    const seen = new Set();
    const allowed = async (expression) => {
      const outcome = page.evaluate(settled(expression), 60000);
      await env.answerConsent(w.browser, 'allow', seen);
      return outcome;
    };
    checkEqual('the reloaded page installs the certificate',
      await allowed(`zvcert.ImportCert(${JSON.stringify(certificate)})`), { value: 1 });
    const chosen = page.evaluate(settled('zvcert.chooseCertificate()'), 60000);
    await env.answerChooser(w.browser, String(serial), seen);
    checkEqual('and chooses it', (await chosen).value, String(serial));
    const data = Buffer.from(`signed after a reload in ${browserKind}`);
    const signed = await allowed(`zvcert.CertSign('${serial}', '${data.toString('base64')}')`);
    const { serial: signer, signature } = splitSignature(Buffer.from(signed.value ?? '', 'base64'), profile);
    checkEqual('the signature names the serial', signer, serial);
    const verified = w.ca.verify(certificate, data, signature, profile.digest);
    check('OpenSSL verifies the signature with the issued certificate', verified.verified, verified.output);
    checkEqual('the certificate is deleted', await allowed(`zvcert.DelCert('${serial}')`), { value: 1 });
  } finally {
    await w.close();
  }
}

// The windows in the browser's language, Simplified Chinese and German,
// each in a browser started in it: every word is a piece of that language's
// messages, while the origin, subject, serial and data are shown exactly as
// they are. Each window is kept as a picture in <artifacts>/<language>/.
async function languages() {
  const subject = 'C=CN, O=示例机构, CN=张三';
  // Mixed scripts, a right-to-left line among them, to be shown as they are,
  // and an override the host writes out, in the same mark in every language.
  const data = Buffer.from('Ich stimme zu, 我同意,\n\u05D0\u05E0\u05D9 \u05DE\u05E1\u05DB\u05D9\u05DD.\n42 \u202E01 EUR.');
  let certificate;
  let serial;
  let subjectShown;
  for (const [index, lang] of ['zh-CN', 'de'].entries()) {
    const locale = lang.replace('-', '_');
    const set = JSON.parse(fs.readFileSync(path.join(REPO, 'extension', '_locales', locale, 'messages.json'), 'utf8'));
    const messages = Object.values(set).map((m) => m.message);
    const w = await world({ lang });
    try {
      const page = await w.browser.open(`${w.server.origin}/enroll.html`);
      await pageState(page, ['ready']);
      if (index === 0) {
        await page.evaluate(settled(`zvcert.SetSubject(${JSON.stringify(subject)})`));
        serial = freshSerial();
        certificate = w.ca.issue((await page.evaluate(settled('zvcert.GetCSR()'))).value, serial);
      }
      const dir = path.join(artifacts, locale);
      fs.mkdirSync(dir, { recursive: true });
      const seen = new Set();
      // Opens the window of a call, reads it, answers it with that button.
      const windowOf = async (name, call, matches, button) => {
        const outcome = page.evaluate(settled(call), 60000);
        outcome.catch(() => {});  // awaited below, unless the window fails first
        const { page: shown, shown: read } = await env.readWindow(w.browser, matches, seen, env.WINDOW_WORDS,
          path.join(dir, `${name}-${browserKind}.png`));
        await shown.evaluate(`document.getElementById('${button}').click(); true`).catch(() => {});
        await outcome;
        const label = `${locale} ${name}`;
        check(`${label}: the window is in the browser's language`, read.lang.startsWith(lang.slice(0, 2)) &&
          messages.includes(read.title), show([read.lang, read.title]));
        const foreign = read.words.filter((piece) => !messages.some((m) => m.includes(piece)));
        checkEqual(`${label}: every word is a piece of the language's messages`, foreign, []);
        return read;
      };
      const hex = serial.toString(16);
      const stored = (await windowOf('import', `zvcert.ImportCert(${JSON.stringify(certificate)})`,
        env.isConsentWindow, index === 0 ? 'allow' : 'deny')).values;
      subjectShown ??= stored.subject?.[0];
      check(`${locale}: the import window shows the origin, subject and serial as they are`,
        stored.origin?.[0] === w.server.origin && stored.subject?.[0] === subjectShown && /CN=张三/.test(subjectShown) &&
        stored.serial?.[0] === String(serial) && stored.serial[1].toLowerCase().endsWith(hex), show(stored));
      // A look-alike: another root bearing the authority's name.
      const impostor = w.ca.impostor();
      const forged = impostor.issue((await page.evaluate(settled('zvcert.GetCSR()'))).value, serial);
      impostor.remove();
      const warned = await windowOf('look-alike', `zvcert.ImportCert(${JSON.stringify(forged)})`, env.isConsentWindow, 'deny');
      const warning = set.issuerNotAuthority.message.split('$ISSUER$').map((piece) => piece.trim()).filter(Boolean);
      check(`${locale}: the import window warns of a look-alike issuer, its name as it is`,
        warned.values.issuer?.[0] === w.ca.commonName && warning.every((piece) => warned.words.includes(piece)), show(warned));
      const chooser = await windowOf('chooser', 'zvcert.chooseCertificate()', env.isChooserWindow, 'cancel');
      check(`${locale}: the chooser lists the certificate as it is`, chooser.rows.length === 1 &&
        chooser.rows[0][0] === subjectShown && chooser.rows[0][1] === w.ca.commonName &&
        chooser.rows[0][2].startsWith(String(serial)) && chooser.values.receives?.[0] === w.server.origin, show(chooser));
      const signing = (await windowOf('sign', `zvcert.CertSign('${serial}', '${data.toString('base64')}')`,
        env.isConsentWindow, 'deny')).values;
      checkEqual(`${locale}: the signing window shows the data and its digest as they are`,
        [signing.text?.[0], signing.sha256?.[0], signing.subject?.[0]],
        [data.toString().replace('\u202E', '⟨U+202E⟩'), env.sha256Hex(data), subjectShown]);
      if (index === 1) {
        const deleted = page.evaluate(settled(`zvcert.DelCert('${serial}')`), 60000);
        await env.answerConsent(w.browser, 'allow', seen, { screenshot: path.join(dir, `delete-${browserKind}.png`) });
        checkEqual(`${locale}: allowed, the deletion deletes`, (await deleted).value, 1);
      }
    } finally {
      await w.close();
    }
  }
}

const SCENARIOS = {
  enrolment, origins, consent, 'two-pages': twoPages, 'vanished-browser': vanishedBrowser, reload, languages,
  'linux-enrolment': enrolment,
};

async function main() {
  const scenario = SCENARIOS[scenarioName];
  if (!scenario) throw new Error(`no scenario ${scenarioName}; there are ${Object.keys(SCENARIOS).join(', ')}`);
  if (linux && !(tokenConf && tokenModule)) throw new Error(`${scenarioName} runs under tests/token/with_token.sh`);
  try {
    if (!linux) purgeIssuer(buildDir, authorityName);
    check('no host is left from before', hostProcesses().length === 0, show(hostProcesses()));
    await scenario();
  } finally {
    const left = linux ? 0 : purgeIssuer(buildDir, authorityName);
    if (left !== 0) check('the scenario left no certificate behind', false, `${left} purged`);
  }
}

main().catch((error) => check('the scenario ran to its end', false, error.stack || error))
  .then(() => { process.exitCode = report(); });
