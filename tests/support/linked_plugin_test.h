// The fixture of tests that drive the plug-in linked into the test program:
// a started browser, one instance and its object, the object's own state in
// view, and the platform services counted by a ledger. After each test: only
// allowed browser routines called, no browser misuse, no handle left open.
#pragma once

#include "browser/plugin_test.h"
#include "script/scriptable_object.h"
#include "store/platform_ledger.h"

namespace zvcert::testing {

class LinkedPluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(browser.Start(), NPERR_NO_ERROR);
    instance = browser.NewInstance();
    object = instance->GetScriptableObject();
    ASSERT_NE(object, nullptr);
    state = static_cast<ScriptablePluginObject*>(object->get());
  }
  void TearDown() override {
    EXPECT_THAT(testbrowser::Browser::UnexpectedCalls(), ::testing::IsEmpty());
    EXPECT_THAT(testbrowser::Browser::Errors(), ::testing::IsEmpty());
    EXPECT_EQ(ledger.openHandles(), "");
  }

  testbrowser::CallResult Call(const std::string& method,
                               const std::vector<testbrowser::Value>& args = {}) {
    return object->Invoke(method, args);
  }
  static std::string Field(const auto& field) { return std::string(field.data()); }
  // The private-key blob GetCSR left pending.
  std::vector<uint8_t> PendingKey() const {
    return {state->pendingKeyBlob.begin(), state->pendingKeyBlob.begin() + state->pendingKeyLength};
  }

  PlatformLedger ledger;  // first in, last out: it wraps everything below
  testbrowser::Browser browser{
      testbrowser::EntryPoints{NP_GetEntryPoints, NP_Initialize, NP_Shutdown}};
  std::unique_ptr<testbrowser::Instance> instance;
  std::unique_ptr<testbrowser::ScriptObject> object;
  ScriptablePluginObject* state = nullptr;
};

}  // namespace zvcert::testing
