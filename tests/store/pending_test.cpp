// Requests whose key waits in the user's key store: made, imported in any
// order and from any later caller, pruned by age and number, under Wine.
#include "store/pending.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "request/signed_request.h"
#include "store/platform_ledger.h"
#include "support/test_ca.h"

namespace zvcert {
namespace {

using testing::KeyLink;
using testing::Op;
using testing::PlatformLedger;

constexpr char kIssuer[] = "ZV Test Pending Issuer";

HCERTSTORE OpenRequests() {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"REQUEST");
}

std::vector<KeyLink> PendingRequests(bool clear = false) {
  return testing::RequestsNamed(kPendingRequestSubject, clear);
}

class Pending : public ::testing::Test {
 protected:
  void SetUp() override {
    PendingRequests(true);
    testing::PurgeIssuer(kIssuer);
  }
  void TearDown() override {
    EXPECT_EQ(ledger.openHandles(), "");
    PendingRequests(true);
    testing::PurgeIssuer(kIssuer);
  }
  // A new request, and the certificate the authority issues for it.
  std::string Request(uint8_t serial) {
    std::array<uint8_t, kRequestAreaSize> der;
    int32_t length = 0;
    const SubjectValues subject = {"CN", "", "", "O", "", "Pending", "", "", "", ""};
    EXPECT_EQ(GeneratePendingRequest(der, length, subject, "", ""), RequestResult::Ok);
    const std::string base64 = testing::PlatformBase64(
        std::string(reinterpret_cast<const char*>(der.data()), static_cast<size_t>(length)));
    return testing::ToPem(
        ca.IssueForRequest(testing::Armored("CERTIFICATE REQUEST", base64), {serial}));
  }
  static SerialValue Serial(uint8_t value) { return SerialValue{value}; }
  static bool Signs(uint8_t serial) {
    std::array<uint8_t, kSignatureAreaSize> out{};
    int32_t length = 0;
    const uint8_t data[] = {1, 2, 3};
    return SignWithStoredCert(Serial(serial), kIssuer, data, out, length) == SignResult::Ok;
  }

  testing::TestCa ca{kIssuer};
  PlatformLedger ledger;
};

TEST_F(Pending, TheKeyStaysInItsContainerAndIsNeverExported) {
  const int exportsBefore = ledger.calls(Op::exportKey);
  Request(0x11);
  EXPECT_EQ(ledger.calls(Op::exportKey) - exportsBefore, 1) << "the public key only";
  const std::vector<KeyLink> pending = PendingRequests();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].container.size(), 38u);
  HCRYPTPROV prov = 0;
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptAcquireContextW(&prov, pending[0].container.c_str(), pending[0].provider.c_str(),
                                   pending[0].type, CRYPT_SILENT));
  ASSERT_TRUE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
  DWORD size = 0;
  EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);
}

TEST_F(Pending, EachRequestIsImportedOnceWhateverTheOrder) {
  const std::string first = Request(0x21), second = Request(0x22);
  const std::string stranger =
      testing::ToPem(ca.Issue({{"2.5.4.3", "X"}}, {0x23}, testing::NewKeyBlob()));
  struct Step {
    const std::string& pem;
    ImportResult expected;
    size_t pendingAfter;
  };
  const Step steps[] = {
      {stranger, ImportResult::NoPendingRequest, 2},  // another key: nothing changes
      {"no certificate", ImportResult::NoCertificate, 2},
      {second, ImportResult::Ok, 1},  // the later request first
      {second, ImportResult::NoPendingRequest, 1},
      {first, ImportResult::Ok, 0},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(ImportCertForPendingRequest(step.pem.c_str()), step.expected);
    EXPECT_EQ(PendingRequests().size(), step.pendingAfter);
    EXPECT_EQ(ledger.openHandles(), "");
  }
  EXPECT_TRUE(Signs(0x21));
  EXPECT_TRUE(Signs(0x22));
  EXPECT_EQ(IsCertInStore(Serial(0x23), kIssuer), PresenceResult::Absent);
  int copies = 0;
  for (const auto& held : testing::PersonalCertificates()) copies += held.issuer == kIssuer;
  EXPECT_EQ(copies, 2) << "the second import of one certificate stores nothing";
}

TEST_F(Pending, AFailedImportKeepsTheRequestAndStoresNothingUnlinked) {
  const std::string pem = Request(0x31);
  for (const Op op : {Op::openRequestStore, Op::findByPublicKey, Op::acquireContext,
                      Op::setKeyProvInfo, Op::addCertificate}) {
    ledger.FailCall(op);
    EXPECT_NE(ImportCertForPendingRequest(pem.c_str()), ImportResult::Ok) << testing::OpName(op);
    EXPECT_EQ(PendingRequests().size(), 1u) << testing::OpName(op);
    EXPECT_EQ(IsCertInStore(Serial(0x31), kIssuer), PresenceResult::Absent) << testing::OpName(op);
  }
  // A request that cannot be removed after the certificate is stored waits
  // to be pruned; its container, which the certificate uses, stays.
  ledger.FailCall(Op::deleteCertificate);
  EXPECT_EQ(ImportCertForPendingRequest(pem.c_str()), ImportResult::Ok);
  ASSERT_EQ(PendingRequests().size(), 1u);
  EXPECT_EQ(PrunePendingRequests(CurrentTime() + (kPendingDays + 1) * kTicksPerDay), 1);
  EXPECT_TRUE(PendingRequests().empty());
  EXPECT_TRUE(Signs(0x31));
}

TEST_F(Pending, AbandonedRequestsGoWithTheirKeysOthersStay) {
  // Another program's pending request in the same store is never touched.
  HCRYPTPROV other = 0;
  ASSERT_TRUE(CryptAcquireContextA(&other, "zv-test-other-software", nullptr, PROV_RSA_FULL,
                                   CRYPT_SILENT | CRYPT_NEWKEYSET));
  HCRYPTKEY otherKey = 0;
  ASSERT_TRUE(CryptGenKey(other, AT_SIGNATURE, 1024 << 16, &otherKey));
  const std::array<uint8_t, 13> otherName = {0x30, 0x0B, 0x31, 0x09, 0x30, 0x07, 0x06,
                                             0x03, 0x55, 0x04, 0x03, 0x0C, 0x00};  // CN=""
  CERT_NAME_BLOB otherBlob{otherName.size(), const_cast<BYTE*>(otherName.data())};
  PCCERT_CONTEXT placeholder = CertCreateSelfSignCertificate(other, &otherBlob, 0, nullptr, nullptr,
                                                             nullptr, nullptr, nullptr);
  HCERTSTORE requests = OpenRequests();
  ASSERT_TRUE(
      CertAddCertificateContextToStore(requests, placeholder, CERT_STORE_ADD_ALWAYS, nullptr));
  CertCloseStore(requests, 0);

  const std::vector<std::string> before = testing::ContainerNames();
  for (uint8_t i = 0; i < kPendingLimit + 2; ++i) Request(0x40 + i);
  const std::vector<KeyLink> kept = PendingRequests();
  EXPECT_EQ(kept.size(), kPendingLimit) << "the oldest went to make room";
  EXPECT_EQ(testing::ContainerNames().size(), before.size() + kPendingLimit)
      << "each deleted request's key went with it";
  const uint64_t aged = CurrentTime() + (kPendingDays + 1) * kTicksPerDay;
  EXPECT_EQ(PrunePendingRequests(CurrentTime()), 1) << "none is old: room for the next only";
  EXPECT_EQ(PrunePendingRequests(aged), static_cast<int>(kPendingLimit) - 1);
  EXPECT_TRUE(PendingRequests().empty());
  EXPECT_EQ(testing::ContainerNames(), before);

  // The other program's request and key are still there.
  EXPECT_TRUE(testing::ContainerExists("zv-test-other-software"));
  EXPECT_EQ(testing::RequestsNamed(otherName, true).size(), 1u);
  CertFreeCertificateContext(placeholder);
  CryptDestroyKey(otherKey);
  CryptReleaseContext(other, 0);
  CryptAcquireContextA(&other, "zv-test-other-software", nullptr, PROV_RSA_FULL,
                       CRYPT_SILENT | CRYPT_DELETEKEYSET);
}

}  // namespace
}  // namespace zvcert
