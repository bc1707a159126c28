#include "host/certificate_info.h"

#include <array>
#include <string>

#include "encoding/pem_certificate.h"
#include "encoding/utf16.h"
#include "script/attribute_table.h"
#include "script/root_certificate.h"
#include "script/serial_text.h"
#include "store/handles.h"
#include "store/serial.h"
#include "store/store_services.h"

namespace zvhost {
namespace {

using namespace zvcert;

constexpr DWORD kNameArea = 256;

std::string NameAttribute(PCCERT_CONTEXT cert, DWORD which, const char* oid) {
  std::array<wchar_t, kNameArea> name{};
  const DWORD units = platform.getNameAttributeW(cert, which | kSubjectNameNoUtf8, oid,
                                                 name.data(), kNameArea);
  if (units <= 1) return {};
  name.back() = L'\0';
  const std::u16string_view text(reinterpret_cast<const char16_t*>(name.data()),
                                 std::char_traits<wchar_t>::length(name.data()));
  std::array<char, kNameArea * kMaxUtf8BytesPerUtf16Unit> utf8;
  return std::string(utf8.data(), Utf16ToUtf8(text, utf8));
}

CertificateInfo Describe(PCCERT_CONTEXT cert) {
  CertificateInfo info;
  info.found = true;
  for (const AttributeKey& entry : kAttributeTable) {
    const std::string value = NameAttribute(cert, kSubjectName, entry.oid);
    if (value.empty()) continue;
    if (!info.subject.empty()) info.subject += ", ";
    info.subject.append(entry.key).append("=").append(value);
  }
  info.issuer = NameAttribute(cert, kIssuerName, kCommonNameOid);

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

CertificateInfo DescribeStoredCertificate(std::string_view serialText) {
  std::array<char, 128> rootName{};
  ReadRootIssuerName(rootName);
  CertificateInfo info;
  // Read exactly as DelCert and CertSign read it: cut, then converted.
  const SerialValue serial = SerialArgument(serialText);
  info.serial = Int64ToDecimal(serial).data();
  ScopedStore store(platform.openPersonalStore());
  if (!store || rootName[0] == '\0') return info;
  const ScopedCertificate cert(
      LocateCertBySerial(store.get(), serial, rootName.data()));
  if (!cert) return info;
  return Describe(cert.get());
}

CertificateInfo DescribePemCertificate(const std::string& pem) {
  PCCERT_CONTEXT cert = ParsePemCertificate(pem.c_str());
  if (cert == nullptr) return {};
  CertificateInfo info = Describe(cert);
  platform.deleteCertificate(cert);  // frees the context
  return info;
}

}  // namespace zvhost
