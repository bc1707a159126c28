#include "store/cms_sign.h"

#include "store/handles.h"
#include "store/key_provider.h"
#include "store/store_services.h"

namespace zvcert {

CmsResult SignCmsWithStoredCert(const SerialValue& serial, std::string_view issuerName,
                                std::span<const uint8_t> data, bool detached,
                                std::vector<uint8_t>& out) {
  out.clear();
  // Released in reverse: message, provider (which the message uses),
  // certificate, store.
  ScopedStore store(platform.openPersonalStore());
  if (!store) return CmsResult::StoreNotOpened;
  const ScopedCertificate cert(LocateCertBySerial(store.get(), serial, issuerName));
  if (!cert) return CmsResult::NotFound;

  KeyLocation key;
  switch (ReadKeyLocation(cert.get(), key)) {
    case KeyLocationStatus::Unreadable:
      return CmsResult::NoKeyInfo;
    case KeyLocationStatus::Incomplete:
      return CmsResult::NoContainerNamed;
    case KeyLocationStatus::Ok:
      break;
  }
  ScopedProvider provider;
  if (!platform.acquireContext(provider.receive(), key.container.data(), key.provider.data(),
                               key.providerType, kKeysetOpen)) {
    return CmsResult::ContainerNotOpened;
  }
  ScopedMessage message(
      platform.openSignedMessage(cert.get(), provider.get(), detached ? kDetachedMessage : 0));
  if (!message) return CmsResult::MessageNotOpened;
  static constexpr uint8_t kNothing = 0;
  const BYTE* bytes = data.empty() ? &kNothing : data.data();
  if (!platform.updateMessage(message.get(), bytes, static_cast<DWORD>(data.size()))) {
    return CmsResult::NotSigned;
  }
  DWORD size = 0;
  if (!platform.getMessageContent(message.get(), nullptr, &size) || size == 0) {
    return CmsResult::NotEncoded;
  }
  out.resize(size);
  if (!platform.getMessageContent(message.get(), out.data(), &size)) {
    out.clear();
    return CmsResult::NotEncoded;
  }
  out.resize(size);
  return CmsResult::Ok;
}

}  // namespace zvcert
