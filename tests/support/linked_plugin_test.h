// The fixture of tests that drive the plug-in linked into the test program:
// ObjectTest's browser, instance, object and checks, with the object's own
// state in view and the platform services counted by a ledger, which must
// find no handle left open after each test.
#pragma once

#include <string>
#include <vector>

#include "browser/plugin_test.h"
#include "script/scriptable_object.h"
#include "store/platform_ledger.h"

namespace zvcert::testing {

// A character field of the object: NUL-terminated text within its size.
inline std::string Field(const auto& field) { return std::string(field.data()); }

// A base of its own, so that the ledger is made before the browser and goes
// after it: it wraps everything the plug-in does.
struct WithLedger {
  PlatformLedger ledger;
};

class LinkedPluginTest : protected WithLedger, public testbrowser::ObjectTest {
 protected:
  LinkedPluginTest()
      : ObjectTest(testbrowser::EntryPoints{NP_GetEntryPoints, NP_Initialize, NP_Shutdown}) {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ObjectTest::SetUp());
    state = static_cast<ScriptablePluginObject*>(object->get());
  }
  void TearDown() override {
    ObjectTest::TearDown();
    EXPECT_EQ(ledger.openHandles(), "");
  }

  // The private-key blob GetCSR left pending.
  std::vector<uint8_t> PendingKey() const {
    return {state->pendingKeyBlob.begin(), state->pendingKeyBlob.begin() + state->pendingKeyLength};
  }

  ScriptablePluginObject* state = nullptr;
};

}  // namespace zvcert::testing
