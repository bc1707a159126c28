#include "encoding/text_copy.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace zvcert {
namespace {

TEST(CopyFixed, CutsAtSizeLessOneOrAtAZeroByteAndZeroFills) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"", ""},
      {"ab", "ab"},
      {std::string(31, 'x'), std::string(31, 'x')},
      {std::string(32, 'y'), std::string(31, 'y')},
      {std::string(500, 'z'), std::string(31, 'z')},
      {std::string("ab\0cd", 5), "ab"},
  };
  for (const Case& c : cases) {
    std::array<char, 32> field;
    field.fill('#');
    CopyFixed(field, c.text);
    EXPECT_EQ(std::string(field.data()), c.expected);
    for (size_t i = c.expected.size(); i < field.size(); ++i) {
      ASSERT_EQ(field[i], '\0') << "byte " << i << " not zero-filled";
    }
  }
}

}  // namespace
}  // namespace zvcert
