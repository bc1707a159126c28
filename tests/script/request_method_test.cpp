// GetCSR with the plug-in linked in: the text a page receives, the key the
// object keeps, and what a failure leaves behind.
#include <algorithm>

#include "request/signed_request.h"
#include "script/scriptable_object.h"
#include "support/hex.h"
#include "support/linked_plugin_test.h"
#include "support/request_checks.h"
#include "support/test_ca.h"
#include "support/test_data.h"

namespace zvcert {
namespace {

using testbrowser::Browser;
using testbrowser::CallResult;
using testbrowser::IsVoid;
using testing::Op;

// The DER inside a request's PEM text, checking the armour on the way.
std::vector<uint8_t> Unarmor(const std::string& pem) {
  const std::string header = "-----BEGIN CERTIFICATE REQUEST-----\n";
  const std::string footer = "\n-----END CERTIFICATE REQUEST-----\n";
  EXPECT_EQ(pem.substr(0, header.size()), header);
  EXPECT_GE(pem.size(), header.size() + footer.size());
  EXPECT_EQ(pem.substr(pem.size() - footer.size()), footer);
  const std::string body = pem.substr(header.size(), pem.size() - header.size() - footer.size());
  std::string base64;
  for (size_t at = 0; at < body.size(); at += 65) {
    const std::string line = body.substr(at, 64);
    EXPECT_TRUE(line.size() == 64 || at + 65 > body.size()) << "a short line before the last";
    EXPECT_EQ(line.find('\n'), std::string::npos);
    base64 += line;
  }
  return testing::PlatformFromBase64(base64);
}

class GetCsr : public testing::LinkedPluginTest {
 protected:
  std::vector<uint8_t> PendingModulus() const { return testing::ModulusOfBlob(PendingKey()); }
  // Calls GetCSR and checks the request against the key the object kept.
  std::string Request(const char* artifact, const testing::RequestExpectations& expected) {
    const CallResult r = object->Invoke("GetCSR");
    EXPECT_TRUE(r.ok);
    const std::string pem = Text(r);
    EXPECT_EQ(state->pendingKeyLength, static_cast<int32_t>(PrivateKeyBlobSize(kKeyBits)));
    const std::vector<uint8_t> der = Unarmor(pem);
    EXPECT_TRUE(testing::RequestVerifies(der, PendingModulus())) << artifact;
    testing::RequestExpectations withKey = expected;
    withKey.modulus = PendingModulus();
    testing::SaveForVerifier(artifact, pem, withKey);
    return pem;
  }
};

TEST_F(GetCsr, TheInitialSubjectAndChallenge) {
  const std::string pem =
      Request("GetCSR-initial", {testing::kWorkedExampleOpenSslSubject, "quorvex", "quorvex", {}});
  // In the original profile, 600 bytes and 14 of attribute values: 820 Base64
  // characters in 13 lines.
  if (kKeyBits == 1024 && kSignatureHash == SignatureHash::Sha1) {
    EXPECT_EQ(pem.size(), 35u + 820 + 13 + 1 + 34);
  }
}

TEST_F(GetCsr, SubjectsAndChallengesSetByScript) {
  struct Case {
    const char* artifact;
    std::string subject, name, password;
    std::string expectedSubject;
  };
  const Case cases[] = {
      {"GetCSR-slashes", "/C=CN/ST=Region/L=Town/O=OFFICE/OU=Unit/CN=Alice", "a", "b",
       "C = CN, ST = Region, L = Town, O = OFFICE, OU = Unit, CN = Alice, SN = XX, GN = XX, "
       "title = XX, emailAddress = XX"},
      {"GetCSR-missing-keys", "CN=Bob, E=bob@example.test", "long unstructured name", "pw",
       "C = XX, ST = XX, L = XX, O = XX, OU = XX, CN = Bob, SN = XX, GN = XX, title = XX, "
       "emailAddress = bob@example.test"},
      {"GetCSR-not-printable", "CN=Carol, O=R&D", "unit_7", "p@ss_word",
       "C = XX, ST = XX, L = XX, O = R&D, OU = XX, CN = Carol, SN = XX, GN = XX, title = XX, "
       "emailAddress = XX"},
      {"GetCSR-utf8", "C=CN, O=Caf\xC3\xA9, CN=\xE5\xBC\xA0\xE4\xB8\x89", "\xC3\xA9t\xC3\xA9", "x",
       "C = CN, ST = XX, L = XX, O = Caf\xC3\xA9, OU = XX, CN = \xE5\xBC\xA0\xE4\xB8\x89, "
       "SN = XX, GN = XX, title = XX, emailAddress = XX"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(object->Invoke("SetSubject", {c.subject}).ok);
    ASSERT_TRUE(object->Invoke("SetChallenge", {c.name, c.password}).ok);
    Request(c.artifact, {c.expectedSubject, c.name, c.password, {}});
  }
}

TEST_F(GetCsr, ANonAsciiSubjectGivesTheSameNameInEveryLocale) {
  // Run by ctest once under Wine's default locale and once under a
  // code page 936 locale: the Name is the same UTF-16 either way.
  ASSERT_TRUE(
      object->Invoke("SetSubject", {std::string("O=Caf\xC3\xA9, CN=\xE5\xBC\xA0\xE4\xB8\x89")}).ok);
  const std::string pem = Request(GetACP() == 936 ? "GetCSR-cp936" : "GetCSR-default-locale",
                                  {"C = XX, ST = XX, L = XX, O = Caf\xC3\xA9, OU = XX, "
                                   "CN = \xE5\xBC\xA0\xE4\xB8\x89, SN = XX, GN = XX, title = XX, "
                                   "emailAddress = XX",
                                   "quorvex",
                                   "quorvex",
                                   {}});
  const std::string name = testing::ToHex(testing::NameOfRequest(Unarmor(pem)));
  EXPECT_NE(name.find("06 03 55 04 0A 1E 08 00 43 00 61 00 66 00 E9"), std::string::npos) << name;
  EXPECT_NE(name.find("06 03 55 04 03 1E 04 5F 20 4E 09"), std::string::npos) << name;
}

TEST_F(GetCsr, EveryCallMakesANewKeyAndKeepsOnlyTheLast) {
  const CallResult first = object->Invoke("GetCSR");
  ASSERT_TRUE(first.ok);
  const std::vector<uint8_t> firstKey = PendingModulus();
  const CallResult second = object->Invoke("GetCSR");
  ASSERT_TRUE(second.ok);
  EXPECT_NE(PendingModulus(), firstKey);
  EXPECT_TRUE(testing::RequestVerifies(Unarmor(Text(second)), PendingModulus()));
  EXPECT_NE(Text(first), Text(second));
}

TEST_F(GetCsr, AFailedCallKeepsTheEarlierKey) {
  ASSERT_TRUE(object->Invoke("GetCSR").ok);
  const std::vector<uint8_t> kept = PendingKey();
  struct Case {
    const char* what;
    Op op;
  };
  for (const Case& c : {Case{"no key", Op::generateSignatureKey}, Case{"no hash", Op::createHash},
                        Case{"no signature", Op::signHash}}) {
    ledger.FailCall(c.op);
    const CallResult r = object->Invoke("GetCSR");
    EXPECT_FALSE(r.ok) << c.what;
    EXPECT_EQ(Text(r), "") << c.what;
    EXPECT_EQ(PendingKey(), kept) << c.what;
  }
  // Nor does a request the browser could not take: no memory for the text.
  Browser::FailMemAlloc(1);
  const CallResult r = object->Invoke("GetCSR");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(IsVoid(r));
  EXPECT_EQ(PendingKey(), kept);
}

TEST_F(GetCsr, ASubjectTooLongForItsNameFailsWithoutTouchingTheKey) {
  std::string subject;
  for (const char* key : {"C", "ST", "L", "O", "OU", "CN", "SN", "G", "T"}) {
    subject += std::string(key) + "=" + std::string(31, '\xFF') + ", ";  // 31 units each
  }
  // 0xFF is never UTF-8: each byte becomes one U+FFFD, 9 values of 31 units.
  ASSERT_TRUE(object->Invoke("SetSubject", {subject}).ok);
  const CallResult r = object->Invoke("GetCSR");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(Text(r), "");
  EXPECT_EQ(state->pendingKeyLength, 0);
}

}  // namespace
}  // namespace zvcert
