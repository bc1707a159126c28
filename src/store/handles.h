// Every platform handle owned by exactly one object, released through the
// platform table so that tests can count releases.
#pragma once

#include <utility>

#include "store/platform.h"

namespace zvcert {

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Handle{}; }
  // For the platform calls that write a new handle.
  Handle* receive() {
    reset();
    return &handle_;
  }
  // Hands the handle to a call that consumes it (or to another owner).
  Handle release() { return std::exchange(handle_, Handle{}); }
  void reset(Handle handle = Handle{}) {
    if (handle_ != Handle{}) Traits::Release(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_{};
};

struct StoreTraits {
  using Handle = HCERTSTORE;
  static void Release(Handle h) { platform.closeStore(h); }
};
struct CertificateTraits {
  using Handle = PCCERT_CONTEXT;
  static void Release(Handle h) { platform.freeCertificate(h); }
};
struct ProviderTraits {
  using Handle = HCRYPTPROV;
  static void Release(Handle h) { platform.releaseContext(h); }
};
struct KeyTraits {
  using Handle = HCRYPTKEY;
  static void Release(Handle h) { platform.destroyKey(h); }
};
struct HashTraits {
  using Handle = HCRYPTHASH;
  static void Release(Handle h) { platform.destroyHash(h); }
};

struct MessageTraits {
  using Handle = HCRYPTMSG;
  static void Release(Handle h) { platform.closeMessage(h); }
};

using ScopedStore = ScopedHandle<StoreTraits>;
using ScopedCertificate = ScopedHandle<CertificateTraits>;
using ScopedProvider = ScopedHandle<ProviderTraits>;
using ScopedKey = ScopedHandle<KeyTraits>;
using ScopedHash = ScopedHandle<HashTraits>;
using ScopedMessage = ScopedHandle<MessageTraits>;

}  // namespace zvcert
