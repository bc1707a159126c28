// The browser's identifiers for the script members (npapi/members.def).
// Members are recognised by identifier value, never by comparing text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "npapi/members.h"
#include "npapi/npapi.h"

namespace zvcert {

// Module-wide: every new instance asks the browser for them again and
// overwrites what an earlier instance stored.
extern std::array<NPIdentifier, kMemberCount> memberIdentifiers;

void LoadMemberIdentifiers();

// The method named by the identifier, if it is one of the ten methods.
std::optional<Member> FindMethod(NPIdentifier name);

// The property named by the identifier, if it is Version or HostName.
std::optional<Member> FindProperty(NPIdentifier name);

}  // namespace zvcert
