#include "script/serial_text.h"

#include <gtest/gtest.h>

#include <string>

namespace zvcert {
namespace {

uint64_t AsInteger(const SerialValue& v) {
  uint64_t n = 0;
  for (size_t i = v.size(); i-- > 0;) n = (n << 8) | v[i];
  return n;
}

TEST(SerialText, DecimalToInt64ReadsDigitsUntilTheFirstOther) {
  struct Case {
    std::string text;
    uint64_t expected;
  };
  const Case cases[] = {
      {"255", 255},
      {"", 0},
      {"0", 0},
      {"12ab", 12},
      {" 12", 0},
      {"-5", 0},
      {"+5", 0},
      {"9223372036854775807", 9223372036854775807ull},
      {"9223372036854775813", 9223372036854775813ull},
      {"18446744073709551615", 18446744073709551615ull},
      {"18446744073709551617", 1},  // 2^64 + 1 wraps
      {std::string(100, '9'), 0},   // checked below against modular arithmetic
      {"42\0"
       "7",
       42},
  };
  for (const Case& c : cases) {
    if (c.text.size() == 100) {
      uint64_t expected = 0;
      for (char d : c.text) expected = expected * 10 + static_cast<uint64_t>(d - '0');
      EXPECT_EQ(AsInteger(DecimalToInt64(c.text)), expected);
      continue;
    }
    EXPECT_EQ(AsInteger(DecimalToInt64(c.text)), c.expected) << c.text;
  }
  EXPECT_EQ(DecimalToInt64("255"), (SerialValue{0xFF, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(SerialText, Int64ToDecimalLeavesZeroAndNegativeEmpty) {
  struct Case {
    uint64_t value;
    std::string expected;
  };
  const Case cases[] = {
      {255, "255"},
      {0, ""},
      {1, "1"},
      {9223372036854775807ull, "9223372036854775807"},
      {9223372036854775808ull, ""},
      {18446744073709551615ull, ""},
      {0x8F1234, "9376308"},
  };
  for (const Case& c : cases) {
    SerialValue v;
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint8_t>(c.value >> (8 * i));
    EXPECT_EQ(std::string(Int64ToDecimal(v).data()), c.expected) << c.value;
  }
}

}  // namespace
}  // namespace zvcert
