#include "script/version_number.h"

#include <gtest/gtest.h>

#include <string>

namespace zvcert {
namespace {

TEST(VersionNumber, TakesTheFirstFourDigitsOfTheFileVersionText) {
  struct Case {
    std::string text;
    int32_t expected;
  };
  const Case cases[] = {
      {"1, 0, 2, 2", 1022},
      {"10, 20, 30, 40", 1020},  // stops after four digits
      {"1.0", 10},
      {"no digits here", 0},
      {"", 0},
      {std::string("1, 0\0 2, 2", 10), 1022},  // NUL is skipped, not an end
      {"\xB9\xB2\xB3"
       "7",
       7},  // bytes of 0x80 and above are never digits
      {"9999999", 9999},
      {"0, 0, 0, 7", 7},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VersionNumberFromText(c.text), c.expected) << '"' << c.text << '"';
  }
}

}  // namespace
}  // namespace zvcert
