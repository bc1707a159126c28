#!/usr/bin/env node
'use strict';
// Runs the enrolment page's own script (demo/enroll.js) against the real
// plug-in under Wine, through npzvcert-host.exe as the browser extension
// reaches it, with the OpenSSL authority whose root the plug-in is built with
// (its key kept beside the root) in place of the CA's web service: request, certificate, import, lookup, a signature and CMS
// signatures checked by OpenSSL, and (unless --keep) deletion. Writes what it made and a report to
// the output folder; on failure says which step failed and why. --checks uses
// the tests' npzvcert-host-checks.exe, which also fails the run when the
// plug-in misused the browser.
//
//   node demo/run-demo.js --build build/win32 --root build/authority/root.pem \
//        --out out [--subject TEXT] [--challenge NAME:PASSWORD] [--text TEXT] [--keep] [--checks]

const fs = require('node:fs');
const path = require('node:path');

const { demoOptions, Report, windowsArchitecture } = require('./demo_run');
const enrollment = require('./enroll.js');
const { HostClient } = require('../tools/node/host_client');
const { OpenSslCa } = require('../tools/node/ca');
const { buildProfile, demoSerial, splitSignature } = require('../tools/node/profile');

const options = demoOptions('C=CN, ST=Beijing, O=Example Org, OU=Demo, CN=Demo User, E=demo@example.org',
  { challenge: { type: 'string', default: 'demo:secret' }, checks: { type: 'boolean', default: false } });
const report = new Report();
const { log } = report;

// The page's object as the page sees it: a failed call throws, with the
// method's own result attached (a browser would discard it).
function pageObject(host) {
  return new Proxy({}, {
    get: (_, method) => async (...args) => {
      const reply = await host.call(String(method), ...args);
      if (!reply.ok) {
        const error = new Error(`${String(method)} failed`);
        error.result = reply.value;
        throw error;
      }
      return reply.value;
    },
  });
}

async function main() {
  fs.mkdirSync(options.out, { recursive: true });
  const [unstructuredName, challengePassword = ''] = options.challenge.split(':');
  const ca = new OpenSslCa(undefined, { root: options.root });
  log('authority', `OpenSSL CA "${ca.commonName}" of ${options.root}, the plug-in's built-in root`);
  const host = new HostClient(options.build, { checks: options.checks });
  const zv = pageObject(host);
  const profile = buildProfile(options.build);
  log('plug-in', `Version ${(await host.get('Version')).value} (${profile.name}), loaded by ` +
                 `${options.checks ? 'npzvcert-host-checks.exe' : 'npzvcert-host.exe'} under Wine as a browser loads it`);
  log('architecture', windowsArchitecture(path.join(options.build, 'bin', 'npzvcert.dll')));

  let failure = null;
  let serial = demoSerial(profile);  // a serial the authority has not used
  try {
    const { request, certificate, serial: found } = await enrollment.enrol(zv, {
      subject: options.subject, unstructuredName, challengePassword, log,
      submitRequest: async (pem) => ca.issue(pem, serial),
    });
    fs.writeFileSync(path.join(options.out, 'request.pem'), request);
    fs.writeFileSync(path.join(options.out, 'certificate.pem'), certificate);
    serial = ca.serialOf(certificate);
    if (BigInt(found) !== serial) throw new Error(`FindCert gave ${found}, the authority issued ${serial}`);

    const { data, signature } = await enrollment.signText(zv, found, options.text, log);
    const parts = splitSignature(Buffer.from(signature, 'base64'), profile);
    const check = ca.verify(certificate, Buffer.from(data, 'base64'), parts.signature, profile.digest);
    fs.writeFileSync(path.join(options.out, 'signed-text.txt'), options.text);
    fs.writeFileSync(path.join(options.out, 'signature.b64'), `${signature}\n`);
    if (parts.serial !== serial || !check.verified) {
      throw new enrollment.StepError('verify', `OpenSSL: ${check.output}; serial in the signature ${parts.serial}`);
    }
    log('verify', `OpenSSL dgst -${profile.digest}: ${check.output} (serial ${parts.serial}, ` +
                  `${parts.signature.length}-byte signature)`);

    // The same text as a CMS signature, attached and detached, as the host
    // makes it for the extension's signCms.
    for (const detached of [false, true]) {
      const name = detached ? 'cms-detached' : 'cms';
      const reply = await host.request({ id: name, signCms: { serial: found, data, detached } });
      if (!reply?.ok) throw new enrollment.StepError('signCms', reply?.error ?? 'the host did not answer');
      const cms = Buffer.from(reply.value, 'base64');
      fs.writeFileSync(path.join(options.out, `${name}.der`), cms);
      const verified = ca.verifyCms(cms, detached ? Buffer.from(data, 'base64') : undefined);
      if (!verified.verified) throw new enrollment.StepError('verify', `openssl cms -verify (${name}): ${verified.output}`);
      log('signCms', `${cms.length}-byte ${name} SignedData (${verified.digest}); openssl cms -verify: ${verified.output}`);
    }

    if (options.keep) {
      log('keep', `certificate ${found} stays in the store with its key`);
    } else {
      await enrollment.removeCertificate(zv, found, log);
      const left = await zv.IsCertExist(found);
      if (left !== 0) throw new enrollment.StepError('IsCertExist', `still ${left} after the deletion`);
      log('IsCertExist', `${left}: ${enrollment.explain('IsCertExist', left)}`);
    }
  } catch (error) {
    failure = error;
    // Leave no half-finished enrolment behind: the certificate the authority
    // issued (if it was stored) and its key go again.
    if (!options.keep) {
      try {
        if (serial !== undefined) await zv.DelCert(String(serial));
      } catch {
        // nothing was stored
      }
    }
  } finally {
    const exit = await host.close();
    if (exit !== 0 && !failure) failure = new Error(`the plug-in misbehaved in its host (exit ${exit})`);
    ca.remove();
  }

  if (failure) {
    const where = failure instanceof enrollment.StepError ? failure.step : 'demo';
    log('FAILED', `at ${where}: ${failure.why ?? failure.message}`);
  } else {
    log('done', `enrolment and signature succeeded; files in ${path.resolve(options.out)}`);
  }
  report.save(options.out);
  return failure ? 1 : 0;
}

main().then((code) => { process.exitCode = code; }, (error) => {
  console.error(`demo failed: ${error.stack || error}`);
  process.exitCode = 1;
});
