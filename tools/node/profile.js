'use strict';
// The profile a Windows build folder was configured with (key size, hash,
// serial length), read from its CMake cache, and what follows from it for
// what the plug-in gives back.

const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');

function buildProfile(buildDir) {
  const cache = fs.readFileSync(path.join(buildDir, 'CMakeCache.txt'), 'utf8');
  const value = (name, fallback) => new RegExp(`^${name}:[A-Z]+=(.*)$`, 'm').exec(cache)?.[1] ?? fallback;
  const keyBits = Number(value('ZVCERT_KEY_BITS', '1024'));
  const hash = value('ZVCERT_SIGNATURE_HASH', 'SHA1');
  const serialBytes = Number(value('ZVCERT_SERIAL_BYTES', '8'));
  // name, or signature: the plug-in's lookups also check the root's signature.
  const authorityCheck = value('ZVCERT_AUTHORITY_CHECK', 'name');
  // memory, or store: a request's key waits in the user's key store.
  const pendingKeys = value('ZVCERT_PENDING_KEYS', 'memory');
  const pendingLimit = Number(value('ZVCERT_PENDING_LIMIT', '8'));
  return {
    keyBits, hash, serialBytes, authorityCheck, pendingKeys, pendingLimit,
    name: `RSA-${keyBits}, ${hash}, ${serialBytes}-byte serials${authorityCheck === 'signature' ? ', the root\'s signature checked' : ''}` +
      (pendingKeys === 'store' ? ', keys pending in the store' : ''),
    digest: hash.toLowerCase(),        // as openssl dgst names it
    signatureBytes: keyBits / 8,
    providerType: hash === 'SHA1' ? 1 : 24,  // PROV_RSA_FULL, else PROV_RSA_AES
  };
}

// CertSign's bytes: the serial (serialBytes, big-endian), then the signature.
function splitSignature(bytes, profile) {
  const field = bytes.subarray(0, profile.serialBytes);
  return { serial: BigInt(`0x${field.toString('hex') || '0'}`), signature: bytes.subarray(profile.serialBytes) };
}

// What FindCert reports for a certificate with this serial (its low
// serialBytes bytes; "" for 0, and for a set top bit of an 8-byte value), and
// whether IsCertExist, CertSign and DelCert reach it by its serial.
function serialView(serial, profile) {
  const held = BigInt.asUintN(8 * profile.serialBytes, serial);
  const negative = profile.serialBytes === 8 && held >> 63n !== 0n;
  const significant = serial === 0n ? 1 : Math.ceil(serial.toString(16).length / 2);
  return { found: held === 0n || negative ? '' : held.toString(), reachable: significant <= profile.serialBytes };
}

// A serial for a new certificate that the build reaches by serial and
// FindCert reports: the CA tool's own random 20 bytes where the build reads
// 20, else random bits up to the build's top bit (63 for 8 bytes, which
// FindCert would report as "" when set). undefined means "let the CA pick".
function demoSerial(profile) {
  if (profile.serialBytes >= 20) return undefined;
  const bits = BigInt(8 * profile.serialBytes - 1);
  return BigInt.asUintN(Number(bits), BigInt(`0x${crypto.randomBytes(profile.serialBytes).toString('hex')}`)) | 1n;
}

module.exports = { buildProfile, demoSerial, splitSignature, serialView };
