#include "store/key_provider.h"

#include <cstdint>

namespace zvcert {

KeyLocationStatus ReadKeyLocation(PCCERT_CONTEXT cert, KeyLocation& location) {
  // Aligned for the record at its start; its strings follow in the same area.
  alignas(CRYPT_KEY_PROV_INFO) std::array<uint8_t, kKeyProvInfoAreaSize> area;
  DWORD size = area.size();
  if (!platform.getKeyProvInfo(cert, area.data(), &size)) return KeyLocationStatus::Unreadable;
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(area.data());
  if (info->pwszProvName == nullptr || info->pwszContainerName == nullptr) {
    return KeyLocationStatus::Incomplete;
  }
  WideToAnsi(info->pwszContainerName, location.container);
  WideToAnsi(info->pwszProvName, location.provider);
  location.providerType = info->dwProvType;
  return KeyLocationStatus::Ok;
}

}  // namespace zvcert
