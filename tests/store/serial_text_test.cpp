#include "store/serial_text.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_data.h"

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
    EXPECT_EQ(std::string(Int64ToDecimal(testing::Serial(c.value)).data()), c.expected) << c.value;
  }
}

// Longer builds: the same rules over 16 or 20 bytes, unsigned; both sizes are
// built here whatever the build's own size.
TEST(SerialText, LongSerialsReadAndWriteAsUnsignedNumbersOfTheirSize) {
  using Bytes20 = std::array<uint8_t, 20>;
  Bytes20 ordered;  // 01 02 ... 14 big-endian
  for (size_t i = 0; i < ordered.size(); ++i) ordered[i] = static_cast<uint8_t>(20 - i);
  Bytes20 allOnes;
  allOnes.fill(0xFF);
  Bytes20 topBit{};
  topBit[19] = 0x80;
  struct Case {
    std::string text;
    Bytes20 value;
    std::string back;  // what the value gives as text
  };
  const Case cases[] = {
      {"5753854965885600108575829560559299546819203860", ordered,
       "5753854965885600108575829560559299546819203860"},
      {"1461501637330902918203684832716283019655932542975", allOnes,  // 2^160 - 1
       "1461501637330902918203684832716283019655932542975"},
      {"730750818665451459101842416358141509827966271488", topBit,  // 2^159: top bit set
       "730750818665451459101842416358141509827966271488"},
      {"1461501637330902918203684832716283019655932542981", Bytes20{5}, "5"},  // 2^160 + 5 wraps
      {"000000000000000000007x", Bytes20{7}, "7"},
      {"", Bytes20{}, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecimalToSerial<20>(c.text), c.value) << c.text;
    EXPECT_EQ(std::string(SerialToDecimal(c.value).data()), c.back) << c.text;
  }
  std::array<uint8_t, 16> sixteen;
  sixteen.fill(0xFF);
  EXPECT_EQ(std::string(SerialToDecimal(sixteen).data()),
            "340282366920938463463374607431768211455");
  EXPECT_EQ(DecimalToSerial<16>("340282366920938463463374607431768211456"),
            (std::array<uint8_t, 16>{}));
}

TEST(SerialText, TheCutLeavesNineteenLeadingZerosForTheLargestNumber) {
  EXPECT_EQ(SerialTextCut(8), 39u);
  EXPECT_EQ(SerialTextCut(16), 58u);
  EXPECT_EQ(SerialTextCut(20), 68u);
  // A serial argument is read after the cut: 38 zeros and a 5 are 5, one
  // zero more pushes the 5 out.
  const std::string zeros(kSerialTextCut - 1, '0');
  EXPECT_EQ(SerialArgument(zeros + "5"), DecimalToInt64("5"));
  EXPECT_EQ(SerialArgument("0" + zeros + "5"), DecimalToInt64("0"));
  EXPECT_EQ(SerialArgument(std::string("12\0"
                                       "3",
                                       4)),
            DecimalToInt64("12"));
}

}  // namespace
}  // namespace zvcert
