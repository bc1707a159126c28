// Signing data with a stored certificate's private key.
#include <algorithm>

#include "store/handles.h"
#include "store/key_provider.h"
#include "store/store_services.h"

namespace zvcert {

SignResult OpenSigningKey(const SerialValue& serial, std::string_view issuerName, SigningKey& key,
                          AuthorityCheck rule, std::span<const uint8_t> sha256) {
  key.store.reset(platform.openPersonalStore());
  if (!key.store) return SignResult::StoreNotOpened;
  key.cert.reset(LocateCertBySerial(key.store.get(), serial, issuerName, rule, sha256));
  if (!key.cert) return SignResult::NotFound;

  KeyLocation location;
  switch (ReadKeyLocation(key.cert.get(), location)) {
    case KeyLocationStatus::Unreadable:
      return SignResult::NoKeyInfo;
    case KeyLocationStatus::Incomplete:
      return SignResult::NoContainerNamed;
    case KeyLocationStatus::Ok:
      break;
  }
  if (!platform.acquireContext(key.provider.receive(), location.container.data(),
                               location.provider.data(), location.providerType, kKeysetOpen)) {
    return SignResult::ContainerNotOpened;
  }
  return SignResult::Ok;
}

SignResult SignWithStoredCert(const SerialValue& serial, std::string_view issuerName,
                              std::span<const uint8_t> data,
                              std::span<uint8_t, kSignatureAreaSize> out, int32_t& outLength) {
  // Released in reverse: hash, then the key's provider, certificate and store.
  SigningKey key;
  if (const SignResult opened = OpenSigningKey(serial, issuerName, key); opened != SignResult::Ok) {
    return opened;
  }
  ScopedHash hash;
  if (!platform.createHash(key.provider.get(), hash.receive())) return SignResult::HashNotMade;
  // A hash that missed the data would sign something else.
  static constexpr uint8_t kNothing = 0;
  const BYTE* bytes = data.empty() ? &kNothing : data.data();
  if (!platform.hashData(hash.get(), bytes, static_cast<DWORD>(data.size()))) {
    return SignResult::NotSigned;
  }
  DWORD signatureLength = kSignatureAreaSize - serial.size();
  if (!platform.signHash(hash.get(), out.data() + serial.size(), &signatureLength)) {
    return SignResult::NotSigned;
  }
  std::copy(serial.begin(), serial.end(), out.begin());
  outLength = static_cast<int32_t>(serial.size() + signatureLength);
  return SignResult::Ok;
}

}  // namespace zvcert
