#include "support/request_checks.h"

#include <algorithm>
#include <fstream>

#include "store/build_profile.h"
#include "support/hex.h"
#include "support/test_ca.h"

namespace zvcert::testing {
namespace {

constexpr size_t kModulusOffset = 20;  // after BLOBHEADER and RSAPUBKEY
constexpr size_t kModulusBytes = kKeyBits / 8;
// The build's hash, and a provider type that offers every hash (PROV_RSA_AES).
constexpr ALG_ID kHash = kSignatureHash == SignatureHash::Sha256   ? CALG_SHA_256
                         : kSignatureHash == SignatureHash::Sha384 ? CALG_SHA_384
                         : kSignatureHash == SignatureHash::Sha512 ? CALG_SHA_512
                                                                   : CALG_SHA1;
constexpr DWORD kVerifyProvider = PROV_RSA_AES;

// The size of the DER element at the start of der, header included, and the
// header's size; 0 when it does not fit.
size_t ElementSize(std::span<const uint8_t> der, size_t* header) {
  if (der.size() < 2) return 0;
  size_t length = der[1];
  *header = 2;
  if (length >= 0x80) {
    const size_t bytes = length & 0x7F;
    if (bytes == 0 || bytes > 3 || der.size() < 2 + bytes) return 0;
    length = 0;
    for (size_t i = 0; i < bytes; ++i) length = (length << 8) | der[2 + i];
    *header += bytes;
  }
  return *header + length <= der.size() ? *header + length : 0;
}

// The nth element (0: version, 1: subject, 2: key) of the request info.
std::vector<uint8_t> RequestInfoElement(std::span<const uint8_t> der, size_t nth) {
  const auto request = DerParts(der);
  const auto info = request.empty() ? request : DerParts(request[0]);
  if (info.size() <= nth) return {};
  return {info[nth].begin(), info[nth].end()};
}

}  // namespace

std::vector<uint8_t> ModulusOfBlob(std::span<const uint8_t> blob) {
  std::vector<uint8_t> modulus(blob.begin() + kModulusOffset,
                               blob.begin() + kModulusOffset + kModulusBytes);
  std::reverse(modulus.begin(), modulus.end());
  return modulus;
}

std::span<const uint8_t> DerContent(std::span<const uint8_t> der) {
  size_t header = 0;
  const size_t size = ElementSize(der, &header);
  return size != 0 && size == der.size() ? der.subspan(header) : std::span<const uint8_t>();
}

std::vector<std::span<const uint8_t>> DerParts(std::span<const uint8_t> der) {
  std::vector<std::span<const uint8_t>> parts;
  size_t header = 0;
  for (auto rest = DerContent(der); !rest.empty(); rest = rest.subspan(parts.back().size())) {
    const size_t size = ElementSize(rest, &header);
    if (size == 0) return {};
    parts.push_back(rest.first(size));
  }
  return parts;
}

std::vector<uint8_t> NameOfRequest(std::span<const uint8_t> der) {
  return RequestInfoElement(der, 1);
}

std::vector<uint8_t> PublicKeyInfoOfRequest(std::span<const uint8_t> der) {
  return RequestInfoElement(der, 2);
}

bool RequestVerifies(std::span<const uint8_t> der, std::span<const uint8_t> modulus) {
  const auto parts = DerParts(der);  // request info, algorithm, BIT STRING
  if (parts.size() != 3 || DerContent(parts[2]).empty()) return false;
  const auto info = parts[0];
  const auto bits = DerContent(parts[2]);
  // Without the unused-bits byte, little-endian as the platform wants it.
  std::vector<uint8_t> signature(bits.rbegin(), bits.rend() - 1);

  // The key as a PUBLICKEYBLOB with exponent 65537 and the modulus's length.
  std::vector<uint8_t> blob = Hex("06 02 00 00 00 24 00 00 52 53 41 31 00 00 00 00 01 00 01 00");
  const uint32_t bitLength = static_cast<uint32_t>(modulus.size() * 8);
  for (int i = 0; i < 4; ++i) blob[12 + i] = static_cast<uint8_t>(bitLength >> (8 * i));
  blob.insert(blob.end(), modulus.rbegin(), modulus.rend());

  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextA(&prov, nullptr, nullptr, kVerifyProvider, CRYPT_VERIFYCONTEXT))
    return false;
  HCRYPTKEY key = 0;
  HCRYPTHASH hash = 0;
  bool ok = CryptImportKey(prov, blob.data(), blob.size(), 0, 0, &key) &&
            CryptCreateHash(prov, kHash, 0, 0, &hash) &&
            CryptHashData(hash, info.data(), info.size(), 0) &&
            CryptVerifySignatureA(hash, signature.data(), signature.size(), key, nullptr, 0);
  // The request must carry that very modulus.
  ok = ok && std::search(der.begin(), der.end(), modulus.begin(), modulus.end()) != der.end();
  if (hash) CryptDestroyHash(hash);
  if (key) CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
  return ok;
}

bool CertSignAnswerVerifies(const std::vector<uint8_t>& certificate, const std::string& data,
                            const std::string& answer) {
  const std::vector<uint8_t> bytes = PlatformFromBase64(answer);
  if (bytes.size() != kSerialBytes + kModulusBytes) return false;
  // The signature after the serial, little-endian as the platform wants it.
  std::vector<uint8_t> signature(bytes.rbegin(), bytes.rend() - kSerialBytes);
  PCCERT_CONTEXT cert =
      CertCreateCertificateContext(X509_ASN_ENCODING, certificate.data(), certificate.size());
  if (cert == nullptr) return false;
  HCRYPTPROV prov = 0;
  HCRYPTKEY key = 0;
  HCRYPTHASH hash = 0;
  const bool ok =
      CryptAcquireContextA(&prov, nullptr, nullptr, kVerifyProvider, CRYPT_VERIFYCONTEXT) &&
      CryptImportPublicKeyInfo(prov, X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo,
                               &key) &&
      CryptCreateHash(prov, kHash, 0, 0, &hash) &&
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
