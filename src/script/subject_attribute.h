// One attribute value read from the subject text, such as "OFFICE" for the
// key "O" in "C=CN, O=OFFICE, CN=ZVUSER".
#pragma once

#include <array>
#include <string_view>

namespace zvcert {

using AttributeValue = std::array<char, 32>;

// The value after the first "KEY=" not preceded by a letter, up to a comma,
// slash or the end, at most 31 bytes (never ending in a cut UTF-8 sequence);
// "XX" when the key is absent or its value empty. Only the first 30 bytes of
// the key are looked for. Always writes all 32 bytes.
void GetSubjectAttribute(std::string_view key, std::string_view subjectText, AttributeValue& value);

}  // namespace zvcert
