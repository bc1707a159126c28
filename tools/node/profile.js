'use strict';
// The profile a Windows build folder was configured with (key size, hash,
// serial length), read from the profile.json its configuration wrote, and
// what follows from it for what the plug-in gives back.

const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');

// <build>/profile.json as cmake/BuildProfile.cmake writes it (its fields:
// docs/building.md#what-scripts-read-of-a-build).
function buildFacts(buildDir) {
  return JSON.parse(fs.readFileSync(path.join(buildDir, 'profile.json'), 'utf8'));
}

function buildProfile(buildDir) {
  const build = buildFacts(buildDir);
  const { keyBits, signatureHash, serialBytes, authorityCheck, pendingKeys } = build;
  return {
    ...build,
    name: `RSA-${keyBits}, ${signatureHash}, ${serialBytes}-byte serials${authorityCheck === 'signature' ? ', the root\'s signature checked' : ''}` +
      (pendingKeys === 'store' ? ', keys pending in the store' : ''),
    digest: signatureHash.toLowerCase(),        // as openssl dgst names it
    signatureBytes: keyBits / 8,
    providerType: signatureHash === 'SHA1' ? 1 : 24,  // PROV_RSA_FULL, else PROV_RSA_AES
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

module.exports = { buildFacts, buildProfile, demoSerial, splitSignature, serialView };

// For the shell scripts: node profile.js <build dir> <field> prints the
// field's value ("" for one the build does not have).
if (require.main === module) {
  const [buildDir, field] = process.argv.slice(2);
  console.log(buildFacts(buildDir)[field] ?? '');
}
