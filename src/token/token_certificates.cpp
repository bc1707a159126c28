// The authority's certificates on the token: found, tested for, deleted with
// their keys, their keys used to sign, and new ones stored beside their keys.
#include <algorithm>
#include <array>

#include "encoding/pem.h"
#include "encoding/sha256.h"
#include "token/token_store.h"

namespace zvcert {
namespace {

constexpr CK_OBJECT_CLASS kCertificateClass = CKO_CERTIFICATE;
constexpr CK_CERTIFICATE_TYPE kX509 = CKC_X_509;
constexpr CK_KEY_TYPE kRsa = CKK_RSA;
constexpr std::string_view kCertificateLabel = "npzvcert certificate";

// CKA_SERIAL_NUMBER holds the whole DER INTEGER: 02, its length, the content.
bool SerialInteger(std::span<const uint8_t> content, std::vector<uint8_t>& integer) {
  if (content.size() > 0xFF) return false;
  integer = {0x02};
  if (content.size() >= 0x80) integer.push_back(0x81);
  integer.push_back(static_cast<uint8_t>(content.size()));
  integer.insert(integer.end(), content.begin(), content.end());
  return true;
}

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

bool TokenStore::Authority(std::string_view issuerName, AuthorityCheck rule,
                           std::vector<Certificate>& found) {
  found.clear();
  std::vector<uint8_t> rootDer;
  CertificateView root;
  // A root that cannot be read signed nothing.
  if (rule == AuthorityCheck::Signature && !ReadRoot(rootDer, root)) return true;
  const std::array match = {Attribute(CKA_CLASS, kCertificateClass),
                            Attribute(CKA_CERTIFICATE_TYPE, kX509)};
  std::vector<CK_OBJECT_HANDLE> objects;
  if (!Succeeded(FindObjects(functions_, session(), match, objects))) return false;
  for (const CK_OBJECT_HANDLE object : objects) {
    Certificate cert{object, {}, {}};
    std::string issuer;
    if (!Succeeded(ReadAttribute(functions_, session(), object, CKA_VALUE, cert.der))) {
      if (sessionLost_) return false;
      continue;
    }
    if (!ReadCertificate(cert.der, cert.view) ||
        !NameAttributeText(cert.view.issuer, kCommonNameOid, issuer) || issuer != issuerName) {
      continue;
    }
    if (rule == AuthorityCheck::Signature &&
        !SignatureVerifies(cert.view, root.modulus, root.exponent)) {
      continue;
    }
    found.push_back(std::move(cert));
  }
  return true;
}

std::optional<TokenStore::Certificate> TokenStore::Locate(const SerialValue& serial,
                                                          std::string_view issuerName,
                                                          AuthorityCheck rule,
                                                          std::span<const uint8_t> thumbprint,
                                                          bool& listed) {
  std::vector<Certificate> certificates;
  listed = Open() && Authority(issuerName, rule, certificates);
  for (Certificate& cert : certificates) {
    // The DER serial is big-endian, a SerialValue the other way round.
    const std::vector<uint8_t> serialValue(cert.view.serial.rbegin(), cert.view.serial.rend());
    if (!SerialMatches(serialValue, serial)) continue;
    if (!thumbprint.empty() && !std::ranges::equal(thumbprint, Sha256(cert.der))) continue;
    return std::move(cert);
  }
  return std::nullopt;
}

std::vector<CK_OBJECT_HANDLE> TokenStore::KeysWithId(CK_OBJECT_CLASS keyClass,
                                                     std::span<const uint8_t> id) {
  const std::array match = {Attribute(CKA_CLASS, keyClass), Attribute(CKA_ID, id)};
  std::vector<CK_OBJECT_HANDLE> keys;
  if (!Succeeded(FindObjects(functions_, session(), match, keys))) keys.clear();
  return keys;
}

StoreProblem TokenStore::AuthorityCertificates(std::string_view issuerName,
                                               std::vector<std::vector<uint8_t>>& ders) {
  const Call call(*this);
  ders.clear();
  std::vector<Certificate> certificates;
  if (!Open() || !Authority(issuerName, kAuthorityCheck, certificates)) return problem_;
  for (Certificate& cert : certificates) ders.push_back(std::move(cert.der));
  return problem_;
}

FindResult TokenStore::FindSerial(const char* oid, std::string_view value,
                                  std::string_view issuerName, SerialValue& serial) {
  const Call call(*this);
  std::vector<Certificate> certificates;
  if (!Open() || !Authority(issuerName, kAuthorityCheck, certificates)) {
    return FindResult::StoreNotOpened;
  }
  for (const Certificate& cert : certificates) {
    std::string text;
    if (oid == nullptr || !NameAttributeText(cert.view.subject, oid, text) || text != value) {
      continue;
    }
    // Least significant byte first, as many as a serial holds.
    serial.fill(0);
    const std::span<const uint8_t> bytes = cert.view.serial;
    for (size_t i = 0; i < serial.size() && i < bytes.size(); ++i) {
      serial[i] = bytes[bytes.size() - 1 - i];
    }
    return FindResult::Found;
  }
  return FindResult::NotFound;
}

PresenceResult TokenStore::IsPresent(const SerialValue& serial, std::string_view issuerName) {
  const Call call(*this);
  bool listed = false;
  const bool found = Locate(serial, issuerName, kAuthorityCheck, {}, listed).has_value();
  if (!listed) return PresenceResult::StoreNotOpened;
  return found ? PresenceResult::Present : PresenceResult::Absent;
}

DeleteResult TokenStore::Delete(const SerialValue& serial, std::string_view issuerName) {
  const Call call(*this);
  bool listed = false;
  const std::optional<Certificate> cert = Locate(serial, issuerName, kAuthorityCheck, {}, listed);
  if (!listed) return DeleteResult::StoreNotOpened;
  if (!cert) return DeleteResult::NotFound;
  std::vector<uint8_t> id;
  if (!Succeeded(ReadAttribute(functions_, session(), cert->object, CKA_ID, id)) || id.empty()) {
    return DeleteResult::NoKeyInfo;
  }
  // The private key is hidden until the user logs in.
  if (!LoggedIn()) return DeleteResult::ContainerNotDeleted;
  const std::vector<CK_OBJECT_HANDLE> privateKeys = KeysWithId(CKO_PRIVATE_KEY, id);
  if (privateKeys.empty()) return DeleteResult::NoContainerNamed;
  for (const CK_OBJECT_HANDLE key : privateKeys) {
    if (!Succeeded(functions_->C_DestroyObject(session(), key))) {
      return DeleteResult::ContainerNotDeleted;
    }
  }
  for (const CK_OBJECT_HANDLE key : KeysWithId(CKO_PUBLIC_KEY, id)) {
    if (!Succeeded(functions_->C_DestroyObject(session(), key))) {
      return DeleteResult::ContainerNotDeleted;
    }
  }
  if (!Succeeded(functions_->C_DestroyObject(session(), cert->object))) {
    return DeleteResult::CertificateNotRemoved;
  }
  return DeleteResult::Deleted;
}

SignResult TokenStore::SignData(const SerialValue& serial, std::string_view issuerName,
                                AuthorityCheck rule, std::span<const uint8_t> thumbprint,
                                std::span<const uint8_t> data, std::vector<uint8_t>& signature,
                                std::vector<uint8_t>* certificateDer) {
  bool listed = false;
  std::optional<Certificate> cert = Locate(serial, issuerName, rule, thumbprint, listed);
  if (!listed) return SignResult::StoreNotOpened;
  if (!cert) return SignResult::NotFound;
  std::vector<uint8_t> id;
  if (!Succeeded(ReadAttribute(functions_, session(), cert->object, CKA_ID, id)) || id.empty()) {
    return SignResult::NoKeyInfo;
  }
  if (!LoggedIn()) return SignResult::ContainerNotOpened;
  const std::vector<CK_OBJECT_HANDLE> keys = KeysWithId(CKO_PRIVATE_KEY, id);
  if (keys.empty()) return SignResult::NoContainerNamed;
  if (!Succeeded(SignOnce(functions_, session(), keys.front(), data, signature))) {
    return SignResult::NotSigned;
  }
  if (certificateDer != nullptr) *certificateDer = std::move(cert->der);
  return SignResult::Ok;
}

SignResult TokenStore::Sign(const SerialValue& serial, std::string_view issuerName,
                            std::span<const uint8_t> data,
                            std::span<uint8_t, kSignatureAreaSize> out, int32_t& outLength) {
  const Call call(*this);
  std::vector<uint8_t> signature;
  const SignResult result =
      SignData(serial, issuerName, kAuthorityCheck, {}, data, signature, nullptr);
  if (result != SignResult::Ok) return result;
  if (signature.size() > out.size() - serial.size()) return SignResult::NotSigned;
  const auto after = std::copy(serial.begin(), serial.end(), out.begin());
  std::reverse_copy(signature.begin(), signature.end(), after);
  outLength = static_cast<int32_t>(serial.size() + signature.size());
  return SignResult::Ok;
}

SignResult TokenStore::SignWithKeyOf(const SerialValue& serial, std::string_view issuerName,
                                     std::span<const uint8_t> sha256Thumbprint,
                                     std::span<const uint8_t> data, std::vector<uint8_t>& signature,
                                     std::vector<uint8_t>& certificateDer) {
  const Call call(*this);
  return SignData(serial, issuerName, AuthorityCheck::Signature, sha256Thumbprint, data, signature,
                  &certificateDer);
}

std::optional<CK_OBJECT_HANDLE> TokenStore::KeyWithModulus(std::span<const uint8_t> modulus) {
  for (const CK_OBJECT_CLASS keyClass : {CKO_PUBLIC_KEY, CKO_PRIVATE_KEY}) {
    const std::array match = {Attribute(CKA_CLASS, keyClass), Attribute(CKA_KEY_TYPE, kRsa)};
    std::vector<CK_OBJECT_HANDLE> keys;
    if (!Succeeded(FindObjects(functions_, session(), match, keys))) return std::nullopt;
    for (const CK_OBJECT_HANDLE key : keys) {
      std::vector<uint8_t> value;
      if (Succeeded(ReadAttribute(functions_, session(), key, CKA_MODULUS, value)) &&
          std::ranges::equal(WithoutLeadingZeros(value), modulus)) {
        return key;
      }
    }
  }
  return std::nullopt;
}

ImportAnswer TokenStore::Import(const char* pem, std::string_view /*issuerName*/,
                                HeldKey /*held*/) {
  const Call call(*this);
  DerArea area;
  const std::optional<size_t> length =
      pem == nullptr ? std::nullopt : DecodePemCertificate(pem, area);
  CertificateView view;
  // As in the user's store on Windows: what is no certificate has no key waiting.
  if (!length || !ReadCertificate(std::span(area).first(*length), view) || view.modulus.empty()) {
    return ImportAnswer::NotPending;
  }
  if (!Open()) return ImportAnswer::Failed;
  const std::optional<CK_OBJECT_HANDLE> key = KeyWithModulus(view.modulus);
  if (!key) return sessionLost_ ? ImportAnswer::Failed : ImportAnswer::NotPending;
  std::vector<uint8_t> id;
  std::vector<uint8_t> serial;
  if (!Succeeded(ReadAttribute(functions_, session(), *key, CKA_ID, id)) || id.empty() ||
      !SerialInteger(view.serial, serial)) {
    return ImportAnswer::Failed;
  }
  // The same certificate twice would be found twice.
  const std::array same = {Attribute(CKA_CLASS, kCertificateClass), Attribute(CKA_VALUE, view.der)};
  std::vector<CK_OBJECT_HANDLE> stored;
  if (!Succeeded(FindObjects(functions_, session(), same, stored))) return ImportAnswer::Failed;
  if (!stored.empty()) return ImportAnswer::Imported;

  std::array certificate = {Attribute(CKA_CLASS, kCertificateClass),
                            Attribute(CKA_CERTIFICATE_TYPE, kX509),
                            Attribute(CKA_TOKEN, kTrue),
                            Attribute(CKA_PRIVATE, kFalse),
                            Attribute(CKA_ID, std::span<const uint8_t>(id)),
                            Attribute(CKA_LABEL, Bytes(kCertificateLabel)),
                            Attribute(CKA_SUBJECT, view.subject),
                            Attribute(CKA_ISSUER, view.issuer),
                            Attribute(CKA_SERIAL_NUMBER, std::span<const uint8_t>(serial)),
                            Attribute(CKA_VALUE, view.der)};
  CK_OBJECT_HANDLE made = CK_INVALID_HANDLE;
  if (!Succeeded(
          functions_->C_CreateObject(session(), certificate.data(), certificate.size(), &made))) {
    return ImportAnswer::Failed;
  }
  return ImportAnswer::Imported;
}

}  // namespace zvcert
