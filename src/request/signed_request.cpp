#include "request/signed_request.h"

#include <array>

#include "encoding/reverse_bytes.h"
#include "store/handles.h"
#include "store/pending.h"

namespace zvcert {
namespace {

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

// The context's hash of the build's algorithm, its signature least
// significant byte first.
class PlatformSigner final : public RequestSigner {
 public:
  explicit PlatformSigner(HCRYPTHASH hash) : hash_(hash) {}
  bool Take(std::span<const uint8_t> info) override {
    return platform.hashData(hash_, info.data(), static_cast<DWORD>(info.size()));
  }
  bool Sign(std::span<uint8_t> signature) override {
    DWORD length = static_cast<DWORD>(signature.size());
    if (!platform.signHash(hash_, signature.data(), &length) || length != signature.size()) {
      return false;
    }
    ReverseBytes(signature);
    return true;
  }

 private:
  HCRYPTHASH hash_;
};

RequestResult SignRequest(std::span<uint8_t, kRequestAreaSize> area, int32_t& requestLength,
                          std::span<const uint8_t> publicKey, HCRYPTHASH hash,
                          const SubjectValues& subject, std::string_view unstructuredName,
                          std::string_view challengePassword) {
  PlatformSigner signer(hash);
  return WriteSignedRequest(area, requestLength, publicKey, signer, subject, unstructuredName,
                            challengePassword);
}

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

  return SignRequest(output.request, output.requestLength,
                     std::span(publicKey).first(publicKeyLength), hash.get(), subject,
                     unstructuredName, challengePassword);
}

RequestResult GeneratePendingRequest(std::span<uint8_t, kRequestAreaSize> request,
                                     int32_t& requestLength, const SubjectValues& subject,
                                     std::string_view unstructuredName,
                                     std::string_view challengePassword) {
  // Abandoned requests go before a new one is made, so there is room for it;
  // recent ones stay, and then no request is made.
  if (!PrunePendingRequests(CurrentTime()).room) return RequestResult::NoRoom;
  PendingKey pending;
  switch (CreatePendingKey(pending)) {
    case PendingKeyResult::ContainerNotCreated:
      return RequestResult::ContainerNotCreated;
    case PendingKeyResult::KeyNotGenerated:
      return RequestResult::PublicKeyNotExported;
    case PendingKeyResult::Ok:
      break;
  }
  // Only a recorded request keeps its key: nothing else would find it.
  struct Discard {
    PendingKey& pending;
    bool keep = false;
    ~Discard() {
      if (!keep) DiscardPendingKey(pending);
    }
  } discard{pending};

  std::array<uint8_t, 2048> publicKey;
  DWORD publicKeyLength = publicKey.size();
  if (!platform.exportKey(pending.key.get(), PUBLICKEYBLOB, publicKey.data(), &publicKeyLength)) {
    return RequestResult::PublicKeyNotExported;
  }
  ScopedHash hash;
  if (!platform.createHash(pending.provider.get(), hash.receive()))
    return RequestResult::HashNotMade;
  int32_t length = 0;
  const RequestResult made =
      SignRequest(request, length, std::span(publicKey).first(publicKeyLength), hash.get(), subject,
                  unstructuredName, challengePassword);
  if (made != RequestResult::Ok) return made;
  hash.reset();
  if (!RecordPendingRequest(pending)) return RequestResult::NotRecorded;
  discard.keep = true;
  requestLength = length;
  return RequestResult::Ok;
}

}  // namespace zvcert
