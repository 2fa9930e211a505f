#include "MainUnit.h"

#include "AllowedList.h"
#include "CheckINIUnit.h"
#include "CheckRegistryUnit.h"
#include "CheckStartupUnit.h"
#include "Elevation.h"
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

bool checkRunning = false;
HMENU trayMenuBar = nullptr; // the loaded resource; destroying it destroys its popup
HMENU trayMenu = nullptr;
NOTIFYICONDATAW trayIconData = {};
TIconHandle trayIcon; // loaded at the size the notification area wants now
HMODULE commonControls = nullptr; // loaded for LoadIconMetric, kept until the end
UINT taskbarCreatedMessage = 0;
HMODULE helpControl = nullptr; // loaded at the first help request, kept until the end

// The program's user: today's message boxes, owned by the hidden window.
class TBoxUser : public TUser {
public:
protected:
    bool OnAskChoice(bool isChanged, const TWideString& entryText, TChoice& choice) override
    {
        return ShowChoiceDialog(MainWnd(), isChanged, entryText, choice);
    }
    bool OnAskDeleteEmpty(const TWideString& path) override { return AskYesNo(MSG_EMPTY_VALUE, path); }
    bool OnAskElevate(const TWideString& entry) override { return AskYesNo(MSG_ASK_ELEVATE, entry); }
    void OnWarn(const TWideString& text) override { ShowWarning(text); }
    void OnInform(const TWideString& text) override
    {
        MessageBoxW(MainWnd(), text.c_str(), APP_CAPTION, MB_OK | MB_ICONINFORMATION);
    }

private:
    static bool AskYesNo(const wchar_t* templ, const TWideString& text)
    {
        return MessageBoxW(MainWnd(), FormatMsg(templ, {text}).c_str(), APP_CAPTION,
                           MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL)
            == IDYES;
    }
};

// At namespace scope: a local static would bring in the runtime's guarded
// initialisation and, with it, the threads library.
TBoxUser programUser;

void AddTrayIcon() { Shell_NotifyIconW(NIM_ADD, &trayIconData); }

using TLoadIconMetric = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, HICON*);
constexpr int LIM_SMALL_ICON = 0; // LIM_SMALL

// The tray icon at the size the notification area shows at the current DPI:
// LoadIconMetric (common controls 6, Vista and later) knows it; before that,
// the small icon's system metric.
HICON LoadTrayIcon(HINSTANCE instance)
{
    if (commonControls == nullptr) {
        // The manifest's dependency makes this version 6.
        commonControls = LoadLibraryW(L"comctl32.dll");
    }
    const auto loadIconMetric = commonControls == nullptr ? nullptr
        : reinterpret_cast<TLoadIconMetric>(reinterpret_cast<void*>(GetProcAddress(commonControls, "LoadIconMetric")));
    HICON icon = nullptr;
    if (loadIconMetric != nullptr && SUCCEEDED(loadIconMetric(instance, L"TRAYICON", LIM_SMALL_ICON, &icon))) {
        return icon;
    }
    return static_cast<HICON>(LoadImageW(instance, L"TRAYICON", IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                         GetSystemMetrics(SM_CYSMICON), 0));
}

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

TWideString SystemFolder()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? TWideString(folder, length) : TWideString();
}

void ShowHelp()
{
    const TWideString system = SystemFolder();
    if (system.empty()) {
        return;
    }
    // The help control comes from the system folder only, never from the
    // current or the program's folder, so no other hhctrl.ocx is loaded.
    if (helpControl == nullptr) {
        helpControl = LoadLibraryExW((system + L"\\hhctrl.ocx").c_str(), nullptr,
                                     LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    if (helpControl == nullptr) {
        return;
    }
    const auto htmlHelp =
        reinterpret_cast<THtmlHelpW>(reinterpret_cast<void*>(GetProcAddress(helpControl, "HtmlHelpW")));
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
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                return static_cast<int>(msg.wParam);
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// The elevated removal of one entry (Elevation.h). False when the command
// line holds no such switch.
bool RunElevatedRemoval(const wchar_t* commandLine, int& exitCode)
{
    std::vector<TWideString> arguments;
    if (!SplitCommandLine(commandLine, arguments) || arguments.size() < 2
        || (arguments[1] != REMOVE_VALUE_SWITCH && arguments[1] != REMOVE_FILE_SWITCH)) {
        return false;
    }
    const bool value = arguments[1] == REMOVE_VALUE_SWITCH;
    arguments.erase(arguments.begin(), arguments.begin() + 2);
    DWORD result = ELEVATED_FAILED;
    if (TakeRemovedFolder(arguments)) {
        result = value ? RemoveValueAsAdministrator(arguments) : RemoveFileAsAdministrator(arguments);
    }
    exitCode = static_cast<int>(result);
    return true;
}

} // namespace

TWideString FirstArgument(const wchar_t* commandLine)
{
    TWideString argument;
    const wchar_t* p = commandLine;
    for (int index = 0; index < 2; ++index) {
        while (*p != L'\0' && *p <= L' ') {
            ++p;
        }
        argument.clear();
        bool quoted = false;
        while (*p != L'\0' && (quoted || *p > L' ')) {
            if (*p == L'"') {
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

int RunwardenMain(HINSTANCE instance, const wchar_t* commandLine)
{
    // Before the instance rule: the resident program itself starts it.
    int removalCode = 0;
    if (RunElevatedRemoval(commandLine, removalCode)) {
        return removalCode;
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
