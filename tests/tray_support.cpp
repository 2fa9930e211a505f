#include "tray_support.h"

#include "MainState.h"
#include "MainUnit.h"
#include "UserRobot.h"
#include "resource.h"

#include <shellapi.h>

namespace {

constexpr DWORD SEND_MS = 10000;
constexpr DWORD POLL_MS = 20;

struct TWindowSearch {
    DWORD processId;
    const std::function<bool(HWND)>* match;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectVisible(HWND wnd, LPARAM param)
{
    auto* search = reinterpret_cast<TWindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (search->processId != 0 && pid != search->processId) {
        return TRUE;
    }
    if (IsWindowVisible(wnd) && (*search->match)(wnd)) {
        search->found.push_back(wnd);
    }
    return TRUE;
}

DWORD_PTR Send(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam, bool& handled)
{
    DWORD_PTR result = 0;
    handled = SendMessageTimeoutA(wnd, message, wParam, lParam, SMTO_ABORTIFHUNG, SEND_MS, &result) != 0;
    return result;
}

bool CreateFolders(const std::string& folder)
{
    if (DirectoryExists(folder)) {
        return true;
    }
    const std::string::size_type slash = folder.rfind('\\');
    if (slash != std::string::npos && slash > 2 && !CreateFolders(folder.substr(0, slash))) {
        return false;
    }
    return CreateDirectoryA(folder.c_str(), nullptr) != FALSE;
}

} // namespace

std::vector<UINT> MarkedStartupItems(HMENU menu)
{
    std::vector<UINT> marked;
    for (UINT command = IDM_NOSTART; command <= IDM_STARTONCE; ++command) {
        const UINT state = GetMenuState(menu, command, MF_BYCOMMAND);
        if (state != static_cast<UINT>(-1) && (state & MF_CHECKED) != 0) {
            marked.push_back(command);
        }
    }
    return marked;
}

TMainWindowHere::TMainWindowHere()
{
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    RegisterMainClass(instance);
    wnd_ = CreateWindowExA(0, MAIN_CLASS_NAME, MAIN_WINDOW_TITLE, WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                           nullptr, instance, nullptr);
    SetMainWnd(wnd_);
}

TMainWindowHere::~TMainWindowHere()
{
    DestroyWindow(wnd_);
    SetMainWnd(nullptr);
    // WM_DESTROY posts the quit message; left in this thread's queue it
    // would end the next modal loop (a message box of a later test) at once.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

HMENU TMainWindowHere::Menu() const { return TrayMenu(); }

void TMainWindowHere::Command(UINT command, WORD notification) const
{
    SendMessageA(wnd_, WM_COMMAND, MAKEWPARAM(command, notification), 0);
}

TProgram::TProgram(const std::string& exe, const std::string& arguments) : process_(exe, arguments)
{
    wnd_ = WaitForMainWindow(process_.Id(), PROGRAM_START_MS);
    // The start-up check runs before the message loop; a sent message is
    // answered once the loop (or the modal loop of a box) runs.
    bool handled = false;
    Send(wnd_, WM_NULL, 0, 0, handled);
}

bool TProgram::Command(UINT command, WORD notification) const
{
    bool handled = false;
    Send(wnd_, WM_COMMAND, MAKEWPARAM(command, notification), 0, handled);
    return handled;
}

void TProgram::PostCommand(UINT command) const { PostMessageA(wnd_, WM_COMMAND, command, 0); }

void TProgram::PostTray(UINT mouseMessage) const { PostMessageA(wnd_, WM_TRAYICON, TRAY_ICON_ID, mouseMessage); }

DWORD TProgram::Exit()
{
    PostCommand(IDM_EXIT);
    return Wait();
}

bool HasTrayIcon(HWND wnd)
{
    // Modifying an icon that is not there fails; nothing is changed.
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = wnd;
    data.uID = TRAY_ICON_ID;
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

std::vector<HWND> VisibleWindows(DWORD processId, const std::function<bool(HWND)>& match)
{
    TWindowSearch search = {processId, &match, {}};
    EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForVisibleWindow(DWORD processId, const std::function<bool(HWND)>& match, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        const std::vector<HWND> found = VisibleWindows(processId, match);
        if (!found.empty()) {
            return found.front();
        }
        if (GetTickCount() - start > timeoutMs) {
            return nullptr;
        }
        Sleep(POLL_MS);
    }
}

bool HasClass(HWND wnd, const char* className) { return WindowClass(wnd) == className; }

bool IsMessageBox(HWND wnd) { return HasClass(wnd, "#32770"); }

bool IsPopupMenu(HWND wnd) { return HasClass(wnd, "#32768"); }

namespace {

HWND IconControl(HWND box)
{
    for (HWND child = FindWindowExA(box, nullptr, nullptr, nullptr); child != nullptr;
         child = FindWindowExA(box, child, nullptr, nullptr)) {
        const LONG style = static_cast<LONG>(GetWindowLongPtrA(child, GWL_STYLE));
        if (HasClass(child, "Static") && (style & SS_TYPEMASK) == SS_ICON) {
            return child;
        }
    }
    return nullptr;
}

// The colours of a Width by Height picture in a memory device context.
std::vector<COLORREF> Pixels(HDC dc, int width, int height)
{
    std::vector<COLORREF> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels.push_back(GetPixel(dc, x, y));
        }
    }
    return pixels;
}

} // namespace

bool BoxShowsIcon(HWND box, LPCSTR id)
{
    const HWND control = IconControl(box);
    RECT r = {};
    if (control == nullptr || !GetWindowRect(control, &r)) {
        return false;
    }
    const int width = GetSystemMetrics(SM_CXICON);
    const int height = GetSystemMetrics(SM_CYICON);
    const HDC screen = GetDC(nullptr);
    const HDC shown = CreateCompatibleDC(screen);
    const HDC drawn = CreateCompatibleDC(screen);
    const HBITMAP shownBits = CreateCompatibleBitmap(screen, width, height);
    const HBITMAP drawnBits = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ oldShown = SelectObject(shown, shownBits);
    const HGDIOBJ oldDrawn = SelectObject(drawn, drawnBits);
    BitBlt(shown, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    // The corner of a system icon is transparent: it shows the background.
    const HBRUSH background = CreateSolidBrush(GetPixel(shown, 0, 0));
    const RECT all = {0, 0, width, height};
    FillRect(drawn, &all, background);
    DrawIcon(drawn, 0, 0, LoadIconA(nullptr, id));
    const bool same = Pixels(shown, width, height) == Pixels(drawn, width, height);
    DeleteObject(background);
    SelectObject(shown, oldShown);
    SelectObject(drawn, oldDrawn);
    DeleteObject(shownBits);
    DeleteObject(drawnBits);
    DeleteDC(shown);
    DeleteDC(drawn);
    ReleaseDC(nullptr, screen);
    return same;
}

std::string CopyInto(const std::string& file, const std::string& folder)
{
    const std::string target = folder + file.substr(file.rfind('\\'));
    if (!CreateFolders(folder) || !CopyFileA(file.c_str(), target.c_str(), FALSE)) {
        return std::string();
    }
    return target;
}

TForeignWindow::~TForeignWindow()
{
    if (wnd_ == nullptr || Close()) {
        return;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd_, &pid);
    const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process != nullptr) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}

bool TForeignWindow::Close()
{
    if (!IsWindow(wnd_)) {
        return true;
    }
    PostMessageA(wnd_, WM_CLOSE, 0, 0);
    return WaitWindowGone(wnd_, PROGRAM_END_MS);
}
