#include "request/subject_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/hex.h"
#include "support/test_data.h"

namespace zvcert {
namespace {

using testing::Hex;
using testing::ToHex;

struct Encoded {
  int32_t length;
  std::vector<uint8_t> bytes;
};

Encoded Encode(const SubjectValues& values) {
  std::array<uint8_t, kNameAreaSize> out;
  out.fill(0xEE);
  const int32_t length = EncodeSubjectName(out, values);
  return {length, std::vector<uint8_t>(out.begin(), out.begin() + length)};
}

SubjectValues Empty() { return SubjectValues{}; }

// A value of n ASCII letters.
std::string Letters(size_t n) { return std::string(n, 'a'); }

TEST(SubjectName, AllValuesEmpty) {
  const Encoded e = Encode(Empty());
  ASSERT_EQ(e.length, 118);
  const std::string emptyBmp[] = {"06", "08", "07", "0A", "0B", "03", "04", "2A", "0C"};
  std::string expected = "30 74";  // SEQUENCE, content 116
  for (const std::string& type : emptyBmp) {
    expected += " 31 09 30 07 06 03 55 04 " + type + " 1E 00";  // SET { SEQ { OID, BMPString "" } }
  }
  expected += " 31 0F 30 0D 06 09 2A 86 48 86 F7 0D 01 09 01 16 00";  // emailAddress, IA5String ""
  EXPECT_EQ(ToHex(e.bytes), ToHex(Hex(expected)));
}

TEST(SubjectName, WorkedExampleOfTheCountry) {
  SubjectValues values = Empty();
  values[kC] = "CN";
  const Encoded e = Encode(values);
  // SET { SEQUENCE { countryName, BMPString 0043 004E } }
  EXPECT_EQ(ToHex(std::span(e.bytes).subspan(2, 15)),
            "31 0D 30 0B 06 03 55 04 06 1E 04 00 43 00 4E");
}

TEST(SubjectName, TheInitialSubjectGives244Bytes) {
  const Encoded e = Encode(testing::kWorkedExampleSubject);
  ASSERT_EQ(e.length, 244);
  EXPECT_EQ(ToHex(std::span(e.bytes).first(3)), "30 81 F1");
  // Output order C, ST, L, O, OU, CN, SN, G, T, E: the surname (55 04 04)
  // carries the 16 digits, and the e-mail comes last.
  const std::string hex = ToHex(e.bytes);
  EXPECT_LT(hex.find("55 04 03"), hex.find("55 04 04 1E 20 00 31"));
  EXPECT_EQ(hex.substr(hex.size() - 3 * 19 + 1),
            ToHex(Hex("73 65 72 76 69 63 65 40 7A 76 63 65 72 74 2E 74 65 73 74")));
}

TEST(SubjectName, HeaderFollowsTheContentLength) {
  // Content = 116 + 2 * units + e-mail bytes; units spread over the values.
  struct Case {
    size_t units;
    size_t emailBytes;
    size_t content;
    std::string header;
  };
  const Case cases[] = {
      {0, 11, 127, "30 7F"},        {0, 12, 128, "30 81 80"},      {22, 95, 255, "30 81 FF"},
      {22, 96, 256, "30 82 01 00"}, {148, 96, 508, "30 82 01 FC"},
  };
  for (const Case& c : cases) {
    SubjectValues values = Empty();
    std::vector<std::string> texts;
    for (size_t left = c.units, i = 0; left > 0; ++i) {
      texts.push_back(Letters(std::min<size_t>(left, kMaxNameUnits)));
      left -= texts.back().size();
    }
    const SubjectKey order[] = {kC, kST, kL, kO, kOU, kCN, kSN, kG, kT};
    for (size_t i = 0; i < texts.size(); ++i) values[order[i]] = texts[i];
    const std::string email = Letters(c.emailBytes);
    values[kE] = email;
    const Encoded e = Encode(values);
    const std::vector<uint8_t> header = Hex(c.header);
    EXPECT_EQ(static_cast<size_t>(e.length), header.size() + c.content) << c.content;
    EXPECT_EQ(ToHex(std::span(e.bytes).first(header.size())), c.header) << c.content;
  }
}

TEST(SubjectName, ANameBeyond512BytesIsNotWritten) {
  SubjectValues values = Empty();
  const std::string long48 = Letters(48);
  const std::string email95 = Letters(95);
  values[kC] = values[kST] = values[kL] = long48;
  values[kO] = "aaaaa";  // 149 units: content 509
  values[kE] = email95;
  std::array<uint8_t, kNameAreaSize> out;
  out.fill(0xEE);
  EXPECT_EQ(EncodeSubjectName(out, values), 0);
  for (uint8_t b : out) ASSERT_EQ(b, 0xEE) << "written although it does not fit";
}

TEST(SubjectName, LongValuesAreCutNotRefused) {
  SubjectValues values = Empty();
  const std::string sixty = Letters(60);
  const std::string hundred = Letters(100);
  values[kC] = sixty;
  values[kE] = hundred;
  const Encoded e = Encode(values);
  // After 30 82 01 34: SET 0x69 { SEQ 0x67 { countryName, BMPString 0x60 (48 units) } }
  EXPECT_EQ(ToHex(std::span(e.bytes).subspan(4, 11)), "31 69 30 67 06 03 55 04 06 1E 60");
  // SET 0x6F { SEQ 0x6D { emailAddress, IA5String 0x60 (96 bytes) } }
  const size_t email = e.bytes.size() - (17 + 96);
  EXPECT_EQ(ToHex(std::span(e.bytes).subspan(email, 4)), "31 6F 30 6D");
  EXPECT_EQ(ToHex(std::span(e.bytes).subspan(email + 15, 2)), "16 60");
}

TEST(SubjectName, Utf8ValuesBecomeBmpStringUnits) {
  struct Case {
    const char* what;
    std::string value;
    std::string bmp;  // tag, length, units
  };
  const Case cases[] = {
      {"ASCII punctuation", "a,b/c=d e",
       "1E 12 00 61 00 2C 00 62 00 2F 00 63 00 3D 00 64 00 20 00 65"},
      {"Latin", "Caf\xC3\xA9", "1E 08 00 43 00 61 00 66 00 E9"},
      {"CJK", "\xE5\xBC\xA0\xE4\xB8\x89", "1E 04 5F 20 4E 09"},
      {"beyond the BMP", "\xF0\x9F\x98\x80", "1E 02 FF FD"},
      {"not UTF-8",
       "a\xFF"
       "b",
       "1E 06 00 61 FF FD 00 62"},
      {"a cut sequence", "a\xE4\xB8", "1E 06 00 61 FF FD FF FD"},
  };
  for (const Case& c : cases) {
    SubjectValues values = Empty();
    values[kCN] = c.value;
    const Encoded e = Encode(values);
    const std::string hex = ToHex(e.bytes);
    const std::string cn = "06 03 55 04 03 ";
    const size_t at = hex.find(cn);
    ASSERT_NE(at, std::string::npos) << c.what;
    EXPECT_EQ(hex.substr(at + cn.size(), c.bmp.size()), c.bmp) << c.what;
  }
  // 60 two-byte characters count as 60 units and keep 48.
  SubjectValues values = Empty();
  std::string accents;
  for (int i = 0; i < 60; ++i) accents += "\xC3\xA9";
  values[kO] = accents;
  EXPECT_NE(ToHex(Encode(values).bytes).find("06 03 55 04 0A 1E 60 00 E9"), std::string::npos);
}

}  // namespace
}  // namespace zvcert
