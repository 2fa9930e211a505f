#pragma once

// The program's entry, its hidden window, the tray icon and menu, the startup
// mode and the check run.

#include "MainState.h"
#include "User.h"

#include <windows.h>

constexpr UINT WM_TRAYICON = WM_USER + 1;
constexpr UINT TRAY_ICON_ID = 1;
constexpr wchar_t MAIN_CLASS_NAME[] = L"RunwardenClass";
constexpr const wchar_t* MAIN_WINDOW_TITLE = APP_CAPTION;
constexpr wchar_t MSG_CHECK_COMPLETE[] = L"Проверка завершена";
constexpr wchar_t MSG_NOT_REMOVED_CHANGED[] =
    L"Запись \"%s\" изменилась или исчезла после того, как окно ее показало, и не удалена.";

// The whole life of the process; returns its exit code.
int RunwardenMain(HINSTANCE instance, const wchar_t* commandLine);

// The first argument after the program name, as SplitCommandLine reads it.
TWideString FirstArgument(const wchar_t* commandLine);

void RegisterMainClass(HINSTANCE instance);
LRESULT CALLBACK MainWndProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam);

// One pass of all checkers, asking User; Silent drops only the completion
// message. Does nothing while a run is open. Without a user, the program's
// own message boxes ask. True when the pass went through: not refused, not
// ended by the user, the list read.
bool RunCheck(TUser& user, bool silent);
void RunCheck(bool silent);
// Every place in the check's order, with User; raises TINIExcept as the
// checkers do. A survey or a removal from the window walks them so.
void WalkPlaces(TUser& user);
// A removal from the window: a check run that removes Entries, as the
// question's "remove" does, and asks about nothing else; an entry it does
// not come to with the command the window showed is not removed, and the
// user is told.
void RemoveEntries(TUser& user, const std::vector<TEntryKey>& entries);
// The program's user: its message boxes, owned by the hidden window.
TUser& ProgramUser();
bool CheckRunning();

// The tray menu's popup, for tests that look at the radio marks.
HMENU TrayMenu();
// The tray icon at the notification area's small size for the DPI of the
// screen the hidden window is on.
HICON LoadTrayIcon(HINSTANCE instance);
