// A key pair and its signed request, for real under Wine, and every step
// made to fail through the platform seam.
#include "request/signed_request.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "encoding/base64.h"
#include "encoding/pem.h"
#include "store/platform_ledger.h"
#include "support/hex.h"
#include "support/request_checks.h"
#include "support/test_ca.h"
#include "support/test_data.h"

namespace zvcert {
namespace {

using testing::Op;
using testing::PlatformLedger;

struct Made {
  RequestResult result;
  std::array<uint8_t, kRequestAreaSize> request;
  int32_t requestLength = -1;
  std::array<uint8_t, kKeyBlobAreaSize> key;
  int32_t keyLength = -1;
  std::span<const uint8_t> der() const { return std::span(request).first(requestLength); }
};

Made Make(const SubjectValues& subject = testing::kWorkedExampleSubject, std::string_view name = "",
          std::string_view password = "") {
  Made m;
  m.result = GenerateSignedRequest({m.request, m.requestLength, m.key, m.keyLength}, subject, name,
                                   password);
  return m;
}

std::string Pem(std::span<const uint8_t> der) {
  std::string base64(4 * ((der.size() + 2) / 3), '\0');
  int32_t n = 0;
  Base64EncodeBuffer(der.data(), static_cast<int32_t>(der.size()), base64.data(),
                     static_cast<int32_t>(base64.size()), &n);
  std::string pem(ArmoredRequestSize(n), '\0');
  pem.resize(ArmorCertificateRequest(base64, pem));
  return pem;
}

class SignedRequest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(ledger.openHandles(), "");
    EXPECT_FALSE(testing::ContainerExists(kRequestContainer)) << "the temporary container is left";
  }
  PlatformLedger ledger;
};

TEST_F(SignedRequest, IsAWholeSignedRequestForTheKeyItHandsOut) {
  const Made m = Make();
  ASSERT_EQ(m.result, RequestResult::Ok);
  if (kKeyBits == 1024 && kSignatureHash == SignatureHash::Sha1) {
    ASSERT_EQ(m.requestLength, 600) << "the worked example: 449 bytes of info and 151 more";
    EXPECT_EQ(testing::ToHex(m.der().first(14)), "30 82 02 54 30 82 01 BD 02 01 00 30 81 F1");
  }
  EXPECT_EQ(m.keyLength, static_cast<int32_t>(PrivateKeyBlobSize(kKeyBits)));
  EXPECT_EQ(m.key[0], PRIVATEKEYBLOB);
  const std::vector<uint8_t> modulus = testing::ModulusOfBlob(std::span(m.key).first(m.keyLength));
  EXPECT_TRUE(testing::RequestVerifies(m.der(), modulus));
  testing::SaveForVerifier("SignedRequest-default", Pem(m.der()),
                           {testing::kWorkedExampleOpenSslSubject, "", "", modulus});
}

TEST_F(SignedRequest, RemovesAContainerLeftByAnInterruptedCall) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextA(&prov, kRequestContainer, nullptr, PROV_RSA_FULL,
                                   CRYPT_SILENT | CRYPT_NEWKEYSET));
  CryptReleaseContext(prov, 0);
  EXPECT_EQ(Make().result, RequestResult::Ok);
}

TEST_F(SignedRequest, TwoCallsMakeTwoKeys) {
  const Made a = Make();
  const Made b = Make();
  ASSERT_EQ(a.result, RequestResult::Ok);
  ASSERT_EQ(b.result, RequestResult::Ok);
  EXPECT_NE(testing::ModulusOfBlob(a.key), testing::ModulusOfBlob(b.key));
}

TEST_F(SignedRequest, EveryFailedStepReturnsItsCodeAndCleansUp) {
  struct Case {
    Op op;
    int nth;
    RequestResult expected;
  };
  const Case cases[] = {
      {Op::acquireContext, 2, RequestResult::ContainerNotCreated},  // the first call deletes
      {Op::generateSignatureKey, 1, RequestResult::PublicKeyNotExported},
      {Op::exportKey, 1, RequestResult::PublicKeyNotExported},
      {Op::exportKey, 2, RequestResult::PrivateKeyNotExported},
      {Op::createHash, 1, RequestResult::HashNotMade},
      {Op::hashData, 1, RequestResult::HashNotMade},
      {Op::signHash, 1, RequestResult::NotSigned},
  };
  for (const Case& c : cases) {
    ledger.FailCall(c.op, c.nth);
    const Made m = Make();
    EXPECT_EQ(m.result, c.expected) << testing::OpName(c.op) << " #" << c.nth;
    EXPECT_EQ(ledger.openHandles(), "") << testing::OpName(c.op);
    EXPECT_FALSE(testing::ContainerExists(kRequestContainer)) << testing::OpName(c.op);
    EXPECT_EQ(m.requestLength, -1) << "request length set on failure";
  }
}

TEST_F(SignedRequest, ASubjectBeyond512BytesIsNeverSigned) {
  const std::string long48(48, 'x');
  const std::string email(96, 'e');
  const SubjectValues huge = {long48, long48, long48, long48, long48, long48, email, "", "", ""};
  const int signsBefore = ledger.calls(Op::signHash);
  EXPECT_EQ(Make(huge).result, RequestResult::RequestBodyNotBuilt);
  EXPECT_EQ(ledger.calls(Op::signHash), signsBefore);
}

}  // namespace
}  // namespace zvcert
