#include "store/pending_keys.h"

#include <algorithm>

#include "store/pending.h"
#include "store/store_services.h"

namespace zvcert {

void KeysHeldByPage::Hold(HeldKey held, std::span<const uint8_t> exported) {
  std::copy(exported.begin(), exported.end(), held.blob.begin());
  held.length = static_cast<int32_t>(exported.size());
}

ImportAnswer KeysHeldByPage::Import(const char* pem, std::string_view /*issuerName*/,
                                    HeldKey held) {
  const std::span<const uint8_t> key(held.blob.data(), held.length > 0 ? held.length : 0);
  // A mismatch keeps the key, so the right certificate can still come.
  if (key.empty() || MatchesPendingKey(key, pem) != MatchResult::Matches) {
    return ImportAnswer::NotPending;
  }
  const ImportResult imported = ImportCertWithKey(pem, key);
  SecureZeroMemory(held.blob.data(), held.blob.size());
  held.length = 0;
  return imported == ImportResult::Ok ? ImportAnswer::Imported : ImportAnswer::Failed;
}

ImportAnswer KeysWaitInStore::Import(const char* pem, std::string_view issuerName,
                                     HeldKey /*held*/) {
  switch (ImportCertForPendingRequest(pem, issuerName)) {
    case ImportResult::Ok:
      return ImportAnswer::Imported;
    case ImportResult::NoCertificate:
    case ImportResult::NoPendingRequest:
      return ImportAnswer::NotPending;
    default:
      return ImportAnswer::Failed;
  }
}

}  // namespace zvcert
