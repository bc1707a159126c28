#include "encoding/pem.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/test_data.h"

namespace zvcert {
namespace {

// The Base64 body of a PEM file, as one line.
std::string BodyOf(const std::string& pem) {
  std::string body;
  std::istringstream lines(pem);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("-----") == std::string::npos) body += line;
  }
  return body;
}

std::vector<std::string> Wrap(const std::string& body, size_t width) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < body.size(); at += width) lines.push_back(body.substr(at, width));
  return lines;
}

std::string Join(const std::vector<std::string>& lines, const std::string& indent,
                 const std::string& eol) {
  std::string text;
  for (const auto& line : lines) text += indent + line + eol;
  return text;
}

std::optional<std::vector<uint8_t>> Der(const std::string& pem) {
  DerArea der;
  const std::optional<size_t> size = DecodePemCertificate(pem, der);
  if (!size) return std::nullopt;
  return std::vector<uint8_t>(der.begin(), der.begin() + *size);
}

class Pem : public ::testing::Test {
 protected:
  const std::string file = testing::ReadMaterial("other-root.pem");
  const std::string body = BodyOf(file);
};

TEST_F(Pem, ReadsTheCertificateHoweverItIsLaidOut) {
  const auto expected = Der(file);
  ASSERT_TRUE(expected.has_value());
  ASSERT_GT(expected->size(), 700u);
  EXPECT_EQ((*expected)[0], 0x30);  // SEQUENCE
  EXPECT_EQ((*expected)[1], 0x82);  // with a two-byte length

  const auto lines = Wrap(body, 64);
  const std::string layouts[] = {
      // The built-in form: tab-indented, LF, no LF after the end line.
      "\t-----BEGIN CERTIFICATE-----\n" + Join(lines, "\t", "\n") + "\t-----END CERTIFICATE-----",
      "-----BEGIN CERTIFICATE-----\r\n" + Join(lines, "", "\r\n") + "-----END CERTIFICATE-----\r\n",
      "-----BEGIN CERTIFICATE-----\n" + body + "\n-----END CERTIFICATE-----\n",
      "junk before\nBEGIN CERTIFICATE\n" + Join(Wrap(body, 76), "  ", "\n") + "END CERTIFICATE",
      "-----BEGIN CERTIFICATE----- trailing words\n" + Join(lines, " \t", " \r\n") +
          "   -----END CERTIFICATE----- and more",
  };
  for (const std::string& pem : layouts) {
    EXPECT_EQ(Der(pem), expected) << pem.substr(0, 60);
  }
}

TEST_F(Pem, RefusesTextWithoutItsMarkersOrLineBreaks) {
  const std::string lines = Join(Wrap(body, 64), "", "\n");
  struct Case {
    const char* what;
    std::string pem;
  };
  const Case cases[] = {
      {"empty", ""},
      {"no begin marker", lines + "-----END CERTIFICATE-----\n"},
      {"begin marker in lower case",
       "-----begin certificate-----\n" + lines + "-----END CERTIFICATE-----\n"},
      {"begin is the last line", "x\n-----BEGIN CERTIFICATE-----"},
      {"no end marker", "-----BEGIN CERTIFICATE-----\n" + lines},
      {"end marker right after begin", "-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----"},
      {"end marker on the last Base64 line",
       "-----BEGIN CERTIFICATE-----\n" + body + "-----END CERTIFICATE-----\n"},
      {"body not a multiple of 4",
       "-----BEGIN CERTIFICATE-----\n" + body.substr(4) + "A\n" + "-----END CERTIFICATE-----\n"},
      {"not Base64", "-----BEGIN CERTIFICATE-----\n" + body.substr(0, 40) + "*" + body.substr(41) +
                         "\n-----END CERTIFICATE-----\n"},
      {"text ends at a NUL", "-----BEGIN CERTIFICATE-----\n" + body.substr(0, 100) +
                                 std::string(1, '\0') + body.substr(100) +
                                 "\n-----END CERTIFICATE-----\n"},
  };
  for (const Case& c : cases) EXPECT_FALSE(Der(c.pem).has_value()) << c.what;
}

TEST(PemBody, HoldsAtMost8195Characters) {
  const auto pemOf = [](size_t n) {
    return "-----BEGIN CERTIFICATE-----\n" + Join(Wrap(std::string(n, 'A'), 64), "", "\n") +
           "-----END CERTIFICATE-----\n";
  };
  PemBodyArea area;
  area.fill('#');
  EXPECT_EQ(ExtractPemBody(pemOf(8195), area), 8195u);
  EXPECT_EQ(area[8195], '\0');
  EXPECT_FALSE(ExtractPemBody(pemOf(8196), area).has_value());
  EXPECT_FALSE(ExtractPemBody(pemOf(100000), area).has_value());
  // 8192 characters decode to 6144 bytes, well inside the DER area.
  DerArea der;
  EXPECT_EQ(DecodePemCertificate(pemOf(8192), der), 6144u);
}

TEST(RequestArmor, HeaderLinesOf64FooterAndAFinalLineFeed) {
  for (size_t b : {4u, 60u, 64u, 68u, 128u, 800u}) {
    const std::string base64(b, 'Q');
    std::string out(ArmoredRequestSize(b) + 8, '#');
    const size_t n = ArmorCertificateRequest(base64, out);
    ASSERT_EQ(n, ArmoredRequestSize(b));
    EXPECT_EQ(out[n], '#') << "wrote past its size";
    std::string expected = "-----BEGIN CERTIFICATE REQUEST-----";
    for (size_t at = 0; at < b; at += 64) expected += "\n" + base64.substr(at, 64);
    expected += "\n-----END CERTIFICATE REQUEST-----\n";
    EXPECT_EQ(out.substr(0, n), expected) << b;
  }
  // 128 characters: two full lines, no empty line.
  std::string out(ArmoredRequestSize(128), '#');
  out.resize(ArmorCertificateRequest(std::string(128, 'A'), out));
  EXPECT_EQ(out.find("\n\n"), std::string::npos);
  EXPECT_EQ(out.size(), 35u + 128 + 2 + 1 + 34);
}

}  // namespace
}  // namespace zvcert
