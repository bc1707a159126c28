// What the store's operations answer, each failure naming the step that
// failed: the numbers are what pages receive, whichever store made them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "store/build_profile.h"

namespace zvcert {

enum class FindResult : int32_t { Found = 0, StoreNotOpened = -1, NotFound = -2 };
enum class PresenceResult : int32_t { Absent = 0, Present = 1, StoreNotOpened = -1 };

enum class DeleteResult : int32_t {
  NotFound = 0,
  Deleted = 1,
  StoreNotOpened = -2,
  NoKeyInfo = -3,
  NoContainerNamed = -4,
  ContainerNotDeleted = -5,
  CertificateNotRemoved = -6,  // the key container is gone already
};

enum class SignResult : int32_t {
  Ok = 0,
  StoreNotOpened = -1,
  NotFound = -2,
  NoKeyInfo = -5,
  NoContainerNamed = -6,
  ContainerNotOpened = -7,
  HashNotMade = -8,
  NotSigned = -9,
};

// The serial bytes, then the signature: 8 and 128 bytes in the original
// profile.
inline constexpr size_t kSignatureAreaSize = kSerialBytes + kSignatureBytes;

enum class ImportResult : int32_t {
  Ok = 0,
  StoreNotOpened = -1,
  NoCertificate = -2,
  NotAdded = -3,
  KeyNotPlaced = -4,
  LinkNotSet = -5,
  NoPendingRequest = -6,  // no request of the module's has the certificate's key
};

}  // namespace zvcert
