// Enrolment and signing with the npzvcert plug-in: the script of
// enroll.html. The same code runs in the page, with the plug-in's own object,
// and in Node.js against the real plug-in through npzvcert-host.exe
// (scripts/main.sh runs it so), so every plug-in call is awaited: that costs
// nothing on the page's synchronous object and lets the extension or the host
// answer asynchronously.
//
// In an NPAPI browser a plug-in call that fails throws a script exception
// (zvcert.js turns it into a rejection); a host that can tell more attaches
// the method's own result as error.result, and the extension names its
// refusals in error.reason.
(function (exports) {
  'use strict';

  // What each result of the plug-in means, for messages to the user.
  const RESULTS = {
    ImportCert: {
      1: 'the certificate is stored with its private key',
      '-1': 'no request is pending on this page, the text holds no certificate, ' +
        'or the certificate was issued for another key (the key stays pending)',
      '-2': 'the certificate could not be stored; request a new certificate',
    },
    IsCertExist: {
      1: 'the certificate is in the store',
      0: 'no such certificate',
      '-1': 'the certificate store cannot be opened',
    },
    DelCert: {
      1: 'the certificate and its private key are deleted',
      0: 'no such certificate',
      '-2': 'the certificate store cannot be opened',
      '-3': 'the certificate has no private key linked to it',
      '-4': 'the certificate\'s key link names no key container',
      '-5': 'the key container cannot be deleted; the certificate stays',
      '-6': 'the certificate cannot be removed, but its key is already deleted',
    },
  };

  // Why the browser extension did not make a call (error.reason).
  const REFUSALS = {
    denied: () => 'you did not allow it',
    timeout: () => 'nobody answered the consent window in time',
    closed: () => 'the consent window was closed',
    unavailable: (error) => error.detail || error.message,
  };

  function explain(method, code) {
    const table = RESULTS[method] || {};
    return table[String(code)] || `unknown result ${code}`;
  }

  class StepError extends Error {
    constructor(step, why, detail) {
      super(`${step} failed: ${why}`);
      this.step = step;
      this.why = why;
      this.detail = detail;
    }
  }

  // Calls a plug-in method; a failed call becomes a StepError naming it.
  async function call(zv, method, args, why) {
    try {
      return await zv[method](...args);
    } catch (error) {
      const result = error && error.result;
      const refusal = error && REFUSALS[error.reason];
      const reason = refusal ? refusal(error)
        : result !== undefined && result !== null && RESULTS[method] ? explain(method, result) : why;
      throw new StepError(method, reason, error);
    }
  }

  // The common name in a subject text such as "C=CN, O=Org, CN=Alice".
  function commonName(subject) {
    const match = /(?:^|[,/]\s*)CN=([^,/]*)/.exec(subject);
    return match ? match[1] : '';
  }

  // The whole enrolment: request, certificate from the authority, import.
  //   options.subject, options.unstructuredName, options.challengePassword
  //   options.submitRequest(pem) -> Promise of the issued certificate (PEM)
  //   options.log(step, detail) reports progress
  async function enrol(zv, options) {
    const log = options.log || (() => {});
    await call(zv, 'SetSubject', [options.subject], 'the subject was refused');
    log('SetSubject', options.subject);
    await call(zv, 'SetChallenge', [options.unstructuredName, options.challengePassword],
      'the challenge was refused');
    log('SetChallenge', `${options.unstructuredName} / ${'*'.repeat(options.challengePassword.length)}`);

    const request = await call(zv, 'GetCSR', [], 'no key pair or request could be made');
    if (!request) throw new StepError('GetCSR', 'no key pair or request could be made');
    log('GetCSR', `${request.length} characters of PEM request`);

    let certificate;
    try {
      certificate = await options.submitRequest(request);
    } catch (error) {
      throw new StepError('submitRequest', `the authority did not issue a certificate (${error.message})`, error);
    }
    log('submitRequest', 'the authority issued a certificate');

    const imported = await call(zv, 'ImportCert', [certificate],
      'the certificate is not for this page\'s request, or it could not be stored');
    log('ImportCert', `${imported}: ${explain('ImportCert', imported)}`);

    const cn = commonName(options.subject);
    const serial = await call(zv, 'FindCert', ['CN', cn], 'the store could not be searched');
    if (!serial) throw new StepError('FindCert', `no certificate for CN=${cn} from this authority was found`);
    log('FindCert', `CN=${cn} has serial ${serial}`);

    const present = await call(zv, 'IsCertExist', [serial], 'the store could not be searched');
    if (present !== 1) throw new StepError('IsCertExist', explain('IsCertExist', present));
    log('IsCertExist', `${present}: ${explain('IsCertExist', present)}`);
    return { request, certificate, serial };
  }

  // Signs text with the certificate's key. The result is Base64 of the
  // big-endian serial (8 bytes unless the plug-in was built for longer ones)
  // followed by the PKCS #1 v1.5 signature (SHA-1 unless built for SHA-2).
  async function signText(zv, serial, text, log = () => {}) {
    const data = await call(zv, 'Base64Encode', [text], 'the text could not be encoded');
    const signature = await call(zv, 'CertSign', [serial, data],
      'no certificate with that serial from this authority, or its key cannot sign');
    if (!signature) throw new StepError('CertSign', 'no signature was made');
    log('CertSign', `${signature.length} characters of signature`);
    return { data, signature };
  }

  async function removeCertificate(zv, serial, log = () => {}) {
    const code = await call(zv, 'DelCert', [serial], 'the deletion failed');
    if (code !== 1) throw new StepError('DelCert', explain('DelCert', code));
    log('DelCert', `${code}: ${explain('DelCert', code)}`);
    return code;
  }

  Object.assign(exports, {
    RESULTS, StepError, explain, commonName, enrol, signText,
    removeCertificate,
  });
})(typeof module !== 'undefined' && module.exports ? module.exports : (window.zvcertEnroll = {}));
