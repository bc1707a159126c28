#!/usr/bin/env node
'use strict';
// The sample page in today's browsers: headless Chromium (or, with
// --browser firefox, Firefox) loads the extension (built for this run's page
// origin), which runs npzvcert.dll
// through npzvcert-host.exe under Wine. The page asks what is installed,
// enrols at the OpenSSL authority whose root the plug-in is built with, lets the user choose the new
// certificate, signs with CertSign and as CMS, attached and detached (all
// checked by OpenSSL) and, unless --keep, deletes; each consent window is
// allowed as a user would, and kept as a picture. With --lang, the browser
// speaks that language (one of extension/_locales), and so do its windows;
// the pictures then go to <out>/<browser>/<lang>/. With --token, the
// Linux npzvcert-host of a native build (--build) serves instead, on the
// PKCS #11 token that SOFTHSM2_CONF and ZVCERT_PKCS11_MODULE name (as
// tests/token/with_token.sh makes one), whose PIN window gets --pin.
//
//   node demo/run-browser-demo.js --build build/win32 --root build/authority/root.pem \
//        --out out [--subject TEXT] [--text TEXT] [--keep] [--browser chromium|firefox] [--lang zh_CN]
//        [--token --pin 1234]

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const { demoOptions, Report, windowsArchitecture } = require('./demo_run');
const env = require('../tools/node/extension_env');
const { OpenSslCa } = require('../tools/node/ca');
const { buildProfile, demoSerial, splitSignature } = require('../tools/node/profile');

const options = demoOptions('C=CN, O=Example Org, OU=Demo, CN=Browser User, E=browser@example.org',
  { browser: { type: 'string', default: 'chromium' }, lang: { type: 'string' }, token: { type: 'boolean', default: false },
    pin: { type: 'string' } });
const report = new Report();
const { log } = report;

async function main() {
  const languages = fs.readdirSync(path.join(__dirname, '..', 'extension', '_locales'));
  const lang = options.lang?.replace('-', '_');
  if (lang !== undefined && !languages.includes(lang)) {
    throw new Error(`no language ${options.lang}; the windows speak ${languages.join(', ')}`);
  }
  const out = path.resolve(options.out, options.browser, lang ?? '');
  fs.mkdirSync(out, { recursive: true });
  const ca = new OpenSslCa(undefined, { root: options.root });
  const build = buildProfile(path.resolve(options.build));
  const serial = demoSerial(build);
  const server = await env.startPageServer({ ca, nextSerial: () => serial });
  const workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'zvcert-browser-demo-'));
  const { SOFTHSM2_CONF, ZVCERT_PKCS11_MODULE } = process.env;
  const host = options.token ? { command: [path.resolve(options.build, 'bin', 'npzvcert-host'), []],
    env: { SOFTHSM2_CONF, ZVCERT_PKCS11_MODULE } } : undefined;
  const profile = env.prepareProfile({ workDir, buildDir: path.resolve(options.build), host, origins: [server.origin] });
  const id = options.browser === 'firefox' ? env.identity.firefoxId : env.identity.chromiumId;
  log('extension', `id ${id}, built for ${server.origin}; host ${env.identity.hostName} runs ` +
    (host ? `on Linux, keys on the token of module ${ZVCERT_PKCS11_MODULE}` : 'under Wine'));
  if (!host) log('architecture', windowsArchitecture(path.join(options.build, 'bin', 'npzvcert-host.exe')));
  const browser = await env.launchBrowser(options.browser, { ...profile, lang: lang?.replace('_', '-') });
  log('browser', `headless ${await browser.version()}`);

  let failure = null;
  try {
    const run = await env.enrolInPage(browser, `${server.origin}/enroll.html`, {
      subject: options.subject, text: options.text, keep: options.keep, pin: options.pin, screenshots: out, onStep: log,
    });
    await run.page.screenshot(path.join(out, 'page.png'));
    fs.writeFileSync(path.join(out, 'page-log.txt'), run.log);
    const last = run.steps.at(-1);
    if (!last || last.state === 'error') {
      throw new Error(`the page stopped: ${run.log.trim().split('\n').at(-1)}`);
    }
    const certificate = server.issued[0].certificate;
    fs.writeFileSync(path.join(out, 'certificate.pem'), certificate);
    const data = Buffer.from(options.text, 'utf8');
    const parts = splitSignature(run.signature, build);
    const check = ca.verify(certificate, data, parts.signature, build.digest);
    if (!check.verified) throw new Error(`OpenSSL does not verify the signature: ${check.output}`);
    if (parts.serial !== ca.serialOf(certificate)) throw new Error(`the signature names serial ${parts.serial}`);
    log('verify', `OpenSSL dgst -${build.digest}: ${check.output} (serial ${parts.serial}, ${build.name})`);
    for (const [name, cms, detachedData] of [['cms', run.cms], ['cms-detached', run.cmsDetached, data]]) {
      if (!cms) throw new Error(`the page made no ${name} signature`);
      fs.writeFileSync(path.join(out, `${name}.der`), cms);
      const verified = ca.verifyCms(cms, detachedData);
      if (!verified.verified) throw new Error(`openssl cms -verify does not accept the ${name} signature: ${verified.output}`);
      if (!detachedData && !verified.content.equals(data)) throw new Error('the CMS signature carries other data');
      log('verify', `openssl cms -verify (${name}, up to the authority's root): ${verified.output}`);
    }
    if (options.keep) log('keep', `certificate ${run.serial} stays in the store with its key`);
  } catch (error) {
    failure = error;
  } finally {
    await browser.quit();
    await server.close();
    ca.remove();
    fs.rmSync(workDir, { recursive: true, force: true });
  }
  log(failure ? 'FAILED' : 'done', failure ? failure.message : `pictures and the page's log in ${out}`);
  report.save(out);
  return failure ? 1 : 0;
}

main().then((code) => { process.exitCode = code; }, (error) => {
  console.error(`browser demo failed: ${error.stack || error}`);
  process.exitCode = 1;
});
