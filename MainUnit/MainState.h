#pragma once

// The process-wide state of the program: the hidden window, the two own
// command texts and the settings-file path. Set once while the window is
// created; everything else only reads it.

#include <windows.h>

#include <string>

// The caption of every box, the hidden window's title, the tray tip and the
// name of the program's own Run value.
constexpr char APP_CAPTION[] = "Runwarden";
constexpr char RUN_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* RUN_VALUE_NAME = APP_CAPTION;
constexpr char SHELL_FOLDERS_KEY[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

HWND MainWnd();
const std::string& OwnCommand();
const std::string& OwnOnceCommand();
const std::string& SettingsFilePath();

void SetMainWnd(HWND wnd);
// Sets OwnCommand to ExePath and OwnOnceCommand to ExePath + " -once".
void SetOwnCommands(const std::string& exePath);
void SetSettingsFilePath(const std::string& path);

// The full path of the running program as the system reports it.
std::string ModulePath();

// The program's own Run-key commands. When the path holds a blank, the
// commands written for the startup modes quote it, so that Windows does not
// try the path's first word as a program; both the quoted and the plain forms
// count as the program's own.
bool IsOwnCommand(const std::string& command);
bool IsOwnOnceCommand(const std::string& command);
std::string StartupCommand(bool once);

// Set when the user ends the program while a check run is open: the run then
// stops acting on answers and the checkers leave without saving.
bool RunAborted();
void SetRunAborted(bool aborted);
