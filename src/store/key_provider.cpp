#include "store/key_provider.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace zvcert {
namespace {

// The UTF-16 strings of the key-provider record follow it in the same area.
// The record is 28 bytes on x86 and 48 on x64, where its pointers are 8 bytes.
constexpr size_t kStringSpaceAt = sizeof(CRYPT_KEY_PROV_INFO);
static_assert(kStringSpaceAt == (sizeof(void*) == 4 ? 28 : 48));
static_assert(kStringSpaceAt % alignof(wchar_t) == 0);
constexpr size_t kStringSpaceUnits = (kKeyProvInfoRecordSize - kStringSpaceAt) / 2;

}  // namespace

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

bool CreateGuidContainer(ContainerName& name, ScopedProvider& provider) {
  UUID uuid;
  platform.createUuid(&uuid);
  RPC_CSTR guidText = nullptr;
  if (platform.uuidToString(&uuid, &guidText) != RPC_S_OK) return false;
  name = ContainerNameFromGuid(reinterpret_cast<const char*>(guidText));
  platform.freeRpcString(&guidText);
  return platform.acquireContext(provider.receive(), name.data(), nullptr, kProviderType,
                                 kKeysetCreate);
}

void FillKeyProvRecord(HCRYPTPROV provider, const char* container,
                       std::span<uint8_t, kKeyProvInfoRecordSize> record) {
  // The provider that holds the key; when it cannot say, the one a
  // context of that type without a name opens, so the key can be found again.
  std::array<BYTE, kProviderNameAreaSize + 1> providerName{};
  DWORD providerLength = kProviderNameAreaSize;
  if (!platform.getProviderName(provider, providerName.data(), &providerLength) &&
      !platform.getDefaultProviderName(providerName.data(), &providerLength)) {
    providerLength = 0;
  }
  providerName[std::min<DWORD>(providerLength, kProviderNameAreaSize)] = 0;

  auto* strings = reinterpret_cast<wchar_t*>(record.data() + kStringSpaceAt);
  const std::span<wchar_t> space(strings, kStringSpaceUnits);
  const size_t containerUnits = AnsiToWide(container, space) + 1;
  AnsiToWide(reinterpret_cast<const char*>(providerName.data()), space.subspan(containerUnits));

  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = strings;
  info.pwszProvName = strings + containerUnits;
  info.dwProvType = kProviderType;
  info.dwFlags = 0;
  info.cProvParam = 0;
  info.rgProvParam = nullptr;
  info.dwKeySpec = AT_SIGNATURE;
  std::memcpy(record.data(), &info, sizeof info);
}

void DeleteContainer(const char* name) {
  HCRYPTPROV none = 0;
  platform.acquireContext(&none, name, nullptr, kProviderType, kKeysetDelete);
}

}  // namespace zvcert
