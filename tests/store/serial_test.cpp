#include "store/serial.h"

#include <gtest/gtest.h>

#include <vector>

namespace zvcert {
namespace {

SerialValue Value(std::vector<uint8_t> bytes) {
  SerialValue v{};
  std::copy(bytes.begin(), bytes.end(), v.begin());
  return v;
}

TEST(Serial, SignificantLengthIgnoresHighZeroBytesButNeverByteZero) {
  struct Case {
    std::vector<uint8_t> serial;
    size_t expected;
  };
  const Case cases[] = {
      {{}, 0},
      {{0x00}, 1},
      {{0x00, 0x00, 0x00}, 1},
      {{0x05}, 1},
      {{0x00, 0x01}, 2},
      {{0x34, 0x12, 0x8F, 0x00}, 3},  // DER 00 8F 12 34
      {{1, 2, 3, 4, 5, 6, 7, 8}, 8},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 10},
  };
  for (const Case& c : cases) EXPECT_EQ(SignificantLength(c.serial), c.expected);
}

TEST(Serial, MatchesBySignificantLength) {
  struct Case {
    const char* what;
    std::vector<uint8_t> certificate;
    SerialValue requested;
    bool matches;
  };
  const Case cases[] = {
      {"sign byte held by the certificate",
       {0x34, 0x12, 0x8F, 0x00},
       Value({0x34, 0x12, 0x8F}),
       true},
      {"0x0100 against 00 01", {0x00, 0x01}, Value({0x00, 0x01}), true},
      {"0x0100 against 00", {0x00}, Value({0x00, 0x01}), false},
      {"0 against 00", {0x00}, Value({}), true},
      {"0 against an empty serial", {}, Value({}), false},
      {"low byte differs", {0x35, 0x12, 0x8F, 0x00}, Value({0x34, 0x12, 0x8F}), false},
      {"more than eight significant bytes",
       {1, 2, 3, 4, 5, 6, 7, 8, 9},
       Value({1, 2, 3, 4, 5, 6, 7, 8}),
       false},
      {"eight bytes and a sign byte",
       {1, 2, 3, 4, 5, 6, 7, 0x88, 0},
       Value({1, 2, 3, 4, 5, 6, 7, 0x88}),
       true},
      {"shorter certificate serial", {0x05}, Value({0x05, 0x01}), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SerialMatches(c.certificate, c.requested), c.matches) << c.what;
}

TEST(Serial, TwentyByteRequestsMatchUpToTwentySignificantBytes) {
  std::vector<uint8_t> twenty(20), sign(21), longer(21);
  for (size_t i = 0; i < 20; ++i) twenty[i] = sign[i] = longer[i] = static_cast<uint8_t>(i + 1);
  twenty[19] = sign[19] = longer[19] = 0x80;  // top bit set: DER adds a sign byte
  sign[20] = 0x00;
  longer[20] = 0x01;
  std::array<uint8_t, 20> requested;
  std::copy(twenty.begin(), twenty.end(), requested.begin());
  EXPECT_TRUE(SerialMatches(twenty, requested));
  EXPECT_TRUE(SerialMatches(sign, requested)) << "the sign byte takes no part";
  EXPECT_FALSE(SerialMatches(longer, requested)) << "21 significant bytes never match";
  EXPECT_FALSE(SerialMatches(std::span(twenty).first(8), requested));
}

}  // namespace
}  // namespace zvcert
