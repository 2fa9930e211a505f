#include "registry_profile.h"

#include "ScopedHandle.h"

#include <vector>

namespace {

// The profile functions return size - 1 when the text did not fit; start
// with the customary buffer and grow until it does.
constexpr DWORD INITIAL_PROFILE_BUFFER = 2048;
constexpr UINT SETTINGS_CODE_PAGE = 1251;
constexpr unsigned FIRST_HIGH_BYTE = 0x80;
constexpr wchar_t TEMPORARY_SUFFIX[] = L".new";

// The upper half of code page 1251, taken from the system once: the table
// makes conversion exact and independent of the ANSI code page, and keeps it
// from costing a call per character.
struct TCodePage {
    wchar_t high[0x80] = {};
    bool ready = false;
};

TCodePage codePage;

const TCodePage& Table1251()
{
    if (!codePage.ready) {
        for (unsigned byte = FIRST_HIGH_BYTE; byte <= 0xFF; ++byte) {
            const char one = static_cast<char>(byte);
            wchar_t wide = 0;
            MultiByteToWideChar(SETTINGS_CODE_PAGE, 0, &one, 1, &wide, 1);
            codePage.high[byte - FIRST_HIGH_BYTE] = wide;
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

TWideString ReadValueText(HKEY key, const TWideString& name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size == 0) {
        return TWideString();
    }
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1);
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size)
        != ERROR_SUCCESS) {
        return TWideString();
    }
    // The terminator, when the value has one, is not part of the text;
    // zeros before it are kept.
    std::size_t count = size / sizeof(wchar_t);
    if (count > 0 && data[count - 1] == L'\0') {
        --count;
    }
    return TWideString(data.data(), count);
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

bool DeleteRegValue(HKEY root, const TWideString& path, const TWideString& name)
{
    TRegKey key;
    LONG result = RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, key.Receive());
    if (result == ERROR_SUCCESS) {
        result = RegDeleteValueW(key.Get(), name.c_str());
    }
    SetLastError(static_cast<DWORD>(result));
    return result == ERROR_SUCCESS;
}

bool WriteRegString(HKEY root, const TWideString& path, const TWideString& name, const TWideString& value)
{
    TRegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)))
        == ERROR_SUCCESS;
}

TWideString ReadRegString(HKEY root, const TWideString& path, const TWideString& name)
{
    TRegKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) {
        return TWideString();
    }
    return ReadValueText(key.Get(), name);
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

bool ReplaceFileBytes(const TWideString& path, const std::string& bytes)
{
    const TWideString temporary = path + TEMPORARY_SUFFIX;
    {
        TFileHandle file(
            CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file.Valid()
            || (!bytes.empty()
                && (!WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)
                    || written != bytes.size()))
            || !FlushFileBuffers(file.Get())) {
            file.Reset();
            DeleteFileW(temporary.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temporary.c_str());
        return false;
    }
    return true;
}
