// Where a stored certificate's private key lives, read from its key-provider
// information.
#pragma once

#include <array>
#include <span>

#include "encoding/ansi.h"
#include "store/handles.h"
#include "store/key_match.h"
#include "store/platform.h"
#include "store/store_services.h"

namespace zvcert {

struct KeyLocation {
  std::array<char, kWideToAnsiAreaSize> container;
  std::array<char, kWideToAnsiAreaSize> provider;
  DWORD providerType = 0;
};

enum class KeyLocationStatus { Ok, Unreadable, Incomplete };

// Unreadable: no key-provider information, or more than 2048 bytes of it.
// Incomplete: it names no container or no provider.
KeyLocationStatus ReadKeyLocation(PCCERT_CONTEXT cert, KeyLocation& location);

// A new, empty key container of the module's type named "{GUID}" after a
// fresh GUID; false when no name or no container could be made.
bool CreateGuidContainer(ContainerName& name, ScopedProvider& provider);

// Fills record with the CRYPT_KEY_PROV_INFO that names the container and the
// provider of the open context, its strings following it in the same area.
void FillKeyProvRecord(HCRYPTPROV provider, const char* container,
                       std::span<uint8_t, kKeyProvInfoRecordSize> record);

// Deletes a container of the module's type by name; one that is missing is
// no failure.
void DeleteContainer(const char* name);

}  // namespace zvcert
