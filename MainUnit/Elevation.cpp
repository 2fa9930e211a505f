#include "Elevation.h"

#include "MainState.h"
#include "ScopedHandle.h"

#include <shellapi.h>

namespace {

constexpr ULONG SHA256_BYTES = 32;
constexpr wchar_t HEX_DIGITS[] = L"0123456789abcdef";
using BCRYPT_HANDLE = void*;
constexpr wchar_t SHA256_ALGORITHM[] = L"SHA256";

// The hash functions of the system's bcrypt.dll, loaded once and kept.
using TOpenAlgorithmProvider = LONG(WINAPI*)(BCRYPT_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
using TCloseAlgorithmProvider = LONG(WINAPI*)(BCRYPT_HANDLE, ULONG);
using TCreateHash = LONG(WINAPI*)(BCRYPT_HANDLE, BCRYPT_HANDLE*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
using THashData = LONG(WINAPI*)(BCRYPT_HANDLE, PUCHAR, ULONG, ULONG);
using TFinishHash = LONG(WINAPI*)(BCRYPT_HANDLE, PUCHAR, ULONG, ULONG);
using TDestroyHash = LONG(WINAPI*)(BCRYPT_HANDLE);

struct TBcrypt {
    HMODULE module = nullptr;
    TOpenAlgorithmProvider openAlgorithm = nullptr;
    TCloseAlgorithmProvider closeAlgorithm = nullptr;
    TCreateHash createHash = nullptr;
    THashData hashData = nullptr;
    TFinishHash finishHash = nullptr;
    TDestroyHash destroyHash = nullptr;
};

TBcrypt bcrypt;

bool LoadBcrypt()
{
    if (bcrypt.module == nullptr) {
        bcrypt.module = LoadSystemLibrary(L"bcrypt.dll");
        bcrypt.openAlgorithm = ProcAddress<TOpenAlgorithmProvider>(bcrypt.module, "BCryptOpenAlgorithmProvider");
        bcrypt.closeAlgorithm = ProcAddress<TCloseAlgorithmProvider>(bcrypt.module, "BCryptCloseAlgorithmProvider");
        bcrypt.createHash = ProcAddress<TCreateHash>(bcrypt.module, "BCryptCreateHash");
        bcrypt.hashData = ProcAddress<THashData>(bcrypt.module, "BCryptHashData");
        bcrypt.finishHash = ProcAddress<TFinishHash>(bcrypt.module, "BCryptFinishHash");
        bcrypt.destroyHash = ProcAddress<TDestroyHash>(bcrypt.module, "BCryptDestroyHash");
    }
    return bcrypt.openAlgorithm != nullptr && bcrypt.closeAlgorithm != nullptr && bcrypt.createHash != nullptr
        && bcrypt.hashData != nullptr && bcrypt.finishHash != nullptr && bcrypt.destroyHash != nullptr;
}

struct TAlgorithmTraits {
    using Type = BCRYPT_HANDLE;
    static BCRYPT_HANDLE Invalid() { return nullptr; }
    static void Close(BCRYPT_HANDLE algorithm) { bcrypt.closeAlgorithm(algorithm, 0); }
};
struct THashTraits {
    using Type = BCRYPT_HANDLE;
    static BCRYPT_HANDLE Invalid() { return nullptr; }
    static void Close(BCRYPT_HANDLE hash) { bcrypt.destroyHash(hash); }
};

// As SplitCommandLine reads it back: backslashes are plain text except
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

} // namespace

TWideString RemovalSwitch(const wchar_t* name, std::initializer_list<TWideString> arguments)
{
    TWideString line = name;
    for (const TWideString& argument : arguments) {
        line += L" " + QuotedArgument(argument);
    }
    return line;
}

void OfferElevatedRemoval(TUser& user, const TEntryText& entry, const wchar_t* cannotRemove,
                          const std::function<bool(TWideString&)>& record, const std::function<void()>& takeBack)
{
    const bool yes = user.AskElevate(entry);
    if (RunAborted()) {
        return;
    }
    TWideString removalSwitch;
    DWORD exitCode = ELEVATED_FAILED;
    if (yes && record(removalSwitch)) {
        const bool ran = RunElevated(removalSwitch, exitCode);
        const DWORD error = GetLastError();
        if (!ran || exitCode != ELEVATED_REMOVED) {
            takeBack();
        }
        if (!ran && error == ERROR_CANCELLED) {
            user.NoteFailure(FormatMsg(cannotRemove, {entry.shown}));
            return;
        }
    }
    if (exitCode == ELEVATED_CHANGED) {
        user.WarnFailed(FormatMsg(MSG_CHANGED_MEANWHILE, {entry.shown}));
    } else if (exitCode != ELEVATED_REMOVED) {
        user.WarnFailed(FormatMsg(cannotRemove, {entry.shown}));
    }
}

namespace {

constexpr DWORD FILE_CHUNK = 64 * 1024;

// Feeds the hash what Next gives (false: no more) and writes the digest.
template <typename TNext>
bool Hash(TNext next, TWideString& hash)
{
    TScopedHandle<TAlgorithmTraits> algorithm;
    TScopedHandle<THashTraits> object;
    if (!LoadBcrypt() || bcrypt.openAlgorithm(algorithm.Receive(), SHA256_ALGORITHM, nullptr, 0) < 0
        || bcrypt.createHash(algorithm.Get(), object.Receive(), nullptr, 0, nullptr, 0, 0) < 0) {
        return false;
    }
    const void* data = nullptr;
    std::size_t size = 0;
    bool failed = false;
    while (next(data, size, failed)) {
        // The call only reads the data; its parameter lacks the const.
        if (bcrypt.hashData(object.Get(), static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(size), 0) < 0) {
            return false;
        }
    }
    UCHAR digest[SHA256_BYTES];
    if (failed || bcrypt.finishHash(object.Get(), digest, SHA256_BYTES, 0) < 0) {
        return false;
    }
    hash.clear();
    for (const UCHAR byte : digest) {
        AppendHex(hash, byte, 2, true);
    }
    return true;
}

} // namespace

bool DataHash(const void* data, std::size_t size, TWideString& hash)
{
    bool given = false;
    return Hash(
        [&](const void*& chunk, std::size_t& chunkSize, bool&) {
            chunk = data;
            chunkSize = size;
            return !given && (given = true);
        },
        hash);
}

bool FileHash(HANDLE file, TWideString& hash)
{
    std::string buffer(FILE_CHUNK, '\0');
    return Hash(
        [&](const void*& chunk, std::size_t& chunkSize, bool& failed) {
            DWORD read = 0;
            failed = !ReadFile(file, &buffer[0], FILE_CHUNK, &read, nullptr);
            chunk = buffer.data();
            chunkSize = read;
            return !failed && read > 0;
        },
        hash);
}

bool TextHash(const TWideString& text, TWideString& hash)
{
    return DataHash(text.data(), text.size() * sizeof(wchar_t), hash);
}

bool IsTextHash(const TWideString& text)
{
    return text.size() == 2 * SHA256_BYTES && text.find_first_not_of(HEX_DIGITS) == TWideString::npos;
}
