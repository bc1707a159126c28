// The plug-in window: subclassed once, painted light grey, given back on
// destroy. Needs an X display (Xvfb) with 24-bit colour.
#include "browser/plugin_test.h"

namespace testbrowser {
namespace {

constexpr COLORREF kLightGrey = RGB(0xC0, 0xC0, 0xC0);
constexpr COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);

LONG_PTR WindowProcOf(HWND hwnd) { return GetWindowLongPtrA(hwnd, GWLP_WNDPROC); }

COLORREF PaintedPixel(HWND hwnd, int x, int y) {
  InvalidateRect(hwnd, nullptr, TRUE);
  UpdateWindow(hwnd);
  PumpMessages();
  HDC dc = GetDC(hwnd);
  const COLORREF pixel = GetPixel(dc, x, y);
  ReleaseDC(hwnd, dc);
  return pixel;
}

class Window : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    instance = browser.NewInstance();
    ASSERT_EQ(instance->newError(), NPERR_NO_ERROR);
  }
  std::unique_ptr<Instance> instance;
};

TEST_F(Window, SetWindowRefusesAMissingRecord) {
  EXPECT_EQ(browser.pluginFuncs().setwindow(instance->npp(), nullptr), NPERR_GENERIC_ERROR);
}

TEST_F(Window, IsSubclassedByTheFirstRealHandleAndGivenBackOnDestroy) {
  HWND hwnd = instance->CreatePluginWindow();
  ASSERT_NE(hwnd, nullptr);
  const LONG_PTR original = WindowProcOf(hwnd);

  // A record without a handle first: accepted, nothing subclassed.
  EXPECT_EQ(instance->SetWindow(nullptr), NPERR_NO_ERROR);
  EXPECT_EQ(WindowProcOf(hwnd), original);

  EXPECT_EQ(instance->SetWindow(hwnd), NPERR_NO_ERROR);
  const LONG_PTR subclassed = WindowProcOf(hwnd);
  EXPECT_NE(subclassed, original);
  EXPECT_EQ(GetWindowLongPtrA(hwnd, GWLP_USERDATA),
            reinterpret_cast<LONG_PTR>(instance->npp()->pdata));

  // Later calls (new size, null handle, the same handle) change nothing.
  EXPECT_EQ(instance->SetWindow(hwnd, 300, 150), NPERR_NO_ERROR);
  EXPECT_EQ(instance->SetWindow(nullptr), NPERR_NO_ERROR);
  EXPECT_EQ(WindowProcOf(hwnd), subclassed);

  EXPECT_EQ(instance->Destroy(), NPERR_NO_ERROR);
  EXPECT_EQ(WindowProcOf(hwnd), original);
}

TEST_F(Window, ASecondWindowIsIgnoredAndOnlyTheFirstIsRestored) {
  HWND first = instance->CreatePluginWindow();
  HWND second = instance->CreatePluginWindow();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  const LONG_PTR firstOriginal = WindowProcOf(first);
  const LONG_PTR secondOriginal = WindowProcOf(second);

  ASSERT_EQ(instance->SetWindow(first), NPERR_NO_ERROR);
  ASSERT_EQ(instance->SetWindow(second), NPERR_NO_ERROR);
  EXPECT_NE(WindowProcOf(first), firstOriginal);
  EXPECT_EQ(WindowProcOf(second), secondOriginal);

  ASSERT_EQ(instance->Destroy(), NPERR_NO_ERROR);
  EXPECT_EQ(WindowProcOf(first), firstOriginal);
  EXPECT_EQ(WindowProcOf(second), secondOriginal);
}

TEST_F(Window, PaintsItsClientAreaLightGrey) {
  HWND hwnd = instance->CreatePluginWindow(200, 100);
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(PaintedPixel(hwnd, 10, 10), kWhite) << "the page's own window is white";

  ASSERT_EQ(instance->SetWindow(hwnd), NPERR_NO_ERROR);
  for (POINT p : {POINT{0, 0}, POINT{10, 10}, POINT{100, 50}, POINT{199, 99}}) {
    EXPECT_EQ(PaintedPixel(hwnd, p.x, p.y), kLightGrey) << p.x << "," << p.y;
  }

  // Given back on destroy: the page's own painting returns.
  ASSERT_EQ(instance->Destroy(), NPERR_NO_ERROR);
  EXPECT_EQ(PaintedPixel(hwnd, 10, 10), kWhite);
}

TEST_F(Window, StillAnswersOtherMessagesAsAnOrdinaryWindow) {
  HWND hwnd = instance->CreatePluginWindow();
  ASSERT_EQ(instance->SetWindow(hwnd), NPERR_NO_ERROR);
  SetWindowTextA(hwnd, "zv");
  char text[8] = {};
  EXPECT_EQ(GetWindowTextA(hwnd, text, sizeof text), 2);
  EXPECT_STREQ(text, "zv");
  EXPECT_TRUE(MoveWindow(hwnd, 0, 0, 120, 60, TRUE));
  RECT client;
  ASSERT_TRUE(GetClientRect(hwnd, &client));
  EXPECT_EQ(client.right, 120);
  EXPECT_EQ(PaintedPixel(hwnd, 119, 59), kLightGrey);
}

}  // namespace
}  // namespace testbrowser
