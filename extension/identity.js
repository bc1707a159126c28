#!/usr/bin/env node
'use strict';
// The extension's identity, which the extension, the host's manifests and the
// installer must agree on: the native-messaging host's name, the extension's
// public key (which fixes its Chromium id) and its Firefox add-on id.
//
//   node extension/identity.js --out DIR --host-name com.example.ca.zvcert --firefox-id zvcert@example-ca.com
//        makes a new key pair: DIR/identity.json (public key, ids, host name) and
//        DIR/extension-key.pem (the private key, readable by its owner only; it
//        packs the extension with that id). Never overwrites either.
//   node extension/identity.js --check FILE [--release]
//        exits 2 with the reason when FILE is no usable identity or, with
//        --release, when any value is the development identity's.

const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const util = require('node:util');

class IdentityError extends Error {}

// SHA-256 of the values of extension/identity.json, which is committed and
// so public: anyone can load an extension with its ids, and a host that
// admits them serves it. Fixed here, so that a copy of that file, or one
// edited in only some fields, is still recognised.
const DEVELOPMENT_FINGERPRINTS = {
  publicKey: '2b88472aadef273ee41953bca42df9573b9c8fc035134b71f1967e94988dd25f',
  chromiumId: '8228da1a53bb9046535fa00445c348727b142960b2aca9e6114d90e093e88214',
  firefoxId: '186e6b23e611078da7081f862904f49b786cd1dd935fb0475b37440070bf54fc',
  hostName: 'fe2ce9811d23bbb7dab66cff1c5abe9923d7d87275147f019971d61ad6d1bd84',
};
const FIELDS = Object.keys(DEVELOPMENT_FINGERPRINTS);
const sha256 = (bytes) => crypto.createHash('sha256').update(bytes).digest('hex');
// The key is compared as DER, so that another Base64 layout is no escape.
const fingerprint = (field, value) =>
  sha256(field === 'publicKey' ? Buffer.from(value, 'base64') : value.toLowerCase());

// What Chromium accepts as a host name; it is also a registry key name.
const HOST_NAME = /^[a-z0-9_]+(\.[a-z0-9_]+)*$/;
// The two forms of add-on id Firefox accepts.
const FIREFOX_ID = /^([A-Za-z0-9._-]*@[A-Za-z0-9._-]+|\{[0-9a-fA-F]{8}(-[0-9a-fA-F]{4}){3}-[0-9a-fA-F]{12}\})$/;

// Chromium's id of an extension key: the first 32 hex digits of the SHA-256
// of its DER, written with the letters a-p.
const chromiumIdOf = (publicKey) =>
  [...sha256(Buffer.from(publicKey, 'base64')).slice(0, 32)].map((c) => String.fromCharCode(97 + parseInt(c, 16))).join('');

// The fields of the given values that are the development identity's.
const developmentFields = (values) =>
  FIELDS.filter((f) => typeof values[f] === 'string' && fingerprint(f, values[f]) === DEVELOPMENT_FINGERPRINTS[f]);

function checkIdentity(identity, release = false) {
  for (const field of FIELDS) {
    if (typeof identity?.[field] !== 'string') throw new IdentityError(`it has no text "${field}"`);
  }
  if (!HOST_NAME.test(identity.hostName)) {
    throw new IdentityError(`hostName "${identity.hostName}" may hold only a-z, 0-9, _ and single dots inside`);
  }
  if (!FIREFOX_ID.test(identity.firefoxId)) {
    throw new IdentityError(`firefoxId "${identity.firefoxId}" is neither name@domain nor a {GUID}`);
  }
  try {
    crypto.createPublicKey({ key: Buffer.from(identity.publicKey, 'base64'), format: 'der', type: 'spki' });
  } catch {
    throw new IdentityError('publicKey is not a Base64 DER public key');
  }
  const id = chromiumIdOf(identity.publicKey);
  if (identity.chromiumId !== id) {
    throw new IdentityError(`chromiumId "${identity.chromiumId}" is not publicKey's id, ${id}`);
  }
  const development = release ? developmentFields(identity) : [];
  if (development.length > 0) {
    throw new IdentityError(`${development.join(', ')} ${development.length > 1 ? 'are' : 'is'} the development ` +
      "identity's, which is public: a release needs the authority's own (node extension/identity.js --out DIR " +
      '--host-name NAME --firefox-id ID; see docs/extension.md)');
  }
  return identity;
}

function readIdentity(file, release = false) {
  let identity;
  try {
    identity = JSON.parse(fs.readFileSync(file, 'utf8'));
  } catch (error) {
    throw new IdentityError(`cannot read ${file}: ${error.message}`);
  }
  return checkIdentity(identity, release);
}

// A new identity for an authority, and the private key of its public key.
function makeIdentity({ hostName, firefoxId }) {
  const { publicKey, privateKey } = crypto.generateKeyPairSync('rsa', { modulusLength: 2048 });
  const key = publicKey.export({ type: 'spki', format: 'der' }).toString('base64');
  const identity = checkIdentity({ hostName, chromiumId: chromiumIdOf(key), firefoxId, publicKey: key }, true);
  return { identity, privateKeyPem: privateKey.export({ type: 'pkcs8', format: 'pem' }) };
}

function writeIdentity(out, options) {
  const files = { identity: path.join(out, 'identity.json'), key: path.join(out, 'extension-key.pem') };
  for (const file of Object.values(files)) {
    if (fs.existsSync(file)) throw new IdentityError(`${file} exists: an identity is never overwritten`);
  }
  const { identity, privateKeyPem } = makeIdentity(options);
  fs.mkdirSync(out, { recursive: true });
  fs.writeFileSync(files.key, privateKeyPem, { mode: 0o600, flag: 'wx' });
  fs.writeFileSync(files.identity, `${JSON.stringify(identity, null, 2)}\n`, { flag: 'wx' });
  return { identity, files };
}

module.exports = { IdentityError, checkIdentity, readIdentity, makeIdentity, writeIdentity, developmentFields };

if (require.main === module) {
  const { values } = util.parseArgs({
    options: {
      out: { type: 'string' }, 'host-name': { type: 'string' }, 'firefox-id': { type: 'string' },
      check: { type: 'string' }, release: { type: 'boolean', default: false },
    },
  });
  try {
    if (values.check !== undefined) {
      readIdentity(values.check, values.release);
    } else if (values.out && values['host-name'] && values['firefox-id']) {
      const { identity, files } = writeIdentity(values.out, { hostName: values['host-name'], firefoxId: values['firefox-id'] });
      console.log(`extension id ${identity.chromiumId} (Firefox ${identity.firefoxId}), host ${identity.hostName}:\n` +
        `  ${files.identity}\n  ${files.key} (private: keep it apart, never ship or commit it)`);
    } else {
      console.error('usage: node extension/identity.js --out DIR --host-name NAME --firefox-id ID\n' +
        '       node extension/identity.js --check FILE [--release]');
      process.exit(2);
    }
  } catch (error) {
    if (!(error instanceof IdentityError)) throw error;
    console.error(error.message);
    process.exit(2);
  }
}
