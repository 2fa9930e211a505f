#include "MainState.h"

#include <cstring>

namespace {

HWND mainWnd = nullptr;
std::string ownCommand;
std::string ownOnceCommand;
std::string settingsFilePath;

} // namespace

HWND MainWnd() { return mainWnd; }
const std::string& OwnCommand() { return ownCommand; }
const std::string& OwnOnceCommand() { return ownOnceCommand; }
const std::string& SettingsFilePath() { return settingsFilePath; }

void SetMainWnd(HWND wnd) { mainWnd = wnd; }

void SetOwnCommands(const std::string& exePath)
{
    ownCommand = exePath;
    ownOnceCommand = exePath + " -once";
}

void SetSettingsFilePath(const std::string& path) { settingsFilePath = path; }

std::string ModulePath()
{
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(sizeof(path)));
    return std::string(path, strnlen(path, length));
}

namespace {

bool runAborted = false;

bool PathHasBlank() { return ownCommand.find(' ') != std::string::npos; }
std::string QuotedPath() { return "\"" + ownCommand + "\""; }

} // namespace

bool IsOwnCommand(const std::string& command)
{
    return command == ownCommand || (PathHasBlank() && command == QuotedPath());
}

bool IsOwnOnceCommand(const std::string& command)
{
    return command == ownOnceCommand || (PathHasBlank() && command == QuotedPath() + " -once");
}

std::string StartupCommand(bool once)
{
    const std::string path = PathHasBlank() ? QuotedPath() : ownCommand;
    return once ? path + " -once" : path;
}

bool RunAborted() { return runAborted; }
void SetRunAborted(bool aborted) { runAborted = aborted; }
