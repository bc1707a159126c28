// Checks on a signed request made under Wine: an independent verification
// with the platform's own primitives, and the files that the native
// verifier (OpenSSL and GnuTLS) reads after the Wine tests have run.
#pragma once

#include <windows.h>

#include <wincrypt.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zvcert::testing {

// The modulus of a PUBLICKEYBLOB or PRIVATEKEYBLOB of the build's key size,
// most significant byte first.
std::vector<uint8_t> ModulusOfBlob(std::span<const uint8_t> blob);

// True when the request's signature verifies over its request info with the
// public key the request carries (the build's hash, PKCS #1 v1.5), and that
// key's modulus is the given one.
bool RequestVerifies(std::span<const uint8_t> der, std::span<const uint8_t> modulus);

// The content of the DER element that fills der exactly, and the elements
// that content is made of (header and content each); empty when der is not
// one such element.
std::span<const uint8_t> DerContent(std::span<const uint8_t> der);
std::vector<std::span<const uint8_t>> DerParts(std::span<const uint8_t> der);

// The subject Name and the SubjectPublicKeyInfo inside a request, as DER.
std::vector<uint8_t> NameOfRequest(std::span<const uint8_t> der);
std::vector<uint8_t> PublicKeyInfoOfRequest(std::span<const uint8_t> der);

// True when CertSign's answer (Base64 of the serial's bytes and the
// signature, both most significant byte first) holds an RSA PKCS #1 v1.5
// signature with the build's hash of data by the key of the certificate (DER).
bool CertSignAnswerVerifies(const std::vector<uint8_t>& certificate, const std::string& data,
                            const std::string& answer);

// What the native verifier checks a request against.
struct RequestExpectations {
  std::string subject;  // as "openssl req -subject -nameopt oneline,-esc_msb,utf8" prints it
  std::string unstructuredName;
  std::string challengePassword;
  std::vector<uint8_t> modulus;  // of the kept private-key blob
};

// Writes NAME.pem and NAME.expect into the verifier's folder.
void SaveForVerifier(const std::string& name, const std::string& pem,
                     const RequestExpectations& expected);

}  // namespace zvcert::testing
