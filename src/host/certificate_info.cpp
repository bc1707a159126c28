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

// Lower-case hex of bytes, for digests.
std::string Hex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const uint8_t b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

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
  info.thumbprint = Hex(DerDigest(cert));

  const CRYPT_INTEGER_BLOB& blob = cert->pCertInfo->SerialNumber;
  const std::span<const uint8_t> bytes(blob.pbData, blob.cbData);
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (size_t i = bytes.size(); i-- > 0;) {
    info.serialHex += kDigits[bytes[i] >> 4];
    info.serialHex += kDigits[bytes[i] & 15];
  }
  const size_t significant = SignificantLength(bytes);
  if (significant <= sizeof(SerialValue)) {
    SerialValue value{};
    for (size_t i = 0; i < significant; ++i) value[i] = bytes[i];
    info.serial = Int64ToDecimal(value).data();
  }
  return info;
}

}  // namespace

std::optional<Sha256Digest> ThumbprintBytes(std::string_view thumbprint) {
  Sha256Digest bytes{};
  if (thumbprint.size() != 2 * bytes.size()) return std::nullopt;
  for (size_t i = 0; i < thumbprint.size(); ++i) {
    const char c = thumbprint[i];
    const int value = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (value < 0) return std::nullopt;
    bytes[i / 2] = static_cast<uint8_t>(bytes[i / 2] << 4 | value);
  }
  return bytes;
}

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

bool DecodeSignData(std::string_view base64, std::string& bytes) {
  bytes.clear();
  const uint64_t room = Base64DecodeRoom(base64.size());
  if (room > INT32_MAX) return false;
  bytes.resize(room);
  int32_t length = 0;
  if (Base64DecodeText(base64.data(), static_cast<int32_t>(base64.size()),
                       reinterpret_cast<uint8_t*>(bytes.data()), static_cast<int32_t>(room),
                       &length) != 0) {
    bytes.clear();
    return false;
  }
  bytes.resize(static_cast<size_t>(length));
  return true;
}

DataInfo DescribeSignData(std::string_view base64) {
  DataInfo info;
  std::string bytes;
  if (!DecodeSignData(base64, bytes)) return info;
  info.valid = true;
  info.size = bytes.size();
  info.sha256 = Hex(Sha256({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}));
  ShownText shown = ShowSignedText(bytes);
  info.printable = shown.isText;
  info.text = std::move(shown.text);
  info.escaped = shown.escaped;
  info.folded = shown.folded;
  info.unshown = shown.unshown;
  return info;
}

}  // namespace zvhost
