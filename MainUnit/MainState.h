#pragma once

// The process-wide state of the program: the hidden window, the two own
// command texts and the settings-file path. Set once while the window is
// created; everything else only reads it.

#include "registry_profile.h"

#include <windows.h>

#include <vector>

// The caption of every box, the hidden window's title, the tray tip and the
// name of the program's own Run value.
constexpr wchar_t APP_CAPTION[] = L"Runwarden";
constexpr wchar_t RUN_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* RUN_VALUE_NAME = APP_CAPTION;
constexpr wchar_t SHELL_FOLDERS_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

HWND MainWnd();
const TWideString& OwnCommand();
const TWideString& OwnOnceCommand();
const TWideString& SettingsFilePath();

void SetMainWnd(HWND wnd);
// Sets OwnCommand to ExePath and OwnOnceCommand to ExePath + " -once".
void SetOwnCommands(const TWideString& exePath);
void SetSettingsFilePath(const TWideString& path);

// The full path of the running program as the system reports it.
TWideString ModulePath();

// The arguments of a command line, the program's name first. Blanks and
// control characters separate them; a pair of double quotes groups and is
// dropped; backslashes are plain text except before a quote, where 2n of
// them stand for n and a quote that groups, 2n + 1 for n and a quote of the
// text (as CommandLineToArgvW reads them).
std::vector<TWideString> SplitCommandLine(const wchar_t* commandLine);

// The program's own Run-key commands. When the path holds a blank, the
// commands written for the startup modes quote it, so that Windows does not
// try the path's first word as a program; both the quoted and the plain forms
// count as the program's own.
bool IsOwnCommand(const TWideString& command);
bool IsOwnOnceCommand(const TWideString& command);
TWideString StartupCommand(bool once);

// Set when the user ends the program while a check run is open: the run then
// stops acting on answers and the checkers leave without saving.
bool RunAborted();
void SetRunAborted(bool aborted);
