#include "script/member_state.h"

namespace zvcert {
namespace {

template <size_t N>
void CopyText(std::array<char, N>& field, std::string_view text) {
  static_assert(N > 0);
  const size_t n = text.size() < N ? text.size() : N - 1;
  text.copy(field.data(), n);
  field[n] = '\0';
}

}  // namespace

void WipeBytes(std::span<uint8_t> bytes) {
  volatile uint8_t* p = bytes.data();
  for (size_t i = 0; i < bytes.size(); ++i) p[i] = 0;
}

MemberState::MemberState(KeyStore& keyStore) : store(keyStore) {
  rootIssuerName[0] = '\0';
  CopyText(challengePassword, kInitialChallenge);
  CopyText(unstructuredName, kInitialChallenge);
  CopyText(subjectText, initialSubjectText);
}

MemberState::~MemberState() {
  // Private key material must not outlive the object in freed heap memory.
  WipeBytes(pendingKeyBlob);
  pendingKeyLength = 0;
}

}  // namespace zvcert
