// Requests whose key waits in the user's key store: made, imported in any
// order and by any later caller, pruned by age and number, under Wine.
#include "store/pending.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "request/signed_request.h"
#include "store/platform_ledger.h"
#include "support/test_ca.h"

namespace zvcert {
namespace {

using testing::KeyLink;
using testing::Op;

constexpr char kIssuer[] = "ZV Test Pending Issuer";
const uint64_t kAged = (kPendingDays + 1) * kTicksPerDay;

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
    lastRequest.assign(der.begin(), der.begin() + length);
    return ca.IssueForRequest(lastRequest, {serial});
  }
  static bool Signs(uint8_t serial) {
    std::array<uint8_t, kSignatureAreaSize> out{};
    int32_t length = 0;
    return SignWithStoredCert({serial}, kIssuer, {}, out, length) == SignResult::Ok;
  }

  testing::TestCa ca{kIssuer};
  std::vector<uint8_t> lastRequest;
  testing::PlatformLedger ledger;
};

TEST_F(Pending, EachRequestIsImportedOnceWhateverTheOrderItsKeyNeverExported) {
  const std::string first = Request(0x21);
  // Anyone can issue for a request's public key: a look-alike's certificate
  // is stored, but the request waits for the authority's.
  const testing::TestCa lookAlike{"ZV Test Pending Issuer\u0301"};
  const std::string forged = lookAlike.IssueForRequest(lastRequest, {0x24});
  const std::string second = Request(0x22);
  EXPECT_EQ(ledger.calls(Op::exportKey), 2) << "the public keys only";
  const std::vector<KeyLink> made = PendingRequests();
  ASSERT_EQ(made.size(), 2u);
  HCRYPTPROV prov = 0;
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptAcquireContextW(&prov, made[0].container.c_str(), made[0].provider.c_str(),
                                   made[0].type, CRYPT_SILENT));
  ASSERT_TRUE(CryptGetUserKey(prov, AT_SIGNATURE, &key));
  DWORD size = 0;
  EXPECT_FALSE(CryptExportKey(key, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
  CryptDestroyKey(key);
  CryptReleaseContext(prov, 0);

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
      {forged, ImportResult::Ok, 2},
      {second, ImportResult::Ok, 1},  // the later request first
      {second, ImportResult::NoPendingRequest, 1},
      {first, ImportResult::Ok, 0},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(ImportCertForPendingRequest(step.pem.c_str(), kIssuer), step.expected);
    EXPECT_EQ(PendingRequests().size(), step.pendingAfter);
  }
  EXPECT_TRUE(Signs(0x21));
  EXPECT_TRUE(Signs(0x22));
  int copies = 0;
  for (const auto& held : testing::PersonalCertificates()) copies += held.issuer == kIssuer;
  EXPECT_EQ(copies, 2) << "no stranger, and one copy of the certificate imported twice";
  testing::PurgeIssuer(lookAlike.commonName());
}

// The request cannot be removed once its certificate is stored: it waits to
// be pruned, and its container, which the certificate uses, stays.
TEST_F(Pending, ARequestLeftByItsImportIsPrunedWithoutItsKey) {
  const std::string pem = Request(0x31);
  ledger.FailCall(Op::deleteCertificate);
  EXPECT_EQ(ImportCertForPendingRequest(pem.c_str(), kIssuer), ImportResult::Ok);
  ASSERT_EQ(PendingRequests().size(), 1u);
  EXPECT_EQ(PrunePendingRequests(CurrentTime() + kAged).deleted, 1);
  EXPECT_TRUE(PendingRequests().empty());
  EXPECT_TRUE(Signs(0x31));
}

TEST_F(Pending, AbandonedRequestsGoWithTheirKeysOthersStay) {
  // Another program's pending request (another subject) in the same store.
  PendingKey other;
  ASSERT_EQ(CreatePendingKey(other), PendingKeyResult::Ok);
  const std::array<uint8_t, 13> otherName = {0x30, 0x0B, 0x31, 0x09, 0x30, 0x07, 0x06,
                                             0x03, 0x55, 0x04, 0x03, 0x0C, 0x00};  // CN=""
  CERT_NAME_BLOB otherBlob{otherName.size(), const_cast<BYTE*>(otherName.data())};
  PCCERT_CONTEXT placeholder = CertCreateSelfSignCertificate(
      other.provider.get(), &otherBlob, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
  HCERTSTORE requests =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"REQUEST");
  ASSERT_TRUE(
      CertAddCertificateContextToStore(requests, placeholder, CERT_STORE_ADD_ALWAYS, nullptr));
  CertCloseStore(requests, 0);
  CertFreeCertificateContext(placeholder);

  const std::vector<std::string> before = testing::ContainerNames();
  for (uint8_t i = 0; i < kPendingLimit; ++i) Request(0x40 + i);
  // Full of recent requests, one of which may be the user's real one: the
  // next is refused rather than any deleted.
  std::array<uint8_t, kRequestAreaSize> der;
  int32_t length = 0;
  const SubjectValues subject = {"CN", "", "", "O", "", "Pending", "", "", "", ""};
  EXPECT_EQ(GeneratePendingRequest(der, length, subject, "", ""), RequestResult::NoRoom);
  EXPECT_EQ(PendingRequests().size(), kPendingLimit);
  EXPECT_EQ(testing::ContainerNames().size(), before.size() + kPendingLimit) << "and no key left";
  struct Row {
    uint64_t later;  // how long after the requests were made
    int deleted;
    bool room;
  };
  const uint64_t kept = kPendingKeptDays * kTicksPerDay;
  const Row rows[] = {
      {kept - kTicksPerDay / 24, 0, false},  // all still recent
      {kept + kTicksPerDay / 24, 1, true},   // past the kept days: room for the next only
      {kAged, static_cast<int>(kPendingLimit) - 1, true},
  };
  for (const Row& row : rows) {
    const PruneResult pruned = PrunePendingRequests(CurrentTime() + row.later);
    EXPECT_EQ(pruned.deleted, row.deleted) << row.later / kTicksPerDay << " days later";
    EXPECT_EQ(pruned.room, row.room) << row.later / kTicksPerDay << " days later";
  }
  EXPECT_TRUE(PendingRequests().empty());
  EXPECT_EQ(testing::ContainerNames(), before);

  // The other program's request and key are still there.
  EXPECT_TRUE(testing::ContainerExists(other.name.data()));
  EXPECT_EQ(testing::RequestsNamed(otherName, true).size(), 1u);
  DiscardPendingKey(other);
}

}  // namespace
}  // namespace zvcert
