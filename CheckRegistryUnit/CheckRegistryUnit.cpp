#include "CheckRegistryUnit.h"

#include "AllowedList.h"
#include "MainState.h"
#include "Removed.h"
#include "ScopedHandle.h"
#include "registry_profile.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

namespace {

constexpr wchar_t RUN_PARENT[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\";
// Where the native view shows the 32-bit view's keys; their sections and
// questions are named by it.
constexpr wchar_t WOW_PARENT[] = L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\";
constexpr wchar_t USER_ROOT[] = L"HKEY_CURRENT_USER\\";
constexpr wchar_t MACHINE_ROOT[] = L"HKEY_LOCAL_MACHINE\\";
constexpr wchar_t RUN_ONCE_EX[] = L"RunOnceEx";
const wchar_t* const USER_KEYS[] = {L"Run", L"RunOnce"};
const wchar_t* const MACHINE_KEYS[] = {L"Run", L"RunOnce", RUN_ONCE_EX, L"RunServices", L"RunServicesOnce"};
constexpr DWORD MAX_KEY_NAME = 256; // the longest key name, with its terminator

// A value that keeps growing between the size query and the read is given
// up on after this many attempts, so the walk cannot loop forever.
constexpr int MAX_READ_ATTEMPTS = 16;

struct TKeyInfo {
    DWORD count = 0;
    DWORD maxName = 0; // characters, without the terminator
    DWORD maxData = 0; // bytes
};


bool QueryKeyInfo(HKEY key, TKeyInfo& info)
{
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &info.count, &info.maxName,
                            &info.maxData, nullptr, nullptr)
        == ERROR_SUCCESS;
}

bool HoldsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// The data up to its first zero: UTF-16 for the text types, the bytes of
// any other type as code page 1251.
void SetValueText(DWORD type, const std::vector<BYTE>& data, DWORD size, TWideString& text)
{
    if (HoldsText(type)) {
        const wchar_t* units = reinterpret_cast<const wchar_t*>(data.data());
        text.assign(units, wcsnlen(units, size / sizeof(wchar_t)));
        return;
    }
    const char* bytes = reinterpret_cast<const char*>(data.data());
    text = Decode1251(bytes, strnlen(bytes, size));
}

// What one key's walk reads into, kept from value to value: a large key
// has many values, and each would otherwise allocate buffers of its own.
struct TValueBuffers {
    std::vector<wchar_t> name;
    std::vector<BYTE> data;
};

// Reads the value at Index. False when there is no value at Index any more.
bool ReadValueAt(HKEY key, DWORD index, TKeyInfo& info, TValueBuffers& buffers, TRegEntry& entry)
{
    DWORD nameSize = info.maxName + 1;
    DWORD dataSize = info.maxData;
    for (int attempt = 0; attempt < MAX_READ_ATTEMPTS; ++attempt) {
        buffers.name.resize(std::max<std::size_t>(buffers.name.size(), nameSize));
        // Never empty: a null data pointer would ask for the size alone.
        buffers.data.resize(std::max<std::size_t>(buffers.data.size(), dataSize + sizeof(wchar_t)));
        DWORD nameLength = nameSize;
        DWORD dataLength = dataSize;
        const LONG result = RegEnumValueW(key, index, buffers.name.data(), &nameLength, nullptr, &entry.type,
                                          buffers.data.data(), &dataLength);
        if (result == ERROR_SUCCESS) {
            entry.name.assign(buffers.name.data(), nameLength);
            SetValueText(entry.type, buffers.data, dataLength, entry.value);
            return true;
        }
        // The value grew since the key was measured: measure again, and at
        // least double the buffers in case the measure lags behind.
        if (result != ERROR_MORE_DATA || !QueryKeyInfo(key, info)) {
            return false;
        }
        nameSize = std::max(info.maxName + 1, nameSize * 2);
        dataSize = std::max(info.maxData, dataSize * 2 + 1);
    }
    return false;
}

TWideString EntryPath(const TRunLocation& location, const TWideString& name) { return location.keyPath + L"\\" + name; }

void DeleteValue(TUser& user, HKEY key, const TWideString& name, const TRunLocation& location)
{
    // Recorded first: what cannot be put back is not removed.
    if (!RecordRemovedValue(key, location.keyPath, name) || !DeleteRegValue(key, L"", name)) {
        user.Warn(FormatMsg(MSG_CANNOT_DELETE_KEY, {EntryPath(location, name)}));
    }
}

bool IsEitherOwnCommand(const TWideString& command) { return IsOwnCommand(command) || IsOwnOnceCommand(command); }

void CheckEmptyValue(TUser& user, HKEY key, const TWideString& name, const TRunLocation& location)
{
    if (user.AskDeleteEmpty(EntryPath(location, name)) && !RunAborted()) {
        DeleteValue(user, key, name, location);
    }
}

// Only a text can be empty: a number or binary data that starts with a zero
// byte still holds something.
bool IsEmptyText(const TRegEntry& entry)
{
    return !entry.name.empty() && entry.value.empty() && (entry.type == REG_SZ || entry.type == REG_EXPAND_SZ);
}

} // namespace

bool CheckRegistryValue(TUser& user, TWideString& records, HKEY key, const TRegEntry& entry,
                        const TRunLocation& location)
{
    const TWideString& name = entry.name;
    const TWideString& value = entry.value;
    if (IsEmptyText(entry)) {
        CheckEmptyValue(user, key, name, location);
        return true;
    }
    const std::optional<TWideString> listed = LookupAllowed(location.section, name);
    const bool ownValue = IsEitherOwnCommand(value);
    if (!listed && name == RUN_VALUE_NAME && ownValue) {
        AppendRecord(records, name, value);
        return false;
    }
    // A switch of the startup mode turns one own command into the other. A
    // foreign command under a listed own one is a change like any other.
    if (listed && IsEitherOwnCommand(*listed) && ownValue) {
        AppendRecord(records, name, value);
        return false;
    }
    if (listed == value) {
        AppendRecord(records, name, value);
        return false;
    }
    const bool changed = listed.has_value();
    const TWideString entryText = (changed ? name : EntryPath(location, name)) + L"=" + value;
    TChoice choice = ChoiceRemove;
    const bool ok = user.AskChoice(changed, entryText, choice);
    if (RunAborted()) {
        return true;
    }
    if (!ok) {
        if (changed) {
            AppendRecord(records, name, *listed);
        }
    } else if (choice == ChoiceRemove) {
        DeleteValue(user, key, name, location);
    } else {
        AppendRecord(records, name, value);
    }
    return true;
}

void CheckRegistryKey(TUser& user, HKEY key, const TRunLocation& location)
{
    TKeyInfo info;
    if (!QueryKeyInfo(key, info)) {
        return;
    }
    TWideString records;
    // The values that showed a box, upper-cased. Another program may add or
    // remove values while a question is open, which moves values already
    // decided under the index: one asked about is not asked again. One that
    // passed silently is simply decided again, with the same record; so the
    // names of a walk that shows no box are never kept, nor looked up.
    std::unordered_set<TWideString, TWideHash> askedNames;
    TValueBuffers buffers;
    TRegEntry entry;
    DWORD index = 0;
    while (index < info.count) {
        // A value that cannot be read any more means the key shrank under the walk.
        if (!ReadValueAt(key, index, info, buffers, entry)) {
            break;
        }
        if (!askedNames.empty() && askedNames.count(UpperCase(entry.name)) != 0) {
            ++index;
            continue;
        }
        const bool asked = CheckRegistryValue(user, records, key, entry, location);
        if (RunAborted()) {
            return;
        }
        if (asked) {
            askedNames.insert(UpperCase(entry.name));
        }
        // The key can only have changed while a box was open (our deletions
        // happen then too). Measuring it costs a pass over all its values, so
        // it is not measured again after a value that passed silently.
        if (!asked) {
            ++index;
            continue;
        }
        TKeyInfo fresh;
        if (!QueryKeyInfo(key, fresh)) {
            break;
        }
        // After a deletion the later values have moved down by one place.
        if (fresh.count >= info.count) {
            ++index;
        }
        info = fresh;
    }
    SaveAllowedSection(records, location.section);
}

bool IsWindows64(bool build64, bool wow64) { return build64 || wow64; }

bool OnWindows64()
{
    BOOL wow64 = FALSE;
    return IsWindows64(sizeof(void*) == 8, IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

std::vector<TRunLocation> RunLocations(bool windows64)
{
    std::vector<TRunLocation> locations;
    const auto add = [&](HKEY root, const wchar_t* parent, const wchar_t* key, REGSAM view) {
        const TWideString keyPath = (root == HKEY_CURRENT_USER ? USER_ROOT : MACHINE_ROOT) + (parent + TWideString(key));
        locations.push_back({root, RUN_PARENT + TWideString(key), keyPath, view, keyPath, key == RUN_ONCE_EX});
    };
    for (const wchar_t* key : USER_KEYS) {
        add(HKEY_CURRENT_USER, RUN_PARENT, key, 0);
    }
    // On 32-bit Windows the view flags mean nothing; they are left out there.
    for (const wchar_t* key : MACHINE_KEYS) {
        add(HKEY_LOCAL_MACHINE, RUN_PARENT, key, static_cast<REGSAM>(windows64 ? KEY_WOW64_64KEY : 0));
    }
    if (windows64) {
        for (const wchar_t* key : MACHINE_KEYS) {
            add(HKEY_LOCAL_MACHINE, WOW_PARENT, key, KEY_WOW64_32KEY);
        }
    }
    return locations;
}

namespace {

// Windows runs RunOnceEx from its numbered subkeys, one level down; each is
// checked as a key of its own, in a section named by its path.
void CheckSubkeys(TUser& user, HKEY key, const TRunLocation& location)
{
    std::vector<TWideString> names;
    wchar_t name[MAX_KEY_NAME];
    for (DWORD index = 0;; ++index) {
        DWORD length = MAX_KEY_NAME;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.push_back(TWideString(name, length));
    }
    for (const TWideString& subkey : names) {
        TRegKey sub;
        if (RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ | location.view, sub.Receive()) != ERROR_SUCCESS) {
            continue;
        }
        const TRunLocation inner = {location.root, location.path + L"\\" + subkey,
                                    SubkeySection(location.section, subkey), location.view,
                                    location.keyPath + L"\\" + subkey, false};
        CheckRegistryKey(user, sub.Get(), inner);
        if (RunAborted()) {
            return;
        }
    }
}

} // namespace

void CheckRegistry(TUser& user)
{
    for (const TRunLocation& location : RunLocations(OnWindows64())) {
        TRegKey key;
        if (RegOpenKeyExW(location.root, location.path.c_str(), 0, KEY_READ | location.view, key.Receive())
            != ERROR_SUCCESS) {
            continue;
        }
        CheckRegistryKey(user, key.Get(), location);
        if (!RunAborted() && location.subkeys) {
            CheckSubkeys(user, key.Get(), location);
        }
        if (RunAborted()) {
            return;
        }
    }
}
