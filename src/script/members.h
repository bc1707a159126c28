// The twelve script member names and the browser's identifiers for them.
// Members are recognised by identifier value, never by comparing text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "npapi/npapi.h"

namespace zvcert {

// In the order in which they are looked up: two properties, then ten methods.
enum class Member : uint8_t {
  Version,
  HostName,
  FindCert,
  IsCertExist,
  DelCert,
  ImportCert,
  CertSign,
  SetChallenge,
  SetSubject,
  GetCSR,
  Base64Encode,
  Base64Decode,
};

inline constexpr size_t kMemberCount = 12;
inline constexpr size_t kFirstMethod = static_cast<size_t>(Member::FindCert);

inline constexpr std::array<const char*, kMemberCount> kMemberNames = {
    "Version",  "HostName",     "FindCert",   "IsCertExist", "DelCert",      "ImportCert",
    "CertSign", "SetChallenge", "SetSubject", "GetCSR",      "Base64Encode", "Base64Decode",
};

// Module-wide: every new instance asks the browser for them again and
// overwrites what an earlier instance stored.
extern std::array<NPIdentifier, kMemberCount> memberIdentifiers;

void LoadMemberIdentifiers();

// The method named by the identifier, if it is one of the ten methods.
std::optional<Member> FindMethod(NPIdentifier name);

// The property named by the identifier, if it is Version or HostName.
std::optional<Member> FindProperty(NPIdentifier name);

}  // namespace zvcert
