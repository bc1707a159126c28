#include "encoding/reverse_bytes.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace zvcert {
namespace {

TEST(ReverseBytes, ReversesInPlaceLeavingAnOddMiddle) {
  struct Case {
    std::vector<uint8_t> in, out;
  };
  const Case cases[] = {
      {{}, {}},
      {{7}, {7}},
      {{1, 2}, {2, 1}},
      {{1, 2, 3, 4, 5}, {5, 4, 3, 2, 1}},
  };
  for (Case c : cases) {
    ReverseBytes(c.in);
    EXPECT_EQ(c.in, c.out);
  }
  std::vector<uint8_t> signature(128);
  std::iota(signature.begin(), signature.end(), 0);
  ReverseBytes(signature);
  for (size_t i = 0; i < 128; ++i) ASSERT_EQ(signature[i], 127 - i);
}

}  // namespace
}  // namespace zvcert
