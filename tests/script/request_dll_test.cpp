// GetCSR through the built DLL, as a page calls it.
#include "browser/plugin_test.h"
#include "support/request_checks.h"

namespace testbrowser {
namespace {

TEST_F(PluginTest, GetCsrGivesARequestThroughTheDll) {
  auto instance = browser.NewInstance();
  auto object = instance->GetScriptableObject();
  ASSERT_NE(object, nullptr);
  ASSERT_TRUE(
      object->Invoke("SetSubject", {std::string("C=CN, O=OFFICE, CN=ZVUSER, E=u@zv.test")}).ok);
  ASSERT_TRUE(object->Invoke("SetChallenge", {std::string("unit"), std::string("secret")}).ok);
  const CallResult r = object->Invoke("GetCSR", {std::string("ignored"), int32_t{1}});
  ASSERT_TRUE(r.ok);
  const std::string pem = Text(r);
  EXPECT_EQ(pem.rfind("-----BEGIN CERTIFICATE REQUEST-----\n", 0), 0u);
  zvcert::testing::SaveForVerifier(
      "GetCSR-through-dll", pem,
      {"C = CN, ST = XX, L = XX, O = OFFICE, OU = XX, CN = ZVUSER, SN = XX, GN = XX, "
       "title = XX, emailAddress = u@zv.test",
       "unit",
       "secret",
       {}});
  object.reset();
  instance->Destroy();
  ExpectNothingLeft();
}

}  // namespace
}  // namespace testbrowser
