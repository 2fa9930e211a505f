#include "Helper.h"

#include "CheckRegistryUnit.h"
#include "CheckServicesUnit.h"
#include "CheckStartupUnit.h"
#include "CheckTasksUnit.h"
#include "Elevation.h"
#include "ScopedHandle.h"
#include "TaskScheduler.h"

#include <functional>

namespace {

// Only an entry that still shows as the user was shown it is acted on.
DWORD ActIfUnchanged(const TWideString& shown, const TWideString& hash, const std::function<bool()>& act)
{
    TWideString now;
    if (!TextHash(shown, now)) {
        return ELEVATED_FAILED;
    }
    if (now != hash) {
        return ELEVATED_CHANGED;
    }
    return act() ? ELEVATED_REMOVED : ELEVATED_FAILED;
}

DWORD RemoveValue(const TWideString& keyPath, const TWideString& name, const TWideString& hash)
{
    TKeyLocation location;
    if (!IsTextHash(hash) || !FindMachineKey(keyPath, location) || !IsEntryName(location, name)) {
        return ELEVATED_FAILED;
    }
    // A key that is a registry link is opened as the link, not followed:
    // the value is looked for, and deleted, in the key the path names.
    TRegKey key;
    const LONG opened = RegOpenKeyExW(location.root, location.path.c_str(), REG_OPTION_OPEN_LINK,
                                      KEY_QUERY_VALUE | KEY_SET_VALUE | location.view, key.Receive());
    if (opened != ERROR_SUCCESS) {
        return opened == ERROR_FILE_NOT_FOUND ? ELEVATED_CHANGED : ELEVATED_FAILED;
    }
    TRegEntry entry;
    if (!ReadEntry(key.Get(), name, entry)) {
        return ELEVATED_CHANGED;
    }
    // Windows' own value is no entry: no check asks about it.
    if (IsWindowsValue(location, name, entry.type, entry.value)) {
        return ELEVATED_FAILED;
    }
    return ActIfUnchanged(entry.value, hash, [&] { return RemoveEntryValue(key.Get(), location, name); });
}

DWORD RemoveFile(const TWideString& path, const TWideString& hash)
{
    TWideString name;
    if (!IsTextHash(hash) || !InCommonStartup(path, name)) {
        return ELEVATED_FAILED;
    }
    // The file itself, by its exact name (a Win32 path drops a trailing dot),
    // never what a link points to; no one may write, move or delete it
    // between its hash and its deletion.
    const TFileHandle file(CreateFileW(ExactPath(StartupFolderPath(true), name).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ELEVATED_CHANGED : ELEVATED_FAILED;
    }
    BY_HANDLE_FILE_INFORMATION information = {};
    TWideString kept;
    if (!GetFileInformationByHandle(file.Get(), &information)
        || (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0
        || !FileHash(file.Get(), kept)) {
        return ELEVATED_FAILED;
    }
    if (kept != hash) {
        return ELEVATED_CHANGED;
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof(disposition))
        ? ELEVATED_REMOVED
        : ELEVATED_FAILED;
}

DWORD DisableServiceOf(const TWideString& name, const TWideString& hash)
{
    TRegKey services;
    TRegKey key;
    TService service;
    if (!IsTextHash(hash) || name.empty() || name.find_first_of(L"\\/") != TWideString::npos
        || RegOpenKeyExW(HKEY_LOCAL_MACHINE, SERVICES_KEY, 0, KEY_READ, services.Receive()) != ERROR_SUCCESS) {
        return ELEVATED_FAILED;
    }
    if (RegOpenKeyExW(services.Get(), name.c_str(), 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) {
        return ELEVATED_CHANGED;
    }
    // One no check would ask about: not a service Windows starts by itself.
    if (ReadService(services.Get(), name, service) != TRead::Entry) {
        return ELEVATED_FAILED;
    }
    return ActIfUnchanged(service.command, hash, [&] { return SetServiceStart(name, SERVICE_DISABLED); });
}

DWORD DeleteTaskOf(const TWideString& path, const TWideString& hash)
{
    std::string definition;
    TWideString shown;
    if (!IsTextHash(hash) || !IsTaskPath(path)) {
        return ELEVATED_FAILED;
    }
    if (!ReadOneTask(path, definition)) {
        return ELEVATED_CHANGED;
    }
    // One no check would ask about: disabled, or starting no program.
    if (!IsTaskEntry(definition, shown)) {
        return ELEVATED_FAILED;
    }
    HRESULT result = S_OK;
    return ActIfUnchanged(shown, hash, [&] { return DeleteScheduledTask(path, result); });
}

} // namespace

bool RunHelper(const std::vector<TWideString>& arguments, int& exitCode)
{
    if (arguments.size() < 2
        || (arguments[1] != REMOVE_VALUE_SWITCH && arguments[1] != REMOVE_FILE_SWITCH && arguments[1] != DISABLE_SERVICE_SWITCH
            && arguments[1] != DELETE_TASK_SWITCH)) {
        return false;
    }
    DWORD outcome = ELEVATED_FAILED;
    if (arguments[1] == REMOVE_VALUE_SWITCH && arguments.size() == 5) {
        outcome = RemoveValue(arguments[2], arguments[3], arguments[4]);
    } else if (arguments[1] == REMOVE_FILE_SWITCH && arguments.size() == 4) {
        outcome = RemoveFile(arguments[2], arguments[3]);
    } else if (arguments[1] == DISABLE_SERVICE_SWITCH && arguments.size() == 4) {
        outcome = DisableServiceOf(arguments[2], arguments[3]);
    } else if (arguments[1] == DELETE_TASK_SWITCH && arguments.size() == 4) {
        outcome = DeleteTaskOf(arguments[2], arguments[3]);
    }
    exitCode = static_cast<int>(outcome);
    return true;
}
