#include "MainUnit.h"

#include "AllowedList.h"
#include "CheckINIUnit.h"
#include "CheckRegistryUnit.h"
#include "CheckStartupUnit.h"
#include "MainState.h"
#include "Removed.h"
#include "ScopedHandle.h"
#include "Settings.h"
#include "Watch.h"
#include "dlgSelectUnit.h"
#include "registry_profile.h"
#include "resource.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr char HELP_FILE[] = "Runwarden.chm";
constexpr char HELP_TOPIC[] = "About.html";
constexpr char ONCE_SWITCH[] = "-once";
constexpr UINT HH_DISPLAY_TOPIC = 0;
// Changes come in bursts (an installer writes several values): the check
// waits until none has come for this long.
constexpr DWORD QUIET_MS = 1000;
// ... but no longer than this after the first change of a burst: a steady
// trickle of writes must not hold the check off for good.
constexpr DWORD LONGEST_WAIT_MS = 5000;
// One per logon session.
constexpr char INSTANCE_MUTEX[] = "Local\\Runwarden";

bool checkRunning = false;
HMENU trayMenuBar = nullptr; // the loaded resource; destroying it destroys its popup
HMENU trayMenu = nullptr;
NOTIFYICONDATAA trayIconData = {};
UINT taskbarCreatedMessage = 0;
HMODULE helpControl = nullptr; // loaded at the first help request, kept until the end

// The program's user: today's message boxes, owned by the hidden window.
class TBoxUser : public TUser {
public:
    bool AskChoice(bool isChanged, const std::string& entryText, TChoice& choice) override
    {
        return ShowChoiceDialog(MainWnd(), isChanged, entryText, choice);
    }
    bool AskDeleteEmpty(const std::string& path) override
    {
        return MessageBoxA(MainWnd(), FormatMsg(MSG_EMPTY_VALUE, {path}).c_str(), APP_CAPTION,
                           MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL)
            == IDYES;
    }
    void Warn(const std::string& text) override { ShowWarning(text); }
    void Inform(const std::string& text) override
    {
        MessageBoxA(MainWnd(), text.c_str(), APP_CAPTION, MB_OK | MB_ICONINFORMATION);
    }
};

// At namespace scope: a local static would bring in the runtime's guarded
// initialisation and, with it, the threads library.
TBoxUser programUser;

void AddTrayIcon() { Shell_NotifyIconA(NIM_ADD, &trayIconData); }

void FillTrayIconData(HWND wnd, HINSTANCE instance)
{
    // The first version of the record: every shell since Windows 95 takes it.
    trayIconData.cbSize = NOTIFYICONDATAA_V1_SIZE;
    trayIconData.hWnd = wnd;
    trayIconData.uID = TRAY_ICON_ID;
    trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData.uCallbackMessage = WM_TRAYICON;
    trayIconData.hIcon = LoadIconA(instance, "TRAYICON");
    lstrcpynA(trayIconData.szTip, MAIN_WINDOW_TITLE, static_cast<int>(sizeof(trayIconData.szTip)));
}

void MarkStartupMode(UINT command)
{
    CheckMenuRadioItem(trayMenu, IDM_NOSTART, IDM_STARTONCE, command, MF_BYCOMMAND);
}

void SelectStartupMode()
{
    const std::string value = ReadRegString(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE_NAME);
    if (IsOwnCommand(value)) {
        MarkStartupMode(IDM_START);
    } else if (IsOwnOnceCommand(value)) {
        MarkStartupMode(IDM_STARTONCE);
    } else {
        MarkStartupMode(IDM_NOSTART);
    }
}

void SetUpTrayMenu(HINSTANCE instance)
{
    trayMenuBar = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_TRAYMENU));
    trayMenu = GetSubMenu(trayMenuBar, 0);
    for (UINT command = IDM_NOSTART; command <= IDM_STARTONCE; ++command) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        // MIIM_FTYPE, not MIIM_TYPE: the older mask also carries the item's
        // text, and writing it back without a text buffer turns the item
        // into a blank separator.
        info.fMask = MIIM_FTYPE;
        if (GetMenuItemInfoA(trayMenu, command, FALSE, &info)) {
            info.fType |= MFT_RADIOCHECK;
            SetMenuItemInfoA(trayMenu, command, FALSE, &info);
        }
    }
    SelectStartupMode();
}

void HandleCreate(const CREATESTRUCTA* create)
{
    SetOwnCommands(ModulePath());
    SetSettingsFilePath(GetSettingsPath());
    SetUpTrayMenu(create->hInstance);
}

void HandleDestroy()
{
    DestroyMenu(trayMenuBar);
    trayMenuBar = nullptr;
    trayMenu = nullptr;
    Shell_NotifyIconA(NIM_DELETE, &trayIconData);
}

void ShowTrayMenu(HWND wnd)
{
    POINT cursor = {};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close on a click elsewhere.
    SetForegroundWindow(wnd);
    TrackPopupMenuEx(trayMenu, TPM_VERTICAL | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON,
                     cursor.x, cursor.y, wnd, nullptr);
    // The documented companion of the call above: makes the menu go away when
    // the user clicks outside it.
    PostMessageA(wnd, WM_NULL, 0, 0);
}

void HandleTrayIcon(HWND wnd, LPARAM lParam)
{
    switch (lParam) {
    case WM_LBUTTONDOWN:
        RunCheck(false);
        break;
    case WM_RBUTTONDOWN:
        ShowTrayMenu(wnd);
        break;
    default:
        break;
    }
}

void SetStartupMode(UINT command)
{
    if (command == IDM_NOSTART) {
        DeleteRegValue(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE_NAME);
    } else {
        WriteRegString(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE_NAME,
                       StartupCommand(command == IDM_STARTONCE));
    }
    MarkStartupMode(command);
}

void OpenAllowedList(HWND wnd)
{
    ShellExecuteA(wnd, "open", SettingsFilePath().c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
}

void OpenRemovedFolder(HWND wnd)
{
    MakeRemovedFolder();
    ShellExecuteA(wnd, "open", RemovedFolder().c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
}

using THtmlHelpA = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

std::string SystemFolder()
{
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(folder, length) : std::string();
}

void ShowHelp()
{
    const std::string system = SystemFolder();
    if (system.empty()) {
        return;
    }
    // The help control comes from the system folder only, never from the
    // current or the program's folder, so no other hhctrl.ocx is loaded.
    if (helpControl == nullptr) {
        helpControl = LoadLibraryExA((system + "\\hhctrl.ocx").c_str(), nullptr,
                                     LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    if (helpControl == nullptr) {
        return;
    }
    const auto htmlHelp =
        reinterpret_cast<THtmlHelpA>(reinterpret_cast<void*>(GetProcAddress(helpControl, "HtmlHelpA")));
    if (htmlHelp == nullptr) {
        return;
    }
    const std::string file = GetProgramFolder() + HELP_FILE;
    htmlHelp(nullptr, file.c_str(), HH_DISPLAY_TOPIC, reinterpret_cast<DWORD_PTR>(HELP_TOPIC));
}

// Ends every message box the run has open, as if it was cancelled; the
// checkers see RunAborted and do not act on the answer.
BOOL CALLBACK CloseOpenBox(HWND wnd, LPARAM)
{
    char className[16] = {};
    GetClassNameA(wnd, className, static_cast<int>(sizeof(className)));
    if (std::strcmp(className, "#32770") == 0) {
        EndDialog(wnd, IDCANCEL);
    }
    return TRUE;
}

void ExitProgram(HWND wnd)
{
    if (checkRunning) {
        SetRunAborted(true);
        EnumThreadWindows(GetCurrentThreadId(), CloseOpenBox, 0);
        return; // RunCheck destroys the window once the run has unwound
    }
    DestroyWindow(wnd);
}

void HandleCommand(HWND wnd, UINT command)
{
    switch (command) {
    case IDM_CHECK:
        RunCheck(false);
        break;
    case IDM_EXIT:
        ExitProgram(wnd);
        break;
    case IDM_LIST:
        OpenAllowedList(wnd);
        break;
    case IDM_REMOVED:
        OpenRemovedFolder(wnd);
        break;
    case IDM_NOSTART:
    case IDM_START:
    case IDM_STARTONCE:
        SetStartupMode(command);
        break;
    case IDM_HELP:
        ShowHelp();
        break;
    default:
        break;
    }
}

// Dispatches messages until WM_QUIT. While places are watched, a change
// starts a silent check once no further change has come for QUIET_MS, or
// LONGEST_WAIT_MS after the burst's first change; with nothing pending the
// wait has no time limit, so an idle program sleeps.
int RunMessageLoop()
{
    ULONGLONG due = 0;   // when the next silent check is due; 0: none
    ULONGLONG limit = 0; // the latest it may be due in this burst
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const DWORD timeout = due == 0 ? INFINITE : due > now ? static_cast<DWORD>(due - now) : 0;
        const DWORD count = WatchCount();
        const DWORD result =
            MsgWaitForMultipleObjectsEx(count, WatchHandles(), timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (result < WAIT_OBJECT_0 + count) {
            // Notifications fire once: every watch is set up anew, which
            // also finds a key or folder made again, or a moved one.
            StartWatching();
            const ULONGLONG changed = GetTickCount64();
            limit = due == 0 ? changed + LONGEST_WAIT_MS : limit;
            due = std::min(changed + QUIET_MS, limit);
        } else if (result == WAIT_TIMEOUT) {
            due = 0;
            RunCheck(true);
        } else if (result == WAIT_FAILED) {
            StopWatching();
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                return static_cast<int>(msg.wParam);
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

} // namespace

std::string FirstArgument(const char* commandLine)
{
    std::string argument;
    const char* p = commandLine;
    for (int index = 0; index < 2; ++index) {
        while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ') {
            ++p;
        }
        argument.clear();
        bool quoted = false;
        while (*p != '\0' && (quoted || static_cast<unsigned char>(*p) > ' ')) {
            if (*p == '"') {
                quoted = !quoted;
            } else {
                argument += *p;
            }
            ++p;
        }
    }
    return argument;
}

void RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = MAIN_CLASS_NAME;
    RegisterClassExA(&wc);
}

LRESULT CALLBACK MainWndProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        HandleCreate(reinterpret_cast<const CREATESTRUCTA*>(lParam));
        break;
    case WM_CLOSE:
        // Sent by installers and by Windows: ends the program as Exit does,
        // also while a question is open.
        ExitProgram(wnd);
        return 0;
    case WM_DESTROY:
        HandleDestroy();
        PostQuitMessage(0);
        return 0;
    case WM_COMMAND:
        HandleCommand(wnd, LOWORD(wParam));
        break;
    case WM_TRAYICON:
        HandleTrayIcon(wnd, lParam);
        break;
    default:
        // A restarted Explorer asks every program to add its icon again.
        if (message == taskbarCreatedMessage && taskbarCreatedMessage != 0) {
            AddTrayIcon();
        }
        break;
    }
    return DefWindowProcA(wnd, message, wParam, lParam);
}

TUser& ProgramUser() { return programUser; }

void RunCheck(bool silent) { RunCheck(ProgramUser(), silent); }

void RunCheck(TUser& user, bool silent)
{
    if (checkRunning) {
        return;
    }
    checkRunning = true;
    bool errorShown = false;
    try {
        CheckRegistry(user);
        if (!RunAborted()) {
            CheckStartup(user);
        }
        if (!RunAborted()) {
            CheckINI(user);
        }
    } catch (const TINIExcept& e) {
        errorShown = true;
        user.Warn(FormatMsg(MSG_CANNOT_OPEN_FILE, {e.FileName}));
    }
    if (!silent && !errorShown && !RunAborted()) {
        user.Inform(MSG_CHECK_COMPLETE);
    }
    checkRunning = false;
    if (RunAborted()) {
        DestroyWindow(MainWnd());
    }
}

bool CheckRunning() { return checkRunning; }

HMENU TrayMenu() { return trayMenu; }

int RunwardenMain(HINSTANCE instance, const char* commandLine)
{
    // The mutex comes first: starts made at the same moment all find no
    // window yet. The window check still respects versions without it.
    const TKernelHandle instanceMutex(CreateMutexA(nullptr, FALSE, INSTANCE_MUTEX));
    const DWORD mutexError = GetLastError();
    if (mutexError == ERROR_ALREADY_EXISTS || mutexError == ERROR_ACCESS_DENIED
        || FindWindowA(MAIN_CLASS_NAME, MAIN_WINDOW_TITLE) != nullptr) {
        return 0;
    }
    taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    RegisterMainClass(instance);
    SetMainWnd(CreateWindowExA(0, MAIN_CLASS_NAME, MAIN_WINDOW_TITLE, WS_OVERLAPPED, 0, 0, 0, 0,
                               nullptr, nullptr, instance, nullptr));
    if (MainWnd() == nullptr) {
        return 1;
    }
    FillTrayIconData(MainWnd(), instance);
    AddTrayIcon();
    ShowWindow(MainWnd(), SW_HIDE);
    UpdateWindow(MainWnd());
    const bool once = FirstArgument(commandLine) == ONCE_SWITCH;
    // Watching starts before the start-up check, so that nothing done
    // during its questions goes unnoticed.
    if (!once) {
        StartWatching();
    }
    RunCheck(true);
    if (once && IsWindow(MainWnd())) {
        DestroyWindow(MainWnd());
    }
    const int exitCode = RunMessageLoop();
    StopWatching();
    return exitCode;
}
