// Signing data with a stored certificate's private key.
#include <algorithm>

#include "store/handles.h"
#include "store/key_provider.h"
#include "store/store_services.h"

namespace zvcert {

SignResult SignWithStoredCert(const SerialValue& serial, std::string_view issuerName,
                              std::span<const uint8_t> data,
                              std::span<uint8_t, kSignatureAreaSize> out, int32_t& outLength) {
  // Released in reverse: hash, provider, certificate, store.
  ScopedStore store(platform.openPersonalStore());
  if (!store) return SignResult::StoreNotOpened;
  const ScopedCertificate cert(LocateCertBySerial(store.get(), serial, issuerName));
  if (!cert) return SignResult::NotFound;

  KeyLocation key;
  switch (ReadKeyLocation(cert.get(), key)) {
    case KeyLocationStatus::Unreadable:
      return SignResult::NoKeyInfo;
    case KeyLocationStatus::Incomplete:
      return SignResult::NoContainerNamed;
    case KeyLocationStatus::Ok:
      break;
  }
  ScopedProvider provider;
  if (!platform.acquireContext(provider.receive(), key.container.data(), key.provider.data(),
                               key.providerType, kKeysetOpen)) {
    return SignResult::ContainerNotOpened;
  }
  ScopedHash hash;
  if (!platform.createHash(provider.get(), hash.receive())) return SignResult::HashNotMade;
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
