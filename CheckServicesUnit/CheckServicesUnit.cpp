#include "CheckServicesUnit.h"

#include "AllowedList.h"
#include "Decide.h"
#include "Elevation.h"
#include "MainState.h"
#include "Removed.h"
#include "ScopedHandle.h"

#include <vector>

namespace {

constexpr DWORD MAX_KEY_NAME = 256; // the longest key name, with its terminator
constexpr wchar_t START_VALUE[] = L"Start";
constexpr wchar_t DLL_SEPARATOR[] = L"; ServiceDll=";
// Boot, system and automatic start; 3 is on demand, 4 disabled.
constexpr DWORD LAST_SELF_START = SERVICE_AUTO_START;
constexpr DWORD SERVICE_KINDS = SERVICE_WIN32 | SERVICE_DRIVER;

bool ReadNumber(HKEY key, const wchar_t* name, DWORD& number)
{
    TRegData value;
    if (!ReadRegValue(key, name, value) || value.type != REG_DWORD || value.bytes.size() != sizeof(DWORD)) {
        return false;
    }
    number = *reinterpret_cast<const DWORD*>(value.bytes.data());
    return true;
}

// Read as the registry checker reads a value; empty when there is none.
TWideString ReadText(HKEY key, const wchar_t* name)
{
    TRegData value;
    return ReadRegValue(key, name, value) ? RegDataText(value) : TWideString();
}

TWideString ServicePath(const TWideString& name) { return SERVICES_SECTION + (L"\\" + name); }

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

// The record keeps the old start type, so that regedit makes it start again.
bool RecordStart(const TWideString& name, TRecordMark& mark)
{
    TRegKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, (SERVICES_KEY + (L"\\" + name)).c_str(), 0, KEY_QUERY_VALUE, key.Receive())
            == ERROR_SUCCESS
        && RecordRemovedValue(key.Get(), ServicePath(name), START_VALUE, &mark);
}

void OfferToAdministrator(TUser& user, const TService& service)
{
    TRecordMark mark;
    OfferElevatedRemoval(
        user, EntryText({ServicePath(service.name)}), MSG_CANNOT_DISABLE_SERVICE,
        [&](TWideString& removalSwitch) {
            TWideString hash;
            if (!TextHash(service.command, hash) || !RecordStart(service.name, mark)) {
                return false;
            }
            removalSwitch = RemovalSwitch(DISABLE_SERVICE_SWITCH, {service.name, hash});
            return true;
        },
        [&] { TakeBackRecord(mark); });
}

// Recorded first, and the record taken back when the service could not be disabled.
void Disable(TUser& user, const TService& service)
{
    TRecordMark mark;
    if (RecordStart(service.name, mark) && DisableService(service.name)) {
        return;
    }
    const DWORD error = GetLastError();
    TakeBackRecord(mark);
    if (error == ERROR_ACCESS_DENIED) {
        OfferToAdministrator(user, service);
    } else {
        user.Warn(FormatMsg(MSG_CANNOT_DISABLE_SERVICE, {EntryText({ServicePath(service.name)}).shown}));
    }
}

void CheckService(TUser& user, TWideString& records, const TService& service)
{
    const TWideString name = ServicePath(service.name);
    const std::optional<TWideString> listed = LookupAllowed(SERVICES_SECTION, name);
    if (listed == service.command) {
        AppendRecord(records, name, service.command);
        return;
    }
    DecideEntry(user, records, name, service.command, listed, EntryText({SERVICES_SECTION, L"\\", service.name, L"=", service.command}),
                EntryText({name, L"=", service.command}), [&] { Disable(user, service); });
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

bool ReadService(HKEY services, const TWideString& name, TService& service)
{
    TRegKey key;
    DWORD type = 0;
    DWORD start = 0;
    // The start type first: most services start on demand, and their type need not be read.
    if (RegOpenKeyExW(services, name.c_str(), 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS
        || !ReadNumber(key.Get(), START_VALUE, start) || start > LAST_SELF_START || !ReadNumber(key.Get(), L"Type", type)
        || (type & SERVICE_KINDS) == 0) {
        return false;
    }
    service.name = name;
    service.command = ReadText(key.Get(), L"ImagePath");
    TRegKey parameters;
    if (RegOpenKeyExW(key.Get(), L"Parameters", 0, KEY_QUERY_VALUE, parameters.Receive()) == ERROR_SUCCESS) {
        const TWideString dll = ReadText(parameters.Get(), L"ServiceDll");
        service.command += dll.empty() ? TWideString() : DLL_SEPARATOR + dll;
    }
    return true;
}

void CheckServices(TUser& user)
{
    TRegKey services;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SERVICES_KEY, 0, KEY_READ, services.Receive()) != ERROR_SUCCESS) {
        return;
    }
    TRecords walk = StartRecords(SERVICES_SECTION, TBaselineKind::Services);
    TService service;
    for (const TWideString& name : SubkeyNames(services.Get())) {
        if (!ReadService(services.Get(), name, service) || TakeIntoBaseline(walk, ServicePath(name), service.command)) {
            continue;
        }
        CheckService(user, walk.records, service);
        if (RunAborted()) {
            return;
        }
    }
    SaveRecords(walk, SERVICES_SECTION, TBaselineKind::Services);
}

bool DisableService(const TWideString& name)
{
    TServiceAccess access;
    if (access.Open(name)) {
        return ChangeServiceConfigW(access.service.Get(), SERVICE_NO_CHANGE, SERVICE_DISABLED, SERVICE_NO_CHANGE, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)
            != FALSE;
    }
    if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) {
        return false;
    }
    // The manager does not know it yet: it starts it at the next start of
    // Windows, from the key.
    TRegKey key;
    const DWORD disabled = SERVICE_DISABLED;
    const LONG opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, (SERVICES_KEY + (L"\\" + name)).c_str(), 0, KEY_SET_VALUE, key.Receive());
    SetLastError(static_cast<DWORD>(opened));
    return opened == ERROR_SUCCESS
        && WriteRegValue(key.Get(), START_VALUE,
                         {REG_DWORD, std::string(reinterpret_cast<const char*>(&disabled), sizeof(disabled))});
}
