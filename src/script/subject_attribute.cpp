#include "script/subject_attribute.h"

#include "encoding/utf8.h"

namespace zvcert {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

void Write(AttributeValue& value, std::string_view text) {
  value.fill('\0');
  text.copy(value.data(), value.size() - 1);
}

}  // namespace

void GetSubjectAttribute(std::string_view key, std::string_view subjectText,
                         AttributeValue& value) {
  subjectText = subjectText.substr(0, subjectText.find('\0'));
  std::array<char, 32> pattern{};
  const size_t keyLength = key.copy(pattern.data(), 30);
  pattern[keyLength] = '=';
  const std::string_view search(pattern.data(), keyLength + 1);

  // "T=" inside "ST=" or "C=" inside "DC=" is not the key: skip matches that
  // follow a letter.
  size_t at = subjectText.find(search);
  while (at != std::string_view::npos && at > 0 && IsAsciiLetter(subjectText[at - 1])) {
    at = subjectText.find(search, at + 1);
  }
  if (at == std::string_view::npos) return Write(value, "XX");

  std::string_view rest = subjectText.substr(at + search.size());
  rest = rest.substr(0, rest.find_first_of(",/"));
  rest = rest.substr(0, value.size() - 1);
  // Drop cut sequences until none is left: invalid text may end in several.
  for (size_t kept = WithoutIncompleteTail(rest); kept != rest.size();
       kept = WithoutIncompleteTail(rest)) {
    rest = rest.substr(0, kept);
  }
  Write(value, rest.empty() ? "XX" : rest);
}

}  // namespace zvcert
