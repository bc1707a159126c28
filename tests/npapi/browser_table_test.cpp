// What NP_Initialize keeps of the browser's table: only the module's copy
// shows it, so this test links the plug-in code directly.
#include <gtest/gtest.h>

#include <cstring>

#include "npapi/browser.h"

namespace zvcert {
namespace {

using Slots = std::array<uintptr_t, kNetscapeFuncsSlotCount>;
// After the size and version words: 4 bytes in on x86, 8 on x64.
constexpr size_t kFirstSlot = offsetof(NPNetscapeFuncs, geturl);
constexpr uint16_t kWhole = sizeof(NPNetscapeFuncs);

Slots SlotsOf(const NPNetscapeFuncs& funcs) {
  Slots slots;
  std::memcpy(slots.data(), reinterpret_cast<const char*>(&funcs) + kFirstSlot, sizeof slots);
  return slots;
}

// A table whose slot i holds the value base + i, so a misplaced copy shows.
NPNetscapeFuncs NumberedTable(uintptr_t base) {
  NPNetscapeFuncs funcs;
  funcs.size = sizeof funcs;
  funcs.version = 0x0013;
  Slots slots;
  for (size_t i = 0; i < slots.size(); ++i) slots[i] = base + i;
  std::memcpy(reinterpret_cast<char*>(&funcs) + kFirstSlot, slots.data(), sizeof slots);
  return funcs;
}

constexpr size_t kCopiedSlots = 40;  // geturl .. setexception

TEST(BrowserTable, InitializeCopiesFortySlotsAndLeavesTheLastFiveNull) {
  std::memset(&browserFuncs, 0, sizeof browserFuncs);
  NPNetscapeFuncs funcs = NumberedTable(0x1000);
  ASSERT_EQ(NP_Initialize(&funcs), NPERR_NO_ERROR);
  EXPECT_EQ(browserFuncs.size, kWhole);
  EXPECT_EQ(browserFuncs.version, 0x0013);
  const Slots copy = SlotsOf(browserFuncs);
  for (size_t i = 0; i < copy.size(); ++i) {
    EXPECT_EQ(copy[i], i < kCopiedSlots ? 0x1000 + i : 0u) << "slot " << i;
  }
}

TEST(BrowserTable, ASecondInitializeOverwritesAndShutdownKeepsTheCopy) {
  std::memset(&browserFuncs, 0, sizeof browserFuncs);
  NPNetscapeFuncs first = NumberedTable(0x1000);
  NPNetscapeFuncs second = NumberedTable(0x9000);
  second.size = kWhole + 16;
  ASSERT_EQ(NP_Initialize(&first), NPERR_NO_ERROR);
  ASSERT_EQ(NP_Initialize(&second), NPERR_NO_ERROR);
  ASSERT_EQ(NP_Shutdown(), NPERR_NO_ERROR);
  EXPECT_EQ(browserFuncs.size, kWhole + 16);
  const Slots copy = SlotsOf(browserFuncs);
  for (size_t i = 0; i < copy.size(); ++i) {
    EXPECT_EQ(copy[i], i < kCopiedSlots ? 0x9000 + i : 0u) << "slot " << i;
  }
}

TEST(BrowserTable, RefusedTablesLeaveTheCopyAlone) {
  NPNetscapeFuncs good = NumberedTable(0x1000);
  ASSERT_EQ(NP_Initialize(&good), NPERR_NO_ERROR);
  NPNetscapeFuncs shortTable = NumberedTable(0x5000);
  shortTable.size = kWhole - 1;
  NPNetscapeFuncs newerMajor = NumberedTable(0x6000);
  newerMajor.version = 0x0100;
  EXPECT_EQ(NP_Initialize(&shortTable), NPERR_INVALID_FUNCTABLE_ERROR);
  EXPECT_EQ(NP_Initialize(&newerMajor), NPERR_INCOMPATIBLE_VERSION_ERROR);
  EXPECT_EQ(SlotsOf(browserFuncs)[0], 0x1000u);
}

TEST(BrowserTable, MissingRoutinesAreNeverCalled) {
  // A host that handed over no table: the module's calls come back empty.
  std::memset(&browserFuncs, 0, sizeof browserFuncs);
  EXPECT_EQ(NPN_MemAlloc(16), nullptr);
  EXPECT_EQ(NPN_GetStringIdentifier("Version"), nullptr);
  EXPECT_EQ(NPN_CreateObject(nullptr, nullptr), nullptr);
  NPObject object{};
  EXPECT_EQ(NPN_RetainObject(&object), &object);
  NPN_ReleaseObject(&object);
}

}  // namespace
}  // namespace zvcert
