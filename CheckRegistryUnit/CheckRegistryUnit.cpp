#include "CheckRegistryUnit.h"

#include "AllowedList.h"
#include "Decide.h"
#include "Elevation.h"
#include "MainState.h"
#include "Places.h"
#include "Removed.h"
#include "ScopedHandle.h"
#include "registry_profile.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace {

constexpr DWORD MAX_KEY_NAME = 256; // the longest key name, with its terminator

// A value that keeps growing between the size query and the read is given
// up on after this many attempts, so the walk cannot loop forever.
constexpr int MAX_READ_ATTEMPTS = 16;

constexpr DWORD SWITCH_SIZE = 12; // bytes in every switch Task Manager writes

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
            SetRegDataText(entry.type, buffers.data.data(), dataLength, entry.value);
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

TEntryText NewEntryText(const TKeyLocation& location, const TRegEntry& entry, const std::vector<TStartItem>& starts)
{
    return EntryText({location.keyPath, L"\\", entry.name, L"=", entry.value}, starts);
}

TEntryText EntryPath(const TKeyLocation& location, const TWideString& name)
{
    return EntryText({location.keyPath, L"\\", name});
}

// Recorded first: what cannot be put back is not removed. The key is opened
// for writing before that, so that no record tells of a removal that could
// not happen. On failure the Win32 error is left in GetLastError():
// ERROR_ACCESS_DENIED when the key may not be written.
bool RemoveRecordedValue(HKEY key, const TKeyLocation& location, const TWideString& name, TRecordMark& mark, TRegData& value)
{
    TRegKey writable;
    const LONG opened = RegOpenKeyExW(key, L"", 0, KEY_SET_VALUE, writable.Receive());
    SetLastError(static_cast<DWORD>(opened));
    return opened == ERROR_SUCCESS && RecordRemovedValue(key, location.keyPath, name, &mark, &value)
        && RemoveEntryValue(writable.Get(), location, name);
}

// How the value, as it was recorded, is put back.
TUndo ValueUndo(const TKeyLocation& location, const TWideString& name, const TRecordMark& mark, const TRegData& value)
{
    TUndo undo;
    undo.kind = TUndoKind::Value;
    undo.place = RecordPlace(mark);
    undo.where = location.keyPath;
    undo.item = name;
    undo.view = location.view;
    undo.data = value;
    return undo;
}

// The record is kept here, with the user's rights, before the helper acts;
// it names the command the user was shown.
void OfferValueToAdministrator(TUser& user, HKEY key, const TRegEntry& entry, const TKeyLocation& location)
{
    TRecordMark mark;
    TRegData value;
    OfferElevatedRemoval(
        user, EntryPath(location, entry.name), MSG_CANNOT_DELETE_KEY,
        [&](TWideString& removalSwitch) {
            TWideString hash;
            if (!TextHash(entry.value, hash) || !RecordRemovedValue(key, location.keyPath, entry.name, &mark, &value)) {
                return false;
            }
            user.NoteUndo(ValueUndo(location, entry.name, mark, value));
            removalSwitch = RemovalSwitch(REMOVE_VALUE_SWITCH, {location.keyPath, entry.name, hash});
            return true;
        },
        [&] { TakeBackRecord(mark); });
}

void DeleteValue(TUser& user, HKEY key, const TRegEntry& entry, const TKeyLocation& location)
{
    TRecordMark mark;
    TRegData value;
    if (RemoveRecordedValue(key, location, entry.name, mark, value)) {
        user.NoteUndo(ValueUndo(location, entry.name, mark, value));
        return;
    }
    // Only the local machine's keys: see Elevation.h.
    if (GetLastError() == ERROR_ACCESS_DENIED && location.root == HKEY_LOCAL_MACHINE) {
        OfferValueToAdministrator(user, key, entry, location);
    } else {
        user.WarnFailed(FormatMsg(MSG_CANNOT_DELETE_KEY, {EntryPath(location, entry.name).shown}));
    }
}

bool IsEitherOwnCommand(const TWideString& command) { return IsOwnCommand(command) || IsOwnOnceCommand(command); }

void CheckEmptyValue(TUser& user, HKEY key, const TRegEntry& entry, const TKeyLocation& location)
{
    // Named as the place lists its entries: a subkey's value of a place with
    // one section by the subkey, so that a removal from the window names it alone.
    const TWideString& name = location.entryName.empty() ? entry.name : location.entryName;
    const bool remove = user.AskDeleteEmpty({location.section, name, entry.value}, EntryPath(location, entry.name));
    if (RunAborted()) {
        return;
    }
    const THistoryEvent event{THistoryKind::Kept, location.section, name, entry.value, TWideString()};
    if (remove) {
        RemoveAndRecord(user, event, [&] { DeleteValue(user, key, entry, location); });
    } else {
        user.Record(event);
    }
}

// The listed command, if any, stays in the list as it was.
void KeepListed(TWideString& records, const TWideString& name, const std::optional<TWideString>& listed)
{
    if (listed) {
        AppendRecord(records, name, *listed);
    }
}

// Only a text can be empty: a number or binary data that starts with a zero
// byte still holds something.
bool IsEmptyText(const TRegEntry& entry)
{
    return !entry.name.empty() && entry.value.empty() && (entry.type == REG_SZ || entry.type == REG_EXPAND_SZ);
}

} // namespace

bool CheckRegistryValue(TUser& user, TRecords& walk, HKEY key, const TRegEntry& entry, const TKeyLocation& location)
{
    const TWideString& value = entry.value;
    // Windows' own value is no entry: not asked about, not recorded.
    if (IsWindowsValue(location, entry.name, entry.type, value)) {
        return false;
    }
    const TWideString& name = location.entryName.empty() ? entry.name : location.entryName;
    if (TakeIntoBaseline(user, walk, name, value)) {
        return false;
    }
    if (IsEmptyText(entry)) {
        CheckEmptyValue(user, key, entry, location);
        return true;
    }
    const std::optional<TWideString> listed = LookupAllowed(location.section, name);
    const auto text = [&] { return NewEntryText(location, entry, EntryStarts(location, entry.name, value)); };
    const bool ownValue = IsEitherOwnCommand(value);
    // A switch of the startup mode turns one own command into the other. A
    // foreign command under a listed own one is a change like any other.
    if (((!listed && name == RUN_VALUE_NAME) || (listed && IsEitherOwnCommand(*listed))) && ownValue
        && PassesSilently(user, location.section, name, value, TEntryState::Allowed, text)) {
        AppendRecord(walk.records, name, value);
        return false;
    }
    if (listed == value && PassesSilently(user, location.section, name, value, TEntryState::Allowed, text)) {
        AppendRecord(walk.records, name, value);
        return false;
    }
    // Windows will not start it: nothing to ask until it is switched on again.
    if (IsSwitchedOff(location.root, location.switchKey, entry.name)
        && PassesSilently(user, location.section, name, value, TEntryState::SwitchedOff, text)) {
        KeepListed(walk.records, name, listed);
        return false;
    }
    const std::vector<TStartItem> starts = EntryStarts(location, entry.name, value);
    DecideEntry(user, walk.records, location.section, name, value, listed, NewEntryText(location, entry, starts),
                EntryText({name, L"=", value}, starts),
                [&] { DeleteValue(user, key, entry, location); });
    return true;
}

namespace {

// A place whose entries are named values: each is read by its name.
void CheckNamedValues(TUser& user, HKEY key, const TKeyLocation& location, TRecords& walk)
{
    TRegEntry entry;
    for (const TNamedValue& named : location.place->names) {
        if (named.name == nullptr) {
            continue;
        }
        if (!ReadEntry(key, named.name, entry)) {
            // There, but not to be read: nothing is decided about it.
            if (GetLastError() != ERROR_FILE_NOT_FOUND) {
                KeepUnreadable(user, walk, location.section, location.entryName.empty() ? named.name : location.entryName);
            }
            continue;
        }
        CheckRegistryValue(user, walk, key, entry, location);
        if (RunAborted()) {
            return;
        }
    }
}

// A place whose every value is an entry; Info measures the key.
void CheckEveryValue(TUser& user, HKEY key, const TKeyLocation& location, TKeyInfo info, TRecords& walk)
{
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
        const bool asked = CheckRegistryValue(user, walk, key, entry, location);
        if (RunAborted()) {
            return;
        }
        // The key can only have changed while a box was open (our deletions
        // happen then too). Measuring it costs a pass over all its values, so
        // it is not measured again after a value that passed silently.
        if (!asked) {
            ++index;
            continue;
        }
        askedNames.insert(UpperCase(entry.name));
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
}

// The entries of one key, its section saved by the caller; false when the
// key's values cannot be counted (the key is then left as it is, its
// section too).
bool CheckValues(TUser& user, HKEY key, const TKeyLocation& location, TRecords& walk)
{
    // Named values are read by their names: the key need not be measured.
    if (location.place->names[0].name != nullptr) {
        CheckNamedValues(user, key, location, walk);
        return true;
    }
    TKeyInfo info;
    if (!QueryKeyInfo(key, info)) {
        return false;
    }
    CheckEveryValue(user, key, location, info, walk);
    return true;
}

TRecords StartRecords(const TKeyLocation& location) { return StartRecords(location.section, location.place->baseline); }

void SaveRecords(TUser& user, const TRecords& walk, const TKeyLocation& location)
{
    SaveRecords(user, walk, location.section, location.place->baseline);
}

} // namespace

void CheckRegistryKey(TUser& user, HKEY key, const TKeyLocation& location)
{
    TRecords walk = StartRecords(location);
    if (CheckValues(user, key, location, walk) && !RunAborted()) {
        SaveRecords(user, walk, location);
    }
}

namespace {

using TRtlGetVersion = LONG(NTAPI*)(OSVERSIONINFOW*);

// -1 until asked; then whether this Windows honours Task Manager's switches.
int honoursSwitches = -1;

// Windows 8 (6.2) brought the switches; Vista and 7 start a value whatever
// a switch says. The version Windows really is: GetVersionEx answers what
// the program's manifest and the compatibility shims say.
bool WindowsHonoursSwitches()
{
    if (honoursSwitches < 0) {
        OSVERSIONINFOW version = {};
        version.dwOSVersionInfoSize = sizeof(version);
        const auto getVersion = ProcAddress<TRtlGetVersion>(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
        honoursSwitches = getVersion != nullptr && getVersion(&version) >= 0
            && (version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 2));
    }
    return honoursSwitches == 1;
}

} // namespace

// Task Manager's switch is a REG_BINARY value named as the entry. Microsoft
// documents none of it; the forms seen in practice are 12 bytes: a first
// byte of 02 or 06 when on, 03 or 07 when switched off, the bytes after it
// zero when on and holding the time of the switch when off. Only that off
// form counts: any other value, like a missing one, leaves the entry on, so
// nothing malformed can keep an entry from being asked about.
bool IsSwitchedOff(HKEY root, const TWideString& switchKey, const TWideString& name)
{
    if (switchKey.empty() || !WindowsHonoursSwitches()) {
        return false;
    }
    TRegKey key;
    TRegData value;
    if (RegOpenKeyExW(root, switchKey.c_str(), 0, KEY_QUERY_VALUE | NativeView(OnWindows64()), key.Receive())
            != ERROR_SUCCESS
        || !ReadRegValue(key.Get(), name, value) || value.type != REG_BINARY || value.bytes.size() != SWITCH_SIZE) {
        return false;
    }
    return (value.bytes[0] & 1) != 0 && std::any_of(value.bytes.begin() + 1, value.bytes.end(), [](char b) { return b != 0; });
}

namespace {

// Each subkey one level down: a key of its own with a section of its own,
// or, where the place has one section, all of them into it.
void CheckSubkeys(TUser& user, HKEY key, const TKeyLocation& location)
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
    TRecords walk = location.place->oneSection ? StartRecords(location) : TRecords();
    for (const TWideString& subkey : names) {
        TRegKey sub;
        if (RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ | location.view, sub.Receive()) != ERROR_SUCCESS) {
            continue;
        }
        if (location.place->oneSection) {
            CheckValues(user, sub.Get(), SubkeyLocation(location, subkey), walk);
        } else {
            CheckRegistryKey(user, sub.Get(), SubkeyLocation(location, subkey));
        }
        if (RunAborted()) {
            return;
        }
    }
    if (location.place->oneSection) {
        SaveRecords(user, walk, location);
    }
}

// A place that starts from a baseline takes it at its first check even
// when its key is missing: what appears there later is new, not taken.
void TakeEmptyBaseline(TUser& user, const TKeyLocation& location)
{
    const TRecords walk = StartRecords(location);
    if (walk.baseline) {
        SaveRecords(user, walk, location);
    }
}

} // namespace

bool ReadEntry(HKEY key, const TWideString& name, TRegEntry& entry)
{
    TRegData value;
    if (!ReadRegValue(key, name, value)) {
        return false;
    }
    entry.name = name;
    entry.type = value.type;
    entry.value = RegDataText(value);
    return true;
}

void CheckRegistry(TUser& user)
{
    for (const TKeyLocation& location : KeyLocations(OnWindows64())) {
        TRegKey key;
        const LONG opened = RegOpenKeyExW(location.root, location.path.c_str(), 0, KEY_READ | location.view, key.Receive());
        if (opened == ERROR_FILE_NOT_FOUND) {
            TakeEmptyBaseline(user, location);
        }
        if (opened != ERROR_SUCCESS) {
            continue;
        }
        if (location.levels != TLevels::Subkeys) {
            CheckRegistryKey(user, key.Get(), location);
        }
        if (!RunAborted() && location.levels != TLevels::Key) {
            CheckSubkeys(user, key.Get(), location);
        }
        if (RunAborted()) {
            return;
        }
    }
}

