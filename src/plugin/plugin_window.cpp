// The plug-in's window: subclassed once so that it paints light grey.
#include "plugin/plugin_instance.h"

namespace zvcert {
namespace {

LRESULT CALLBACK PluginWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd, &paint);
    RECT client;
    GetClientRect(hwnd, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
    EndPaint(hwnd, &paint);
  }
  // The replaced procedure is only put back on destroy, never chained to.
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

void SubclassWindow(PluginInstance& record, NPWindow* window) {
  record.windowHandle = static_cast<HWND>(window->window);
  // The pointer-sized forms: on x86 they are the same calls as the Long ones.
  record.previousWindowProc = GetWindowLongPtrA(record.windowHandle, GWLP_WNDPROC);
  SetWindowLongPtrA(record.windowHandle, GWLP_WNDPROC,
                    reinterpret_cast<LONG_PTR>(reinterpret_cast<void*>(&PluginWindowProc)));
  SetWindowLongPtrA(record.windowHandle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&record));
  record.windowRecord = window;
  record.initialized = true;
}

void RestoreWindow(PluginInstance& record) {
  if (record.windowHandle != nullptr && record.previousWindowProc != 0) {
    SetWindowLongPtrA(record.windowHandle, GWLP_WNDPROC, record.previousWindowProc);
    record.previousWindowProc = 0;
  }
  record.windowHandle = nullptr;
  record.initialized = false;
}

}  // namespace zvcert
