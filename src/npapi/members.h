// The script members as one constexpr table, from members.def. Pure: the
// host, the plug-in and the native tests read it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zvcert {

enum class MemberKind : uint8_t { Property, Method };
enum class PageLock : uint8_t { Open, Locked };
enum class Consent : uint8_t { None, Asks, AsksWithData };

struct MemberInfo {
  std::string_view name;
  MemberKind kind;
  uint32_t strings;
  PageLock lock;
  Consent consent;
  std::string_view action;
};

inline constexpr std::array kMembers = {
#define ZVCERT_MEMBER(name, kind, strings, lock, consent, action) \
  MemberInfo{#name, MemberKind::kind, strings, PageLock::lock, Consent::consent, action},
#include "npapi/members.def"
#undef ZVCERT_MEMBER
};

// In the order in which they are looked up: the properties, then the methods.
enum class Member : uint8_t {
#define ZVCERT_MEMBER(name, ...) name,
#include "npapi/members.def"
#undef ZVCERT_MEMBER
};

inline constexpr size_t kMemberCount = kMembers.size();
inline constexpr size_t kFirstMethod = [] {
  size_t i = 0;
  while (i < kMembers.size() && kMembers[i].kind == MemberKind::Property) ++i;
  return i;
}();

constexpr const MemberInfo& InfoOf(Member member) { return kMembers[static_cast<size_t>(member)]; }

// The member of that name, or null.
constexpr const MemberInfo* FindMember(std::string_view name) {
  for (const MemberInfo& info : kMembers) {
    if (info.name == name) return &info;
  }
  return nullptr;
}

static_assert(
    [] {
      for (size_t i = 0; i < kMembers.size(); ++i) {
        if ((kMembers[i].kind == MemberKind::Method) != (i >= kFirstMethod)) return false;
        if (kMembers[i].consent != Consent::None && kMembers[i].action.empty()) return false;
      }
      return true;
    }(),
    "properties first, then methods; every member that asks says what for");

}  // namespace zvcert
