#include "MainState.h"


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

std::vector<TWideString> SplitCommandLine(const wchar_t* commandLine)
{
    std::vector<TWideString> arguments;
    const wchar_t* p = commandLine;
    for (;;) {
        while (*p != L'\0' && *p <= L' ') {
            ++p;
        }
        if (*p == L'\0') {
            return arguments;
        }
        TWideString argument;
        bool quoted = false;
        while (*p != L'\0' && (quoted || *p > L' ')) {
            std::size_t backslashes = 0;
            while (p[backslashes] == L'\\') {
                ++backslashes;
            }
            if (p[backslashes] != L'"') {
                argument.append(backslashes == 0 ? 1 : backslashes, backslashes == 0 ? *p : L'\\');
                p += backslashes == 0 ? 1 : backslashes;
                continue;
            }
            argument.append(backslashes / 2, L'\\');
            if (backslashes % 2 == 1) {
                argument += L'"';
            } else {
                quoted = !quoted;
            }
            p += backslashes + 1;
        }
        arguments.push_back(argument);
    }
}
