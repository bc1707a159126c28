// Storing an issued certificate with the private key kept since its request.
#include <cstring>

#include "encoding/ansi.h"
#include "store/handles.h"
#include "store/key_match.h"
#include "store/pem_certificate.h"
#include "store/store_services.h"

namespace zvcert {
namespace {

// A parsed certificate lives in no store of ours; deletion disposes of it.
struct ParsedCertificateTraits {
  using Handle = PCCERT_CONTEXT;
  static void Release(Handle h) { platform.deleteCertificate(h); }
};
using ParsedCertificate = ScopedHandle<ParsedCertificateTraits>;

// The UTF-16 strings of the key-provider record follow it in the same area.
constexpr size_t kStringSpaceAt = 28;  // sizeof(CRYPT_KEY_PROV_INFO) on 32-bit Windows
constexpr size_t kStringSpaceUnits = (kKeyProvInfoRecordSize - kStringSpaceAt) / 2;

// A container that holds no linked key (or no key at all) is deleted, so
// that a failed import leaves no private key out of DelCert's reach.
void DeleteContainer(const char* name) {
  HCRYPTPROV none = 0;
  platform.acquireContext(&none, name, nullptr, kProviderType, kKeysetDelete);
}

}  // namespace

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
  static_assert(sizeof(CRYPT_KEY_PROV_INFO) == kStringSpaceAt);
  UUID uuid;
  platform.createUuid(&uuid);
  RPC_CSTR guidText = nullptr;
  if (platform.uuidToString(&uuid, &guidText) != RPC_S_OK) {
    return KeyImportResult::ContainerNotCreated;
  }
  const ContainerName name = ContainerNameFromGuid(reinterpret_cast<const char*>(guidText));
  platform.freeRpcString(&guidText);

  ScopedProvider provider;
  if (!platform.acquireContext(provider.receive(), name.data(), nullptr, kProviderType,
                               kKeysetCreate)) {
    return KeyImportResult::ContainerNotCreated;
  }
  ScopedKey key;
  if (!platform.importPrivateKey(provider.get(), privateKeyBlob.data(),
                                 static_cast<DWORD>(privateKeyBlob.size()), key.receive())) {
    provider.reset();
    DeleteContainer(name.data());
    return KeyImportResult::KeyNotImported;
  }

  // The provider that holds the key; when it cannot say, the one a
  // context of that type without a name opens, so the key can be found again.
  std::array<BYTE, kProviderNameAreaSize + 1> providerName{};
  DWORD providerLength = kProviderNameAreaSize;
  if (!platform.getProviderName(provider.get(), providerName.data(), &providerLength) &&
      !platform.getDefaultProviderName(providerName.data(), &providerLength)) {
    providerLength = 0;
  }
  providerName[std::min<DWORD>(providerLength, kProviderNameAreaSize)] = 0;

  auto* strings = reinterpret_cast<wchar_t*>(record.data() + kStringSpaceAt);
  const std::span<wchar_t> space(strings, kStringSpaceUnits);
  const size_t containerUnits = AnsiToWide(name.data(), space) + 1;
  AnsiToWide(reinterpret_cast<const char*>(providerName.data()), space.subspan(containerUnits));

  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = strings;
  info.pwszProvName = strings + containerUnits;
  info.dwProvType = kProviderType;
  info.dwFlags = 0;
  info.cProvParam = 0;
  info.rgProvParam = nullptr;
  info.dwKeySpec = AT_SIGNATURE;
  std::memcpy(record.data(), &info, sizeof info);
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
