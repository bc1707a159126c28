// Read-only searches of "MY" for the authority's certificates.
#include <algorithm>
#include <array>

#include "encoding/utf16.h"
#include "store/handles.h"
#include "store/root_certificate.h"
#include "store/store_services.h"

namespace zvcert {
namespace {

constexpr DWORD kNameArea = 256;

std::span<const uint8_t> SerialOf(PCCERT_CONTEXT cert) {
  const CRYPT_INTEGER_BLOB& serial = cert->pCertInfo->SerialNumber;
  return {serial.pbData, serial.cbData};
}

// The subject attribute compared as UTF-8, as script writes it.
bool SubjectAttributeIs(PCCERT_CONTEXT cert, const char* oid, std::string_view value) {
  std::array<wchar_t, kNameArea> name;
  const DWORD units =
      platform.getNameAttributeW(cert, kSubjectNameNoUtf8, oid, name.data(), kNameArea);
  if (units == 0) return false;
  name.back() = L'\0';
  const std::u16string_view text(reinterpret_cast<const char16_t*>(name.data()),
                                 std::char_traits<wchar_t>::length(name.data()));
  std::array<char, kNameArea * kMaxUtf8BytesPerUtf16Unit> utf8;
  const size_t length = Utf16ToUtf8(text, utf8);
  return value == std::string_view(utf8.data(), length);
}

}  // namespace

Sha256Digest DerDigest(PCCERT_CONTEXT cert) {
  return Sha256({cert->pbCertEncoded, cert->cbCertEncoded});
}

bool IssuedByAuthority(PCCERT_CONTEXT cert, std::string_view issuerName, AuthorityCheck rule) {
  std::array<char, kNameArea> name;
  if (platform.getNameAttribute(cert, kIssuerName, kCommonNameOid, name.data(), kNameArea) == 0) {
    return false;
  }
  name.back() = '\0';
  if (issuerName != name.data()) return false;
  return rule == AuthorityCheck::Name || SignedByRoot(cert);
}

PCCERT_CONTEXT LocateCertBySerial(HCERTSTORE store, const SerialValue& serial,
                                  std::string_view issuerName, AuthorityCheck rule,
                                  std::span<const uint8_t> sha256) {
  for (PCCERT_CONTEXT cert = platform.enumCertificates(store, nullptr); cert != nullptr;
       cert = platform.enumCertificates(store, cert)) {
    if (!SerialMatches(SerialOf(cert), serial)) continue;
    if (!sha256.empty() && !std::ranges::equal(sha256, DerDigest(cert))) continue;
    if (IssuedByAuthority(cert, issuerName, rule)) return cert;
  }
  return nullptr;
}

FindResult FindCertSerial(const char* oid, std::string_view value, std::string_view issuerName,
                          SerialValue& serial) {
  ScopedStore store(platform.openPersonalStore());
  if (!store) return FindResult::StoreNotOpened;
  for (PCCERT_CONTEXT cert = platform.enumCertificates(store.get(), nullptr); cert != nullptr;
       cert = platform.enumCertificates(store.get(), cert)) {
    if (!SubjectAttributeIs(cert, oid, value) || !IssuedByAuthority(cert, issuerName)) continue;
    const ScopedCertificate found(cert);
    serial.fill(0);
    const std::span<const uint8_t> bytes = SerialOf(cert);
    std::copy(bytes.begin(), bytes.begin() + std::min(bytes.size(), serial.size()), serial.begin());
    return FindResult::Found;
  }
  return FindResult::NotFound;
}

PresenceResult IsCertInStore(const SerialValue& serial, std::string_view issuerName) {
  ScopedStore store(platform.openPersonalStore());
  if (!store) return PresenceResult::StoreNotOpened;
  const ScopedCertificate found(LocateCertBySerial(store.get(), serial, issuerName));
  return found ? PresenceResult::Present : PresenceResult::Absent;
}

}  // namespace zvcert
