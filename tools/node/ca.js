'use strict';
// A throwaway certificate authority made with the openssl command in a
// temporary folder: it issues certificates from the plug-in's requests, and
// for keys of its own when a test needs a certificate the plug-in must refuse.

const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { buildFacts } = require('./profile');

function openssl(args, options = {}) {
  return execFileSync('openssl', args, {
    cwd: options.cwd,
    input: options.input,
    encoding: options.encoding ?? 'utf8',
    stdio: ['pipe', 'pipe', 'pipe'],
  });
}

// The subject common name of a PEM certificate file, as UTF-8 text.
function certificateCommonName(pemFile) {
  const text = openssl(['x509', '-in', pemFile, '-noout', '-subject', '-nameopt',
                        'multiline,-esc_msb,utf8']);
  const match = /^\s*commonName\s*=\s*(.*)$/m.exec(text);
  if (!match) throw new Error(`${pemFile} has no subject common name`);
  return match[1].trimEnd();
}

// One RDN value for -subj: "/", "+", "=" and "\" would otherwise be syntax.
const subjValue = (value) => value.replace(/[\\/+=]/g, (c) => `\\${c}`);

// A serial as openssl's -set_serial reads it: hexadecimal with 0x.
const serialArgument = (serial) => `0x${BigInt(serial).toString(16)}`;

// A new root: a self-signed certificate and its key, in two PEM files.
function makeRoot(commonName, certFile, keyFile, { days = 30, organization = 'ZV Cycle Test' } = {}) {
  openssl(['req', '-x509', '-new', '-newkey', 'rsa:2048', '-nodes', '-sha256', '-days', String(days),
           '-utf8', '-subj', `/O=${subjValue(organization)}/CN=${subjValue(commonName)}`,
           '-keyout', keyFile, '-out', certFile]);
}

// The key kept beside a root certificate: root.key for root.pem.
const keyFileOf = (rootFile) => rootFile.replace(/(\.pem)?$/, '.key');

class OpenSslCa {
  // A new authority whose root has the subject common name commonName; or,
  // with root (a PEM file with its key beside it), that authority.
  constructor(commonName, { root } = {}) {
    this.dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zvcert-ca-'));
    this.files = 0;
    if (root !== undefined) {
      this.certFile = path.resolve(root);
      this.keyFile = keyFileOf(this.certFile);
      if (!fs.existsSync(this.keyFile)) {
        fs.rmSync(this.dir, { recursive: true, force: true });
        throw new Error(`${this.certFile} has no key beside it (${this.keyFile}): only the authority that ` +
                        'holds the key of the built-in root issues certificates the plug-in takes for its own');
      }
      this.commonName = certificateCommonName(this.certFile);
      return;
    }
    this.commonName = commonName;
    this.keyFile = path.join(this.dir, 'ca.key');
    this.certFile = path.join(this.dir, 'ca.pem');
    makeRoot(commonName, this.certFile, this.keyFile);
  }

  // The authority whose root a Windows build folder embeds.
  static ofBuild(buildDir) {
    return new OpenSslCa(undefined, { root: buildFacts(buildDir).rootCertificate });
  }

  // Another root of the same name and a key of its own: what an impostor
  // makes to pass for this authority.
  impostor() {
    return new OpenSslCa(this.commonName);
  }

  #file(name) {
    this.files += 1;
    return path.join(this.dir, `${this.files}-${name}`);
  }

  // A certificate (PEM) for the request (PEM), with the request's subject and
  // key and the given serial (BigInt, number or decimal text); without one,
  // a new random serial as openssl makes it (20 bytes). days < 0 makes one
  // that has expired already.
  issue(requestPem, serial, { days = 30 } = {}) {
    const request = this.#file('request.pem');
    fs.writeFileSync(request, requestPem);
    const serialOptions = serial === undefined
      ? ['-CAcreateserial', '-CAserial', this.#file('serial.srl')]
      : ['-set_serial', serialArgument(serial)];
    return openssl(['x509', '-req', '-in', request, '-CA', this.certFile, '-CAkey', this.keyFile,
                    ...serialOptions, '-days', String(days), '-sha256']);
  }

  // The same authority's certificate for the request as CFSSL issues it: its
  // default random serial, and only once Go's crypto/x509 has parsed the
  // request and checked its signature (it refuses a bad one).
  issueWithCfssl(requestPem) {
    const request = this.#file('request.pem');
    fs.writeFileSync(request, requestPem);
    const out = execFileSync('cfssl', ['sign', '-loglevel', '5', '-ca', this.certFile,
                                       '-ca-key', this.keyFile, request],
                             { encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
    return JSON.parse(out).cert;
  }

  // A certificate from this authority for a fresh key of openssl's own
  // (bits long), so that no pending key of the plug-in matches it.
  issueForNewKey(serial, { bits = 1024, commonName = 'Someone Else' } = {}) {
    const key = this.#file('other.key');
    const request = openssl(['req', '-new', '-newkey', `rsa:${bits}`, '-nodes', '-keyout', key,
                             '-utf8', '-subj', `/CN=${subjValue(commonName)}`]);
    return this.issue(request, serial);
  }

  // The serial of a PEM certificate, as a BigInt.
  serialOf(certificatePem) {
    const text = openssl(['x509', '-noout', '-serial'], { input: certificatePem });
    return BigInt(`0x${/serial=([0-9A-Fa-f]+)/.exec(text)[1]}`);
  }

  // Whether signature (bytes) is an RSA PKCS #1 v1.5 signature of data
  // (bytes) with the digest (sha1, sha256, ...) by the certificate's key, as
  // openssl dgst -verify judges it; with openssl's own words.
  verify(certificatePem, data, signature, digest = 'sha1') {
    const publicKey = this.#file('public.pem');
    const dataFile = this.#file('data.bin');
    const signatureFile = this.#file('signature.bin');
    fs.writeFileSync(publicKey, openssl(['x509', '-noout', '-pubkey'], { input: certificatePem }));
    fs.writeFileSync(dataFile, data);
    fs.writeFileSync(signatureFile, signature);
    try {
      const out = openssl(['dgst', `-${digest}`, '-verify', publicKey, '-signature', signatureFile,
                           dataFile]);
      return { verified: out.trim() === 'Verified OK', output: out.trim() };
    } catch (error) {
      return { verified: false, output: `${error.stdout ?? ''}${error.stderr ?? ''}`.trim() };
    }
  }

  // Whether der (bytes) is a CMS SignedData that openssl cms -verify accepts
  // against this authority's root alone (the signer's certificate must be in
  // it), given the content when it is detached; with openssl's words, the
  // content it verified, the digest named and the signer's issuer and serial
  // (null when it is named otherwise), as openssl prints them.
  verifyCms(der, detachedContent) {
    const signed = this.#file('signed.der');
    const verified = this.#file('verified.bin');
    fs.writeFileSync(signed, der);
    const content = detachedContent === undefined ? [] : ['-content', this.#file('content.bin')];
    if (content.length > 0) fs.writeFileSync(content[1], detachedContent);
    const run = spawnSync('openssl', ['cms', '-verify', '-binary', '-inform', 'DER', '-in', signed,
                                      '-CAfile', this.certFile, ...content, '-out', verified],
                          { encoding: 'utf8' });
    const output = `${run.stdout ?? ''}${run.stderr ?? ''}`.trim();
    const printed = spawnSync('openssl', ['cms', '-cmsout', '-print', '-inform', 'DER', '-in', signed],
                              { encoding: 'utf8' }).stdout ?? '';
    return {
      verified: run.status === 0 && /Verification successful/.test(output),
      output,
      content: fs.existsSync(verified) ? fs.readFileSync(verified) : null,
      digest: /digestAlgorithm:\s*algorithm:\s*(\S+)/.exec(printed)?.[1] ?? null,
      signer: /issuerAndSerialNumber:\s*issuer: (.*)\n\s*serialNumber: (\S+)/.exec(printed)?.slice(1) ?? null,
    };
  }

  remove() {
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

module.exports = { OpenSslCa, certificateCommonName };

// node tools/node/ca.js --authority DIR: the authority the tests and the main
// job issue from, made once in DIR (root.pem, root.key) and kept there; the
// Windows builds embed its root, as an authority builds the plug-in with its
// own. Prints the root's path.
if (require.main === module) {
  const dir = process.argv[2] === '--authority' && process.argv[3];
  if (!dir) {
    console.error('usage: node tools/node/ca.js --authority DIR');
    process.exit(2);
  }
  const root = path.join(path.resolve(dir), 'root.pem');
  if (!fs.existsSync(root) || !fs.existsSync(keyFileOf(root))) {
    fs.mkdirSync(path.dirname(root), { recursive: true });
    makeRoot('ZVCERT Root CA', root, keyFileOf(root), { days: 3650, organization: 'ZV Test Authority' });
  }
  console.log(root);
}
