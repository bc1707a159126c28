// Storing an issued certificate with the private key kept since its request.
#include <cstring>

#include "encoding/ansi.h"
#include "store/handles.h"
#include "store/key_match.h"
#include "store/key_provider.h"
#include "store/pem_certificate.h"
#include "store/store_services.h"

namespace zvcert {

MatchResult MatchesPendingKey(std::span<const uint8_t> privateKeyBlob, const char* pem) {
  const ParsedCertificate cert(ParsePemCertificate(pem));
  if (!cert) return MatchResult::NoCertificate;
  const CERT_PUBLIC_KEY_INFO& info = cert.get()->pCertInfo->SubjectPublicKeyInfo;
  const CRYPT_BIT_BLOB& key = info.PublicKey;
  // A key of another type may happen to parse like an RSA key.
  const bool rsa = info.Algorithm.pszObjId != nullptr &&
                   std::strcmp(info.Algorithm.pszObjId, szOID_RSA_RSA) == 0;
  return rsa && ModulusMatches({key.pbData, key.cbData}, privateKeyBlob) ? MatchResult::Matches
                                                                         : MatchResult::Differs;
}

KeyImportResult ImportPrivateKeyToNewContainer(std::span<const uint8_t> privateKeyBlob,
                                               std::span<uint8_t, kKeyProvInfoRecordSize> record) {
  ContainerName name;
  ScopedProvider provider;
  if (!CreateGuidContainer(name, provider)) return KeyImportResult::ContainerNotCreated;
  ScopedKey key;
  if (!platform.importPrivateKey(provider.get(), privateKeyBlob.data(),
                                 static_cast<DWORD>(privateKeyBlob.size()), key.receive())) {
    provider.reset();
    DeleteContainer(name.data());
    return KeyImportResult::KeyNotImported;
  }
  FillKeyProvRecord(provider.get(), name.data(), record);
  return KeyImportResult::Ok;
}

ImportResult ImportCertWithKey(const char* pem, std::span<const uint8_t> privateKeyBlob) {
  // Released in reverse: stored copy, parsed certificate, store.
  ScopedStore store(platform.openPersonalStore());
  if (!store) return ImportResult::StoreNotOpened;
  const ParsedCertificate parsed(ParsePemCertificate(pem));
  if (!parsed) return ImportResult::NoCertificate;
  ScopedCertificate stored;
  if (!platform.addCertificate(store.get(), parsed.get(), stored.receive())) {
    return ImportResult::NotAdded;
  }
  alignas(CRYPT_KEY_PROV_INFO) std::array<uint8_t, kKeyProvInfoRecordSize> record;
  if (ImportPrivateKeyToNewContainer(privateKeyBlob, record) != KeyImportResult::Ok) {
    return ImportResult::KeyNotPlaced;
  }
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(record.data());
  if (!platform.setKeyProvInfo(stored.get(), info)) {
    std::array<char, kWideToAnsiAreaSize> container;
    WideToAnsi(info->pwszContainerName, container);
    DeleteContainer(container.data());
    return ImportResult::LinkNotSet;
  }
  // A replaced copy is a deletion too, which some platforms keep only once
  // the store is committed.
  platform.commitStore(store.get());
  return ImportResult::Ok;
}

}  // namespace zvcert
