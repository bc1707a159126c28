// The version resource of the built file, read back raw: browsers find the
// plug-in and its MIME type through it, so every field and the order of the
// strings are checked, not only what VerQueryValue would find.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "browser/test_browser.h"
#include "build_identity.h"

namespace testbrowser {
namespace {

// One node of the resource: a header, a key, a value, then child nodes, each
// 32-bit aligned from the start of the resource.
struct Block {
  std::wstring key;
  uint16_t type = 0;  // 1 text, 0 binary
  std::vector<uint8_t> value;
  std::wstring text;  // for text values, up to the first NUL
  std::vector<Block> children;
};

size_t Align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

Block ParseBlock(const uint8_t* base, size_t offset) {
  Block block;
  uint16_t length, valueLength;
  std::memcpy(&length, base + offset, 2);
  std::memcpy(&valueLength, base + offset + 2, 2);
  std::memcpy(&block.type, base + offset + 4, 2);
  const size_t end = offset + length;
  size_t at = offset + 6;
  for (wchar_t c; std::memcpy(&c, base + at, 2), at += 2, c != 0;) block.key.push_back(c);
  at = Align4(at);
  const size_t valueBytes = block.type == 1 ? valueLength * 2u : valueLength;
  block.value.assign(base + at, base + at + valueBytes);
  if (block.type == 1) {
    for (size_t i = 0; i + 1 < valueBytes; i += 2) {
      wchar_t c;
      std::memcpy(&c, &block.value[i], 2);
      if (c == 0) break;
      block.text.push_back(c);
    }
  }
  at = Align4(at + valueBytes);
  while (at < end) {
    Block child = ParseBlock(base, at);
    uint16_t childLength;
    std::memcpy(&childLength, base + at, 2);
    block.children.push_back(std::move(child));
    at = Align4(at + childLength);
  }
  return block;
}

class VersionResource : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring path = DefaultPluginPath();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    data.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    root = ParseBlock(data.data(), 0);
  }
  std::vector<uint8_t> data;
  Block root;
};

TEST_F(VersionResource, FixedPartDescribesA32BitDllVersion1022) {
  EXPECT_EQ(root.key, L"VS_VERSION_INFO");
  ASSERT_EQ(root.value.size(), sizeof(VS_FIXEDFILEINFO));
  VS_FIXEDFILEINFO fixed;
  std::memcpy(&fixed, root.value.data(), sizeof fixed);
  EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed.dwFileVersionLS, 0x00020002u);
  EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed.dwProductVersionLS, 0x00020002u);
  EXPECT_EQ(fixed.dwFileFlagsMask, 0x3Fu);
  EXPECT_EQ(fixed.dwFileFlags, 0u);
  EXPECT_EQ(fixed.dwFileOS, 0x40004u);
  EXPECT_EQ(fixed.dwFileType, 2u);
  EXPECT_EQ(fixed.dwFileSubtype, 0u);
  EXPECT_EQ(fixed.dwFileDateMS, 0u);
  EXPECT_EQ(fixed.dwFileDateLS, 0u);
}

TEST_F(VersionResource, OneStringTableWithTheTwelveStringsInOrder) {
  ASSERT_EQ(root.children.size(), 2u);
  const Block& stringInfo = root.children[0];
  EXPECT_EQ(stringInfo.key, L"StringFileInfo");
  ASSERT_EQ(stringInfo.children.size(), 1u);
  const Block& table = stringInfo.children[0];
  EXPECT_EQ(table.key, L"040904e4");

  const std::pair<std::wstring, std::wstring> expected[] = {
      {L"CompanyName", L" "},
      {L"FileOpenName", L"npzvcert"},
      {L"FileVersion", L"1, 0, 2, 2"},
      {L"InternalName", L"npzvcert"},
      {L"MIMEType", L"application/zvcert"},
      {L"OriginalFilename", L"npzvcert.dll"},
      {L"ProductName", L"Dastro certificate control"},
      {L"ProductVersion", L"1, 0, 2, 2"},
      // What the installer takes the build's kind and identity from.
      {L"Build", L"" ZVCERT_RC_BUILD},
      {L"NativeHost", L"" ZVCERT_RC_NATIVE_HOST},
      {L"ChromiumExtensionId", L"" ZVCERT_RC_CHROMIUM_ID},
      {L"FirefoxExtensionId", L"" ZVCERT_RC_FIREFOX_ID},
  };
  ASSERT_EQ(table.children.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const Block& entry = table.children[i];
    EXPECT_EQ(entry.key, expected[i].first) << "string " << i;
    EXPECT_EQ(entry.type, 1);
    EXPECT_EQ(entry.text, expected[i].second) << "string " << i;
  }
}

TEST_F(VersionResource, TranslationNamesUsEnglishAndCodePage1252) {
  const Block& varInfo = root.children[1];
  EXPECT_EQ(varInfo.key, L"VarFileInfo");
  ASSERT_EQ(varInfo.children.size(), 1u);
  const Block& translation = varInfo.children[0];
  EXPECT_EQ(translation.key, L"Translation");
  EXPECT_EQ(translation.value, (std::vector<uint8_t>{0x09, 0x04, 0xE4, 0x04}));
}

TEST_F(VersionResource, BrowsersFindTheMimeTypeThroughVerQueryValue) {
  wchar_t* text = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\040904e4\\MIMEType",
                             reinterpret_cast<void**>(&text), &length));
  EXPECT_EQ(std::wstring(text), L"application/zvcert");
}

}  // namespace
}  // namespace testbrowser
