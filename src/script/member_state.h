// What one page's object keeps between calls, and the store its members use:
// the same for the plug-in's scriptable object and for a host that answers
// the members itself.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "request/key_store.h"
#include "store/build_profile.h"

namespace zvcert {

// The subject used until script sets one: a value for each of the ten keys
// that a request reads, ending in the authority's service address.
inline constexpr std::string_view initialSubjectText =
    "C=CN, ST=ZV, L=ZV, O=OFFICE, OU=THIS-PC, SN=1111222233334444, CN=ZVUSER, "
    "G=3975136, T=Title, E=service@zvcert.test";
static_assert(initialSubjectText.size() == 114);

inline constexpr std::string_view kInitialChallenge = "quorvex";

// Private key bytes are overwritten in a way the compiler may not drop.
void WipeBytes(std::span<uint8_t> bytes);

class MemberState {
 public:
  explicit MemberState(KeyStore& keyStore);
  virtual ~MemberState();
  MemberState(const MemberState&) = delete;
  MemberState& operator=(const MemberState&) = delete;

  // Whether the page may use the certificate methods; asked by those alone.
  virtual bool ServesPage() { return true; }

  // The root's name is read once it can be, before a method runs.
  void ReadRootIssuerName() {
    if (rootIssuerName[0] == '\0') store.ReadRootIssuerName(rootIssuerName);
  }

  KeyStore& store;
  // Character fields hold NUL-terminated text within their size.
  std::array<char, 1024> subjectText;
  std::array<char, 32> unstructuredName;
  std::array<char, 32> challengePassword;
  std::array<char, 128> rootIssuerName;
  std::array<uint8_t, kKeyBlobAreaSize> pendingKeyBlob;  // private-key blob of the last request
  int32_t pendingKeyLength = 0;                          // 0 (or less): no key pending
  HeldKey KeyHeld() { return {pendingKeyBlob, pendingKeyLength}; }
};

}  // namespace zvcert
