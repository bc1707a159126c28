#include "host/certificate_info.h"

#include <array>
#include <cstdio>
#include <span>
#include <string>

#include "encoding/base64.h"
#include "encoding/sha256.h"
#include "encoding/text_copy.h"
#include "encoding/utf16.h"
#include "host/consent_text.h"
#include "store/attribute_table.h"
#include "store/cms_sign.h"
#include "store/handles.h"
#include "store/pem_certificate.h"
#include "store/root_certificate.h"
#include "store/serial.h"
#include "store/serial_text.h"
#include "store/store_services.h"

namespace zvhost {
namespace {

using namespace zvcert;

constexpr DWORD kNameArea = 256;

std::string NameAttribute(PCCERT_CONTEXT cert, DWORD which, const char* oid) {
  std::array<wchar_t, kNameArea> name{};
  const DWORD units =
      platform.getNameAttributeW(cert, which | kSubjectNameNoUtf8, oid, name.data(), kNameArea);
  if (units <= 1) return {};
  name.back() = L'\0';
  const std::u16string_view text(reinterpret_cast<const char16_t*>(name.data()),
                                 std::char_traits<wchar_t>::length(name.data()));
  std::array<char, kNameArea * kMaxUtf8BytesPerUtf16Unit> utf8;
  return std::string(utf8.data(), Utf16ToUtf8(text, utf8));
}

std::string TimeText(const FILETIME& time) {
  SYSTEMTIME t;
  if (!FileTimeToSystemTime(&time, &t)) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond);
  return text;
}

CertificateInfo Describe(PCCERT_CONTEXT cert) {
  CertificateInfo info;
  info.found = true;
  for (const AttributeKey& entry : kAttributeTable) {
    const std::string value = NameAttribute(cert, kSubjectName, entry.oid);
    if (value.empty()) continue;
    if (!info.subject.empty()) info.subject += ", ";
    // Names are shown by the same rule as the data: none reorders the window.
    info.subject.append(entry.key).append("=").append(ShowName(value).text);
  }
  info.issuer = ShowName(NameAttribute(cert, kIssuerName, kCommonNameOid)).text;
  info.notBefore = TimeText(cert->pCertInfo->NotBefore);
  info.notAfter = TimeText(cert->pCertInfo->NotAfter);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  info.expired = CompareFileTime(&cert->pCertInfo->NotAfter, &now) < 0;
  std::array<char, 128> rootName{};
  ReadRootIssuerName(rootName);
  info.fromAuthority =
      rootName[0] != '\0' && IssuedByAuthority(cert, rootName.data(), AuthorityCheck::Signature);
  info.thumbprint = LowerHex(DerDigest(cert));

  const CRYPT_INTEGER_BLOB& blob = cert->pCertInfo->SerialNumber;
  SetSerialTexts({blob.pbData, blob.cbData}, info);
  return info;
}

}  // namespace

CertificateInfo DescribeStoredCertificate(std::string_view serialText,
                                          const Sha256Digest* thumbprint) {
  std::array<char, 128> rootName{};
  ReadRootIssuerName(rootName);
  CertificateInfo info;
  // Read exactly as DelCert and CertSign read it: cut, then converted.
  const SerialValue serial = SerialArgument(serialText);
  info.serial = Int64ToDecimal(serial).data();
  info.canonical = CanonicalSerialText(serial).data();
  ScopedStore store(platform.openPersonalStore());
  if (!store || rootName[0] == '\0') return info;
  const ScopedCertificate cert(thumbprint
                                   ? LocateCertBySerial(store.get(), serial, rootName.data(),
                                                        AuthorityCheck::Signature, *thumbprint)
                                   : LocateCertBySerial(store.get(), serial, rootName.data()));
  if (!cert) return info;
  CertificateInfo found = Describe(cert.get());
  found.canonical = info.canonical;
  return found;
}

CertificateInfo DescribePemCertificate(std::string_view pem) {
  std::string cut(8192, '\0');
  CopyFixed(cut, pem);
  cut.resize(std::char_traits<char>::length(cut.c_str()));
  CertificateInfo info;
  if (PCCERT_CONTEXT cert = ParsePemCertificate(cut.c_str())) {
    info = Describe(cert);
    platform.deleteCertificate(cert);  // frees the context
  }
  info.canonical = std::move(cut);
  return info;
}

std::vector<CertificateInfo> ListAuthorityCertificates() {
  std::array<char, 128> rootName{};
  ReadRootIssuerName(rootName);
  std::vector<CertificateInfo> list;
  ScopedStore store(platform.openPersonalStore());
  if (!store || rootName[0] == '\0') return list;
  for (PCCERT_CONTEXT cert = platform.enumCertificates(store.get(), nullptr); cert != nullptr;
       cert = platform.enumCertificates(store.get(), cert)) {
    if (!IssuedByAuthority(cert, rootName.data(), AuthorityCheck::Signature)) continue;
    CertificateInfo info = Describe(cert);
    if (info.serial.empty()) continue;
    info.canonical = CanonicalSerialText(SerialArgument(info.serial)).data();
    list.push_back(std::move(info));
  }
  return list;
}

bool SignCms(std::string_view serialText, std::span<const uint8_t> data, bool detached,
             const Sha256Digest* thumbprint, std::vector<uint8_t>& der, std::string& error) {
  std::array<char, 128> rootName{};
  ReadRootIssuerName(rootName);
  if (rootName[0] == '\0') {
    error = "the authority's root cannot be read";
    return false;
  }
  const CmsResult result = SignCmsWithStoredCert(
      SerialArgument(serialText), rootName.data(), data, detached, der,
      thumbprint ? std::span<const uint8_t>(*thumbprint) : std::span<const uint8_t>());
  switch (result) {
    case CmsResult::Ok:
      return true;
    case CmsResult::StoreNotOpened:
      error = "the certificate store cannot be opened";
      break;
    case CmsResult::NotFound:
      error = "no such certificate from the authority";
      break;
    case CmsResult::NoKeyInfo:
    case CmsResult::NoContainerNamed:
      error = "the certificate names no private key";
      break;
    case CmsResult::ContainerNotOpened:
      error = "the certificate's private key cannot be opened";
      break;
    case CmsResult::MessageNotOpened:
    case CmsResult::NotSigned:
    case CmsResult::NotEncoded:
      error = "the data could not be signed";
      break;
  }
  return false;
}

}  // namespace zvhost
