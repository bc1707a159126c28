// Method dispatch with the plug-in linked in, so that the object's fields,
// the built-in root and the platform services can be looked at and swapped.
// This program is built with another authority's root than the shipped one.
#include "script/scriptable_object.h"
#include "store/root_certificate.h"
#include "support/linked_plugin_test.h"
#include "support/test_data.h"

namespace zvcert {
namespace {

using testbrowser::Browser;
using testbrowser::CallResult;
using testbrowser::IsVoid;
using testing::Field;
using testing::Op;

class Dispatch : public testing::LinkedPluginTest {
 protected:
  void TearDown() override {
    LinkedPluginTest::TearDown();
    rootCertificatePem = builtInRoot;
  }
  const char* const builtInRoot = rootCertificatePem;
};

TEST_F(Dispatch, TheRootNameFollowsTheBuiltInRootAndIsReadOnce) {
  EXPECT_EQ(Field(state->rootIssuerName), "");
  // Any call reads it, even one the object does not know.
  EXPECT_FALSE(object->Invoke("NoSuchMethod").ok);
  EXPECT_EQ(Field(state->rootIssuerName), "ZV Test Other Root");
  object->Invoke("SetSubject", {std::string("CN=x")});
  object->Invoke("Base64Encode", {std::string("x")});
  EXPECT_EQ(ledger.calls(Op::createCertificate), 1);
  EXPECT_EQ(ledger.calls(Op::deleteCertificate), 1) << "the context is released by deletion";
}

TEST_F(Dispatch, AnUnreadableRootIsTriedAgainOnEveryCall) {
  const std::string withoutCn = testing::ReadMaterial("root-without-cn.pem");
  ASSERT_FALSE(withoutCn.empty());
  struct Case {
    const char* what;
    std::string root;
    int platformCallsPerRead;
  };
  const Case cases[] = {
      {"not PEM", "garbage", 0},
      {"not DER", testing::kPemNotDer, 1},
      {"no common name", withoutCn, 1},
  };
  for (const Case& c : cases) {
    rootCertificatePem = c.root.c_str();
    const int before = ledger.calls(Op::createCertificate);
    for (int i = 0; i < 3; ++i) {
      const CallResult r = object->Invoke("SetSubject", {std::string("CN=x")});
      EXPECT_TRUE(r.ok) << c.what << ": the method itself is unaffected";
    }
    EXPECT_EQ(Field(state->rootIssuerName), "") << c.what;
    EXPECT_EQ(ledger.calls(Op::createCertificate) - before, 3 * c.platformCallsPerRead) << c.what;
    EXPECT_EQ(ledger.openHandles(), "") << c.what;
  }
  // Once readable, the name is taken and kept.
  rootCertificatePem = builtInRoot;
  object->Invoke("SetSubject", {std::string("CN=x")});
  EXPECT_EQ(Field(state->rootIssuerName), "ZV Test Other Root");
}

TEST_F(Dispatch, AFailedNameReadLeavesTheNameEmptyAndReleasesTheRoot) {
  ledger.FailCall(Op::getNameAttribute);
  object->Invoke("Base64Encode", {std::string("x")});
  EXPECT_EQ(Field(state->rootIssuerName), "");
  EXPECT_EQ(ledger.openHandles(), "");
  object->Invoke("Base64Encode", {std::string("x")});
  EXPECT_EQ(Field(state->rootIssuerName), "ZV Test Other Root");
}

TEST_F(Dispatch, SubjectAndChallengeAreStoredCutToTheirFields) {
  struct Case {
    std::string subject, name, password;
    std::string storedSubject, storedName, storedPassword;
  };
  const std::string big(16 << 20, '\xFF');
  std::vector<Case> cases = {
      {"C=CN, CN=A", "n", "p", "C=CN, CN=A", "n", "p"},
      {std::string(1023, 's'), std::string(31, 'n'), std::string(31, 'p'), std::string(1023, 's'),
       std::string(31, 'n'), std::string(31, 'p')},
      {std::string(5000, 's'), std::string(32, 'n'), std::string(100, 'p'), std::string(1023, 's'),
       std::string(31, 'n'), std::string(31, 'p')},
      {big, big, big, std::string(1023, '\xFF'), std::string(31, '\xFF'), std::string(31, '\xFF')},
      {std::string("CN=A\0B", 6), std::string("x\0y", 3), "", "CN=A", "x", ""},
      {"", "", "", "", "", ""},
  };
  // Bytes that are not UTF-8 are kept as given.
  for (const auto& [what, bad] : testbrowser::kNotUtf8) {
    const std::string subject = "CN=" + bad + ", O=" + bad;
    cases.push_back({subject, bad, "p" + bad, subject, bad, "p" + bad});
  }
  ASSERT_TRUE(object->Invoke("GetCSR").ok);
  const std::vector<uint8_t> key = PendingKey();
  for (const Case& c : cases) {
    const CallResult subject = object->Invoke("SetSubject", {c.subject});
    EXPECT_TRUE(subject.ok);
    EXPECT_EQ(Int(subject), 1);
    const CallResult challenge = object->Invoke("SetChallenge", {c.name, c.password});
    EXPECT_TRUE(challenge.ok);
    EXPECT_EQ(Int(challenge), 1);
    EXPECT_EQ(Field(state->subjectText), c.storedSubject);
    EXPECT_EQ(Field(state->unstructuredName), c.storedName);
    EXPECT_EQ(Field(state->challengePassword), c.storedPassword);
  }
  EXPECT_EQ(PendingKey(), key) << "SetSubject and SetChallenge leave the pending key alone";
}

TEST_F(Dispatch, NoBrowserMemoryMeansAFailedCallWithAVoidResult) {
  for (const char* method : {"Base64Encode", "Base64Decode"}) {
    Browser::FailMemAlloc(1);
    const CallResult r = object->Invoke(method, {std::string("Zm9v")});
    EXPECT_FALSE(r.ok) << method;
    EXPECT_TRUE(IsVoid(r)) << method;
  }
  EXPECT_EQ(Browser::OutstandingAllocations(), 0u);
}

}  // namespace
}  // namespace zvcert
