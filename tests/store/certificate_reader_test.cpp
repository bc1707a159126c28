#include "store/certificate_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "encoding/pem.h"
#include "encoding/sha512.h"
#include "support/hex.h"
#include "support/test_data.h"

namespace zvcert {
namespace {

using Bytes = std::vector<uint8_t>;

// chain-root.pem (RSA 4096, sha512) issued chain-issued.pem (RSA 2048, sha1)
// and chain-ec.pem (P-256, sha384); other-root.pem is self-signed (sha256).
Bytes Material(const char* name) {
  DerArea der;
  const std::optional<size_t> size = DecodePemCertificate(testing::ReadMaterial(name), der);
  return size ? Bytes(der.begin(), der.begin() + *size) : Bytes();
}

// Where text first stands in der.
size_t Find(const Bytes& der, std::string_view text) {
  return static_cast<size_t>(std::search(der.begin(), der.end(), text.begin(), text.end()) -
                             der.begin());
}

std::optional<CertificateView> Read(const Bytes& der) {
  CertificateView view;
  if (!ReadCertificate(der, view)) return std::nullopt;
  return view;
}

TEST(CertificateReader, ReadsSerialTimesAndKey) {
  const struct {
    const char* file;
    const char* serial;
    int64_t notBefore, notAfter;  // UTCTime either side of 2000, GeneralizedTime from 2050
    size_t modulusBytes;
  } cases[] = {
      {"chain-root.pem", "5A 17 C0 DE", 946684799, 2524607999, 512},
      {"chain-issued.pem", "00 9A 3C 5E 7F 1B 2D 4F 60", 1709210096, 2561241601, 256},
      {"chain-ec.pem", "01", 1735689600, 1767225600, 0},
  };
  for (const auto& c : cases) {
    const Bytes der = Material(c.file);
    const auto view = Read(der);
    ASSERT_TRUE(view) << c.file;
    EXPECT_EQ(testing::ToHex(view->serial), c.serial) << c.file;
    EXPECT_EQ(view->notBefore, c.notBefore) << c.file;
    EXPECT_EQ(view->notAfter, c.notAfter) << c.file;
    EXPECT_EQ(view->modulus.size(), c.modulusBytes) << c.file;
    EXPECT_EQ(testing::ToHex(view->exponent), c.modulusBytes ? "01 00 01" : "") << c.file;
    if (c.modulusBytes) EXPECT_NE(view->modulus[0], 0) << c.file;
  }
}

TEST(CertificateReader, SignatureVerifiesOnlyWithTheIssuersKeyOverTheSignedBytes) {
  const Bytes root = Material("chain-root.pem"), issued = Material("chain-issued.pem");
  const Bytes ec = Material("chain-ec.pem"), other = Material("other-root.pem");
  Bytes changedSubject = issued, changedSignature = issued;
  changedSubject[Find(issued, "example")] ^= 0x20;
  changedSignature.back() ^= 0x01;
  const struct {
    const char* what;
    const Bytes& cert;
    const Bytes& signer;
    bool verifies;
  } cases[] = {
      {"root by itself (sha512, 4096 bits)", root, root, true},
      {"issued by the root (sha1)", issued, root, true},
      {"EC key by the root (sha384)", ec, root, true},
      {"other root by itself (sha256)", other, other, true},
      {"issued by another root", issued, other, false},
      {"issued by its own key", issued, issued, false},
      {"a byte of the subject changed", changedSubject, root, false},
      {"a bit of the signature changed", changedSignature, root, false},
  };
  for (const auto& c : cases) {
    const auto cert = Read(c.cert), signer = Read(c.signer);
    ASSERT_TRUE(cert && signer) << c.what;
    EXPECT_EQ(SignatureVerifies(*cert, signer->modulus, signer->exponent), c.verifies) << c.what;
  }
}

// With exponent 1 the signature is the encoded block itself, so each way of
// getting the block wrong can be written down.
TEST(CertificateReader, SignatureBlockMustBeExactlyThePkcs1One) {
  const Bytes root = Material("chain-root.pem");
  const auto view = Read(root);
  ASSERT_TRUE(view);
  const Sha512Digest digest = Sha512(view->toBeSigned);
  const Bytes sha512Info = testing::Hex("30 51 30 0D 06 09 60 86 48 01 65 03 04 02 03 05 00 04 40");
  // start, FF.., 00, info, digest without its last cut bytes: 512 bytes.
  const auto block = [&](Bytes start, Bytes info, size_t cut) {
    Bytes em = start;
    em.resize(511 - info.size() - 64 + cut, 0xFF);
    em.push_back(0x00);
    em.insert(em.end(), info.begin(), info.end());
    em.insert(em.end(), digest.begin(), digest.end() - static_cast<std::ptrdiff_t>(cut));
    return em;
  };
  Bytes wrongDigest = block({0x00, 0x01}, sha512Info, 0);
  wrongDigest[500] ^= 1;
  Bytes sha256Info = sha512Info;
  sha256Info[14] = 0x01;
  const struct {
    const char* what;
    Bytes em;
    bool verifies;
  } cases[] = {
      {"00 01 FF.. 00 DigestInfo", block({0x00, 0x01}, sha512Info, 0), true},
      {"block type 2", block({0x00, 0x02}, sha512Info, 0), false},
      {"digest changed", wrongDigest, false},
      {"another hash's DigestInfo", block({0x00, 0x01}, sha256Info, 0), false},
      {"padding longer, digest cut", block({0x00, 0x01}, sha512Info, 1), false},
  };
  const Bytes one = {0x01};
  for (const auto& c : cases) {
    CertificateView crafted = *view;
    crafted.signature = c.em;
    EXPECT_EQ(SignatureVerifies(crafted, view->modulus, one), c.verifies) << c.what;
  }
}

TEST(CertificateReader, RefusesWhatIsNotOneDerCertificate) {
  const Bytes issued = Material("chain-issued.pem");
  ASSERT_TRUE(Read(issued));
  for (size_t n = 0; n < issued.size(); ++n) {
    ASSERT_FALSE(Read(Bytes(issued.begin(), issued.begin() + static_cast<std::ptrdiff_t>(n)))) << n;
  }
  const auto changed = [&](std::string_view from, std::string_view to) {
    Bytes der = issued;
    std::copy(to.begin(), to.end(), der.begin() + static_cast<std::ptrdiff_t>(Find(der, from)));
    return der;
  };
  Bytes trailing = issued, indefinite = issued, longLength = issued, outerAlgorithm = issued;
  trailing.push_back(0x00);
  // 30 82 LL LL as 30 80 ... 00 00, and as 30 83 00 LL LL.
  indefinite.erase(indefinite.begin() + 1, indefinite.begin() + 4);
  indefinite.insert(indefinite.begin() + 1, 0x80);
  indefinite.insert(indefinite.end(), {0x00, 0x00});
  longLength[1] = 0x83;
  longLength.insert(longLength.begin() + 2, 0x00);
  // The last byte of the outer signature algorithm's OID: sha1 named sha256.
  outerAlgorithm[4 + Read(issued)->toBeSigned.size() + 12] = 0x0B;
  const struct {
    const char* what;
    Bytes der;
  } cases[] = {
      {"a trailing byte", trailing},
      {"an indefinite length", indefinite},
      {"a length longer than needed", longLength},
      {"outer algorithm not the signed one", outerAlgorithm},
      {"February 29 of 2023", changed("240229", "230229")},
      {"month 13", changed("240229", "241329")},
      {"time without Z", changed("123456Z", "1234567")},
  };
  for (const auto& c : cases) EXPECT_FALSE(Read(c.der)) << c.what;
}

TEST(CertificateReader, NameAttributeTextConvertsEachStringType) {
  const Bytes issued = Material("chain-issued.pem"), ec = Material("chain-ec.pem");
  const auto issuedView = Read(issued), ecView = Read(ec);
  ASSERT_TRUE(issuedView && ecView);
  // SEQUENCE { SET { SEQUENCE { OID 2.5.4.3, BMPString D800 0041 00 } } }
  const Bytes badBmp = testing::Hex("30 10 31 0E 30 0C 06 03 55 04 03 1E 05 D8 00 00 41 00");
  // The same with a PrintableString E9, and that with a long-form length.
  const Bytes latinPrintable = testing::Hex("30 0C 31 0A 30 08 06 03 55 04 03 13 01 E9");
  const Bytes longLength = testing::Hex("30 81 0C 31 0A 30 08 06 03 55 04 03 13 01 E9");
  const struct {
    std::span<const uint8_t> name;
    const char* oid;
    std::optional<std::string> text;
  } cases[] = {
      {issuedView->subject, "2.5.4.6", "CN"},                               // PrintableString
      {issuedView->subject, "2.5.4.10", "Z\u00fcrich B\u00fcro"},           // TeletexString
      {issuedView->subject, "2.5.4.3", "\u5f20\u4e09 Test"},                // BMPString
      {issuedView->subject, "1.2.840.113549.1.9.1", "zhang@example.test"},  // IA5String
      {ecView->subject, "2.5.4.3", "\U0001F511 Key"},                       // UniversalString
      {issuedView->issuer, "2.5.4.3", "ZV Test Chain Root"},                // UTF8String
      {badBmp, "2.5.4.3", "\uFFFDA\uFFFD"},  // lone surrogate, odd byte
      {latinPrintable, "2.5.4.3", "\uFFFD"},
      {longLength, "2.5.4.3", std::nullopt},
      {issuedView->subject, "2.5.4.11", std::nullopt},
      {issuedView->subject, "2.5.4", std::nullopt},
      {issuedView->subject, "2.5.4.3.", std::nullopt},
      {std::span(badBmp).first(badBmp.size() - 1), "2.5.4.3", std::nullopt},
  };
  for (const auto& c : cases) {
    std::string text;
    const bool found = NameAttributeText(c.name, c.oid, text);
    EXPECT_EQ(found ? std::optional(text) : std::nullopt, c.text) << c.oid;
  }
}

TEST(CertificateReader, FormatUtcTime) {
  const struct {
    int64_t seconds;
    const char* text;
  } cases[] = {
      {0, "1970-01-01 00:00:00 UTC"},          {-1, "1969-12-31 23:59:59 UTC"},
      {951782400, "2000-02-29 00:00:00 UTC"},  {1709210096, "2024-02-29 12:34:56 UTC"},
      {4107542399, "2100-02-28 23:59:59 UTC"}, {253402300799, "9999-12-31 23:59:59 UTC"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatUtcTime(c.seconds), c.text) << c.seconds;
}

}  // namespace
}  // namespace zvcert
