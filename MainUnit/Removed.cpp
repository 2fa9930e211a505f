#include "Removed.h"

#include "MainState.h"
#include "ScopedHandle.h"

#include <vector>

namespace {

constexpr char REMOVED_FOLDER[] = "Removed";
constexpr char REG_FILE[] = "removed.reg";
constexpr char REG_HEADER[] = "REGEDIT4\r\n";

std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + '"';
}

std::string Hex(const std::string& data)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : data) {
        const unsigned char byte = static_cast<unsigned char>(c);
        hex += hex.empty() ? "" : ",";
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0F];
    }
    return hex;
}

// A quoted string ends at the terminator and cannot hold a line break.
bool FitsQuoted(const std::string& data)
{
    return !data.empty() && data.back() == '\0'
        && data.find_first_of(std::string("\r\n\0", 3)) == data.size() - 1;
}

bool HasControl(const std::string& text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return true;
        }
    }
    return false;
}

// Text on a comment line: control characters shown as "?".
std::string Printable(std::string text)
{
    for (char& c : text) {
        c = HasControl(std::string(1, c)) ? '?' : c;
    }
    return text;
}

bool AppendToRegFile(const std::string& record)
{
    if (!MakeRemovedFolder()) {
        return false;
    }
    const std::string path = RemovedFolder() + "\\" + REG_FILE;
    TFileHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file.Valid() || !GetFileSizeEx(file.Get(), &size)) {
        return false;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[64];
    wsprintfA(stamp, "; %04u-%02u-%02u %02u:%02u:%02u\r\n", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
              now.wSecond);
    const std::string text = (size.QuadPart == 0 ? REG_HEADER : "") + std::string("\r\n") + stamp + record;
    DWORD written = 0;
    return WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)
        && written == text.size();
}

// The REGEDIT4 text of one value: "name"=data, the unnamed value as @.
std::string RegFileLine(const std::string& name, DWORD type, const std::string& data)
{
    const std::string head = (name.empty() ? std::string("@") : Quoted(name)) + "=";
    if (type == REG_SZ && FitsQuoted(data)) {
        return head + Quoted(data.substr(0, data.size() - 1));
    }
    if (type == REG_DWORD && data.size() == sizeof(DWORD)) {
        char number[16];
        wsprintfA(number, "dword:%08lx", static_cast<unsigned long>(*reinterpret_cast<const DWORD*>(data.data())));
        return head + number;
    }
    if (type == REG_BINARY) {
        return head + "hex:" + Hex(data);
    }
    char prefix[24];
    wsprintfA(prefix, "hex(%lx):", static_cast<unsigned long>(type));
    return head + prefix + Hex(data);
}

} // namespace

std::string RegFileRecord(const std::string& keyPath, const std::string& name, DWORD type, const std::string& data)
{
    // A line break in a key or value name would end the line early, and what
    // follows would be imported as lines of their own: such a value is kept
    // as comments only, which regedit passes over.
    if (!HasControl(keyPath) && !HasControl(name)) {
        return "[" + keyPath + "]\r\n" + RegFileLine(name, type, data) + "\r\n";
    }
    char typeText[16];
    wsprintfA(typeText, "%lu", static_cast<unsigned long>(type));
    return "; " + std::string(MSG_RESTORE_BY_HAND) + "\r\n; key: " + Printable(keyPath) + "\r\n; key, hex: " + Hex(keyPath)
        + "\r\n; name, hex: " + Hex(name) + "\r\n; type: " + typeText + "\r\n; data, hex: " + Hex(data) + "\r\n";
}

std::string RemovedFolder()
{
    const std::string& settings = SettingsFilePath();
    return settings.substr(0, settings.rfind('\\') + 1) + REMOVED_FOLDER;
}

bool MakeRemovedFolder()
{
    const std::string folder = RemovedFolder();
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    return CreateDirectoryA(folder.c_str(), nullptr) != FALSE;
}

bool RecordRemovedValue(HKEY key, const std::string& keyPath, const std::string& name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<BYTE> data(size + 1);
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
        return false;
    }
    return AppendToRegFile(RegFileRecord(keyPath, name, type, std::string(reinterpret_cast<char*>(data.data()), size)));
}

bool RecordRemovedString(const std::string& keyPath, const std::string& name, const std::string& value)
{
    return AppendToRegFile(RegFileRecord(keyPath, name, REG_SZ, value + '\0'));
}

bool MoveToRemoved(const TWideString& path, const TWideString& name)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !MakeRemovedFolder()) {
        return false;
    }
    const TWideString folder = Widen(RemovedFolder()) + L"\\";
    const TWideString::size_type dot = name.rfind(L'.');
    const TWideString stem = dot == TWideString::npos ? name : name.substr(0, dot);
    const TWideString extension = dot == TWideString::npos ? TWideString() : name.substr(dot);
    TWideString target = folder + name;
    for (int number = 2; GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES; ++number) {
        wchar_t suffix[16];
        wsprintfW(suffix, L" (%d)", number);
        target = folder + stem + suffix + extension;
    }
    // Startup folders and the settings may lie on different volumes.
    return MoveFileExW(path.c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED) != FALSE;
}
