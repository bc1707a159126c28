// The three exports and their result codes, called as a browser calls them.
#include <cstring>

#include "browser/plugin_test.h"

namespace testbrowser {
namespace {

using ::testing::IsEmpty;

class EntryPoints : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(browser.loaded()); }
  Browser browser;
};

TEST_F(EntryPoints, AreFoundByTheirPlainNamesOnly) {
  EXPECT_NE(browser.getEntryPoints, nullptr);
  EXPECT_NE(browser.initialize, nullptr);
  EXPECT_NE(browser.shutdown, nullptr);
  for (const char* decorated :
       {"_NP_Initialize@4", "NP_Initialize@4", "_NP_GetEntryPoints@4", "NP_Shutdown@0"}) {
    EXPECT_EQ(GetProcAddress(browser.module(), decorated), nullptr) << decorated;
  }
}

TEST_F(EntryPoints, GetEntryPointsRefusesANullOrShortTableAndWritesNothing) {
  EXPECT_EQ(browser.getEntryPoints(nullptr), NPERR_INVALID_FUNCTABLE_ERROR);

  NPPluginFuncs funcs;
  std::memset(&funcs, 0xAB, sizeof funcs);
  funcs.size = sizeof funcs - 1;
  NPPluginFuncs before = funcs;
  EXPECT_EQ(browser.getEntryPoints(&funcs), NPERR_INVALID_FUNCTABLE_ERROR);
  EXPECT_EQ(std::memcmp(&funcs, &before, sizeof funcs), 0);
}

TEST_F(EntryPoints, GetEntryPointsFillsEveryRoutineAndVersion19) {
  NPPluginFuncs funcs;
  std::memset(&funcs, 0xAB, sizeof funcs);
  funcs.size = sizeof funcs;  // 60 bytes on x86, 120 on x64
  ASSERT_EQ(browser.getEntryPoints(&funcs), NPERR_NO_ERROR);
  EXPECT_EQ(funcs.size, sizeof funcs);  // left as the browser set it
  EXPECT_EQ(funcs.version, 19);
  const void* routines[] = {
      reinterpret_cast<void*>(funcs.newp),          reinterpret_cast<void*>(funcs.destroy),
      reinterpret_cast<void*>(funcs.setwindow),     reinterpret_cast<void*>(funcs.newstream),
      reinterpret_cast<void*>(funcs.destroystream), reinterpret_cast<void*>(funcs.asfile),
      reinterpret_cast<void*>(funcs.writeready),    reinterpret_cast<void*>(funcs.write),
      reinterpret_cast<void*>(funcs.print),         reinterpret_cast<void*>(funcs.event),
      reinterpret_cast<void*>(funcs.urlnotify),     reinterpret_cast<void*>(funcs.getvalue),
      reinterpret_cast<void*>(funcs.setvalue),
  };
  MEMORY_BASIC_INFORMATION info;
  for (const void* routine : routines) {
    ASSERT_NE(routine, nullptr);
    ASSERT_NE(VirtualQuery(routine, &info, sizeof info), 0u);
    EXPECT_EQ(info.AllocationBase, browser.module()) << "routine outside the module";
  }
  EXPECT_EQ(funcs.javaClass, nullptr);
  // A newer browser's larger table is accepted too.
  funcs.size = sizeof funcs + sizeof(void*);
  EXPECT_EQ(browser.getEntryPoints(&funcs), NPERR_NO_ERROR);
}

TEST_F(EntryPoints, InitializeChecksTableVersionThenSize) {
  struct Case {
    bool null;
    uint16_t version;
    uint16_t size;
    NPError expected;
  };
  // The whole table is 184 bytes on x86, 368 on x64.
  constexpr uint16_t kWhole = sizeof(NPNetscapeFuncs);
  const Case cases[] = {
      {true, 0, 0, NPERR_INVALID_FUNCTABLE_ERROR},
      {false, 0x0100, kWhole, NPERR_INCOMPATIBLE_VERSION_ERROR},      // major 1
      {false, 0x0100, kWhole - 1, NPERR_INCOMPATIBLE_VERSION_ERROR},  // version is tested first
      {false, 0x0013, kWhole - 1, NPERR_INVALID_FUNCTABLE_ERROR},
      {false, 0x0013, kWhole, NPERR_NO_ERROR},
      {false, 0x001B, kWhole + 16, NPERR_NO_ERROR},  // minor version is not tested
      {false, 0x0000, kWhole, NPERR_NO_ERROR},
  };
  for (const Case& c : cases) {
    NPNetscapeFuncs funcs = Browser::MakeBrowserFuncs();
    funcs.version = c.version;
    funcs.size = c.size;
    EXPECT_EQ(browser.initialize(c.null ? nullptr : &funcs), c.expected)
        << "version " << std::hex << c.version << " size " << std::dec << c.size;
  }
}

TEST_F(EntryPoints, ShutdownSucceedsAndTheModuleStaysUsable) {
  ASSERT_EQ(browser.Start(), NPERR_NO_ERROR);
  EXPECT_EQ(browser.shutdown(), NPERR_NO_ERROR);
  // The copy of the browser table is not cleared: instances still work.
  auto instance = browser.NewInstance();
  EXPECT_EQ(instance->newError(), NPERR_NO_ERROR);
  auto object = instance->GetScriptableObject();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(std::get<int32_t>(object->GetProperty("Version").value), 1022);
  object.reset();
  EXPECT_EQ(instance->Destroy(), NPERR_NO_ERROR);
  EXPECT_THAT(Browser::UnexpectedCalls(), IsEmpty());
}

}  // namespace
}  // namespace testbrowser
