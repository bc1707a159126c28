#include "request/cms_signed_data.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "support/hex.h"

namespace zvcert {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::Hex;
using testing::ToHex;

// OpenSSL makes a throwaway key and certificate (serial 0x80112233: an
// INTEGER with a leading zero), hashes, signs and verifies: only the message
// is the builder's. Without them every case fails.
class CmsSignedData : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char folder[] = "/tmp/cms-test-XXXXXX";
    dir_ = mkdtemp(folder) ? folder : "/nonexistent";
    Run("openssl req -x509 -newkey rsa:2048 -nodes -keyout key -subj /O=Test/CN=signer -days 1 "
        "-set_serial 0x80112233 -outform DER -out certificate");
    certificate_ = Read("certificate");
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(dir_); }
  static bool Run(const std::string& command) {
    return std::system(("cd " + dir_ + " && " + command + " 2>/dev/null").c_str()) == 0;
  }
  static Bytes Read(const char* name) {
    std::ifstream in(dir_ + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const char* name, const Bytes& bytes) {
    std::ofstream(dir_ + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes));
  }
  static inline std::string dir_;
  static inline Bytes certificate_;
};

TEST_F(CmsSignedData, OpenSslVerifiesEveryHashAttachedAndDetached) {
  const std::pair<SignatureHash, std::string> hashes[] = {{SignatureHash::Sha1, "sha1"},
                                                          {SignatureHash::Sha256, "sha256"},
                                                          {SignatureHash::Sha384, "sha384"},
                                                          {SignatureHash::Sha512, "sha512"}};
  Bytes large(100000);  // beyond what the writer carries: detached only
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7);
  for (const auto& [hash, name] : hashes) {
    for (const Bytes& content : {Bytes{}, Hex("00 FF 0D 0A 41"), large}) {
      for (const bool detached : {false, true}) {
        if (!detached && content.size() > 0xFFFF) continue;
        SCOPED_TRACE(name + (detached ? " detached " : " attached ") +
                     std::to_string(content.size()));
        const std::string dgst = "openssl dgst -" + name + " -binary ";
        Write("data", content);
        ASSERT_TRUE(Run(dgst + "-out digest data"));
        const Bytes digest = Read("digest");
        const CmsSignedDataParts parts = {certificate_, content, detached, hash, digest};
        Bytes toBeSigned, message;
        ASSERT_EQ(WriteCmsSignedAttributes(parts, toBeSigned), CmsBuildResult::Ok);
        Write("tbs", toBeSigned);
        ASSERT_TRUE(Run(dgst + "-sign key -out signature tbs"));
        ASSERT_EQ(FinishCmsSignedData(parts, Read("signature"), message), CmsBuildResult::Ok);
        Write("message", message);
        std::filesystem::remove(dir_ + "/out");
        EXPECT_TRUE(Run("openssl cms -verify -binary -noverify -inform DER -in message -out out" +
                        std::string(detached ? " -content data" : "")));
        EXPECT_EQ(Read("out"), content);
      }
    }
  }
}

TEST_F(CmsSignedData, RefusesBadPartsWithTheirReason) {
  const Bytes digest(32), signature(513), content(0x10000);
  const Bytes truncated(certificate_.begin(), certificate_.end() - 1);
  Bytes trailing = certificate_;
  trailing.push_back(0);
  constexpr CmsBuildResult kNotParsed = CmsBuildResult::CertificateNotParsed;
  const struct {
    const char* name;
    Bytes certificate;
    size_t digestBytes, signatureBytes, attachedBytes;
    CmsBuildResult expected;
  } cases[] = {
      {"empty", {}, 20, 256, 0, kNotParsed},
      {"not DER", Hex("66 6F 6F 62 61 72"), 20, 256, 0, kNotParsed},
      {"truncated", truncated, 20, 256, 0, kNotParsed},
      {"trailing byte", trailing, 20, 256, 0, kNotParsed},
      {"length of 4 GiB", Hex("30 84 FF FF FF FF 30 00"), 20, 256, 0, kNotParsed},
      {"length in 5 bytes", Hex("30 85 00 00 00 00 02 30 00"), 20, 256, 0, kNotParsed},
      {"indefinite length", Hex("30 80 30 00 00 00"), 20, 256, 0, kNotParsed},
      // TBSCertificate { serial 1, signature {}, and no issuer }
      {"no issuer", Hex("30 09 30 07 02 01 01 30 00 05 00"), 20, 256, 0, kNotParsed},
      // TBSCertificate { [0] { 2 }, serial of no bytes, signature {}, issuer {} }
      {"empty serial", Hex("30 0D 30 0B A0 03 02 01 02 02 00 30 00 30 00"), 20, 256, 0, kNotParsed},
      {"SHA-256 digest", certificate_, 32, 256, 0, CmsBuildResult::WrongDigestLength},
      {"no signature", certificate_, 20, 0, 0, CmsBuildResult::WrongSignatureLength},
      {"4104-bit signature", certificate_, 20, 513, 0, CmsBuildResult::WrongSignatureLength},
      {"64 KiB attached", certificate_, 20, 256, 0x10000, CmsBuildResult::TooLong},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CmsSignedDataParts parts = {c.certificate, std::span(content).first(c.attachedBytes),
                                      c.attachedBytes == 0, SignatureHash::Sha1,
                                      std::span(digest).first(c.digestBytes)};
    Bytes toBeSigned{1}, message{1};
    const bool attributesFail = c.expected == kNotParsed || c.digestBytes != 20;
    EXPECT_EQ(WriteCmsSignedAttributes(parts, toBeSigned),
              attributesFail ? c.expected : CmsBuildResult::Ok);
    EXPECT_EQ(toBeSigned.empty(), attributesFail);
    EXPECT_EQ(FinishCmsSignedData(parts, std::span(signature).first(c.signatureBytes), message),
              c.expected);
    EXPECT_TRUE(message.empty());
  }
}

}  // namespace
}  // namespace zvcert
