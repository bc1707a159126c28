// The fixture of every plug-in-level test: a started browser, and after the
// test the checks that hold for any page: only the five allowed browser
// routines called, no misuse of browser memory or objects. The plug-in is the
// built DLL, or code linked into the test program (support/linked_plugin_test.h).
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "browser/test_browser.h"

namespace testbrowser {

// Text that no UTF-8 decoder may take as a character.
inline const std::pair<const char*, std::string> kNotUtf8[] = {
    {"lone continuation byte", "\x80"},
    {"two continuation bytes", "\xBF\xBF"},
    {"two-byte lead alone", "\xC3"},
    {"three-byte sequence cut short", "\xE4\xB8"},
    {"four-byte sequence cut short", "\xF0\x9F\x98"},
    {"overlong slash in two bytes", "\xC0\xAF"},
    {"overlong slash in three bytes", "\xE0\x80\xAF"},
    {"overlong slash in four bytes", "\xF0\x80\x80\xAF"},
    {"encoded surrogate", "\xED\xA0\x80"},
    {"beyond U+10FFFF", "\xF4\x90\x80\x80"},
    {"byte FF", "\xFF"},
    {"byte FE", "\xFE"},
};

class PluginTest : public ::testing::Test {
 protected:
  PluginTest() = default;
  explicit PluginTest(const EntryPoints& linkedIn) : browser(linkedIn) {}

  void SetUp() override {
    ASSERT_TRUE(browser.loaded()) << "npzvcert.dll did not load";
    ASSERT_EQ(browser.Start(), NPERR_NO_ERROR);
  }

  void TearDown() override {
    EXPECT_THAT(Browser::UnexpectedCalls(), ::testing::IsEmpty());
    EXPECT_THAT(Browser::Errors(), ::testing::IsEmpty());
  }

  // What a call answered, as script sees it.
  static std::string Text(const CallResult& r) { return std::get<std::string>(r.value); }
  static int32_t Int(const CallResult& r) { return std::get<int32_t>(r.value); }

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
  using PluginTest::PluginTest;

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
