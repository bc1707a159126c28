#include "store/cms_sign.h"

#include "store/handles.h"
#include "store/store_services.h"

namespace zvcert {

CmsResult SignCmsWithStoredCert(const SerialValue& serial, std::string_view issuerName,
                                std::span<const uint8_t> data, bool detached,
                                std::vector<uint8_t>& out, std::span<const uint8_t> sha256) {
  out.clear();
  // Released in reverse: message, then the key's provider (which the
  // message uses), certificate and store.
  SigningKey key;
  if (const SignResult opened =
          OpenSigningKey(serial, issuerName, key, AuthorityCheck::Signature, sha256);
      opened != SignResult::Ok) {
    return static_cast<CmsResult>(opened);
  }
  ScopedMessage message(platform.openSignedMessage(key.cert.get(), key.provider.get(),
                                                   detached ? kDetachedMessage : 0));
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
