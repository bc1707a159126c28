// An X.509 certificate read from its DER without any platform: what a store
// that holds certificates as bytes (a PKCS #11 token) needs to find the
// authority's certificates, name them and check the root's signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zvcert {

// Views into the DER the certificate was read from; valid while it lives.
struct CertificateView {
  std::span<const uint8_t> der;            // the whole Certificate
  std::span<const uint8_t> toBeSigned;     // the TBSCertificate, tag and length included
  std::span<const uint8_t> serial;         // the INTEGER's content bytes, big-endian
  std::span<const uint8_t> issuer;         // the issuer Name, tag and length included
  std::span<const uint8_t> subject;        // the subject Name, tag and length included
  std::span<const uint8_t> publicKeyInfo;  // SubjectPublicKeyInfo, tag and length included
  // The RSA key's modulus and public exponent, big-endian without leading
  // zero bytes; empty when the key is not rsaEncryption.
  std::span<const uint8_t> modulus;
  std::span<const uint8_t> exponent;
  std::span<const uint8_t> signatureAlgorithm;  // the OID's content bytes
  std::span<const uint8_t> signature;           // the BIT STRING's bytes after its unused-bits byte
  int64_t notBefore = 0;                        // seconds since 1970-01-01 00:00:00 UTC
  int64_t notAfter = 0;
};

// False for anything that is not one DER Certificate (v1 to v3) filling der
// exactly; view is then unspecified. Beyond DER's own rules, the signature
// algorithm inside and outside the TBSCertificate must be the same bytes, the
// signature whole bytes, and an rsaEncryption key a well-formed RSAPublicKey;
// an explicit v1 version, which some old roots carry, is let pass.
bool ReadCertificate(std::span<const uint8_t> der, CertificateView& view);

// The value of the first attribute of type oid (dotted text, "2.5.4.3") in a
// Name, as UTF-8: UTF8String, PrintableString, IA5String, NumericString and
// VisibleString (bytes above 0x7F invalid), TeletexString (read as Latin-1),
// BMPString and UniversalString are converted, invalid sequences becoming
// U+FFFD. False when the Name has no such attribute, its value is of another
// type, the Name is malformed anywhere, or oid is not dotted OID text.
bool NameAttributeText(std::span<const uint8_t> name, std::string_view oid, std::string& text);

// "YYYY-MM-DD hh:mm:ss UTC".
std::string FormatUtcTime(int64_t secondsSince1970);

// Whether the certificate's signature verifies with the RSA public key
// (big-endian modulus and exponent): PKCS #1 v1.5 with the hash its
// signatureAlgorithm names (sha1, sha256, sha384 or sha512 WithRSAEncryption).
// False for any other algorithm, a key under 1024 or over 4096 bits, or a
// malformed signature.
bool SignatureVerifies(const CertificateView& cert, std::span<const uint8_t> modulus,
                       std::span<const uint8_t> exponent);

}  // namespace zvcert
