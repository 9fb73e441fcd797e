// The Win32 layer's window record: what the core's window handle stands for.
#pragma once

#include <windows.h>

struct PlatformWindow {
  HWND hwnd = nullptr;
  // The device context of the WM_PAINT being handled, null outside one.
  HDC paint_dc = nullptr;
  // While full screen: the style and placement to come back to, which is
  // also the placement saved meanwhile.
  bool full_screen = false;
  LONG_PTR normal_style = 0;
  WINDOWPLACEMENT normal_placement{};
};
