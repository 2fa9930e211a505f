#pragma once

// Sizes for the screen a window is on. Windows 10 tells each monitor's DPI
// and gives the system's metrics for any DPI; older systems have one DPI
// for every screen. The newer calls are looked up at run time.

#include <windows.h>

constexpr UINT BASE_DPI = USER_DEFAULT_SCREEN_DPI; // the DPI the program's own sizes are given in

UINT WindowDpi(HWND wnd);
// A size given at BASE_DPI, at Dpi.
int ScaleForDpi(int size, UINT dpi);
int SystemMetricForDpi(int index, UINT dpi);
// The font of message boxes, at Dpi.
bool MessageFontForDpi(UINT dpi, LOGFONTW& font);
