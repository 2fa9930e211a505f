#include "Dpi.h"

namespace {

using TGetDpiForWindow = UINT(WINAPI*)(HWND);
using TGetSystemMetricsForDpi = int(WINAPI*)(int, UINT);
using TSystemParametersInfoForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);

template <typename T>
T User32Function(const char* name)
{
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 == nullptr ? nullptr
                             : reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

UINT ScreenDpi()
{
    const HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return BASE_DPI;
    }
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : BASE_DPI;
}

} // namespace

UINT WindowDpi(HWND wnd)
{
    const auto getDpiForWindow = User32Function<TGetDpiForWindow>("GetDpiForWindow");
    const UINT dpi = getDpiForWindow != nullptr ? getDpiForWindow(wnd) : 0;
    return dpi != 0 ? dpi : ScreenDpi();
}

int ScaleForDpi(int size, UINT dpi) { return MulDiv(size, static_cast<int>(dpi), static_cast<int>(BASE_DPI)); }

int SystemMetricForDpi(int index, UINT dpi)
{
    const auto forDpi = User32Function<TGetSystemMetricsForDpi>("GetSystemMetricsForDpi");
    return forDpi != nullptr ? forDpi(index, dpi) : GetSystemMetrics(index);
}

bool MessageFontForDpi(UINT dpi, LOGFONTW& font)
{
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    const auto forDpi = User32Function<TSystemParametersInfoForDpi>("SystemParametersInfoForDpi");
    const bool found = forDpi != nullptr ? forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi) != FALSE
                                         : SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0) != FALSE;
    if (found) {
        font = metrics.lfMessageFont;
    }
    return found;
}
