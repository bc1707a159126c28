// Where GetCSR's key waits until ImportCert brings its certificate: the
// build's kPendingKeys picks one of the two policies below, once, as
// PendingKeyPolicy; GetCSR, ImportCert and the page lock follow it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

#include "store/build_profile.h"

namespace zvcert {

// The key a page's object holds for its last request; a length of 0 (or
// less) holds none.
struct HeldKey {
  std::span<uint8_t, kKeyBlobAreaSize> blob;
  int32_t& length;
};

// What ImportCert answers the page.
enum class ImportAnswer : int32_t { Imported = 1, NotPending = -1, Failed = -2 };

// The original design: the key is made exportable, the page's object holds
// it, and only the certificate of that key is imported, the key into a
// container of its own. A request leaves nothing in the user's store.
struct KeysHeldByPage {
  static constexpr bool kRequestChangesStore = false;
  // The key of the request the page has just received replaces the one held.
  static void Hold(HeldKey held, std::span<const uint8_t> exported);
  static ImportAnswer Import(const char* pem, std::string_view issuerName, HeldKey held);
};

// The key waits in a container of the user's, the request recorded in
// "REQUEST" (store/pending.h), so that any later page can import its
// certificate. A request adds to what the store keeps and may prune other
// requests there.
struct KeysWaitInStore {
  static constexpr bool kRequestChangesStore = true;
  static void Hold(HeldKey, std::span<const uint8_t>) {}  // nothing was exported
  static ImportAnswer Import(const char* pem, std::string_view issuerName, HeldKey held);
};

using PendingKeyPolicy =
    std::conditional_t<kPendingKeys == PendingKeys::Store, KeysWaitInStore, KeysHeldByPage>;

}  // namespace zvcert
