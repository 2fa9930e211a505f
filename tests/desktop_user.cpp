// The Windows side of the acceptance test (tray_acceptance.sh): looks at the
// Wine desktop on which the program runs and tells the script where to click.
// The mouse itself is moved by the script, through X, as a user moves it.
//
//   desktop_user DESKTOP quiet FOLDER      nothing for a check run to ask about
//   desktop_user DESKTOP hold MS           keeps the desktop open until released
//   desktop_user DESKTOP release
//   desktop_user DESKTOP taskbar MS        "taskbar=L,T,R,B" once it is shown
//   desktop_user DESKTOP wait-main MS      the program's hidden window exists
//   desktop_user DESKTOP box MS            the completion box: "ok=X,Y" (its OK button)
//   desktop_user DESKTOP no-box MS         the program shows no box
//   desktop_user DESKTOP measure-menu      "item<command>=DX,DY" from the menu's corner, "size=W,H"
//   desktop_user DESKTOP menu MS           the open tray menu: "menu=L,T" "size=W,H", placed at the cursor
//   desktop_user DESKTOP run-value MS TEXT the Run key holds exactly the program's value TEXT
//   desktop_user DESKTOP gone MS           the program has ended
//
// Exit code 0 when the condition holds, 1 when it does not (in time).

#include "MainUnit.h"
#include "UserRobot.h"
#include "resource.h"
#include "tray_support.h"

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

constexpr char HOLD_EVENT[] = "RunwardenAcceptanceDesktopHold";
constexpr UINT_PTR MEASURE_TIMER = 1;
constexpr DWORD JOIN_MS = 20000;

DWORD ProgramId()
{
    const HWND wnd = FindWindowA(MAIN_CLASS_NAME, MAIN_WINDOW_TITLE);
    DWORD pid = 0;
    if (wnd != nullptr) {
        GetWindowThreadProcessId(wnd, &pid);
    }
    return pid;
}

std::string Hex(const std::string& bytes)
{
    std::string hex;
    char digits[4];
    for (const char c : bytes) {
        std::snprintf(digits, sizeof(digits), "%02X ", static_cast<unsigned char>(c));
        hex += digits;
    }
    return hex;
}

int Quiet(const std::string& folder)
{
    RemoveTree(folder);
    CreateDirectoryA("C:\\rwtest", nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    QuietAutostart(folder);
    return 0;
}

// Wine's desktop shows its taskbar only once a program puts an icon into
// it. A neighbour icon of its own brings the taskbar up before the program
// under test starts, so that the screen can be compared with and without the
// program's icon.
int Hold(DWORD timeoutMs)
{
    const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, HOLD_EVENT);
    const HWND wnd = CreateWindowExA(0, "STATIC", "hold", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                     GetModuleHandleA(nullptr), nullptr);
    NOTIFYICONDATAA icon = {};
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = wnd;
    icon.uID = 1;
    icon.uFlags = NIF_ICON | NIF_TIP;
    icon.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512)); // IDI_APPLICATION
    lstrcpyA(icon.szTip, "hold");
    Shell_NotifyIconA(NIM_ADD, &icon);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        const DWORD left = timeoutMs - (GetTickCount() - start);
        if (MsgWaitForMultipleObjects(1, &event, FALSE, left, QS_ALLINPUT) != WAIT_OBJECT_0 + 1) {
            break;
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
    }
    Shell_NotifyIconA(NIM_DELETE, &icon);
    DestroyWindow(wnd);
    CloseHandle(event);
    return 0;
}

int Release()
{
    const HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, HOLD_EVENT);
    if (event == nullptr) {
        return 1;
    }
    SetEvent(event);
    CloseHandle(event);
    return 0;
}

int Taskbar(DWORD timeoutMs)
{
    const HWND taskbar = WaitForVisibleWindow(0, [](HWND wnd) { return HasClass(wnd, "Shell_TrayWnd"); }, timeoutMs);
    if (taskbar == nullptr) {
        std::printf("no taskbar on the desktop\n");
        return 1;
    }
    RECT r = {};
    GetWindowRect(taskbar, &r);
    std::printf("taskbar=%ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
    return 0;
}

int WaitMain(DWORD timeoutMs)
{
    if (!WaitFor(timeoutMs, [] { return ProgramId() != 0; })) {
        std::printf("the program's window did not appear\n");
        return 1;
    }
    std::printf("pid=%lu\n", ProgramId());
    return 0;
}

int Box(DWORD timeoutMs)
{
    const HWND box = WaitForVisibleWindow(ProgramId(), IsMessageBox, timeoutMs);
    if (ProgramId() == 0 || box == nullptr) {
        std::printf("no box came\n");
        return 1;
    }
    Sleep(200); // the box shows itself before its texts are all in place
    const TBoxInfo info = TUserRobot::Describe(box);
    const HWND ok = GetDlgItem(box, IDOK);
    RECT r = {};
    GetWindowRect(ok, &r);
    std::printf("ok=%ld,%ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    if (info.caption != "Runwarden" || info.text != CheckCompleteMessage() || ok == nullptr) {
        std::printf("not the completion box: caption %s, text %s\n", Hex(info.caption).c_str(),
                    Hex(info.text).c_str());
        return 1;
    }
    return 0;
}

int NoBox(DWORD timeoutMs)
{
    if (!WaitFor(timeoutMs, [] { return VisibleWindows(ProgramId(), IsMessageBox).empty(); })) {
        std::printf("the box is still open\n");
        return 1;
    }
    return 0;
}

// The same menu resource, opened here at a known place: the item positions
// measured from its corner hold for the program's menu, which uses the same
// fonts and metrics on the same desktop.
LRESULT CALLBACK MeasureProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER && wParam == MEASURE_TIMER) {
        KillTimer(wnd, MEASURE_TIMER);
        const HMENU menu = reinterpret_cast<HMENU>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
        const std::vector<HWND> popups = VisibleWindows(GetCurrentProcessId(), IsPopupMenu);
        if (!popups.empty()) {
            RECT corner = {};
            GetWindowRect(popups.front(), &corner);
            std::printf("size=%ld,%ld\n", corner.right - corner.left, corner.bottom - corner.top);
            for (int position = 0; position < GetMenuItemCount(menu); ++position) {
                RECT item = {};
                const UINT id = GetMenuItemID(menu, position);
                if (id != 0 && GetMenuItemRect(nullptr, menu, static_cast<UINT>(position), &item)) {
                    std::printf("item%u=%ld,%ld\n", id, (item.left + item.right) / 2 - corner.left,
                                (item.top + item.bottom) / 2 - corner.top);
                }
            }
        }
        EndMenu();
        return 0;
    }
    return DefWindowProcA(wnd, message, wParam, lParam);
}

int MeasureMenu()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = MeasureProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "RunwardenMenuMeasure";
    RegisterClassA(&wc);
    const HWND wnd = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                     wc.hInstance, nullptr);
    const HMENU bar = LoadMenuA(wc.hInstance, MAKEINTRESOURCEA(IDR_TRAYMENU));
    const HMENU menu = GetSubMenu(bar, 0);
    SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(menu));
    SetTimer(wnd, MEASURE_TIMER, 300, nullptr);
    std::fflush(stdout);
    TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_VERTICAL, 100, 100, wnd, nullptr);
    DestroyMenu(bar);
    DestroyWindow(wnd);
    return 0;
}

int Menu(DWORD timeoutMs)
{
    const HWND menu = WaitForVisibleWindow(ProgramId(), IsPopupMenu, timeoutMs);
    if (ProgramId() == 0 || menu == nullptr) {
        std::printf("no menu opened\n");
        return 1;
    }
    RECT r = {};
    GetWindowRect(menu, &r);
    POINT cursor = {};
    GetCursorPos(&cursor);
    RECT work = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const LONG width = r.right - r.left;
    const LONG height = r.bottom - r.top;
    std::printf("menu=%ld,%ld\nsize=%ld,%ld\ncursor=%ld,%ld\nwork=%ld,%ld,%ld,%ld\n", r.left, r.top, width, height,
                cursor.x, cursor.y, work.left, work.top, work.right, work.bottom);
    // Top-left corner at the cursor, pushed back into the work area where
    // the menu would stick out.
    const LONG left = cursor.x + width > work.right ? work.right - width : cursor.x;
    const LONG top = cursor.y + height > work.bottom ? work.bottom - height : cursor.y;
    if (r.left != left || r.top != top) {
        std::printf("the menu is not at the cursor: expected %ld,%ld\n", left, top);
        return 1;
    }
    return 0;
}

int RunValue(DWORD timeoutMs, const std::string& expected)
{
    const std::vector<TRegValue> wanted = {Sz(RUN_VALUE_NAME, expected)};
    const bool found = WaitFor(timeoutMs, [&wanted] { return KeyValues(HKEY_CURRENT_USER, RUN_KEY) == wanted; });
    if (!found) {
        for (const TRegValue& value : KeyValues(HKEY_CURRENT_USER, RUN_KEY)) {
            std::printf("value %s: %s\n", value.name.c_str(), Hex(value.data).c_str());
        }
        std::printf("the Run key does not hold exactly the program's value\n");
        return 1;
    }
    return 0;
}

int Gone(DWORD timeoutMs)
{
    if (!WaitFor(timeoutMs, [] { return ProgramId() == 0; })) {
        std::printf("the program is still running\n");
        return 1;
    }
    return 0;
}

// The desktop comes up a moment after explorer has been asked for it.
bool JoinDesktop(const char* name)
{
    HDESK desktop = nullptr;
    const bool opened = WaitFor(JOIN_MS, [&desktop, name] {
        desktop = OpenDesktopA(name, 0, FALSE, GENERIC_ALL);
        return desktop != nullptr;
    });
    return opened && SetThreadDesktop(desktop);
}

int Run(const std::string& command, int argc, char** argv)
{
    const DWORD ms = argc > 3 ? static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)) : 0;
    if (command == "quiet" && argc > 3) {
        return Quiet(argv[3]);
    }
    if (command == "hold") {
        return Hold(ms);
    }
    if (command == "release") {
        return Release();
    }
    if (command == "taskbar") {
        return Taskbar(ms);
    }
    if (command == "wait-main") {
        return WaitMain(ms);
    }
    if (command == "box") {
        return Box(ms);
    }
    if (command == "no-box") {
        return NoBox(ms);
    }
    if (command == "measure-menu") {
        return MeasureMenu();
    }
    if (command == "menu") {
        return Menu(ms);
    }
    if (command == "run-value" && argc > 4) {
        return RunValue(ms, argv[4]);
    }
    if (command == "gone") {
        return Gone(ms);
    }
    std::printf("unknown command %s\n", command.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::printf("usage: desktop_user DESKTOP COMMAND [ARGUMENTS]\n");
        return 2;
    }
    // Windows are looked for, and the menu is measured, on the program's
    // desktop: the thread joins it before it touches any window. The set-up
    // commands come before the desktop exists.
    const std::string command = argv[2];
    if (command != "quiet" && command != "release" && !JoinDesktop(argv[1])) {
        std::printf("cannot join the desktop %s\n", argv[1]);
        return 1;
    }
    const int code = Run(command, argc, argv);
    std::fflush(stdout);
    return code;
}
