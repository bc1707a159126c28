#include "script/members.h"

#include "npapi/browser.h"

namespace zvcert {

std::array<NPIdentifier, kMemberCount> memberIdentifiers{};

void LoadMemberIdentifiers() {
  for (size_t i = 0; i < kMemberCount; ++i) {
    // Each name is a literal of the list, so NUL-terminated.
    memberIdentifiers[i] = NPN_GetStringIdentifier(kMembers[i].name.data());
  }
}

namespace {

std::optional<Member> FindIn(NPIdentifier name, size_t first, size_t end) {
  for (size_t i = first; i < end; ++i) {
    if (memberIdentifiers[i] == name) return static_cast<Member>(i);
  }
  return std::nullopt;
}

}  // namespace

std::optional<Member> FindMethod(NPIdentifier name) {
  return FindIn(name, kFirstMethod, kMemberCount);
}

std::optional<Member> FindProperty(NPIdentifier name) { return FindIn(name, 0, kFirstMethod); }

}  // namespace zvcert
