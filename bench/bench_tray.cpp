// A bare tray program: what any resident tray utility costs as a process
// under the system, without a check. It registers a class, creates a hidden
// window, adds its tray icon, removes it again and ends. bench_once takes its
// time off the time of a "-once" run of the real program. With "resident" it
// keeps its icon and runs its message loop until its window is closed:
// bench_watch sets the resident program's working set against it.

#include <windows.h>

#include <shellapi.h>

namespace {

constexpr wchar_t CLASS_NAME[] = L"RunwardenBenchTray";
constexpr UINT ICON_ID = 1;
constexpr wchar_t RESIDENT[] = L"resident";

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.lpszClassName = CLASS_NAME;
    if (RegisterClassExW(&wc) == 0) {
        return 1;
    }
    const HWND wnd = CreateWindowExW(0, CLASS_NAME, CLASS_NAME, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                     instance, nullptr);
    if (wnd == nullptr) {
        return 1;
    }
    // The record the real program fills: icon, tip and callback message.
    NOTIFYICONDATAW data = {};
    data.cbSize = NOTIFYICONDATAW_V1_SIZE;
    data.hWnd = wnd;
    data.uID = ICON_ID;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = WM_APP;
    data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    lstrcpynW(data.szTip, CLASS_NAME, ARRAYSIZE(data.szTip));
    Shell_NotifyIconW(NIM_ADD, &data);
    if (lstrcmpW(GetCommandLineW() + lstrlenW(GetCommandLineW()) - lstrlenW(RESIDENT), RESIDENT) == 0) {
        MSG msg;
        while (IsWindow(wnd) && GetMessageW(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageW(&msg);
        }
    }
    Shell_NotifyIconW(NIM_DELETE, &data);
    DestroyWindow(wnd);
    return 0;
}
