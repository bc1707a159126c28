#include "request/request_body.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "support/hex.h"
#include "support/test_data.h"

namespace zvcert {
namespace {

using testing::Hex;
using testing::ToHex;

// A PUBLICKEYBLOB: BLOBHEADER (PUBLICKEYBLOB, version 2, CALG_RSA_SIGN),
// RSAPUBKEY ("RSA1", bit length, exponent), modulus least significant first.
std::vector<uint8_t> PublicKeyBlob(uint32_t bits, uint32_t exponent) {
  std::vector<uint8_t> blob = Hex("06 02 00 00 00 24 00 00 52 53 41 31");
  for (uint32_t v : {bits, exponent}) {
    for (int i = 0; i < 4; ++i) blob.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  for (uint32_t i = 0; i < bits / 8; ++i) blob.push_back(static_cast<uint8_t>(i + 1));
  blob.back() = 0xC5;  // the most significant byte: top bit set, as in a real key
  return blob;
}

std::vector<uint8_t> KeyInfo(const std::vector<uint8_t>& blob) {
  std::array<uint8_t, kKeyInfoAreaSize> out;
  const int32_t n = EncodePublicKeyInfo(blob, out);
  return std::vector<uint8_t>(out.begin(), out.begin() + n);
}

std::vector<uint8_t> Attributes(const std::string& name, const std::string& password) {
  std::array<uint8_t, kAttributesAreaSize> out;
  const int32_t n = EncodeRequestAttributes(name, password, out);
  return std::vector<uint8_t>(out.begin(), out.begin() + n);
}

// An OCTET STRING of n bytes in a SEQUENCE: both lengths in the shortest form,
// the content moved intact, in an area just as large as the result or one less.
TEST(DerWriter, NestedLengthsTakeTheShortestForm) {
  struct Case {
    size_t content;
    std::string header;  // SEQUENCE, OCTET STRING; empty: refused
  };
  const Case cases[] = {
      {125, "30 7F 04 7D"},
      {126, "30 81 80 04 7E"},  // the SEQUENCE crosses 127/128
      {127, "30 81 81 04 7F"},
      {128, "30 81 83 04 81 80"},  // the OCTET STRING crosses
      {252, "30 81 FF 04 81 FC"},
      {253, "30 82 01 00 04 81 FD"},  // the SEQUENCE crosses 255/256
      {255, "30 82 01 02 04 81 FF"},
      {256, "30 82 01 04 04 82 01 00"},    // the OCTET STRING crosses
      {65531, "30 82 FF FF 04 82 FF FB"},  // the SEQUENCE at 65535
      {65532, ""},                         // the SEQUENCE beyond 65535
      {65536, ""},                         // the OCTET STRING beyond
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> content(c.content);
    std::iota(content.begin(), content.end(), uint8_t{0});
    const size_t size = c.header.empty() ? 70000 : c.header.size() / 3 + 1 + c.content;
    for (const size_t room : {size, size - 1}) {
      std::vector<uint8_t> area(room);
      DerWriter writer(area);
      {
        DerElement sequence = writer.Open(0x30);
        writer.Element(0x04, content);
      }
      const bool fits = !c.header.empty() && room == size;
      ASSERT_EQ(writer.ok(), fits) << c.content << " in " << room;
      if (!fits) continue;
      EXPECT_EQ(ToHex(std::span(area).first(size - c.content)), c.header) << c.content;
      EXPECT_TRUE(std::equal(content.begin(), content.end(), area.end() - c.content)) << c.content;
    }
  }
}

// In an 8-byte area: SEQUENCE { OCTET STRING { zeros }, 05 }. After a failure
// nothing more is appended and no length is written.
TEST(DerWriter, AFailureRefusesEveryLaterAppendAndClose) {
  struct Case {
    const char* what;
    size_t childLimit, childBytes;
    bool closeEnclosingFirst;
    std::string written;
    int32_t length;  // 0: failed
  };
  constexpr size_t kNone = DerWriter::kNoLimit;
  const Case cases[] = {
      {"a child within its limit", 4, 2, false, "30 05 04 02 00 00 05", 7},
      {"a child beyond its limit", 3, 2, false, "30 00 04 00 00 00", 0},
      {"a child beyond the area", kNone, 5, false, "30 00 04 00", 0},
      {"the enclosing element closed first", kNone, 0, true, "30 00 04 00", 0},
  };
  for (const Case& c : cases) {
    std::array<uint8_t, 8> area{};
    DerWriter writer(area);
    DerElement sequence = writer.Open(0x30);
    {
      DerElement child = writer.Open(0x04, c.childLimit);
      writer.Bytes(std::vector<uint8_t>(c.childBytes));
      if (c.closeEnclosingFirst) sequence.Close();
    }
    writer.Byte(0x05);
    sequence.Close();
    EXPECT_EQ(ToHex(writer.written()), c.written) << c.what;
    EXPECT_EQ(writer.resultLength(), c.length) << c.what;
  }
}

TEST(PublicKeyInfo, A1024BitKeyWithExponent65537) {
  const std::vector<uint8_t> info = KeyInfo(PublicKeyBlob(1024, 65537));
  ASSERT_EQ(info.size(), 162u);
  EXPECT_EQ(ToHex(std::span(info).first(29)),
            "30 81 9F "                                      // SEQUENCE SubjectPublicKeyInfo
            "30 0D 06 09 2A 86 48 86 F7 0D 01 01 01 05 00 "  // rsaEncryption, NULL
            "03 81 8D 00 "                                   // BIT STRING, no unused bits
            "30 81 89 "                                      // SEQUENCE RSAPublicKey
            "02 81 81 00");                                  // INTEGER modulus, leading 00
  EXPECT_EQ(info[29], 0xC5) << "the blob's last modulus byte comes first";
  EXPECT_EQ(info[29 + 127], 0x01) << "the blob's first modulus byte comes last";
  EXPECT_EQ(ToHex(std::span(info).last(5)), "02 03 01 00 01");
}

TEST(PublicKeyInfo, OtherExponentsAreMinimalIntegersWithTheirLengths) {
  struct Case {
    uint32_t exponent;
    size_t size;
    std::string lengths;  // at offsets 2, 20 and 24
    std::string tail;
  };
  const Case cases[] = {
      {3, 160, "9D 8B 87", "02 01 03"},
      {17, 160, "9D 8B 87", "02 01 11"},
      {65537, 162, "9F 8D 89", "02 03 01 00 01"},
      {0x80, 161, "9E 8C 88", "02 02 00 80"},
      {0x80000001, 164, "A1 8F 8B", "02 05 00 80 00 00 01"},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> info = KeyInfo(PublicKeyBlob(1024, c.exponent));
    ASSERT_EQ(info.size(), c.size) << c.exponent;
    EXPECT_EQ(ToHex(std::vector<uint8_t>{info[2], info[20], info[24]}), c.lengths) << c.exponent;
    EXPECT_EQ(ToHex(std::span(info).last(c.tail.size() / 3 + 1)), c.tail) << c.exponent;
  }
  const std::vector<uint8_t> three = KeyInfo(PublicKeyBlob(1024, 3));
  EXPECT_EQ(ToHex(std::span(three).subspan(18, 7)), "03 81 8B 00 30 81 87");
}

// Each key size's length forms; the modulus always has its top bit set, so
// its INTEGER carries a sign byte.
TEST(PublicKeyInfo, EveryKeySizeHasItsLengthsInTheShortestForm) {
  struct Case {
    uint32_t bits;
    size_t size;
    std::string head;  // up to the modulus' sign byte
  };
  const Case cases[] = {
      {1024, 162,
       "30 81 9F 30 0D 06 09 2A 86 48 86 F7 0D 01 01 01 05 00 "  // SEQUENCE 159, rsaEncryption
       "03 81 8D 00 30 81 89 02 81 81 00"},                      // BIT STRING 141, 137, INTEGER 129
      {2048, 294,
       "30 82 01 22 30 0D 06 09 2A 86 48 86 F7 0D 01 01 01 05 00 "  // SEQUENCE 290
       "03 82 01 0F 00 30 82 01 0A 02 82 01 01 00"},                // 271, 266, INTEGER 257
      {3072, 422,
       "30 82 01 A2 30 0D 06 09 2A 86 48 86 F7 0D 01 01 01 05 00 "  // SEQUENCE 418
       "03 82 01 8F 00 30 82 01 8A 02 82 01 81 00"},                // 399, 394, INTEGER 385
      {4096, 550,
       "30 82 02 22 30 0D 06 09 2A 86 48 86 F7 0D 01 01 01 05 00 "  // SEQUENCE 546
       "03 82 02 0F 00 30 82 02 0A 02 82 02 01 00"},                // 527, 522, INTEGER 513
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> info = KeyInfo(PublicKeyBlob(c.bits, 65537));
    ASSERT_EQ(info.size(), c.size) << c.bits;
    EXPECT_EQ(ToHex(std::span(info).first(c.head.size() / 3 + 1)), c.head) << c.bits;
    EXPECT_EQ(ToHex(std::span(info).last(5)), "02 03 01 00 01") << c.bits;
  }
  EXPECT_TRUE(KeyInfo(PublicKeyBlob(4104, 65537)).empty()) << "beyond the largest key";
}

TEST(SignatureHeader, NamesTheHashAndAnnouncesTheKeysSignatureLength) {
  struct Case {
    SignatureHash hash;
    size_t signatureBytes;
    std::string expected;
  };
  const std::string oid =
      "30 0D 06 09 2A 86 48 86 F7 0D 01 01 ";  // SEQUENCE { OID 1.2.840.113549.1.1.
  const Case cases[] = {
      {SignatureHash::Sha1, 128, oid + "05 05 00 03 81 81 00"},       // .5, NULL; BIT STRING 129
      {SignatureHash::Sha256, 256, oid + "0B 05 00 03 82 01 01 00"},  // .11; 257
      {SignatureHash::Sha384, 384, oid + "0C 05 00 03 82 01 81 00"},  // .12; 385
      {SignatureHash::Sha512, 512, oid + "0D 05 00 03 82 02 01 00"},  // .13; 513
      {SignatureHash::Sha256, 100, oid + "0B 05 00 03 65 00"},        // a short form
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> area(c.expected.size() / 3 + 1 + c.signatureBytes, 0xEE);
    DerWriter writer(area);
    const std::span<uint8_t> signature = WriteSignatureFrame(writer, c.hash, c.signatureBytes);
    ASSERT_EQ(signature.size(), c.signatureBytes);
    EXPECT_EQ(signature.data() + signature.size(), area.data() + area.size()) << "the room is last";
    EXPECT_EQ(ToHex(std::span(area).first(area.size() - c.signatureBytes)), c.expected);
  }
  std::array<uint8_t, 19 + 127> tooSmall;
  DerWriter writer(tooSmall);
  EXPECT_TRUE(WriteSignatureFrame(writer, SignatureHash::Sha1, 128).empty());
}

TEST(PublicKeyInfo, ABlobShorterThanItsHeaderSaysGivesNothing) {
  std::vector<uint8_t> blob = PublicKeyBlob(1024, 65537);
  blob.pop_back();
  EXPECT_TRUE(KeyInfo(blob).empty());
  EXPECT_TRUE(KeyInfo(std::vector<uint8_t>(12, 0)).empty());
  EXPECT_TRUE(KeyInfo(PublicKeyBlob(0, 65537)).empty());
}

TEST(RequestAttributes, TheSpecifiedBytesForPrintableValues) {
  struct Case {
    std::string name, password, expected;
  };
  const std::string unstructured = "30 0F 06 09 2A 86 48 86 F7 0D 01 09 02 31 02 13 00";
  const std::string challenge = "30 0F 06 09 2A 86 48 86 F7 0D 01 09 07 31 02 13 00";
  const Case cases[] = {
      {"", "", "A0 22 " + unstructured + " " + challenge},
      {"quorvex", "quorvex",
       "A0 30 30 16 06 09 2A 86 48 86 F7 0D 01 09 02 31 09 13 07 71 75 6F 72 76 65 78 "
       "30 16 06 09 2A 86 48 86 F7 0D 01 09 07 31 09 13 07 71 75 6F 72 76 65 78"},
  };
  for (const Case& c : cases) EXPECT_EQ(ToHex(Attributes(c.name, c.password)), c.expected);

  const std::vector<uint8_t> full = Attributes(std::string(31, 'n'), std::string(31, 'p'));
  EXPECT_EQ(full.size(), 98u);
  EXPECT_EQ(ToHex(std::span(full).first(4)), "A0 60 30 2E");
}

TEST(RequestAttributes, ValuesBeyond48BytesKeep30) {
  const std::string whole = ToHex(Attributes(std::string(48, 'a'), ""));
  EXPECT_NE(whole.find("13 30 61 61"), std::string::npos) << "48 bytes are written whole";
  const std::vector<uint8_t> cut = Attributes(std::string(49, 'a'), std::string(49, 'b'));
  EXPECT_EQ(ToHex(std::span(cut).subspan(15, 4)), "31 20 13 1E");
}

TEST(RequestAttributes, AreWrittenInDerOrder) {
  // The shorter encoding first; unstructuredName first when they are equal.
  const std::vector<uint8_t> longerName = Attributes("a longer name", "pw");
  EXPECT_EQ(ToHex(std::span(longerName).subspan(4, 11)), "06 09 2A 86 48 86 F7 0D 01 09 07");
  const std::vector<uint8_t> longerPassword = Attributes("nm", "a longer password");
  EXPECT_EQ(ToHex(std::span(longerPassword).subspan(4, 11)), "06 09 2A 86 48 86 F7 0D 01 09 02");
}

TEST(RequestAttributes, NonPrintableValuesBecomeUtf8Strings) {
  struct Case {
    std::string value;
    std::string string;  // tag, length, bytes
  };
  const Case cases[] = {
      {"p@ss_word", "0C 09 70 40 73 73 5F 77 6F 72 64"},
      {"Caf\xC3\xA9", "0C 05 43 61 66 C3 A9"},
      {"a\xFF", "0C 04 61 EF BF BD"},  // not UTF-8: U+FFFD
      {"A-Z a.z (0)+,/:=?'", "13 12 41 2D 5A 20 61 2E 7A 20 28 30 29 2B 2C 2F 3A 3D 3F 27"},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> block = Attributes(c.value, c.value);
    EXPECT_EQ(ToHex(std::span(block).subspan(17, c.string.size() / 3 + 1)), c.string) << c.value;
  }
  // Two long UTF-8 values need the long length form, which stays DER.
  const std::vector<uint8_t> wide = Attributes(std::string(48, '_'), std::string(48, '_'));
  EXPECT_EQ(ToHex(std::span(wide).first(3)), "A0 81 82");
}

TEST(RequestInfo, TheWorkedExampleGives449Bytes) {
  std::array<uint8_t, 2044> out;
  const int32_t n =
      BuildRequestInfo(out, PublicKeyBlob(1024, 65537), testing::kWorkedExampleSubject, "", "");
  ASSERT_EQ(n, 449);
  EXPECT_EQ(ToHex(std::span(out).first(10)), "30 82 01 BD 02 01 00 30 81 F1");
  EXPECT_EQ(ToHex(std::span(out).subspan(7 + 244, 3)), "30 81 9F");
  EXPECT_EQ(ToHex(std::span(out).subspan(7 + 244 + 162, 2)), "A0 22");
}

TEST(RequestInfo, AShortBodyTakesTheShortLengthForm) {
  // A 512-bit key and empty values: 251 bytes of content, so 30 81 FB.
  std::array<uint8_t, 2044> out;
  const int32_t n = BuildRequestInfo(out, PublicKeyBlob(512, 65537), SubjectValues{}, "", "");
  ASSERT_EQ(n, 254);
  EXPECT_EQ(ToHex(std::span(out).first(6)), "30 81 FB 02 01 00");
}

TEST(RequestInfo, IsNotBuiltWithoutItsSubject) {
  const std::string long48(48, 'x');
  const std::string email(96, 'e');
  SubjectValues subject = {long48, long48, long48, long48, long48, long48, email, "", "", ""};
  std::array<uint8_t, 2044> out;
  EXPECT_EQ(BuildRequestInfo(out, PublicKeyBlob(1024, 65537), subject, "", ""), 0);
}

}  // namespace
}  // namespace zvcert
