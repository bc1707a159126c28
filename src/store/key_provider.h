// Where a stored certificate's private key lives, read from its key-provider
// information.
#pragma once

#include <array>

#include "encoding/ansi.h"
#include "store/platform.h"

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

}  // namespace zvcert
