#include "registry_profile.h"

#include "ScopedHandle.h"

#include <vector>

namespace {

// The profile functions return size - 2 (lists) or size - 1 (strings) when the
// text did not fit; start with the customary buffer and grow until it does.
constexpr DWORD INITIAL_PROFILE_BUFFER = 2048;

template <typename Read>
std::string ReadGrowing(Read read, DWORD slack)
{
    std::vector<char> buffer(INITIAL_PROFILE_BUFFER);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD count = read(buffer.data(), size);
        if (count + slack < size) {
            return std::string(buffer.data(), count);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string ReadValueText(HKEY key, const std::string& name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS
        || size == 0) {
        return std::string();
    }
    std::vector<BYTE> data(size);
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size)
            != ERROR_SUCCESS
        || size == 0) {
        return std::string();
    }
    // The last byte is the terminator; zero bytes before it are kept.
    return std::string(reinterpret_cast<const char*>(data.data()), size - 1);
}

} // namespace

TWideString Widen(const std::string& text)
{
    const int size = static_cast<int>(text.size());
    const int count = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (count <= 0) {
        return TWideString();
    }
    TWideString wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, &wide[0], count);
    return wide;
}

bool DeleteRegValue(HKEY root, const std::string& path, const std::string& name)
{
    TRegKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_WRITE, key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    return RegDeleteValueA(key.Get(), name.c_str()) == ERROR_SUCCESS;
}

bool WriteRegString(HKEY root, const std::string& path, const std::string& name,
                    const std::string& value)
{
    TRegKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_WRITE, key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExA(key.Get(), name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

std::string ReadRegString(HKEY root, const std::string& path, const std::string& name)
{
    TRegKey key;
    if (RegOpenKeyA(root, path.c_str(), key.Receive()) != ERROR_SUCCESS) {
        return std::string();
    }
    // For an empty path RegOpenKeyA hands back Root itself, which stays the
    // caller's to close.
    if (key.Get() == root) {
        key.Release();
        return ReadValueText(root, name);
    }
    return ReadValueText(key.Get(), name);
}

std::string ReadINIString(const std::string& fileName, const std::string& section,
                          const std::string& key, const std::string& defaultValue)
{
    // A value cut at the buffer's end and written back would damage the file,
    // so the whole value is read however long it is.
    return ReadGrowing(
        [&](char* buffer, DWORD size) {
            return GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(),
                                            buffer, size, fileName.c_str());
        },
        1);
}

bool WriteINIString(const std::string& fileName, const std::string& section,
                    const std::string& key, const std::string& value)
{
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                      fileName.c_str())
        != FALSE;
}

bool DeleteINIKey(const std::string& fileName, const std::string& section, const std::string& key)
{
    return WritePrivateProfileStringA(section.c_str(), key.c_str(), nullptr, fileName.c_str()) != FALSE;
}

bool EraseINISection(const std::string& fileName, const std::string& section)
{
    return WritePrivateProfileSectionA(section.c_str(), nullptr, fileName.c_str()) != FALSE;
}

bool WriteINISection(const std::string& fileName, const std::string& section,
                     const std::string& lines)
{
    // The list ends with one more zero byte after the last line's own.
    const std::string list = lines + '\0';
    return WritePrivateProfileSectionA(section.c_str(), list.c_str(), fileName.c_str()) != FALSE;
}

std::string ReadINISection(const std::string& fileName, const std::string& section)
{
    return ReadGrowing(
        [&](char* buffer, DWORD size) {
            return GetPrivateProfileSectionA(section.c_str(), buffer, size, fileName.c_str());
        },
        2);
}
