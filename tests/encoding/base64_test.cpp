#include "encoding/base64.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support/test_data.h"

namespace zvcert {
namespace {

std::string Encode(const std::string& bytes, int32_t capacity, int* status) {
  std::string out(capacity + 8, '#');
  int32_t length = -7;
  *status = Base64EncodeBuffer(reinterpret_cast<const uint8_t*>(bytes.data()),
                               static_cast<int32_t>(bytes.size()), out.data(), capacity, &length);
  if (*status != 0) {
    EXPECT_EQ(length, -7) << "outLength touched on failure";
    return out;
  }
  EXPECT_EQ(out[length], '#') << "wrote past the characters it reported";
  return out.substr(0, length);
}

struct Decoded {
  int status;
  int32_t length;
  std::string bytes;  // the area as far as written ('#' where untouched)
};

Decoded Decode(const std::string& text, int32_t capacity) {
  std::string area(capacity + 8, '#');
  int32_t length = -7;
  const int status = Base64DecodeText(text.data(), static_cast<int32_t>(text.size()),
                                      reinterpret_cast<uint8_t*>(area.data()), capacity, &length);
  return {status, length, area};
}

TEST(Base64, EncodesAndDecodesTheRfcVectors) {
  for (const auto& [bytes, text] : testing::kRfc4648Base64) {
    int status = -1;
    EXPECT_EQ(Encode(bytes, static_cast<int32_t>(text.size()), &status), text);
    EXPECT_EQ(status, 0);
    const Decoded d = Decode(text, static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(d.status, 0) << text;
    EXPECT_EQ(d.length, static_cast<int32_t>(bytes.size())) << text;
    EXPECT_EQ(d.bytes.substr(0, bytes.size()), bytes);
    EXPECT_EQ(d.bytes[bytes.size()], '#') << "wrote past the decoded bytes";
  }
}

TEST(Base64, EncodesEveryByteValueAndDecodesThemBack) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  int status = -1;
  const std::string text = Encode(all, 344, &status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(text.substr(0, 8), "AAECAwQF");
  EXPECT_EQ(text.substr(336), "/P3+/w==");  // FC FD FE, then FF alone
  const Decoded d = Decode(text, 256);
  ASSERT_EQ(d.status, 0);
  EXPECT_EQ(d.bytes.substr(0, 256), all);
}

TEST(Base64, EncoderRefusesWhatDoesNotFit) {
  struct Case {
    std::string bytes;
    int32_t capacity;
    int expected;
  };
  const Case cases[] = {
      {"abc", 3, -1}, {"abc", 4, 0}, {"abcd", 7, -1}, {"abcd", 8, 0},
      {"", 0, 0},     {"", -1, -1},  {"a", 4, 0},     {"ab", 3, -1},
  };
  for (const Case& c : cases) {
    int status = 99;
    Encode(c.bytes, c.capacity, &status);
    EXPECT_EQ(status, c.expected) << c.bytes.size() << " bytes into " << c.capacity;
  }
}

TEST(Base64, EncoderRefusesANullAreaOrANegativeLength) {
  int32_t length = -7;
  const uint8_t data[3] = {1, 2, 3};
  char out[8];
  EXPECT_EQ(Base64EncodeBuffer(data, 3, nullptr, 8, &length), -1);
  EXPECT_EQ(Base64EncodeBuffer(data, -5, out, 8, &length), -1);
  EXPECT_EQ(length, -7);
}

TEST(Base64, DecoderJudgesPaddingPerGroupAndRejectsBadText) {
  struct Case {
    const char* what;
    std::string text;
    int32_t capacity;
    int status;
    int32_t length;  // -7: untouched
    std::string written;
  };
  const Case cases[] = {
      {"empty", "", 10, 0, 0, ""},
      {"length 6", "Zm9vYg", 10, -1, -7, ""},
      {"length 3", "Zm9", 10, -1, -7, ""},
      {"padded group first", "Zg==Zm9v", 10, 0, 4, "ffoo"},
      {"two padded groups", "Zg==Zg==", 10, 0, 2, "ff"},
      {"= then a letter", "Zm=v", 10, -1, 0, ""},
      {"starts with =", "=m9v", 10, -1, 0, ""},
      {"= second", "Z=9v", 10, -1, 0, ""},
      {"===", "Z===", 10, -1, 0, ""},
      {"line break", "Zm9v\nZm9v", 10, -1, -7, ""},  // 9 characters
      {"line break in a group", "Zm9vZm\n9", 10, -1, 3, "foo"},
      {"blank", "Zm9v Zm8", 10, -1, 3, "foo"},
      {"high byte", "Zm9v\xC3\xA9m9", 10, -1, 3, "foo"},
      {"NUL", std::string("Zm\0v", 4), 10, -1, 0, ""},
      {"full then short capacity", "Zm9vYmFy", 3, -1, 3, "foo"},
      {"full group into 2", "Zm9v", 2, -1, 0, ""},
      {"padded group exactly fits", "Zm8=", 2, 0, 2, "fo"},
      {"capacity already reached", "Zm9vZg==", 3, -1, 3, "foo"},
      {"non-canonical padding bits", "Zh==", 10, 0, 1, "f"},
  };
  for (const Case& c : cases) {
    const Decoded d = Decode(c.text, c.capacity);
    EXPECT_EQ(d.status, c.status) << c.what;
    EXPECT_EQ(d.length, c.length) << c.what;
    EXPECT_EQ(d.bytes.substr(0, c.written.size()), c.written) << c.what;
    if (c.length >= 0) {
      EXPECT_EQ(d.bytes[c.length], '#') << c.what << ": wrote more than it counted";
    }
  }
}

TEST(Base64, DecoderGivesWholeRunsAndFailsAtTheRightGroupOfABlock) {
  std::string run;  // bytes 0, 7, 14, ...
  for (size_t i = 0; i < 3 << 14; ++i) run.push_back(static_cast<char>(7 * i));
  // Lengths around blocks of 16 characters, the capacity exact and one to
  // three bytes short: it stops at the first group that does not fit.
  for (const size_t n : {9, 11, 12, 13, 21, 23, 24, 25, 45, 47, 48, 49, 1000}) {
    int ignored = 0;
    const std::string text =
        Encode(run.substr(0, n), static_cast<int32_t>(Base64Length(n)), &ignored);
    for (const size_t cut : {0, 1, 2, 3}) {
      const Decoded d = Decode(text, static_cast<int32_t>(n - cut));
      EXPECT_EQ(d.status, cut == 0 ? 0 : -1) << n << " bytes, " << cut << " short";
      // The bytes counted, and the next one untouched.
      EXPECT_EQ(d.bytes.substr(0, d.length + 1),
                run.substr(0, cut == 0 ? n : (n - cut) / 3 * 3) + '#')
          << n << " bytes, " << cut << " short";
    }
  }
  // A stranger or "=" in each place of two blocks at the start, 1 KiB in
  // and at the end of a 64 KiB text; "xxx=" is a padded group, two bytes.
  int ignored = 0;
  const std::string text = Encode(run, static_cast<int32_t>(Base64Length(run.size())), &ignored);
  for (const size_t from : {0, 1024, 65504}) {
    for (size_t p = from; p < from + 32; ++p) {
      for (const char c : {'*', '='}) {
        std::string bad = text;
        bad[p] = c;
        const size_t before = 3 * (p / 4);
        const bool padded = c == '=' && p % 4 == 3;
        const Decoded d = Decode(bad, static_cast<int32_t>(run.size()));
        EXPECT_EQ(d.status, padded ? 0 : -1) << c << " at " << p;
        EXPECT_EQ(d.bytes.substr(0, d.length + 1),
                  padded ? run.substr(0, before + 2) + run.substr(before + 3) + '#'
                         : run.substr(0, before) + '#')
            << c << " at " << p;
      }
    }
  }
}

TEST(Base64, DecoderRefusesANullArea) {
  int32_t length = -7;
  EXPECT_EQ(Base64DecodeText("Zm9v", 4, nullptr, 8, &length), -1);
  EXPECT_EQ(length, -7);
}

}  // namespace
}  // namespace zvcert
