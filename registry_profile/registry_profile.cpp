#include "registry_profile.h"

#include "ScopedHandle.h"

#include <winternl.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// The profile functions return size - 1 when the text did not fit; start
// with the customary buffer and grow until it does.
constexpr DWORD INITIAL_PROFILE_BUFFER = 2048;
constexpr UINT SETTINGS_CODE_PAGE = 1251;
constexpr unsigned FIRST_HIGH_BYTE = 0x80;
constexpr wchar_t TEMPORARY_MARK[] = L".rw";
constexpr int MAX_TEMPORARY_NAMES = 64;
// How long a save waits for another program to let go of the file before it
// writes the file in place, and the pauses between its tries.
constexpr DWORD HELD_FILE_WAIT_MS = 2000;
constexpr DWORD FIRST_HELD_PAUSE_MS = 10;
constexpr DWORD MAX_HELD_PAUSE_MS = 250;
// KEY_VALUE_PARTIAL_INFORMATION: its data starts after three ULONGs.
constexpr int KEY_VALUE_PARTIAL_INFORMATION_CLASS = 2;
constexpr ULONG PARTIAL_HEADER = 3 * sizeof(ULONG);
constexpr ULONG FIRST_VALUE_BUFFER = 512;
constexpr int MAX_READ_ATTEMPTS = 8; // a value that keeps growing under the read is given up on
constexpr LONG STATUS_BUFFER_OVERFLOW_CODE = static_cast<LONG>(0x80000005);
constexpr LONG STATUS_BUFFER_TOO_SMALL_CODE = static_cast<LONG>(0xC0000023);

// The upper half of code page 1251, taken from the system once: the table
// makes conversion exact and independent of the ANSI code page, and keeps it
// from costing a call per character.
struct TCodePage {
    wchar_t high[0x80] = {};
    bool ready = false;
};

TCodePage codePage;

// The native registry calls, looked up in ntdll (loaded in every process).
using TNtQueryValueKey = LONG(NTAPI*)(HANDLE, UNICODE_STRING*, int, void*, ULONG, ULONG*);
using TNtDeleteValueKey = LONG(NTAPI*)(HANDLE, UNICODE_STRING*);
using TNtSetValueKey = LONG(NTAPI*)(HANDLE, UNICODE_STRING*, ULONG, ULONG, const void*, ULONG);
using TRtlNtStatusToDosError = ULONG(NTAPI*)(LONG);

struct TNative {
    TNtQueryValueKey queryValue = nullptr;
    TNtDeleteValueKey deleteValue = nullptr;
    TNtSetValueKey setValue = nullptr;
    TRtlNtStatusToDosError toDosError = nullptr;
    bool ready = false;
};

TNative native;

const TNative& Native()
{
    if (!native.ready) {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        native.queryValue = ProcAddress<TNtQueryValueKey>(ntdll, "NtQueryValueKey");
        native.deleteValue = ProcAddress<TNtDeleteValueKey>(ntdll, "NtDeleteValueKey");
        native.setValue = ProcAddress<TNtSetValueKey>(ntdll, "NtSetValueKey");
        native.toDosError = ProcAddress<TRtlNtStatusToDosError>(ntdll, "RtlNtStatusToDosError");
        native.ready = true;
    }
    return native;
}

// The whole name as the native calls take it; false when it is too long for one.
bool CountedName(const TWideString& name, UNICODE_STRING& counted)
{
    if (name.size() * sizeof(wchar_t) > USHRT_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    counted.Length = counted.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    counted.Buffer = const_cast<wchar_t*>(name.data());
    return true;
}

// Leaves the Win32 error of Status in GetLastError(); true for success.
bool Succeeded(LONG status)
{
    const TNative& calls = Native();
    SetLastError(status >= 0 ? ERROR_SUCCESS : calls.toDosError != nullptr ? calls.toDosError(status) : ERROR_GEN_FAILURE);
    return status >= 0;
}

bool Unsupported()
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
}

const TCodePage& Table1251()
{
    if (!codePage.ready) {
        for (unsigned byte = FIRST_HIGH_BYTE; byte <= 0xFF; ++byte) {
            const char one = static_cast<char>(byte);
            wchar_t wide = 0;
            MultiByteToWideChar(SETTINGS_CODE_PAGE, 0, &one, 1, &wide, 1);
            // A byte the code page leaves undefined (98) keeps a character of
            // its own, so that no two bytes decode alike.
            for (unsigned earlier = FIRST_HIGH_BYTE; earlier < byte && wide >= FIRST_HIGH_BYTE; ++earlier) {
                wide = codePage.high[earlier - FIRST_HIGH_BYTE] == wide ? 0 : wide;
            }
            codePage.high[byte - FIRST_HIGH_BYTE] = wide >= FIRST_HIGH_BYTE ? wide : static_cast<wchar_t>(byte);
        }
        codePage.ready = true;
    }
    return codePage;
}

// The byte of C in 1251, or -1.
int ByteOf(wchar_t c)
{
    if (c < FIRST_HIGH_BYTE) {
        return c;
    }
    const TCodePage& table = Table1251();
    for (unsigned i = 0; i < 0x80; ++i) {
        if (table.high[i] == c) {
            return static_cast<int>(i + FIRST_HIGH_BYTE);
        }
    }
    return -1;
}

} // namespace

TWideString Decode1251(const char* bytes, std::size_t count)
{
    TWideString text(count, L'\0');
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        text[i] = byte < FIRST_HIGH_BYTE ? byte : Table1251().high[byte - FIRST_HIGH_BYTE];
    }
    return text;
}

bool DecodeCodePage(UINT codePage, const char* bytes, std::size_t count, TWideString& text)
{
    if (count == 0) {
        text.clear();
        return true;
    }
    const int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(count), nullptr, 0);
    if (length <= 0) {
        return false;
    }
    text.resize(static_cast<std::size_t>(length));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(count), &text[0], length) == length;
}

bool AppendUtf8(const TWideString& text, std::string& bytes)
{
    if (text.empty()) {
        return true;
    }
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return false;
    }
    const std::size_t at = bytes.size();
    bytes.resize(at + static_cast<std::size_t>(length));
    return WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[at], length, nullptr,
                               nullptr)
        == length;
}

bool Append1251(const wchar_t* text, std::size_t length, std::string& bytes)
{
    const std::size_t at = bytes.size();
    bytes.resize(at + length);
    for (std::size_t i = 0; i < length; ++i) {
        const int byte = ByteOf(text[i]);
        if (byte < 0) {
            return false;
        }
        bytes[at + i] = static_cast<char>(byte);
    }
    return true;
}

bool Fits1251(wchar_t c) { return ByteOf(c) >= 0; }

void AppendHex(TWideString& text, unsigned long value, int digits, bool lowerCase)
{
    const wchar_t* alphabet = lowerCase ? L"0123456789abcdef" : L"0123456789ABCDEF";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        text += alphabet[(value >> shift) & 0x0F];
    }
}

TWideString ParentPath(const TWideString& path)
{
    const std::size_t slash = path.rfind(L'\\');
    return slash == TWideString::npos ? TWideString() : path.substr(0, slash);
}

bool SamePath(const TWideString& a, const TWideString& b)
{
    return a.size() == b.size()
        && CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool StartsWithPath(const TWideString& path, const TWideString& prefix)
{
    return path.size() >= prefix.size()
        && CompareStringOrdinal(path.data(), static_cast<int>(prefix.size()), prefix.data(), static_cast<int>(prefix.size()),
                                TRUE)
        == CSTR_EQUAL;
}

namespace {

const wchar_t* const DEVICE_NAMES[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
const wchar_t* const NUMBERED_DEVICES[] = {L"COM", L"LPT"};

// The part before the first dot, without its trailing blanks, is what
// Windows compares with the devices' names.
bool IsDeviceName(const TWideString& name)
{
    TWideString base = name.substr(0, name.find(L'.'));
    base.erase(base.find_last_not_of(L' ') + 1);
    for (const wchar_t* device : DEVICE_NAMES) {
        if (SamePath(base, device)) {
            return true;
        }
    }
    // COM0 to COM9, and the superscript digits 1, 2 and 3 Windows takes too.
    const TWideString digits = L"0123456789\u00B9\u00B2\u00B3";
    for (const wchar_t* device : NUMBERED_DEVICES) {
        if (base.size() == 4 && StartsWithPath(base, device) && digits.find(base[3]) != TWideString::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

TWideString Win32Spelling(const TWideString& name)
{
    const std::size_t last = name.find_last_not_of(L". ");
    return last == TWideString::npos ? TWideString() : name.substr(0, last + 1);
}

bool Win32SpellsExactly(const TWideString& path)
{
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(L'\\', start), path.size());
        const TWideString name = path.substr(start, end - start);
        if (name.empty() || Win32Spelling(name) != name || IsDeviceName(name)) {
            return false;
        }
        start = end + 1;
    }
    return true;
}

TWideString ExactPath(const TWideString& folder, const TWideString& name)
{
    const DWORD size = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
    TWideString full(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetFullPathNameW(folder.c_str(), size, &full[0], nullptr);
    full.resize(length < size ? length : 0);
    if (full.empty() || StartsWithPath(full, L"\\\\?\\")) {
        return full + L"\\" + name;
    }
    if (full.back() == L'\\') {
        full.pop_back();
    }
    // A share's path: \\server\share becomes \\?\UNC\server\share.
    const bool share = full.size() > 2 && full[0] == L'\\' && full[1] == L'\\';
    return (share ? L"\\\\?\\UNC" + full.substr(1) : L"\\\\?\\" + full) + L"\\" + name;
}

TWideString SystemFolder(bool windows)
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = windows ? GetSystemWindowsDirectoryW(folder, MAX_PATH) : GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? TWideString(folder, length) : TWideString();
}

TWideString NativePath(const TWideString& path)
{
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) {
        return path;
    }
    const TWideString system = SystemFolder(true) + L"\\System32";
    if (path.size() > system.size() && StartsWithPath(path, system) && path[system.size()] == L'\\') {
        return SystemFolder(true) + L"\\Sysnative" + path.substr(system.size());
    }
    return path;
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    const TWideString folder = SystemFolder();
    return folder.empty() ? nullptr : LoadLibraryW((folder + L"\\" + name).c_str());
}

std::vector<TWideString> ValueNames(HKEY key)
{
    std::vector<TWideString> names;
    DWORD longest = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr,
                         nullptr)
        != ERROR_SUCCESS) {
        return names;
    }
    std::vector<wchar_t> name(longest + 1);
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        const LONG result = RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA) {
            // A longer name was added meanwhile: measure again.
            name.resize(name.size() * 2);
            --index;
            continue;
        }
        if (result != ERROR_SUCCESS) {
            return names;
        }
        names.push_back(TWideString(name.data(), length));
    }
}

bool ReadRegValue(HKEY key, const TWideString& name, TRegData& value)
{
    UNICODE_STRING counted;
    const TNative& calls = Native();
    if (calls.queryValue == nullptr) {
        return Unsupported();
    }
    if (!CountedName(name, counted)) {
        return false;
    }
    std::vector<ULONG> buffer((PARTIAL_HEADER + FIRST_VALUE_BUFFER) / sizeof(ULONG));
    for (int attempt = 0; attempt < MAX_READ_ATTEMPTS; ++attempt) {
        ULONG needed = 0;
        const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(ULONG));
        const LONG status = calls.queryValue(key, &counted, KEY_VALUE_PARTIAL_INFORMATION_CLASS, buffer.data(), size, &needed);
        if (status == STATUS_BUFFER_OVERFLOW_CODE || status == STATUS_BUFFER_TOO_SMALL_CODE) {
            buffer.resize(needed / sizeof(ULONG) + 1);
            continue;
        }
        if (!Succeeded(status)) {
            return false;
        }
        // TitleIndex, Type, DataLength, then the data.
        const ULONG length = std::min<ULONG>(buffer[2], size - PARTIAL_HEADER);
        value.type = buffer[1];
        value.bytes.assign(reinterpret_cast<const char*>(buffer.data()) + PARTIAL_HEADER, length);
        return true;
    }
    SetLastError(ERROR_MORE_DATA);
    return false;
}

void SetRegDataText(DWORD type, const BYTE* data, std::size_t size, TWideString& text)
{
    const wchar_t* units = reinterpret_cast<const wchar_t*>(data);
    const std::size_t count = size / sizeof(wchar_t);
    if (type == REG_MULTI_SZ) {
        std::size_t length = count;
        while (length > 0 && units[length - 1] == L'\0') {
            --length;
        }
        text.assign(units, length);
        return;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        text.assign(units, wcsnlen(units, count));
        return;
    }
    const char* bytes = reinterpret_cast<const char*>(data);
    text = Decode1251(bytes, strnlen(bytes, size));
}

TWideString RegDataText(const TRegData& value)
{
    TWideString text;
    SetRegDataText(value.type, reinterpret_cast<const BYTE*>(value.bytes.data()), value.bytes.size(), text);
    return text;
}

bool DeleteRegValue(HKEY key, const TWideString& name)
{
    UNICODE_STRING counted;
    const TNative& calls = Native();
    if (calls.deleteValue == nullptr) {
        return Unsupported();
    }
    return CountedName(name, counted) && Succeeded(calls.deleteValue(key, &counted));
}

bool WriteRegValue(HKEY key, const TWideString& name, const TRegData& value)
{
    UNICODE_STRING counted;
    const TNative& calls = Native();
    if (calls.setValue == nullptr) {
        return Unsupported();
    }
    return CountedName(name, counted)
        && Succeeded(calls.setValue(key, &counted, 0, value.type, value.bytes.data(), static_cast<ULONG>(value.bytes.size())));
}

bool DeleteRegValue(HKEY root, const TWideString& path, const TWideString& name)
{
    TRegKey key;
    const LONG opened = RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, key.Receive());
    SetLastError(static_cast<DWORD>(opened));
    return opened == ERROR_SUCCESS && DeleteRegValue(key.Get(), name);
}

bool WriteRegString(HKEY root, const TWideString& path, const TWideString& name, const TWideString& value)
{
    TRegKey key;
    const LONG opened = RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, key.Receive());
    SetLastError(static_cast<DWORD>(opened));
    return opened == ERROR_SUCCESS && WriteRegValue(key.Get(), name, {REG_SZ, Utf16Bytes(value + L'\0')});
}

TWideString ReadRegString(HKEY root, const TWideString& path, const TWideString& name)
{
    TRegKey key;
    TRegData value;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS
        || !ReadRegValue(key.Get(), name, value)) {
        return TWideString();
    }
    // The terminator, when the value has one, is not part of the text;
    // zeros before it are kept.
    TWideString text(reinterpret_cast<const wchar_t*>(value.bytes.data()), value.bytes.size() / sizeof(wchar_t));
    if (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    return text;
}

TWideString ReadINIString(const TWideString& fileName, const TWideString& section, const TWideString& key,
                          const TWideString& defaultValue)
{
    // A value cut at the buffer's end and written back would damage the file,
    // so the whole value is read however long it is.
    std::vector<wchar_t> buffer(INITIAL_PROFILE_BUFFER);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD count = GetPrivateProfileStringW(section.c_str(), key.c_str(), defaultValue.c_str(),
                                                     buffer.data(), size, fileName.c_str());
        if (count + 1 < size) {
            return TWideString(buffer.data(), count);
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool WriteINIString(const TWideString& fileName, const TWideString& section, const TWideString& key,
                    const TWideString& value)
{
    return WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), fileName.c_str()) != FALSE;
}

bool ReadFileBytes(const TWideString& path, std::string& bytes)
{
    bytes.clear();
    TFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > MAXLONG) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    return bytes.empty()
        || (ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size());
}

bool WriteNewFile(const TWideString& path, const std::string& bytes)
{
    TFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    DWORD written = 0;
    const bool whole = file.Valid()
        && (bytes.empty()
            || (WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size()));
    const bool made = file.Valid();
    file.Reset();
    if (made && !whole) {
        DeleteFileW(path.c_str());
    }
    return whole;
}

namespace {

bool WriteAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return (bytes.empty()
            || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size()))
        && SetEndOfFile(file) && FlushFileBuffers(file);
}

// Through the file itself: the same file, under all its names.
bool WriteInPlace(const TWideString& path, const std::string& bytes)
{
    const TFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.Valid() && WriteAll(file.Get(), bytes);
}

// A file beside Path under a name no other writer uses: this process's id
// and a number, made new (an earlier run's leftover is never opened).
TWideString WriteTemporary(const TWideString& path, const std::string& bytes)
{
    static unsigned long counter = 0;
    for (int attempt = 0; attempt < MAX_TEMPORARY_NAMES; ++attempt) {
        TWideString name = path + TEMPORARY_MARK;
        AppendHex(name, GetCurrentProcessId(), 8);
        name += L'.';
        AppendHex(name, ++counter, 4);
        TFileHandle file(CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) {
            if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return TWideString();
        }
        if (WriteAll(file.Get(), bytes)) {
            return name;
        }
        file.Reset();
        DeleteFileW(name.c_str());
        return TWideString();
    }
    return TWideString();
}

// Whether another handle keeps the file from being removed: ReplaceFileW
// needs to, and an editor, a virus scanner or an indexer may hold the file
// open without FILE_SHARE_DELETE. Asked of the file itself: ReplaceFileW's
// error cannot tell, it may be ERROR_UNABLE_TO_REMOVE_REPLACED (as under
// Wine), which other causes give too.
bool HeldAgainstRemoval(const TWideString& path)
{
    const TFileHandle file(CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return !file.Valid() && GetLastError() == ERROR_SHARING_VIOLATION;
}

} // namespace

bool ReplaceFileBytes(const TWideString& path, const std::string& bytes)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    const bool exists = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes) != FALSE;
    if (exists && (attributes.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (exists) {
        BY_HANDLE_FILE_INFORMATION information = {};
        const TFileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        const bool linked = (attributes.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0
            || (file.Valid() && GetFileInformationByHandle(file.Get(), &information) && information.nNumberOfLinks > 1);
        if (linked) {
            return WriteInPlace(path, bytes);
        }
    }
    const TWideString temporary = WriteTemporary(path, bytes);
    if (temporary.empty()) {
        return false;
    }
    const auto replace = [&] {
        return ReplaceFileW(path.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != FALSE;
    };
    bool replaced = exists ? replace() : MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
    DWORD error = GetLastError();
    // A scanner lets go of the file soon; an editor may keep it open as long
    // as it runs: then it is written in place, as a linked file is, and the
    // editor's handle reads the new contents.
    bool held = !replaced && exists && HeldAgainstRemoval(path);
    const DWORD start = GetTickCount();
    for (DWORD pause = FIRST_HELD_PAUSE_MS, waited = 0; held && waited < HELD_FILE_WAIT_MS;
         pause = std::min(pause * 2, MAX_HELD_PAUSE_MS), waited = GetTickCount() - start) {
        Sleep(std::min(pause, HELD_FILE_WAIT_MS - waited));
        replaced = replace();
        error = GetLastError();
        held = !replaced && HeldAgainstRemoval(path);
    }
    if (!replaced) {
        const bool written = held && WriteInPlace(path, bytes);
        error = held ? GetLastError() : error;
        DeleteFileW(temporary.c_str());
        SetLastError(error);
        return written;
    }
    // Some implementations give the file the new one's attributes.
    if (exists && GetFileAttributesW(path.c_str()) != attributes.dwFileAttributes) {
        SetFileAttributesW(path.c_str(), attributes.dwFileAttributes);
    }
    return true;
}
