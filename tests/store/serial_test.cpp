#include "store/serial.h"

#include <gtest/gtest.h>

#include <vector>

namespace zvcert {
namespace {

// A requested value of size bytes (8 unless said), least significant first.
std::vector<uint8_t> Value(std::vector<uint8_t> bytes, size_t size = 8) {
  bytes.resize(size);
  return bytes;
}

// 1 2 ... 19 0x80, and what DER makes of it: a sign byte, or one more byte.
const std::vector<uint8_t> kTwenty = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                      11, 12, 13, 14, 15, 16, 17, 18, 19, 0x80};
std::vector<uint8_t> Append(std::vector<uint8_t> bytes, uint8_t b) {
  bytes.push_back(b);
  return bytes;
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
    std::vector<uint8_t> requested;
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
      {"20 bytes, top bit set", kTwenty, Value(kTwenty, 20), true},
      {"20 bytes and a sign byte", Append(kTwenty, 0x00), Value(kTwenty, 20), true},
      {"21 significant bytes against 20", Append(kTwenty, 0x01), Value(kTwenty, 20), false},
      {"20 bytes against their low 8", kTwenty, Value({1, 2, 3, 4, 5, 6, 7, 8}), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SerialMatches(c.certificate, c.requested), c.matches) << c.what;
}

}  // namespace
}  // namespace zvcert
