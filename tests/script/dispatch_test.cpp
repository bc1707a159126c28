// Method dispatch with the plug-in linked in, so that the object's fields,
// the built-in root and the platform services can be looked at and swapped.
// This program is built with another authority's root than the shipped one.
#include <fstream>
#include <sstream>

#include "store/root_certificate.h"
#include "script/scriptable_object.h"
#include "support/linked_plugin_test.h"

namespace zvcert {
namespace {

using testbrowser::Browser;
using testbrowser::CallResult;
using testbrowser::EntryPoints;
using testbrowser::Instance;
using testbrowser::ScriptObject;
using testbrowser::Slot;
using testbrowser::Value;
using testing::Op;
using testing::PlatformLedger;

std::string ReadMaterial(const char* name) {
  std::ifstream in(std::string(ZVCERT_MATERIAL_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

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
  const std::string withoutCn = ReadMaterial("root-without-cn.pem");
  ASSERT_FALSE(withoutCn.empty());
  struct Case {
    const char* what;
    std::string root;
    int platformCallsPerRead;
  };
  const Case cases[] = {
      {"not PEM", "garbage", 0},
      {"not DER", "-----BEGIN CERTIFICATE-----\nZm9vYmFy\n-----END CERTIFICATE-----", 1},
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
  const Case cases[] = {
      {"C=CN, CN=A", "n", "p", "C=CN, CN=A", "n", "p"},
      {std::string(1023, 's'), std::string(31, 'n'), std::string(31, 'p'), std::string(1023, 's'),
       std::string(31, 'n'), std::string(31, 'p')},
      {std::string(5000, 's'), std::string(32, 'n'), std::string(100, 'p'), std::string(1023, 's'),
       std::string(31, 'n'), std::string(31, 'p')},
      {std::string("CN=A\0B", 6), std::string("x\0y", 3), "", "CN=A", "x", ""},
      {"", "", "", "", "", ""},
  };
  for (const Case& c : cases) {
    const CallResult subject = object->Invoke("SetSubject", {c.subject});
    EXPECT_TRUE(subject.ok);
    EXPECT_EQ(std::get<int32_t>(subject.value), 1);
    const CallResult challenge = object->Invoke("SetChallenge", {c.name, c.password});
    EXPECT_TRUE(challenge.ok);
    EXPECT_EQ(std::get<int32_t>(challenge.value), 1);
    EXPECT_EQ(Field(state->subjectText), c.storedSubject);
    EXPECT_EQ(Field(state->unstructuredName), c.storedName);
    EXPECT_EQ(Field(state->challengePassword), c.storedPassword);
  }
}

TEST_F(Dispatch, RefusedCallsChangeNothing) {
  const std::string subject = Field(state->subjectText);
  const std::vector<Value> refused[] = {{}, {int32_t{1}}, {nullptr}, {true}, {2.5}, {Value{}}};
  for (const auto& args : refused) {
    EXPECT_TRUE(IsVoid(object->Invoke("SetSubject", args)));
    EXPECT_FALSE(object->Invoke("SetSubject", args).ok);
  }
  EXPECT_FALSE(object->Invoke("SetChallenge", {std::string("only one")}).ok);
  EXPECT_FALSE(object->Invoke("SetChallenge", {std::string("a"), int32_t{2}}).ok);
  EXPECT_FALSE(object->Invoke("SetChallenge", {int32_t{2}, std::string("a")}).ok);
  EXPECT_EQ(Field(state->subjectText), subject);
  EXPECT_EQ(Field(state->unstructuredName), "quorvex");
  EXPECT_EQ(Field(state->challengePassword), "quorvex");
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
