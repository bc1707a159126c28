// The fixture of every plug-in-level test: a started browser, and after the
// test the checks that hold for any page: only the five allowed browser
// routines called, no misuse of browser memory or objects.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "browser/test_browser.h"

namespace testbrowser {

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(browser.loaded()) << "npzvcert.dll did not load";
    ASSERT_EQ(browser.Start(), NPERR_NO_ERROR);
  }

  void TearDown() override {
    EXPECT_THAT(Browser::UnexpectedCalls(), ::testing::IsEmpty());
    EXPECT_THAT(Browser::Errors(), ::testing::IsEmpty());
  }

  // Once every instance is destroyed and every reference dropped.
  static void ExpectNothingLeft() {
    EXPECT_EQ(Browser::LiveObjects(), 0u);
    EXPECT_EQ(Browser::OutstandingAllocations(), 0u);
  }

  Browser browser;
};

// A started browser with one instance and its scriptable object.
class ObjectTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    instance = browser.NewInstance();
    object = instance->GetScriptableObject();
    ASSERT_NE(object, nullptr);
  }
  CallResult Call(const std::string& method, const std::vector<Value>& args = {}) {
    return object->Invoke(method, args);
  }

  std::unique_ptr<Instance> instance;
  std::unique_ptr<ScriptObject> object;
};

}  // namespace testbrowser
