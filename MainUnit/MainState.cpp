#include "MainState.h"

#include <vector>

namespace {

constexpr wchar_t ONCE_SUFFIX[] = L" -once";

HWND mainWnd = nullptr;
TWideString ownCommand;
TWideString ownOnceCommand;
TWideString settingsFilePath;
bool runAborted = false;

bool PathHasBlank() { return ownCommand.find(L' ') != TWideString::npos; }
TWideString QuotedPath() { return L"\"" + ownCommand + L"\""; }

} // namespace

HWND MainWnd() { return mainWnd; }
const TWideString& OwnCommand() { return ownCommand; }
const TWideString& OwnOnceCommand() { return ownOnceCommand; }
const TWideString& SettingsFilePath() { return settingsFilePath; }

void SetMainWnd(HWND wnd) { mainWnd = wnd; }

void SetOwnCommands(const TWideString& exePath)
{
    ownCommand = exePath;
    ownOnceCommand = exePath + ONCE_SUFFIX;
}

void SetSettingsFilePath(const TWideString& path) { settingsFilePath = path; }

TWideString ModulePath()
{
    // A path may be longer than MAX_PATH; the call cuts it silently.
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            return TWideString(path.data(), length);
        }
        path.resize(path.size() * 2);
    }
}

bool IsOwnCommand(const TWideString& command)
{
    return command == ownCommand || (PathHasBlank() && command == QuotedPath());
}

bool IsOwnOnceCommand(const TWideString& command)
{
    return command == ownOnceCommand || (PathHasBlank() && command == QuotedPath() + ONCE_SUFFIX);
}

TWideString StartupCommand(bool once)
{
    const TWideString path = PathHasBlank() ? QuotedPath() : ownCommand;
    return once ? path + ONCE_SUFFIX : path;
}

bool RunAborted() { return runAborted; }
void SetRunAborted(bool aborted) { runAborted = aborted; }
