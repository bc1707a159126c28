#include "request/signed_request.h"

#include <array>

#include "encoding/reverse_bytes.h"
#include "request/request_body.h"
#include "store/handles.h"

namespace zvcert {
namespace {

constexpr size_t kInfoOffset = 4;  // after the outer SEQUENCE header 30 82 hi lo

void DeleteRequestContainer() {
  HCRYPTPROV none = 0;
  platform.acquireContext(&none, kRequestContainer, nullptr, kProviderType, kKeysetDelete);
}

// Deletes the container when the request is done, whatever happened.
struct ContainerRemoval {
  ~ContainerRemoval() { DeleteRequestContainer(); }
};

// The container's one name is shared by every process of the user's session,
// and each page of today's browsers has a host process of its own: one
// request at a time holds the container, from its deletion before to its
// deletion after. A holder that died leaves the lock abandoned, not stuck.
class ContainerLock {
 public:
  ContainerLock() : mutex_(CreateMutexW(nullptr, FALSE, L"Local\\npzvcert-request-container")) {
    if (mutex_ == nullptr) return;
    const DWORD waited = WaitForSingleObject(mutex_, kWaitMilliseconds);
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
  ~ContainerLock() {
    if (held_) ReleaseMutex(mutex_);
    if (mutex_ != nullptr) CloseHandle(mutex_);
  }
  ContainerLock(const ContainerLock&) = delete;
  ContainerLock& operator=(const ContainerLock&) = delete;
  bool held() const { return held_; }

 private:
  // Far beyond the few requests of the largest keys that can be ahead.
  static constexpr DWORD kWaitMilliseconds = 120000;
  HANDLE mutex_;
  bool held_ = false;
};

}  // namespace

RequestResult GenerateSignedRequest(const RequestOutput& output, const SubjectValues& subject,
                                    std::string_view unstructuredName,
                                    std::string_view challengePassword) {
  // Declared first, so that it is let go last, after the container is gone.
  const ContainerLock lock;
  if (!lock.held()) return RequestResult::ContainerNotCreated;
  // One left by an interrupted call would make the creation fail.
  DeleteRequestContainer();
  ScopedProvider provider;
  if (!platform.acquireContext(provider.receive(), kRequestContainer, nullptr, kProviderType,
                               kKeysetCreate)) {
    return RequestResult::ContainerNotCreated;
  }
  // Declared after the provider so that it runs last: hash, key, context,
  // then the container.
  ContainerRemoval removal;
  ScopedProvider context = std::move(provider);
  ScopedKey key;
  ScopedHash hash;

  std::array<uint8_t, 2048> publicKey;
  DWORD publicKeyLength = publicKey.size();
  if (!platform.generateSignatureKey(context.get(), key.receive()) ||
      !platform.exportKey(key.get(), PUBLICKEYBLOB, publicKey.data(), &publicKeyLength)) {
    return RequestResult::PublicKeyNotExported;
  }
  DWORD privateKeyLength = output.privateKey.size();
  if (!platform.exportKey(key.get(), PRIVATEKEYBLOB, output.privateKey.data(), &privateKeyLength)) {
    return RequestResult::PrivateKeyNotExported;
  }
  output.privateKeyLength = static_cast<int32_t>(privateKeyLength);
  if (!platform.createHash(context.get(), hash.receive())) return RequestResult::HashNotMade;

  std::span<uint8_t> request = output.request;
  request[0] = 0x30;
  request[1] = 0x82;
  const int32_t infoLength =
      BuildRequestInfo(request.subspan(kInfoOffset), std::span(publicKey).first(publicKeyLength),
                       subject, unstructuredName, challengePassword);
  if (infoLength == 0) return RequestResult::RequestBodyNotBuilt;
  const size_t info = static_cast<size_t>(infoLength);
  // A hash that missed the body would sign something else.
  if (!platform.hashData(hash.get(), request.data() + kInfoOffset, static_cast<DWORD>(info))) {
    return RequestResult::HashNotMade;
  }

  // The header announces a signature as long as the build's key; any other
  // length is refused below.
  const size_t algorithmAt = kInfoOffset + info;
  const int32_t header =
      EncodeSignatureHeader(kSignatureHash, kSignatureBytes, request.subspan(algorithmAt));
  if (header == 0) return RequestResult::RequestTooLong;
  const size_t signatureAt = algorithmAt + static_cast<size_t>(header);
  DWORD signatureLength = static_cast<DWORD>(request.size() - signatureAt);
  if (!platform.signHash(hash.get(), request.data() + signatureAt, &signatureLength) ||
      signatureLength != kSignatureBytes) {
    return RequestResult::NotSigned;
  }
  // The platform gives the signature least significant byte first.
  ReverseBytes(request.subspan(signatureAt, signatureLength));

  const size_t total = signatureAt + signatureLength;
  if (total > request.size()) return RequestResult::RequestTooLong;
  request[2] = static_cast<uint8_t>((total - 4) >> 8);
  request[3] = static_cast<uint8_t>(total - 4);
  output.requestLength = static_cast<int32_t>(total);
  return RequestResult::Ok;
}

}  // namespace zvcert
