// What the consent window names, what the chooser lists and the CMS
// signature, for the certificates on the token: read from their DER by the
// portable reader, by the same rules as on Windows.
#include <array>
#include <ctime>
#include <memory>
#include <string>

#include "encoding/pem.h"
#include "encoding/sha1.h"
#include "encoding/sha256.h"
#include "encoding/sha512.h"
#include "encoding/text_copy.h"
#include "host/certificate_info.h"
#include "host/consent_text.h"
#include "request/cms_signed_data.h"
#include "store/attribute_table.h"
#include "store/certificate_reader.h"
#include "store/serial_text.h"
#include "token/token_store.h"
#include "tokenhost/direct_members.h"
#include "tokenhost/token_host.h"

namespace zvhost {
namespace {

using namespace zvcert;

TokenStore* tokenStore = nullptr;

constexpr char kCommonNameOid[] = "2.5.4.3";

// The root's common name, as the store's lookups take it; empty when the
// root cannot be read.
std::string RootName() {
  std::array<char, 128> name{};
  if (tokenStore != nullptr) tokenStore->ReadRootIssuerName(name);
  return name.data();
}

bool SignedByRoot(const CertificateView& cert) {
  return tokenStore != nullptr && tokenStore->IssuedByRoot(cert);
}

// The serial as the plug-in holds it: least significant byte first.
std::vector<uint8_t> SerialBytes(const CertificateView& cert) {
  return std::vector<uint8_t>(cert.serial.rbegin(), cert.serial.rend());
}

CertificateInfo Describe(std::span<const uint8_t> der) {
  CertificateInfo info;
  CertificateView cert;
  if (!ReadCertificate(der, cert)) return info;
  info.found = true;
  for (const AttributeKey& entry : kAttributeTable) {
    std::string value;
    if (!NameAttributeText(cert.subject, entry.oid, value) || value.empty()) continue;
    if (!info.subject.empty()) info.subject += ", ";
    info.subject.append(entry.key).append("=").append(ShowName(value).text);
  }
  std::string issuer;
  NameAttributeText(cert.issuer, kCommonNameOid, issuer);
  info.issuer = ShowName(issuer).text;
  info.notBefore = FormatUtcTime(cert.notBefore);
  info.notAfter = FormatUtcTime(cert.notAfter);
  info.expired = cert.notAfter < static_cast<int64_t>(std::time(nullptr));
  info.fromAuthority = SignedByRoot(cert);
  info.thumbprint = LowerHex(Sha256(der));
  SetSerialTexts(SerialBytes(cert), info);
  return info;
}

// The authority's certificates on the token, as the lookups take them.
std::vector<std::vector<uint8_t>> Certificates() {
  std::vector<std::vector<uint8_t>> ders;
  const std::string root = RootName();
  if (root.empty()) return ders;
  tokenStore->ClearProblem();
  tokenStore->AuthorityCertificates(root, ders);
  return ders;
}

}  // namespace

void UseTokenStore(TokenStore* store) { tokenStore = store; }

CertificateInfo DescribeStoredCertificate(std::string_view serialText,
                                          const Sha256Digest* thumbprint) {
  CertificateInfo info;
  const SerialValue serial = SerialArgument(serialText);
  info.serial = Int64ToDecimal(serial).data();
  info.canonical = CanonicalSerialText(serial).data();
  for (const std::vector<uint8_t>& der : Certificates()) {
    CertificateView cert;
    if (!ReadCertificate(der, cert) || !SerialMatches(SerialBytes(cert), serial)) continue;
    if (thumbprint != nullptr && (Sha256(der) != *thumbprint || !SignedByRoot(cert))) continue;
    CertificateInfo found = Describe(der);
    found.canonical = info.canonical;
    return found;
  }
  return info;
}

CertificateInfo DescribePemCertificate(std::string_view pem) {
  std::string cut(8192, '\0');
  CopyFixed(cut, pem);
  cut.resize(std::char_traits<char>::length(cut.c_str()));
  CertificateInfo info;
  auto area = std::make_unique<DerArea>();
  if (const std::optional<size_t> size = DecodePemCertificate(cut, *area)) {
    info = Describe(std::span<const uint8_t>(area->data(), *size));
  }
  info.canonical = std::move(cut);
  return info;
}

std::vector<CertificateInfo> ListAuthorityCertificates() {
  std::vector<CertificateInfo> list;
  for (const std::vector<uint8_t>& der : Certificates()) {
    CertificateInfo info = Describe(der);
    if (!info.fromAuthority || info.serial.empty()) continue;
    info.canonical = CanonicalSerialText(SerialArgument(info.serial)).data();
    list.push_back(std::move(info));
  }
  return list;
}

bool SignCms(std::string_view serialText, std::span<const uint8_t> data, bool detached,
             const Sha256Digest* thumbprint, std::vector<uint8_t>& der, std::string& error) {
  const std::string root = RootName();
  if (root.empty()) {
    error = "the authority's root cannot be read";
    return false;
  }
  const auto bytes = [](const auto& digest) {
    return std::vector<uint8_t>(digest.begin(), digest.end());
  };
  const std::vector<uint8_t> digest =
      kSignatureHash == SignatureHash::Sha1     ? bytes(Sha1(data))
      : kSignatureHash == SignatureHash::Sha256 ? bytes(Sha256(data))
      : kSignatureHash == SignatureHash::Sha384 ? bytes(Sha384(data))
                                                : bytes(Sha512(data));
  // The signer: the first certificate of the serial (and thumbprint) the
  // root's key signed, named to the token by its own thumbprint.
  const SerialValue serial = SerialArgument(serialText);
  std::vector<uint8_t> signer;
  for (std::vector<uint8_t>& der : Certificates()) {
    CertificateView cert;
    if (!ReadCertificate(der, cert) || !SerialMatches(SerialBytes(cert), serial) ||
        !SignedByRoot(cert) || (thumbprint != nullptr && Sha256(der) != *thumbprint)) {
      continue;
    }
    signer = std::move(der);
    break;
  }
  if (const std::optional<Refusal> refused = RefusalOf(tokenStore->problem())) {
    error = refused->why;
    return false;
  }
  if (signer.empty()) {
    error = "no such certificate from the authority";
    return false;
  }
  CmsSignedDataParts parts{signer, data, detached, kSignatureHash, digest};
  std::vector<uint8_t> attributes, signature, certificate;
  if (WriteCmsSignedAttributes(parts, attributes) != CmsBuildResult::Ok) {
    error = "the data could not be signed";
    return false;
  }
  const Sha256Digest signerThumbprint = Sha256(signer);
  const SignResult signed_ =
      tokenStore->SignWithKeyOf(serial, root, signerThumbprint, attributes, signature, certificate);
  if (signed_ != SignResult::Ok) {
    if (const std::optional<Refusal> refused = RefusalOf(tokenStore->problem())) {
      error = refused->why;
    } else {
      error = signed_ == SignResult::NotFound ? "no such certificate from the authority"
                                              : "the data could not be signed";
    }
    return false;
  }
  if (FinishCmsSignedData(parts, signature, der) != CmsBuildResult::Ok) {
    error = "the data could not be signed";
    return false;
  }
  return true;
}

}  // namespace zvhost
