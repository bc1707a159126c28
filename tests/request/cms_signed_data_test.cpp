#include "request/cms_signed_data.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/hex.h"

namespace zvcert {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Hex;
using testing::ToHex;

// A throwaway key and certificate (its serial with the top bit set, so the
// INTEGER takes a leading zero) in a folder of their own, made by OpenSSL,
// which also hashes, signs and verifies: the builder's work alone is ours.
class CmsSignedData : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char folder[] = "/tmp/cms-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    dir_ = folder;
    ASSERT_TRUE(
        Run("openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -subj "
            "/O=Test/CN=cms-signer -days 1 -set_serial 0x80112233 -outform DER "
            "-out cert.der"));
    certificate_ = Read("cert.der");
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }

  static bool Run(const std::string& command) {
    return std::system(("cd " + dir_ + " && " + command + " 2>/dev/null").c_str()) == 0;
  }
  static Bytes Read(const std::string& name) {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::string& name, std::span<const uint8_t> bytes) {
    std::ofstream(dir_ + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  static inline std::string dir_;
  static inline Bytes certificate_;
};

TEST_F(CmsSignedData, OpenSslVerifiesEveryHashAttachedAndDetached) {
  struct Case {
    SignatureHash hash;
    const char* name;
  };
  const Case hashes[] = {{SignatureHash::Sha1, "sha1"},
                         {SignatureHash::Sha256, "sha256"},
                         {SignatureHash::Sha384, "sha384"},
                         {SignatureHash::Sha512, "sha512"}};
  Bytes large(100000);  // beyond what the writer carries: detached only
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7);
  const Bytes contents[] = {{}, Hex("00 FF 0D 0A 41"), large};
  for (const Case& c : hashes) {
    for (const Bytes& content : contents) {
      for (const bool detached : {false, true}) {
        if (!detached && content.size() > 0xFFFF) continue;
        SCOPED_TRACE(std::string(c.name) + (detached ? " detached, " : " attached, ") +
                     std::to_string(content.size()) + " bytes");
        const std::string dgst = std::string("openssl dgst -") + c.name + " -binary ";
        Write("data", content);
        ASSERT_TRUE(Run(dgst + "-out digest data"));
        const Bytes digest = Read("digest");
        const CmsSignedDataParts parts = {certificate_, content, detached, c.hash, digest};
        Bytes toBeSigned, message;
        ASSERT_EQ(WriteCmsSignedAttributes(parts, toBeSigned), CmsBuildResult::Ok);
        Write("tbs", toBeSigned);
        ASSERT_TRUE(Run(dgst + "-sign key.pem -out signature tbs"));
        ASSERT_EQ(FinishCmsSignedData(parts, Read("signature"), message), CmsBuildResult::Ok);
        Write("message.der", message);
        std::filesystem::remove(dir_ + "/out");
        EXPECT_TRUE(Run("openssl cms -verify -binary -noverify -inform DER -in message.der " +
                        std::string(detached ? "-content data " : "") + "-out out"));
        EXPECT_EQ(Read("out"), content);
      }
    }
  }
}

// The attributes signed: a SET in DER order, whatever the digest.
TEST_F(CmsSignedData, SignsContentTypeThenMessageDigest) {
  const Bytes digest(20, 0xAB);
  Bytes toBeSigned;
  ASSERT_EQ(
      WriteCmsSignedAttributes({certificate_, {}, true, SignatureHash::Sha1, digest}, toBeSigned),
      CmsBuildResult::Ok);
  EXPECT_EQ(ToHex(toBeSigned),
            "31 3F "                                                         // SET
            "30 18 06 09 2A 86 48 86 F7 0D 01 09 03 "                        //   contentType
            "31 0B 06 09 2A 86 48 86 F7 0D 01 07 01 "                        //     { data }
            "30 23 06 09 2A 86 48 86 F7 0D 01 09 04 31 16 04 14 "            //   messageDigest
            "AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB AB");  // { digest }
}

TEST_F(CmsSignedData, RefusesBadPartsWithTheirReason) {
  const Bytes digest(32), signature(513), large(0x10000);
  const Bytes certificate = certificate_;
  const Bytes truncated(certificate.begin(), certificate.end() - 1);
  Bytes trailing = certificate;
  trailing.push_back(0);
  struct Case {
    const char* name;
    Bytes certificate;
    size_t digestBytes;
    size_t signatureBytes;
    bool detached;
    std::span<const uint8_t> content;
    CmsBuildResult expected;
  };
  const Case cases[] = {
      {"empty certificate", {}, 20, 256, true, {}, CmsBuildResult::CertificateNotParsed},
      {"not DER",
       Hex("66 6F 6F 62 61 72"),
       20,
       256,
       true,
       {},
       CmsBuildResult::CertificateNotParsed},
      {"truncated", truncated, 20, 256, true, {}, CmsBuildResult::CertificateNotParsed},
      {"trailing byte", trailing, 20, 256, true, {}, CmsBuildResult::CertificateNotParsed},
      {"length of 4 GiB",
       Hex("30 84 FF FF FF FF 30 00"),
       20,
       256,
       true,
       {},
       CmsBuildResult::CertificateNotParsed},
      {"length of 5 bytes",
       Hex("30 85 00 00 00 00 02 30 00"),
       20,
       256,
       true,
       {},
       CmsBuildResult::CertificateNotParsed},
      {"indefinite length",
       Hex("30 80 30 00 00 00"),
       20,
       256,
       true,
       {},
       CmsBuildResult::CertificateNotParsed},
      // TBSCertificate { serial 1, signature {}, no issuer }
      {"no issuer",
       Hex("30 09 30 07 02 01 01 30 00 05 00"),
       20,
       256,
       true,
       {},
       CmsBuildResult::CertificateNotParsed},
      // TBSCertificate { [0] { 2 }, serial of no bytes, signature {}, issuer {} }
      {"empty serial",
       Hex("30 0D 30 0B A0 03 02 01 02 02 00 30 00 30 00"),
       20,
       256,
       true,
       {},
       CmsBuildResult::CertificateNotParsed},
      {"SHA-256 digest", certificate, 32, 256, true, {}, CmsBuildResult::WrongDigestLength},
      {"no signature", certificate, 20, 0, true, {}, CmsBuildResult::WrongSignatureLength},
      {"signature of 4104 bits",
       certificate,
       20,
       513,
       true,
       {},
       CmsBuildResult::WrongSignatureLength},
      {"64 KiB attached", certificate, 20, 256, false, large, CmsBuildResult::TooLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CmsSignedDataParts parts = {c.certificate, c.content, c.detached, SignatureHash::Sha1,
                                      std::span(digest.data(), c.digestBytes)};
    Bytes toBeSigned{1}, message{1};
    const bool attributesFail = c.expected == CmsBuildResult::CertificateNotParsed ||
                                c.expected == CmsBuildResult::WrongDigestLength;
    EXPECT_EQ(WriteCmsSignedAttributes(parts, toBeSigned),
              attributesFail ? c.expected : CmsBuildResult::Ok);
    EXPECT_EQ(toBeSigned.empty(), attributesFail);
    EXPECT_EQ(FinishCmsSignedData(parts, std::span(signature.data(), c.signatureBytes), message),
              c.expected);
    EXPECT_TRUE(message.empty());
  }
}

}  // namespace
}  // namespace zvcert
