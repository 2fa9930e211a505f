#include "Elevation.h"

#include "AllowedList.h"
#include "MainState.h"
#include "Removed.h"
#include "ScopedHandle.h"

#include <shellapi.h>

namespace {

constexpr ULONG SHA256_BYTES = 32;
constexpr wchar_t HEX_DIGITS[] = L"0123456789abcdef";

// As CommandLineToArgvW reads it back: backslashes are plain text except
// before a quote, where they are doubled and the quote escaped.
TWideString QuotedArgument(const TWideString& text)
{
    TWideString quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : text) {
        if (c == L'"') {
            quoted.append(backslashes + 1, L'\\');
        }
        backslashes = c == L'\\' ? backslashes + 1 : 0;
        quoted += c;
    }
    quoted.append(backslashes, L'\\');
    return quoted + L'"';
}

// On failure the Win32 error is left in GetLastError(): ERROR_CANCELLED
// when the user declined the elevation prompt.
bool RunElevated(const TWideString& parameters, DWORD& exitCode)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // NOASYNC: the process is started before the call returns, not later
    // by a thread of the shell.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.hwnd = MainWnd();
    info.lpVerb = L"runas";
    info.lpFile = OwnCommand().c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) {
        return false;
    }
    // It touches one entry and ends at once: the wait is short.
    const TKernelHandle process(info.hProcess);
    return process.Valid() && WaitForSingleObject(process.Get(), INFINITE) == WAIT_OBJECT_0
        && GetExitCodeProcess(process.Get(), &exitCode);
}

// The elevated process starts in the system folder: a relative name would
// be found there.
bool IsFullPath(const TWideString& path)
{
    return (path.size() > 2 && path[1] == L':' && path[2] == L'\\') || path.compare(0, 2, L"\\\\") == 0;
}

} // namespace

TWideString RemovalSwitch(const wchar_t* name, std::initializer_list<TWideString> arguments)
{
    TWideString line = name;
    for (const TWideString& argument : arguments) {
        line += L" " + QuotedArgument(argument);
    }
    return line + L" " + QuotedArgument(RemovedFolder());
}

void OfferElevatedRemoval(TUser& user, const TWideString& entry, const TWideString& removalSwitch,
                          const wchar_t* cannotRemove)
{
    const bool yes = user.AskElevate(entry);
    if (RunAborted()) {
        return;
    }
    DWORD exitCode = ELEVATED_FAILED;
    if (yes && !RunElevated(removalSwitch, exitCode) && GetLastError() == ERROR_CANCELLED) {
        return;
    }
    if (exitCode == ELEVATED_CHANGED) {
        user.Warn(FormatMsg(MSG_CHANGED_MEANWHILE, {entry}));
    } else if (exitCode != ELEVATED_REMOVED) {
        user.Warn(FormatMsg(cannotRemove, {entry}));
    }
}

bool SplitCommandLine(const wchar_t* commandLine, std::vector<TWideString>& arguments)
{
    int count = 0;
    const TArgvHandle argv(CommandLineToArgvW(commandLine, &count));
    if (!argv.Valid()) {
        return false;
    }
    arguments.assign(argv.Get(), argv.Get() + count);
    return true;
}

bool TakeRemovedFolder(std::vector<TWideString>& arguments)
{
    if (arguments.empty() || !IsFullPath(arguments.back())) {
        return false;
    }
    SetRemovedFolder(arguments.back());
    arguments.pop_back();
    return true;
}

bool TextHash(const TWideString& text, TWideString& hash)
{
    TAlgorithmHandle algorithm;
    THashHandle object;
    UCHAR digest[SHA256_BYTES];
    // The call only reads the data; its parameter lacks the const.
    const PUCHAR bytes = reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(text.data()));
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.Receive(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))
        || !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.Get(), object.Receive(), nullptr, 0, nullptr, 0, 0))
        || !BCRYPT_SUCCESS(BCryptHashData(object.Get(), bytes, static_cast<ULONG>(text.size() * sizeof(wchar_t)), 0))
        || !BCRYPT_SUCCESS(BCryptFinishHash(object.Get(), digest, SHA256_BYTES, 0))) {
        return false;
    }
    hash.clear();
    for (const UCHAR byte : digest) {
        hash += HEX_DIGITS[byte >> 4];
        hash += HEX_DIGITS[byte & 0x0F];
    }
    return true;
}

bool IsTextHash(const TWideString& text)
{
    return text.size() == 2 * SHA256_BYTES && text.find_first_not_of(HEX_DIGITS) == TWideString::npos;
}
