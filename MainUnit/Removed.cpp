#include "Removed.h"

#include "MainState.h"
#include "ScopedHandle.h"
#include "Texts.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr wchar_t REMOVED_FOLDER[] = L"Removed";
constexpr wchar_t REG_FILE[] = L"removed.reg";
constexpr wchar_t REG_HEADER[] = L"\xFEFFWindows Registry Editor Version 5.00\r\n";
constexpr char OLD_HEADER[] = "REGEDIT4";

TWideString Quoted(const TWideString& text)
{
    TWideString quoted = L"\"";
    for (const wchar_t c : text) {
        if (c == L'\\' || c == L'"') {
            quoted += L'\\';
        }
        quoted += c;
    }
    return quoted + L'"';
}

TWideString Hex(const std::string& data)
{
    TWideString hex;
    for (const char c : data) {
        hex += hex.empty() ? L"" : L",";
        AppendHex(hex, static_cast<unsigned char>(c), 2, true);
    }
    return hex;
}

bool HasControl(const TWideString& text)
{
    for (const wchar_t c : text) {
        if (IsControl(c)) {
            return true;
        }
    }
    return false;
}

// A quoted string ends at the terminator and cannot hold a line break.
bool FitsQuoted(const TWideString& text)
{
    return !text.empty() && text.back() == L'\0' && text.find_first_of(TWideString(L"\r\n\0", 3)) == text.size() - 1;
}

// The text of one value: "name"=data, the unnamed value as @.
TWideString RegFileLine(const TWideString& name, DWORD type, const std::string& data)
{
    const TWideString head = (name.empty() ? TWideString(L"@") : Quoted(name)) + L"=";
    const TWideString text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
    if (type == REG_SZ && data.size() % sizeof(wchar_t) == 0 && FitsQuoted(text)) {
        return head + Quoted(text.substr(0, text.size() - 1));
    }
    if (type == REG_DWORD && data.size() == sizeof(DWORD)) {
        wchar_t number[16];
        wsprintfW(number, L"dword:%08lx", static_cast<unsigned long>(*reinterpret_cast<const DWORD*>(data.data())));
        return head + number;
    }
    if (type == REG_BINARY) {
        return head + L"hex:" + Hex(data);
    }
    wchar_t prefix[24];
    wsprintfW(prefix, L"hex(%lx):", static_cast<unsigned long>(type));
    return head + prefix + Hex(data);
}

// The first name in the folder that is free: Name, or Name with " (2)",
// " (3)", ... before its extension.
TWideString FreeName(const TWideString& folder, const TWideString& name)
{
    const std::size_t dot = name.rfind(L'.');
    const TWideString stem = dot == TWideString::npos ? name : name.substr(0, dot);
    const TWideString extension = dot == TWideString::npos ? TWideString() : name.substr(dot);
    TWideString target = folder + name;
    for (int number = 2; GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES; ++number) {
        wchar_t suffix[16];
        wsprintfW(suffix, L" (%d)", number);
        target = folder + stem + suffix + extension;
    }
    return target;
}

// A REGEDIT4 file of an earlier version cannot take UTF-16 records: it is
// kept under a free name beside the new file.
bool SetAsideOldRegFile(const TWideString& path)
{
    char head[sizeof(OLD_HEADER) - 1] = {};
    DWORD read = 0;
    {
        TFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file.Valid() || !ReadFile(file.Get(), head, sizeof(head), &read, nullptr) || read != sizeof(head)
            || std::memcmp(head, OLD_HEADER, sizeof(head)) != 0) {
            return true;
        }
    }
    return MoveFileExW(path.c_str(), FreeName(RemovedFolder() + L"\\", REG_FILE).c_str(), 0) != FALSE;
}

bool AppendToRegFile(const TWideString& record, TRecordMark* mark)
{
    const TWideString path = RemovedFolder() + L"\\" + REG_FILE;
    if (!MakeRemovedFolder() || !SetAsideOldRegFile(path)) {
        return false;
    }
    TFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    LARGE_INTEGER size = {};
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &size)) {
        return false;
    }
    if (mark != nullptr) {
        *mark = {path, existed ? size.QuadPart : -1};
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t stamp[64];
    wsprintfW(stamp, L"; %04u-%02u-%02u %02u:%02u:%02u\r\n", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
              now.wSecond);
    const std::string text = Utf16Bytes((size.QuadPart == 0 ? REG_HEADER : L"") + TWideString(L"\r\n") + stamp + record);
    DWORD written = 0;
    return WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

} // namespace

TWideString RegFileRecord(const TWideString& keyPath, const TWideString& name, DWORD type, const std::string& data)
{
    // A line break in a key or value name would end the line early, and what
    // follows would be imported as lines of their own: such a value is kept
    // as comments only, which regedit passes over.
    if (!HasControl(keyPath) && !HasControl(name)) {
        return L"[" + keyPath + L"]\r\n" + RegFileLine(name, type, data) + L"\r\n";
    }
    wchar_t typeText[16];
    wsprintfW(typeText, L"%lu", static_cast<unsigned long>(type));
    return L"; " + TWideString(MSG_RESTORE_BY_HAND) + L"\r\n; key: " + Visible(keyPath) + L"\r\n; key, hex: "
        + Hex(Utf16Bytes(keyPath)) + L"\r\n; name, hex: " + Hex(Utf16Bytes(name)) + L"\r\n; type: " + typeText
        + L"\r\n; data, hex: " + Hex(data) + L"\r\n";
}

TWideString RemovedFolder() { return ParentPath(SettingsFilePath()) + L"\\" + REMOVED_FOLDER; }

bool MakeRemovedFolder()
{
    const TWideString folder = RemovedFolder();
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return CreateDirectoryW(folder.c_str(), nullptr) != FALSE;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        // The error CreateDirectory gives for a file in its place.
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    return true;
}

bool RecordRemovedValue(HKEY key, const TWideString& keyPath, const TWideString& name, TRecordMark* mark, TRegData* value)
{
    TRegData read;
    TRegData& kept = value != nullptr ? *value : read;
    return ReadRegValue(key, name, kept) && AppendToRegFile(RegFileRecord(keyPath, name, kept.type, kept.bytes), mark);
}

bool RecordRemovedValues(HKEY key, const TWideString& keyPath, TRecordMark* mark)
{
    TWideString record;
    TRegData value;
    for (const TWideString& name : ValueNames(key)) {
        if (!ReadRegValue(key, name, value)) {
            return false;
        }
        record += RegFileRecord(keyPath, name, value.type, value.bytes);
    }
    return AppendToRegFile(record, mark);
}

void RecordAddedValues(HKEY key, const TWideString& keyPath, const std::vector<TWideString>& before)
{
    TWideString record;
    for (const TWideString& name : ValueNames(key)) {
        bool known = false;
        for (const TWideString& old : before) {
            known = known || SamePath(old, name);
        }
        // A name regedit cannot read back cannot be deleted by it either.
        if (!known && !HasControl(keyPath) && !HasControl(name)) {
            record += L"[" + keyPath + L"]\r\n" + (name.empty() ? TWideString(L"@") : Quoted(name)) + L"=-\r\n";
        }
    }
    if (!record.empty()) {
        AppendToRegFile(record, nullptr);
    }
}

bool RecordRemovedString(const TWideString& keyPath, const TWideString& name, const TWideString& value, TRecordMark* mark)
{
    return AppendToRegFile(RegFileRecord(keyPath, name, REG_SZ, Utf16Bytes(value + L'\0')), mark);
}

TWideString RecordPlace(const TRecordMark& mark)
{
    const std::wstring offset = std::to_wstring(mark.size < 0 ? 0LL : mark.size);
    return REG_FILE + (L":" + TWideString(offset.begin(), offset.end()));
}

TWideString RecordPlace(const TWideString& copy) { return copy.substr(copy.rfind(L'\\') + 1); }

void TakeBackRecord(const TRecordMark& mark)
{
    if (mark.size < 0) {
        DeleteFileW(mark.path.c_str());
        return;
    }
    const TFileHandle file(CreateFileW(mark.path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    size.QuadPart = mark.size;
    if (file.Valid() && SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN)) {
        SetEndOfFile(file.Get());
    }
}

// A name in the folder, made when missing, that no file has yet: Name, or
// Name with " (2)", ...
bool FreeRemovedName(const TWideString& name, TWideString& free)
{
    if (!MakeRemovedFolder()) {
        return false;
    }
    free = FreeName(RemovedFolder() + L"\\", name);
    return true;
}

bool KeepRemovedFile(const TWideString& name, const std::string& bytes, TWideString& copy)
{
    return FreeRemovedName(name, copy) && WriteNewFile(copy, bytes);
}

bool CopyToRemoved(const TWideString& path, const TWideString& name, TWideString& copy)
{
    return FreeRemovedName(name, copy) && CopyFileW(path.c_str(), copy.c_str(), TRUE) != FALSE;
}

bool MoveToRemoved(const TWideString& path, const TWideString& name, TWideString* moved)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        // Not a lack of rights: no administrator could move it either.
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    TWideString target;
    // Startup folders and the settings may lie on different volumes.
    if (attributes == INVALID_FILE_ATTRIBUTES || !FreeRemovedName(name, target)
        || !MoveFileExW(path.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED)) {
        return false;
    }
    if (moved != nullptr) {
        *moved = target;
    }
    return true;
}

namespace {

// A file that is about to go (another program deleted it and still holds
// it open, as the scheduler's service does) is not there any more.
bool IsThere(const TWideString& path)
{
    const TFileHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file.Valid();
}

// The path as a Win32 path would spell each of its names.
TWideString SpelledPath(const TWideString& path)
{
    TWideString spelled;
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(L'\\', start), path.size());
        spelled += (start == 0 ? L"" : L"\\") + Win32Spelling(path.substr(start, end - start));
        start = end + 1;
    }
    return spelled;
}

} // namespace

void PrepareForRemoval(std::vector<TSeenFile>& seen, const TWideString& removed)
{
    seen.erase(std::remove_if(seen.begin(), seen.end(),
                              [](const TSeenFile& file) { return !IsThere(file.exact); }),
               seen.end());
    const TWideString spelled = SpelledPath(removed);
    for (TSeenFile& file : seen) {
        if (!file.copied && file.exact != removed && SamePath(SpelledPath(file.exact), spelled)) {
            file.copied = ReadFileBytes(file.exact, file.copy);
        }
    }
}

void PutBackVanished(TUser& user, const std::vector<TSeenFile>& seen, const TWideString& removed)
{
    for (const TSeenFile& file : seen) {
        if (file.exact == removed || IsThere(file.exact)) {
            continue;
        }
        const bool back = file.copied && WriteNewFile(file.exact, file.copy);
        user.Warn(FormatMsg(back ? MSG_PUT_BACK : MSG_NOT_PUT_BACK, {file.shown}));
    }
}
