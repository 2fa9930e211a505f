#include "MainUnit.h"

#include "AllowedList.h"
#include "CheckINIUnit.h"
#include "CheckRegistryUnit.h"
#include "CheckServicesUnit.h"
#include "CheckStartupUnit.h"
#include "CheckTasksUnit.h"
#include "Decide.h"
#include "Dpi.h"
#include "Elevation.h"
#include "Helper.h"
#include "MainState.h"
#include "Removed.h"
#include "Restore.h"
#include "ScopedHandle.h"
#include "Settings.h"
#include "Watch.h"
#include "dlgAutorunUnit.h"
#include "dlgSelectUnit.h"
#include "registry_profile.h"
#include "resource.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr wchar_t HELP_FILE[] = L"Runwarden.chm";
constexpr wchar_t HELP_TOPIC[] = L"About.html";
constexpr wchar_t ONCE_SWITCH[] = L"-once";
constexpr UINT HH_DISPLAY_TOPIC = 0;
// Changes come in bursts (an installer writes several values): the check
// waits until none has come for this long.
constexpr DWORD QUIET_MS = 1000;
// ... but no longer than this after the first change of a burst: a steady
// trickle of writes must not hold the check off for good.
constexpr DWORD LONGEST_WAIT_MS = 5000;
// One per logon session.
constexpr wchar_t INSTANCE_MUTEX[] = L"Local\\Runwarden";
// SetDefaultDllDirectories (Windows 8, and 7 with KB2533623): DLLs a
// library loads by name come from the system folder only.
constexpr DWORD SEARCH_SYSTEM32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32
using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);

bool checkRunning = false;
HMENU trayMenuBar = nullptr; // the loaded resource; destroying it destroys its popup
HMENU trayMenu = nullptr;
NOTIFYICONDATAW trayIconData = {};
TIconHandle trayIcon; // loaded at the size the notification area wants now
UINT taskbarCreatedMessage = 0;
HMODULE helpControl = nullptr; // loaded at the first help request, kept until the end

void AddTrayIcon() { Shell_NotifyIconW(NIM_ADD, &trayIconData); }

// The tray icon's balloon, with the information icon and the program's
// caption. The record of Windows 2000 and later: the first has no balloon.
void ShowBalloon(const TWideString& text)
{
    NOTIFYICONDATAW balloon = trayIconData;
    balloon.cbSize = sizeof(balloon);
    balloon.uFlags = NIF_INFO;
    lstrcpynW(balloon.szInfo, text.c_str(), ARRAYSIZE(balloon.szInfo));
    lstrcpynW(balloon.szInfoTitle, APP_CAPTION, ARRAYSIZE(balloon.szInfoTitle));
    balloon.dwInfoFlags = NIIF_INFO;
    Shell_NotifyIconW(NIM_MODIFY, &balloon);
}

// The program's user: today's message boxes, owned by the hidden window.
class TBoxUser : public TUser {
public:
protected:
    bool OnAskChoice(bool isChanged, const TEntryText& entry, TChoice& choice) override
    {
        return ShowChoiceDialog(MainWnd(), isChanged, entry, choice);
    }
    bool OnAskDeleteEmpty(const TEntryText& path) override { return AskAboutEntry(MainWnd(), MSG_EMPTY_VALUE, path); }
    bool OnAskElevate(const TEntryText& entry) override { return AskAboutEntry(MainWnd(), MSG_ASK_ELEVATE, entry); }
    void OnWarn(const TWideString& text) override { ShowFittedBox(MainWnd(), text, MB_OK | MB_ICONEXCLAMATION); }
    void OnInform(const TWideString& text) override
    {
        MessageBoxW(MainWnd(), text.c_str(), APP_CAPTION, MB_OK | MB_ICONINFORMATION);
    }
    void OnNotify(const TWideString& text) override { ShowBalloon(text); }
    void OnRecord(const THistoryEvent& event) override { WriteHistory(event); }
};

// At namespace scope: a local static would bring in the runtime's guarded
// initialisation and, with it, the threads library.
TBoxUser programUser;

// After a change of DPI or of the system's metrics the icon is loaded again.
void RefreshTrayIcon()
{
    TIconHandle old(trayIcon.Release());
    trayIcon.Reset(LoadTrayIcon(GetModuleHandleW(nullptr)));
    trayIconData.hIcon = trayIcon.Get();
    Shell_NotifyIconW(NIM_MODIFY, &trayIconData);
}

void FillTrayIconData(HWND wnd, HINSTANCE instance)
{
    // The first version of the record: every shell since Windows 95 takes it.
    trayIconData.cbSize = NOTIFYICONDATAW_V1_SIZE;
    trayIconData.hWnd = wnd;
    trayIconData.uID = TRAY_ICON_ID;
    trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData.uCallbackMessage = WM_TRAYICON;
    trayIcon.Reset(LoadTrayIcon(instance));
    trayIconData.hIcon = trayIcon.Get();
    lstrcpynW(trayIconData.szTip, MAIN_WINDOW_TITLE, ARRAYSIZE(trayIconData.szTip));
}

void MarkStartupMode(UINT command)
{
    CheckMenuRadioItem(trayMenu, IDM_NOSTART, IDM_STARTONCE, command, MF_BYCOMMAND);
}

void SelectStartupMode()
{
    const TWideString value = ReadRegString(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE_NAME);
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
    trayMenuBar = LoadMenuW(instance, MAKEINTRESOURCEW(IDR_TRAYMENU));
    trayMenu = GetSubMenu(trayMenuBar, 0);
    for (UINT command = IDM_NOSTART; command <= IDM_STARTONCE; ++command) {
        MENUITEMINFOW info = {};
        info.cbSize = sizeof(info);
        // MIIM_FTYPE, not MIIM_TYPE: the older mask also carries the item's
        // text, and writing it back without a text buffer turns the item
        // into a blank separator.
        info.fMask = MIIM_FTYPE;
        if (GetMenuItemInfoW(trayMenu, command, FALSE, &info)) {
            info.fType |= MFT_RADIOCHECK;
            SetMenuItemInfoW(trayMenu, command, FALSE, &info);
        }
    }
    SetMenuDefaultItem(trayMenu, IDM_AUTORUN, FALSE);
    SelectStartupMode();
}

void HandleCreate(const CREATESTRUCTW* create)
{
    SetOwnCommands(ModulePath());
    SetSettingsFilePath(GetSettingsPath());
    SetUpTrayMenu(create->hInstance);
}

void HandleDestroy()
{
    if (AutorunWindow() != nullptr) {
        DestroyWindow(AutorunWindow());
    }
    DestroyMenu(trayMenuBar);
    trayMenuBar = nullptr;
    trayMenu = nullptr;
    Shell_NotifyIconW(NIM_DELETE, &trayIconData);
    trayIcon.Reset();
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
    PostMessageW(wnd, WM_NULL, 0, 0);
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
    ShellExecuteW(wnd, L"open", SettingsFilePath().c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
}

void OpenRemovedFolder(HWND wnd)
{
    MakeRemovedFolder();
    ShellExecuteW(wnd, L"open", RemovedFolder().c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
}

using THtmlHelpW = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);

void ShowHelp()
{
    if (helpControl == nullptr) {
        helpControl = LoadSystemLibrary(L"hhctrl.ocx");
    }
    const auto htmlHelp = ProcAddress<THtmlHelpW>(helpControl, "HtmlHelpW");
    if (htmlHelp == nullptr) {
        return;
    }
    const TWideString file = GetProgramFolder() + HELP_FILE;
    htmlHelp(nullptr, file.c_str(), HH_DISPLAY_TOPIC, reinterpret_cast<DWORD_PTR>(HELP_TOPIC));
}

// Ends every message box the run has open, as if it was cancelled; the
// checkers see RunAborted and do not act on the answer.
BOOL CALLBACK CloseOpenBox(HWND wnd, LPARAM)
{
    wchar_t className[16] = {};
    GetClassNameW(wnd, className, ARRAYSIZE(className));
    if (lstrcmpW(className, L"#32770") == 0) {
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

void RemoveFromWindow(const std::vector<TEntryKey>& entries) { RemoveEntries(programUser, entries); }

void OpenAutorunWindow()
{
    const TAutorunHost host = {WalkPlaces,
                               [] { RunCheck(false); },
                               RemoveFromWindow,
                               [](const TWideString& place) { RestoreRemoval(programUser, place); },
                               [](const TEntryKey& entry) { ForgetEntry(programUser, entry.section, entry.name, entry.command); },
                               CheckRunning};
    ShowAutorunWindow(GetModuleHandleW(nullptr), host);
}

void HandleCommand(HWND wnd, UINT command)
{
    switch (command) {
    case IDM_AUTORUN:
        OpenAutorunWindow();
        break;
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

// The next time the loop must wake without a message or a change: a check
// that is due or a watch whose rest is over; INFINITE for neither.
DWORD WaitTimeout(ULONGLONG due, ULONGLONG now)
{
    const ULONGLONG rearm = NextRearm();
    const ULONGLONG next = due == 0 ? rearm : rearm == 0 ? due : std::min(due, rearm);
    return next == 0 ? INFINITE : next > now ? static_cast<DWORD>(next - now) : 0;
}

// Dispatches messages until WM_QUIT. While places are watched, a change
// starts a silent check once no further change has come for QUIET_MS, or
// LONGEST_WAIT_MS after the burst's first change; a check that is due runs
// whatever else has fired meanwhile. With nothing pending the wait has no
// time limit, so an idle program sleeps.
int RunMessageLoop()
{
    ULONGLONG due = 0;   // when the next silent check is due; 0: none
    ULONGLONG limit = 0; // the latest it may be due in this burst
    for (;;) {
        const DWORD count = WatchCount();
        const DWORD result = MsgWaitForMultipleObjectsEx(count, WatchHandles(), WaitTimeout(due, GetTickCount64()),
                                                         QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        const ULONGLONG now = GetTickCount64();
        if (result < WAIT_OBJECT_0 + count) {
            WatchSignalled(result - WAIT_OBJECT_0, now);
            limit = due == 0 ? now + LONGEST_WAIT_MS : limit;
            due = std::min(now + QUIET_MS, limit);
        } else if (result == WAIT_FAILED) {
            StopWatching();
        }
        RearmWatches(now, false);
        if (due != 0 && now >= due) {
            due = 0;
            // Armed before the check, so that a change made during it is seen.
            RearmWatches(now, true);
            RunCheck(true);
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                return static_cast<int>(msg.wParam);
            }
            if (AutorunWindowMessage(msg)) {
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// DLLs loaded by name (by the program or the system's libraries for it)
// come from the system folder only: the program may run, elevated too,
// from a folder the user can write.
void LoadLibrariesFromSystemOnly()
{
    const auto setDirectories =
        ProcAddress<TSetDefaultDllDirectories>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
    if (setDirectories == nullptr || !setDirectories(SEARCH_SYSTEM32)) {
        // Older systems: at least not the current folder.
        SetDllDirectoryW(L"");
    }
}

} // namespace

TWideString FirstArgument(const wchar_t* commandLine)
{
    const std::vector<TWideString> arguments = SplitCommandLine(commandLine);
    return arguments.size() < 2 ? TWideString() : arguments[1];
}

HICON LoadTrayIcon(HINSTANCE instance)
{
    // The notification area's small icon size at the DPI of the screen the
    // hidden window is on (the primary one, where the taskbar is).
    const UINT dpi = WindowDpi(MainWnd());
    return static_cast<HICON>(LoadImageW(instance, L"TRAYICON", IMAGE_ICON, SystemMetricForDpi(SM_CXSMICON, dpi),
                                         SystemMetricForDpi(SM_CYSMICON, dpi), 0));
}

void RegisterMainClass(HINSTANCE instance)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = MAIN_CLASS_NAME;
    RegisterClassExW(&wc);
}

LRESULT CALLBACK MainWndProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        HandleCreate(reinterpret_cast<const CREATESTRUCTW*>(lParam));
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
    case WM_DPICHANGED:
    case WM_SETTINGCHANGE:
        RefreshTrayIcon();
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
    return DefWindowProcW(wnd, message, wParam, lParam);
}

TUser& ProgramUser() { return programUser; }

void WalkPlaces(TUser& user)
{
    CheckRegistry(user);
    if (!RunAborted()) {
        CheckStartup(user);
    }
    if (!RunAborted()) {
        CheckINI(user);
    }
    if (!RunAborted()) {
        CheckServices(user);
    }
    if (!RunAborted()) {
        CheckTasks(user);
    }
}

void RunCheck(bool silent) { RunCheck(ProgramUser(), silent); }

bool RunCheck(TUser& user, bool silent)
{
    if (checkRunning) {
        return false;
    }
    checkRunning = true;
    bool errorShown = false;
    // Every run reads the list afresh: it may have been edited, or have
    // become readable again, since the last.
    AllowedListMayHaveChanged();
    try {
        WalkPlaces(user);
    } catch (const TINIExcept& e) {
        errorShown = true;
        user.Warn(FormatMsg(MSG_CANNOT_OPEN_FILE, {Visible(e.FileName)}));
    }
    const TWideString baseline = TakeBaselineMessage();
    if (!baseline.empty() && !RunAborted()) {
        user.Notify(baseline);
    }
    if (!silent && !errorShown && !RunAborted()) {
        user.Inform(MSG_CHECK_COMPLETE);
    }
    checkRunning = false;
    if (RunAborted()) {
        DestroyWindow(MainWnd());
        return false;
    }
    RefreshAutorunWindow();
    return !errorShown;
}

void RemoveEntries(TUser& user, const std::vector<TEntryKey>& entries)
{
    if (checkRunning || entries.empty()) {
        return;
    }
    user.SetTargets(entries);
    const bool done = RunCheck(user, true);
    const std::vector<TEntryKey> unreached = user.UnreachedTargets();
    user.SetTargets({});
    for (const TEntryKey& entry : done ? unreached : std::vector<TEntryKey>()) {
        user.Warn(FormatMsg(MSG_NOT_REMOVED_CHANGED, {EntryText({entry.section, L"\\", entry.name, L"=", entry.command}).shown}));
    }
}

bool CheckRunning() { return checkRunning; }

HMENU TrayMenu() { return trayMenu; }

int RunwardenMain(HINSTANCE instance, const wchar_t* commandLine)
{
    LoadLibrariesFromSystemOnly();
    // Before the instance rule: the resident program itself starts it.
    int helperCode = 0;
    if (RunHelper(SplitCommandLine(commandLine), helperCode)) {
        return helperCode;
    }
    // The mutex comes first: starts made at the same moment all find no
    // window yet. The window check still respects versions without it.
    const TKernelHandle instanceMutex(CreateMutexW(nullptr, FALSE, INSTANCE_MUTEX));
    const DWORD mutexError = GetLastError();
    if (mutexError == ERROR_ALREADY_EXISTS || mutexError == ERROR_ACCESS_DENIED
        || FindWindowW(MAIN_CLASS_NAME, MAIN_WINDOW_TITLE) != nullptr) {
        return 0;
    }
    taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
    RegisterMainClass(instance);
    SetMainWnd(CreateWindowExW(0, MAIN_CLASS_NAME, MAIN_WINDOW_TITLE, WS_OVERLAPPED, 0, 0, 0, 0,
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
