#include "CheckServicesUnit.h"

#include "AllowedList.h"
#include "Decide.h"
#include "Elevation.h"
#include "MainState.h"
#include "Removed.h"
#include "ScopedHandle.h"

#include <cwchar>
#include <vector>

namespace {

constexpr DWORD MAX_KEY_NAME = 256; // the longest key name, with its terminator
constexpr wchar_t START_VALUE[] = L"Start";
constexpr wchar_t DLL_SEPARATOR[] = L"; ServiceDll=";
constexpr wchar_t DRIVERS_FOLDER[] = L"System32\\drivers\\";
constexpr wchar_t DRIVER_EXTENSION[] = L".sys";
// Boot, system and automatic start; 3 is on demand, 4 disabled.
constexpr DWORD LAST_SELF_START = SERVICE_AUTO_START;
constexpr DWORD SERVICE_KINDS = SERVICE_WIN32 | SERVICE_DRIVER;

// Start and Type as the service manager reads them: into a DWORD, whatever
// the value's type, so any four bytes are a number. A value of another size
// leaves it unclear what Windows makes of it: such a service is asked about.
enum class TNumber { Missing, Read, Unclear, Unreadable };

TNumber ReadNumber(HKEY key, const wchar_t* name, DWORD& number)
{
    TRegData value;
    if (!ReadRegValue(key, name, value)) {
        return GetLastError() == ERROR_FILE_NOT_FOUND ? TNumber::Missing : TNumber::Unreadable;
    }
    if (value.bytes.size() != sizeof(DWORD)) {
        return TNumber::Unclear;
    }
    number = *reinterpret_cast<const DWORD*>(value.bytes.data());
    return TNumber::Read;
}

// Read as the registry checker reads a value; empty when there is none.
TWideString ReadText(HKEY key, const wchar_t* name)
{
    TRegData value;
    return ReadRegValue(key, name, value) ? RegDataText(value) : TWideString();
}

TWideString ServicePath(const TWideString& name) { return SERVICES_SECTION + (L"\\" + name); }

// A driver's image path is a file, named as the kernel names it: under
// \SystemRoot\, through \??\, or relative to the Windows folder.
TWideString DriverFile(const TWideString& imagePath)
{
    constexpr wchar_t SYSTEM_ROOT[] = L"\\SystemRoot\\";
    constexpr wchar_t NT_PREFIX[] = L"\\??\\";
    if (StartsWithPath(imagePath, SYSTEM_ROOT)) {
        return SystemFolder(true) + L"\\" + imagePath.substr(wcslen(SYSTEM_ROOT));
    }
    if (StartsWithPath(imagePath, NT_PREFIX)) {
        return imagePath.substr(wcslen(NT_PREFIX));
    }
    return imagePath.size() > 1 && imagePath[1] == L':' ? imagePath : SystemFolder(true) + L"\\" + imagePath;
}

// What the service makes Windows start: its program and its DLL, or the
// driver's file.
std::vector<TStartItem> ServiceStarts(const TService& service)
{
    std::vector<TStartItem> starts;
    if (service.driver) {
        starts.push_back({TStartKind::Library, DriverFile(service.imagePath)});
    } else if (!service.imagePath.empty()) {
        starts.push_back({TStartKind::CommandLine, service.imagePath});
    }
    if (!service.dll.empty()) {
        starts.push_back({TStartKind::Library, service.dll});
    }
    return starts;
}

// The service manager's handle of the service, open to change its start
// type; the Win32 error is left in GetLastError() when it cannot be had.
struct TServiceAccess {
    TServiceHandle manager;
    TServiceHandle service;

    bool Open(const TWideString& name)
    {
        manager.Reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        service.Reset(manager.Valid() ? OpenServiceW(manager.Get(), name.c_str(), SERVICE_CHANGE_CONFIG) : nullptr);
        return service.Valid();
    }
};

TWideString ServiceKey(const TWideString& name) { return SERVICES_KEY + (L"\\" + name); }

// The record keeps every value of the service's key as it was: the manager
// writes its whole configuration back when it changes the start type
// (Wine's turns the image path into REG_SZ, drops Description, adds
// PreshutdownTimeout), and regedit is to put all of it back. Undo gets the
// Start value as it was, which putting the removal back writes again.
bool RecordStart(const TWideString& name, TRecordMark& mark, TUndo& undo)
{
    TRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServiceKey(name).c_str(), 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS
        || !ReadRegValue(key.Get(), START_VALUE, undo.data) || !RecordRemovedValues(key.Get(), ServicePath(name), &mark)) {
        return false;
    }
    undo.kind = TUndoKind::Service;
    undo.place = RecordPlace(mark);
    undo.where = name;
    return true;
}

// What the manager added to the key beyond what the record holds is taken
// away again by the same import.
void RecordAddedValues(const TWideString& name, const std::vector<TWideString>& before)
{
    TRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServiceKey(name).c_str(), 0, KEY_QUERY_VALUE, key.Receive()) == ERROR_SUCCESS) {
        RecordAddedValues(key.Get(), ServicePath(name), before);
    }
}

std::vector<TWideString> ServiceValueNames(const TWideString& name)
{
    TRegKey key;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServiceKey(name).c_str(), 0, KEY_QUERY_VALUE, key.Receive());
    return key.Valid() ? ValueNames(key.Get()) : std::vector<TWideString>();
}

void OfferToAdministrator(TUser& user, const TService& service)
{
    TRecordMark mark;
    TUndo undo;
    OfferElevatedRemoval(
        user, EntryText({ServicePath(service.name)}), MSG_CANNOT_DISABLE_SERVICE,
        [&](TWideString& removalSwitch) {
            TWideString hash;
            if (!TextHash(service.command, hash) || !RecordStart(service.name, mark, undo)) {
                return false;
            }
            user.NoteUndo(undo);
            removalSwitch = RemovalSwitch(DISABLE_SERVICE_SWITCH, {service.name, hash});
            return true;
        },
        [&] { TakeBackRecord(mark); });
}

// Recorded first, and the record taken back when the service could not be disabled.
void Disable(TUser& user, const TService& service)
{
    TRecordMark mark;
    TUndo undo;
    const std::vector<TWideString> before = ServiceValueNames(service.name);
    if (RecordStart(service.name, mark, undo) && SetServiceStart(service.name, SERVICE_DISABLED)) {
        user.NoteUndo(undo);
        RecordAddedValues(service.name, before);
        return;
    }
    const DWORD error = GetLastError();
    TakeBackRecord(mark);
    if (error == ERROR_ACCESS_DENIED) {
        OfferToAdministrator(user, service);
        RecordAddedValues(service.name, before);
    } else {
        user.WarnFailed(FormatMsg(MSG_CANNOT_DISABLE_SERVICE, {EntryText({ServicePath(service.name)}).shown}));
    }
}

void CheckService(TUser& user, TWideString& records, const TService& service)
{
    const TWideString name = ServicePath(service.name);
    const std::optional<TWideString> listed = LookupAllowed(SERVICES_SECTION, name);
    const auto text = [&] {
        return EntryText({SERVICES_SECTION, L"\\", service.name, L"=", service.command}, ServiceStarts(service));
    };
    // Listed before its default path was shown: the same driver.
    if ((listed == service.command || (service.defaultPath && listed == TWideString()))
        && PassesSilently(user, SERVICES_SECTION, name, service.command, TEntryState::Allowed, text)) {
        AppendRecord(records, name, service.command);
        return;
    }
    const std::vector<TStartItem> starts = ServiceStarts(service);
    DecideEntry(user, records, SERVICES_SECTION, name, service.command, listed,
                EntryText({SERVICES_SECTION, L"\\", service.name, L"=", service.command}, starts),
                EntryText({name, L"=", service.command}, starts), [&] { Disable(user, service); });
}

std::vector<TWideString> SubkeyNames(HKEY key)
{
    std::vector<TWideString> names;
    wchar_t name[MAX_KEY_NAME];
    for (DWORD index = 0;; ++index) {
        DWORD length = MAX_KEY_NAME;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return names;
        }
        names.push_back(TWideString(name, length));
    }
}

} // namespace

TRead ReadService(HKEY services, const TWideString& name, TService& service)
{
    TRegKey key;
    const LONG opened = RegOpenKeyExW(services, name.c_str(), 0, KEY_QUERY_VALUE, key.Receive());
    if (opened != ERROR_SUCCESS) {
        return opened == ERROR_FILE_NOT_FOUND ? TRead::NoEntry : TRead::Unreadable;
    }
    // The start type first: most services start on demand, and their type need not be read.
    DWORD start = 0;
    DWORD type = 0;
    const TNumber startRead = ReadNumber(key.Get(), START_VALUE, start);
    if (startRead == TNumber::Read && start > LAST_SELF_START) {
        return TRead::NoEntry;
    }
    const TNumber typeRead = startRead == TNumber::Missing ? TNumber::Missing : ReadNumber(key.Get(), L"Type", type);
    if (startRead == TNumber::Unreadable || typeRead == TNumber::Unreadable) {
        return TRead::Unreadable;
    }
    if (startRead == TNumber::Missing || typeRead == TNumber::Missing
        || (typeRead == TNumber::Read && (type & SERVICE_KINDS) == 0)) {
        return TRead::NoEntry;
    }
    service.name = name;
    service.imagePath = ReadText(key.Get(), L"ImagePath");
    // Without an image path Windows loads a driver from its own folder.
    service.driver = typeRead == TNumber::Read && (type & SERVICE_DRIVER) != 0;
    service.defaultPath = service.imagePath.empty() && service.driver;
    if (service.defaultPath) {
        service.imagePath = DRIVERS_FOLDER + name + DRIVER_EXTENSION;
    }
    service.command = service.imagePath;
    service.dll.clear();
    TRegKey parameters;
    if (RegOpenKeyExW(key.Get(), L"Parameters", 0, KEY_QUERY_VALUE, parameters.Receive()) == ERROR_SUCCESS) {
        service.dll = ReadText(parameters.Get(), L"ServiceDll");
        service.command += service.dll.empty() ? TWideString() : DLL_SEPARATOR + service.dll;
    }
    return TRead::Entry;
}

void CheckServices(TUser& user)
{
    TRegKey services;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, SERVICES_KEY, 0, KEY_READ, services.Receive());
    // A place without its key has its baseline all the same: what appears
    // there later is new.
    if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) {
        return;
    }
    TRecords walk = StartRecords(SERVICES_SECTION, TBaselineKind::Services);
    TService service;
    for (const TWideString& name : services.Valid() ? SubkeyNames(services.Get()) : std::vector<TWideString>()) {
        const TRead read = ReadService(services.Get(), name, service);
        if (read == TRead::Unreadable) {
            KeepUnreadable(user, walk, SERVICES_SECTION, ServicePath(name));
        }
        if (read != TRead::Entry || TakeIntoBaseline(user, walk, ServicePath(name), service.command)) {
            continue;
        }
        CheckService(user, walk.records, service);
        if (RunAborted()) {
            return;
        }
    }
    SaveRecords(user, walk, SERVICES_SECTION, TBaselineKind::Services);
}

bool SetServiceStart(const TWideString& name, DWORD start)
{
    TServiceAccess access;
    if (access.Open(name)) {
        return ChangeServiceConfigW(access.service.Get(), SERVICE_NO_CHANGE, start, SERVICE_NO_CHANGE, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)
            != FALSE;
    }
    if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
        return false;
    }
    // The manager does not know it yet: it starts it at the next start of
    // Windows, from the key.
    return SetServiceKeyStart(name, {REG_DWORD, std::string(reinterpret_cast<const char*>(&start), sizeof(start))});
}

bool SetServiceKeyStart(const TWideString& name, const TRegData& start)
{
    TRegKey key;
    const LONG opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServiceKey(name).c_str(), 0, KEY_SET_VALUE, key.Receive());
    SetLastError(static_cast<DWORD>(opened));
    return opened == ERROR_SUCCESS && WriteRegValue(key.Get(), START_VALUE, start);
}

TPutBack PutBackServiceStart(const TWideString& name, const TRegData& start)
{
    TRegKey key;
    TRegData now;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServiceKey(name).c_str(), 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS
        || !ReadRegValue(key.Get(), START_VALUE, now)) {
        return TPutBack::Failed;
    }
    if (now.type == start.type && now.bytes == start.bytes) {
        return TPutBack::Done;
    }
    // A start type set since the removal is someone's choice: left as it is.
    DWORD number = 0;
    if (ReadNumber(key.Get(), START_VALUE, number) != TNumber::Read || number != SERVICE_DISABLED) {
        return TPutBack::Taken;
    }
    const bool manager = start.type == REG_DWORD && start.bytes.size() == sizeof(DWORD);
    return (manager ? SetServiceStart(name, *reinterpret_cast<const DWORD*>(start.bytes.data())) : SetServiceKeyStart(name, start))
        ? TPutBack::Done
        : TPutBack::Failed;
}
