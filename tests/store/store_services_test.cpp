// The store and key services against real store states under Wine, and
// every platform step made to fail: the code of the failed step, no handle
// left open, and the store and containers as each failure leaves them.
#include "store/store_services.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

#include "store/cms_sign.h"
#include "store/handles.h"
#include "store/pem_certificate.h"
#include "store/platform_ledger.h"
#include "store/root_certificate.h"
#include "support/test_ca.h"
#include "support/test_data.h"

namespace zvcert {
namespace {

using testing::Op;
using testing::PlatformLedger;
using testing::Serial;
using testing::Subject;
using testing::TestCa;
using testing::ToPem;

constexpr char kIssuer[] = "ZV Test Store Issuer";
constexpr char kOtherIssuer[] = "ZV Test Store Other Issuer";

const Subject kAlice = {{"2.5.4.6", "CN"}, {"2.5.4.10", "OFFICE"}, {"2.5.4.3", "Alice"}};

// What "MY" holds for a serial.
struct Stored {
  int count = 0;
  std::optional<testing::KeyLink> key;  // of a linked copy
};

Stored Look(const SerialValue& serial, const char* issuer = kIssuer) {
  Stored found;
  for (const testing::HeldCertificate& c : testing::PersonalCertificates()) {
    if (c.issuer == issuer && SerialMatches(c.serial, serial)) {
      ++found.count;
      if (c.key) found.key = c.key;
    }
  }
  return found;
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

class StoreServices : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::PurgeIssuer(kIssuer);
    testing::PurgeIssuer(kOtherIssuer);
    key = testing::NewKeyBlob();
    ASSERT_EQ(key.size(), 596u);
    // The built-in root is this authority's: its signature checks pass.
    rootCertificatePem = root.c_str();
  }
  void TearDown() override {
    rootCertificatePem = builtInRoot;
    EXPECT_EQ(ledger.openHandles(), "");
    testing::PurgeIssuer(kIssuer);
    testing::PurgeIssuer(kOtherIssuer);
  }
  // Issues a certificate for key and imports it with key, as ImportCert does.
  std::string Enrol(uint64_t serial, const Subject& subject = kAlice) {
    const std::string pem = ToPem(ca.Issue(subject, SerialBytes(serial), key));
    EXPECT_EQ(MatchesPendingKey(key, pem.c_str()), MatchResult::Matches);
    EXPECT_EQ(ImportCertWithKey(pem.c_str(), key), ImportResult::Ok);
    return pem;
  }
  // DER content bytes of a serial, with a sign byte where DER needs one.
  static std::vector<uint8_t> SerialBytes(uint64_t value) {
    std::vector<uint8_t> bytes;
    for (; value != 0; value >>= 8) bytes.insert(bytes.begin(), static_cast<uint8_t>(value));
    if (bytes.empty() || bytes.front() >= 0x80) bytes.insert(bytes.begin(), 0);
    return bytes;
  }

  TestCa ca{kIssuer};
  const std::string root = ca.RootPem();
  const char* const builtInRoot = rootCertificatePem;
  std::vector<uint8_t> key;
  PlatformLedger ledger;
};

TEST_F(StoreServices, AnImportedCertificateIsFoundSignsAndIsDeletedWithItsKey) {
  Enrol(0x8F1234);  // DER 00 8F 12 34: the platform holds it as 34 12 8F 00
  const Stored stored = Look(Serial(0x8F1234));
  ASSERT_EQ(stored.count, 1);
  ASSERT_TRUE(stored.key);
  const std::string container = Narrow(stored.key->container);
  EXPECT_EQ(container.size(), 38u);
  EXPECT_EQ(container.front(), '{');
  EXPECT_EQ(container.back(), '}');
  EXPECT_EQ(container.find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos);
  EXPECT_EQ(stored.key->type, 1u);
  EXPECT_EQ(stored.key->spec, 2u);
  EXPECT_FALSE(stored.key->provider.empty());
  EXPECT_TRUE(testing::ContainerExists(*stored.key));

  SerialValue found{};
  EXPECT_EQ(FindCertSerial("2.5.4.3", "Alice", kIssuer, found), FindResult::Found);
  EXPECT_EQ(found, Serial(0x8F1234));
  EXPECT_EQ(IsCertInStore(Serial(0x8F1234), kIssuer), PresenceResult::Present);

  std::array<uint8_t, kSignatureAreaSize> first{}, second{};
  int32_t length = 0;
  const std::string data = "data to sign";
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  ASSERT_EQ(SignWithStoredCert(Serial(0x8F1234), kIssuer, bytes, first, length), SignResult::Ok);
  EXPECT_EQ(length, 136);
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + 8, Serial(0x8F1234).begin()));
  ASSERT_EQ(SignWithStoredCert(Serial(0x8F1234), kIssuer, bytes, second, length), SignResult::Ok);
  EXPECT_EQ(first, second) << "PKCS #1 v1.5 signatures are deterministic";
  ASSERT_EQ(SignWithStoredCert(Serial(0x8F1234), kIssuer, {}, second, length), SignResult::Ok);
  EXPECT_EQ(length, 136) << "empty data is signed too";

  EXPECT_EQ(DeleteCertAndKey(Serial(0x8F1234), kIssuer), DeleteResult::Deleted);
  EXPECT_EQ(DeleteCertAndKey(Serial(0x8F1234), kIssuer), DeleteResult::NotFound);
  EXPECT_EQ(Look(Serial(0x8F1234)).count, 0) << "the deletion is kept";
  EXPECT_FALSE(testing::ContainerExists(*stored.key));
  EXPECT_EQ(IsCertInStore(Serial(0x8F1234), kIssuer), PresenceResult::Absent);
}

TEST_F(StoreServices, KeysOfOtherCertificatesDoNotMatch) {
  const std::string other = ToPem(ca.Issue(kAlice, {0x07}, testing::NewKeyBlob()));
  EXPECT_EQ(MatchesPendingKey(key, other.c_str()), MatchResult::Differs);
  EXPECT_EQ(MatchesPendingKey(key, "no certificate here"), MatchResult::NoCertificate);
  EXPECT_EQ(ImportCertWithKey("no certificate here", key), ImportResult::NoCertificate);
  // A blob that claims more than it holds is no match, and is not read past.
  std::vector<uint8_t> truncated(key.begin(), key.begin() + 60);
  EXPECT_EQ(MatchesPendingKey(truncated, ToPem(ca.Issue(kAlice, {0x07}, key)).c_str()),
            MatchResult::Differs);
  EXPECT_EQ(Look(Serial(7)).count, 0);
}

TEST_F(StoreServices, LookupsFollowIssuerSerialAndAttributeRules) {
  Enrol(5, {{"2.5.4.3", "Alice"}, {"2.5.4.10", "Caf\xC3\xA9"}});
  Enrol(0x0102030405060708, {{"2.5.4.3", "\xE5\xBC\xA0\xE4\xB8\x89"}});
  TestCa other(kOtherIssuer);
  const std::string foreign = ToPem(other.Issue({{"2.5.4.3", "Mallory"}}, {0x06}, key));
  ASSERT_EQ(ImportCertWithKey(foreign.c_str(), key), ImportResult::Ok);

  struct Case {
    const char* what;
    const char* oid;
    std::string value;
    FindResult result;
    uint64_t serial;
  };
  const Case cases[] = {
      {"by common name", "2.5.4.3", "Alice", FindResult::Found, 5},
      {"case-sensitive", "2.5.4.3", "alice", FindResult::NotFound, 0},
      {"non-ASCII organisation", "2.5.4.10", "Caf\xC3\xA9", FindResult::Found, 5},
      {"non-ASCII common name", "2.5.4.3", "\xE5\xBC\xA0\xE4\xB8\x89", FindResult::Found,
       0x0102030405060708},
      {"another issuer's certificate", "2.5.4.3", "Mallory", FindResult::NotFound, 0},
      {"an absent attribute matches the empty value", "2.5.4.10", "", FindResult::Found,
       0x0102030405060708},
      {"a value nobody has", "2.5.4.3", "Nobody", FindResult::NotFound, 0},
  };
  for (const Case& c : cases) {
    SerialValue serial = Serial(0xEEEE);
    EXPECT_EQ(FindCertSerial(c.oid, c.value, kIssuer, serial), c.result) << c.what;
    EXPECT_EQ(serial, c.result == FindResult::Found ? Serial(c.serial) : Serial(0xEEEE)) << c.what;
  }
  EXPECT_EQ(IsCertInStore(Serial(6), kIssuer), PresenceResult::Absent) << "another issuer";
  EXPECT_EQ(IsCertInStore(Serial(6), kOtherIssuer), PresenceResult::Present);
  EXPECT_EQ(IsCertInStore(Serial(6), ""), PresenceResult::Absent) << "an empty issuer name";
  EXPECT_EQ(DeleteCertAndKey(Serial(6), kIssuer), DeleteResult::NotFound);
  EXPECT_EQ(Look(Serial(6), kOtherIssuer).count, 1) << "left alone";
}

// A root of another key that bears the authority's name issues certificates
// of the same serial, one of them first in the store: the name rule takes it,
// the signature rule the authority's, and a thumbprint picks one.
TEST_F(StoreServices, TheSignatureRuleKnowsTheAuthorityByItsRootsKey) {
  const auto digestOf = [](const std::string& pem) {
    ScopedCertificate cert(ParsePemCertificate(pem.c_str()));
    return DerDigest(cert.get());
  };
  const auto located = [&](AuthorityCheck rule, std::span<const uint8_t> chosen = {}) {
    ScopedStore store(platform.openPersonalStore());
    ScopedCertificate found(LocateCertBySerial(store.get(), Serial(0x71), kIssuer, rule, chosen));
    return found ? DerDigest(found.get()) : Sha256Digest{};
  };
  TestCa impostor{kIssuer};
  Sha256Digest real{}, forged{};
  // The store's order is its own: a new pair, each for keys of its own, until
  // the impostor's comes first (even odds each time; adding impostors to one
  // authority's certificate failed one run in seventeen).
  for (int i = 0; i < 32 && (i == 0 || located(AuthorityCheck::Name) != forged); ++i) {
    testing::PurgeIssuer(kIssuer);
    const std::vector<uint8_t> realKey = testing::NewKeyBlob(), forgedKey = testing::NewKeyBlob();
    const std::string realPem = ToPem(ca.Issue(kAlice, {0x71}, realKey));
    const std::string forgedPem = ToPem(impostor.Issue(kAlice, {0x71}, forgedKey));
    ASSERT_EQ(ImportCertWithKey(realPem.c_str(), realKey), ImportResult::Ok);
    ASSERT_EQ(ImportCertWithKey(forgedPem.c_str(), forgedKey), ImportResult::Ok);
    real = digestOf(realPem);
    forged = digestOf(forgedPem);
  }
  ASSERT_EQ(located(AuthorityCheck::Name), forged) << "the impostor's never came first";
  struct Case {
    const char* what;
    AuthorityCheck rule;
    const Sha256Digest* chosen;
    const Sha256Digest& found;
  };
  const Sha256Digest none{};
  const Case cases[] = {
      {"the name rule takes the first, an impostor's", AuthorityCheck::Name, nullptr, forged},
      {"the signature rule skips it", AuthorityCheck::Signature, nullptr, real},
      {"a thumbprint picks the authority's", AuthorityCheck::Name, &real, real},
      {"a thumbprint picks the impostor's by name", AuthorityCheck::Name, &forged, forged},
      {"but never by signature", AuthorityCheck::Signature, &forged, none},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(located(c.rule,
                      c.chosen ? std::span<const uint8_t>(*c.chosen) : std::span<const uint8_t>()),
              c.found)
        << c.what;
  }
  ledger.FailEveryCall(Op::verifyIssuedBy);
  EXPECT_EQ(located(AuthorityCheck::Signature), none) << "a check that fails rejects";
  ledger.FailCall(Op::verifyIssuedBy, 0);
  rootCertificatePem = "no root";
  EXPECT_EQ(located(AuthorityCheck::Signature), none) << "so does an unreadable root";
}

TEST_F(StoreServices, SerialsLongerThanEightBytesAreNeverMatched) {
  const std::vector<uint8_t> tenBytes = {0x01, 0x02, 0x03, 0x04, 0x05,
                                         0x06, 0x07, 0x08, 0x09, 0x0A};
  const std::string pem = ToPem(ca.Issue({{"2.5.4.3", "Long"}}, tenBytes, key));
  ASSERT_EQ(ImportCertWithKey(pem.c_str(), key), ImportResult::Ok);
  SerialValue serial{};
  ASSERT_EQ(FindCertSerial("2.5.4.3", "Long", kIssuer, serial), FindResult::Found);
  EXPECT_EQ(serial, Serial(0x030405060708090A)) << "its eight least significant bytes";
  EXPECT_EQ(IsCertInStore(serial, kIssuer), PresenceResult::Absent);
  EXPECT_EQ(DeleteCertAndKey(serial, kIssuer), DeleteResult::NotFound);
}

TEST_F(StoreServices, CertificatesWithoutAUsableKeyAreReported) {
  // No key link at all: added as a CA would hand it out.
  const std::string bare = ToPem(ca.Issue({{"2.5.4.3", "Bare"}}, {0x11}, key));
  {
    ScopedStore store(platform.openPersonalStore());
    ScopedCertificate parsed(ParsePemCertificate(bare.c_str()));
    ASSERT_TRUE(platform.addCertificate(store.get(), parsed.get(), nullptr));
  }
  std::array<uint8_t, kSignatureAreaSize> out{};
  int32_t length = -1;
  EXPECT_EQ(SignWithStoredCert(Serial(0x11), kIssuer, {}, out, length), SignResult::NoKeyInfo);
  EXPECT_EQ(DeleteCertAndKey(Serial(0x11), kIssuer), DeleteResult::NoKeyInfo);
  EXPECT_EQ(Look(Serial(0x11)).count, 1) << "stays in the store";
  EXPECT_EQ(length, -1);

  // A link to a container that is gone.
  Enrol(0x12);
  ASSERT_TRUE(testing::DeleteContainer(*Look(Serial(0x12)).key));
  EXPECT_EQ(SignWithStoredCert(Serial(0x12), kIssuer, {}, out, length),
            SignResult::ContainerNotOpened);
  for (int call = 0; call < 2; ++call) {
    EXPECT_EQ(DeleteCertAndKey(Serial(0x12), kIssuer), DeleteResult::ContainerNotDeleted);
  }
  EXPECT_EQ(Look(Serial(0x12)).count, 1) << "never removed by a deletion";

  // A link that names no container. (Set before the certificate enters the
  // store: Wine keeps no property change of a certificate already there.)
  {
    const std::string pem = ToPem(ca.Issue({{"2.5.4.3", "Nameless"}}, {0x13}, key));
    ScopedCertificate parsed(ParsePemCertificate(pem.c_str()));
    CRYPT_KEY_PROV_INFO info{};
    info.pwszProvName = const_cast<wchar_t*>(L"some provider");
    info.dwProvType = PROV_RSA_FULL;
    ASSERT_TRUE(platform.setKeyProvInfo(parsed.get(), &info));
    ScopedStore store(platform.openPersonalStore());
    ASSERT_TRUE(platform.addCertificate(store.get(), parsed.get(), nullptr));
  }
  EXPECT_EQ(SignWithStoredCert(Serial(0x13), kIssuer, {}, out, length),
            SignResult::NoContainerNamed);
  EXPECT_EQ(DeleteCertAndKey(Serial(0x13), kIssuer), DeleteResult::NoContainerNamed);
}

// On Windows the replacing copy is linked to the new container; Wine keeps
// the first copy's properties, so only what holds on both is checked here.
TEST_F(StoreServices, ImportingAgainKeepsOneLinkedCopy) {
  const std::string pem = Enrol(0x21);
  ASSERT_EQ(ImportCertWithKey(pem.c_str(), key), ImportResult::Ok);
  const Stored again = Look(Serial(0x21));
  EXPECT_EQ(again.count, 1);
  ASSERT_TRUE(again.key);
  EXPECT_TRUE(testing::ContainerExists(*again.key));
  EXPECT_EQ(DeleteCertAndKey(Serial(0x21), kIssuer), DeleteResult::Deleted);
}

TEST_F(StoreServices, WithoutAProviderNameTheDefaultProviderIsRecorded) {
  ledger.FailCall(Op::getProviderName);
  Enrol(0x31);
  const Stored stored = Look(Serial(0x31));
  char expected[256] = {};
  DWORD size = sizeof expected;
  ASSERT_TRUE(
      CryptGetDefaultProviderA(PROV_RSA_FULL, nullptr, CRYPT_MACHINE_DEFAULT, expected, &size));
  ASSERT_TRUE(stored.key);
  EXPECT_EQ(Narrow(stored.key->provider), expected);
  EXPECT_EQ(DeleteCertAndKey(Serial(0x31), kIssuer), DeleteResult::Deleted)
      << "the key can be found again";
}

// Each operation with each of its platform steps failing in turn.
TEST_F(StoreServices, EveryFailedStepGivesItsCodeAndReleasesEverything) {
  std::array<uint8_t, kSignatureAreaSize> out{};
  int32_t length = 0;
  SerialValue serial{};
  const auto find = [&] {
    return static_cast<int>(FindCertSerial("2.5.4.3", "Alice", kIssuer, serial));
  };
  const auto present = [&] { return static_cast<int>(IsCertInStore(Serial(0x41), kIssuer)); };
  const auto sign = [&] {
    return static_cast<int>(SignWithStoredCert(Serial(0x41), kIssuer, {}, out, length));
  };
  const auto remove = [&] { return static_cast<int>(DeleteCertAndKey(Serial(0x41), kIssuer)); };
  std::vector<uint8_t> der;
  const auto cms = [&] {
    return static_cast<int>(SignCmsWithStoredCert(Serial(0x41), kIssuer, {}, false, der));
  };
  struct Case {
    const char* operation;
    std::function<int()> run;
    Op op;
    int expected;
  };
  const Case cases[] = {
      {"find", find, Op::openPersonalStore, -1},
      {"find", find, Op::getNameAttributeW, -2},
      {"find", find, Op::getNameAttribute, -2},
      {"present", present, Op::openPersonalStore, -1},
      {"present", present, Op::getNameAttribute, 0},
      {"sign", sign, Op::openPersonalStore, -1},
      {"sign", sign, Op::getKeyProvInfo, -5},
      {"sign", sign, Op::acquireContext, -7},
      {"sign", sign, Op::createHash, -8},
      {"sign", sign, Op::hashData, -9},
      {"sign", sign, Op::signHash, -9},
      {"cms", cms, Op::verifyIssuedBy, -2},
      {"cms", cms, Op::openSignedMessage, -8},
      {"cms", cms, Op::updateMessage, -9},
      {"cms", cms, Op::getMessageContent, -10},
      {"delete", remove, Op::openPersonalStore, -2},
      {"delete", remove, Op::getKeyProvInfo, -3},
      {"delete", remove, Op::acquireContext, -5},
  };
  Enrol(0x41);
  for (const Case& c : cases) {
    // Every call: the store may hold other certificates before ours.
    ledger.FailEveryCall(c.op);
    EXPECT_EQ(c.run(), c.expected) << c.operation << " with " << testing::OpName(c.op);
    EXPECT_EQ(ledger.openHandles(), "") << c.operation << " with " << testing::OpName(c.op);
    EXPECT_TRUE(der.empty()) << "no partial message";
    ledger.FailCall(c.op, 0);
  }
  EXPECT_EQ(Look(Serial(0x41)).count, 1) << "no failed deletion removed it";

  // The certificate cannot be removed: its key is gone already.
  const std::optional<testing::KeyLink> key = Look(Serial(0x41)).key;
  ASSERT_TRUE(key);
  ledger.FailCall(Op::deleteCertificate);
  EXPECT_EQ(DeleteCertAndKey(Serial(0x41), kIssuer), DeleteResult::CertificateNotRemoved);
  EXPECT_EQ(ledger.openHandles(), "");
  EXPECT_EQ(Look(Serial(0x41)).count, 1);
  EXPECT_FALSE(testing::ContainerExists(*key));
}

// The certificate stays as added, but no container is left that no
// certificate links to: it would hold the user's key out of DelCert's reach.
TEST_F(StoreServices, EveryFailedImportStepGivesItsCodeAndLeavesNoUnlinkedKey) {
  const std::string pem = ToPem(ca.Issue(kAlice, {0x51}, key));
  const int containers = testing::CountContainers();
  struct Case {
    Op op;
    ImportResult expected;
    bool certificateStays;
  };
  const Case cases[] = {
      {Op::openPersonalStore, ImportResult::StoreNotOpened, false},
      {Op::createCertificate, ImportResult::NoCertificate, false},
      {Op::addCertificate, ImportResult::NotAdded, false},
      {Op::uuidToString, ImportResult::KeyNotPlaced, true},
      {Op::acquireContext, ImportResult::KeyNotPlaced, true},
      {Op::importPrivateKey, ImportResult::KeyNotPlaced, true},
      {Op::setKeyProvInfo, ImportResult::LinkNotSet, true},
  };
  for (const Case& c : cases) {
    ledger.FailCall(c.op);
    EXPECT_EQ(ImportCertWithKey(pem.c_str(), key), c.expected) << testing::OpName(c.op);
    EXPECT_EQ(ledger.openHandles(), "") << testing::OpName(c.op);
    const Stored stored = Look(Serial(0x51));
    EXPECT_EQ(stored.count, c.certificateStays ? 1 : 0) << testing::OpName(c.op);
    EXPECT_FALSE(stored.key) << testing::OpName(c.op);
    EXPECT_EQ(testing::CountContainers(), containers) << testing::OpName(c.op);
    testing::PurgeIssuer(kIssuer);
  }
  ledger.FailCall(Op::createCertificate);
  EXPECT_EQ(MatchesPendingKey(key, pem.c_str()), MatchResult::NoCertificate);
}

}  // namespace
}  // namespace zvcert
