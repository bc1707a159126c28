// PEM text to a platform certificate context.
#include "store/pem_certificate.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "store/platform_ledger.h"
#include "store/root_certificate.h"
#include "support/test_data.h"

namespace zvcert {
namespace {

using testing::HandleKind;
using testing::Op;
using testing::PlatformLedger;

std::string CommonName(PCCERT_CONTEXT cert) {
  std::array<char, 128> name{};
  platform.getNameAttribute(cert, kSubjectName, kCommonNameOid, name.data(), name.size());
  return name.data();
}

TEST(ParsePemCertificate, GivesAContextOfTheBuiltInForm) {
  PlatformLedger ledger;
  PCCERT_CONTEXT cert = ParsePemCertificate(rootCertificatePem);
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(CommonName(cert), "ZV Test Other Root");
  EXPECT_EQ(cert->hCertStore != nullptr, true) << "the platform keeps it in a store of its own";
  platform.deleteCertificate(cert);
  EXPECT_EQ(ledger.openHandles(), "");
}

TEST(ParsePemCertificate, AsksThePlatformOnlyForDecodedText) {
  struct Case {
    const char* what;
    const char* pem;
    int platformCalls;
  };
  const Case cases[] = {
      {"null text", nullptr, 0},
      {"no markers", "hello", 0},
      {"bad Base64", "-----BEGIN CERTIFICATE-----\nZm9*\n-----END CERTIFICATE-----", 0},
      {"not DER", testing::kPemNotDer, 1},  // the platform refuses it
  };
  for (const Case& c : cases) {
    PlatformLedger ledger;
    EXPECT_EQ(ParsePemCertificate(c.pem), nullptr) << c.what;
    EXPECT_EQ(ledger.calls(Op::createCertificate), c.platformCalls) << c.what;
    EXPECT_EQ(ledger.openHandles(), "") << c.what;
  }
}

TEST(ParsePemCertificate, ReturnsNullWhenThePlatformFails) {
  PlatformLedger ledger;
  ledger.FailCall(Op::createCertificate);
  EXPECT_EQ(ParsePemCertificate(rootCertificatePem), nullptr);
  EXPECT_EQ(ledger.open(HandleKind::Certificate), 0);
}

}  // namespace
}  // namespace zvcert
