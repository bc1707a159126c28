#include "support/request_checks.h"

#include <algorithm>
#include <fstream>

#include "support/hex.h"

namespace zvcert::testing {
namespace {

constexpr size_t kModulusOffset = 20;  // after BLOBHEADER and RSAPUBKEY
constexpr size_t kModulusBytes = 128;

// Length of the DER element at der[at] (header and content) and its header.
size_t ElementSize(std::span<const uint8_t> der, size_t at, size_t* header) {
  const uint8_t first = der[at + 1];
  if (first < 0x80) {
    *header = 2;
    return 2 + first;
  }
  const size_t bytes = first & 0x7F;
  size_t length = 0;
  for (size_t i = 0; i < bytes; ++i) length = (length << 8) | der[at + 2 + i];
  *header = 2 + bytes;
  return *header + length;
}

}  // namespace

std::vector<uint8_t> ModulusOfBlob(std::span<const uint8_t> blob) {
  std::vector<uint8_t> modulus(blob.begin() + kModulusOffset,
                               blob.begin() + kModulusOffset + kModulusBytes);
  std::reverse(modulus.begin(), modulus.end());
  return modulus;
}

namespace {

// The nth element (0: version, 1: subject, 2: key) of the request info.
std::vector<uint8_t> RequestInfoElement(std::span<const uint8_t> der, int nth) {
  size_t header = 0;
  ElementSize(der, 0, &header);  // CertificationRequest
  size_t at = header;
  ElementSize(der, at, &header);  // CertificationRequestInfo
  at += header;
  for (int i = 0; i < nth; ++i) at += ElementSize(der, at, &header);
  const size_t size = ElementSize(der, at, &header);
  return std::vector<uint8_t>(der.begin() + at, der.begin() + at + size);
}

}  // namespace

std::vector<uint8_t> NameOfRequest(std::span<const uint8_t> der) {
  return RequestInfoElement(der, 1);
}

std::vector<uint8_t> PublicKeyInfoOfRequest(std::span<const uint8_t> der) {
  return RequestInfoElement(der, 2);
}

bool RequestVerifies(std::span<const uint8_t> der, std::span<const uint8_t> modulus) {
  size_t header = 0;
  ElementSize(der, 0, &header);
  const size_t infoAt = header;
  const size_t infoSize = ElementSize(der, infoAt, &header);
  const size_t algorithmSize = ElementSize(der, infoAt + infoSize, &header);
  const size_t bitsAt = infoAt + infoSize + algorithmSize;
  ElementSize(der, bitsAt, &header);
  std::vector<uint8_t> signature(der.begin() + bitsAt + header + 1, der.end());
  std::reverse(signature.begin(), signature.end());  // the platform wants it little-endian

  // The key as a PUBLICKEYBLOB with exponent 65537.
  std::vector<uint8_t> blob = Hex("06 02 00 00 00 24 00 00 52 53 41 31 00 04 00 00 01 00 01 00");
  blob.insert(blob.end(), modulus.rbegin(), modulus.rend());

  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
    return false;
  HCRYPTKEY key = 0;
  HCRYPTHASH hash = 0;
  bool ok = CryptImportKey(prov, blob.data(), blob.size(), 0, 0, &key) &&
            CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash) &&
            CryptHashData(hash, der.data() + infoAt, infoSize, 0) &&
            CryptVerifySignatureA(hash, signature.data(), signature.size(), key, nullptr, 0);
  // The request must carry that very modulus.
  ok = ok && std::search(der.begin(), der.end(), modulus.begin(), modulus.end()) != der.end();
  if (hash) CryptDestroyHash(hash);
  if (key) CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
  return ok;
}

bool Sha1SignatureVerifies(const std::vector<uint8_t>& certificate, const std::string& data,
                           std::vector<uint8_t> signature) {
  PCCERT_CONTEXT cert =
      CertCreateCertificateContext(X509_ASN_ENCODING, certificate.data(), certificate.size());
  if (cert == nullptr) return false;
  std::reverse(signature.begin(), signature.end());  // the platform wants it little-endian
  HCRYPTPROV prov = 0;
  HCRYPTKEY key = 0;
  HCRYPTHASH hash = 0;
  const bool ok =
      CryptAcquireContextA(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
      CryptImportPublicKeyInfo(prov, X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo,
                               &key) &&
      CryptCreateHash(prov, CALG_SHA1, 0, 0, &hash) &&
      CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), data.size(), 0) &&
      CryptVerifySignatureA(hash, signature.data(), signature.size(), key, nullptr, 0);
  if (hash) CryptDestroyHash(hash);
  if (key) CryptDestroyKey(key);
  if (prov) CryptReleaseContext(prov, 0);
  CertFreeCertificateContext(cert);
  return ok;
}

void SaveForVerifier(const std::string& name, const std::string& pem,
                     const RequestExpectations& expected) {
  const std::string base = std::string(ZVCERT_REQUEST_ARTIFACTS) + "/" + name;
  std::ofstream(base + ".pem", std::ios::binary) << pem;
  std::ofstream out(base + ".expect", std::ios::binary);
  out << "subject=" << expected.subject << "\n"
      << "unstructuredName=" << expected.unstructuredName << "\n"
      << "challengePassword=" << expected.challengePassword << "\n"
      << "modulus=" << ToHex(expected.modulus) << "\n";
}

}  // namespace zvcert::testing
