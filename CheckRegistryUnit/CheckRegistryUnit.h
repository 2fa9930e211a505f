#pragma once

// The registry keys from which Windows starts programs: the seven Run keys,
// and on 64-bit Windows the local machine's five once more in the 32-bit
// view.

#include "User.h"

#include <windows.h>

#include <vector>

struct TRunLocation {
    HKEY root;
    TWideString path;
    TWideString section; // in the allowed list
    REGSAM view;         // KEY_WOW64_64KEY, KEY_WOW64_32KEY or 0
    TWideString keyPath; // the full name, root included: in the questions and the record
    bool subkeys;        // RunOnceEx: Windows runs the values of its subkeys
    // Task Manager's switches for the key's values, under the same root;
    // empty for the keys Task Manager does not list.
    TWideString switchKey;
};

// Where Task Manager (Windows 8 and later) keeps its startup switches, one
// subkey per kind of place, in the native view.
constexpr wchar_t STARTUP_APPROVED_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved";

// Windows is 64-bit for a 64-bit build, and for a 32-bit one that runs
// under WOW64.
bool IsWindows64(bool build64, bool wow64);
bool OnWindows64();
// The flag that opens a key of HKEY_LOCAL_MACHINE in the native view.
REGSAM NativeView(bool windows64);
// The keys in the order they are checked.
std::vector<TRunLocation> RunLocations(bool windows64);

constexpr wchar_t MSG_EMPTY_VALUE[] =
    L"В реестре обнаружен \"пустой\" параметр:\n\r\n\r\"%s\".\n\r\n\rУдалить его?";
constexpr wchar_t MSG_CANNOT_DELETE_KEY[] = L"Не удалось удалить ключ: \"%s\".";

// True when Task Manager has switched the entry Name off: Windows will not
// start it, although it is still there. An empty SwitchKey switches nothing,
// and nothing is switched off before Windows 8.
bool IsSwitchedOff(HKEY root, const TWideString& switchKey, const TWideString& name);

// Checks every key of RunLocations(OnWindows64()) in order; raises TINIExcept when the settings file cannot
// be written.
void CheckRegistry(TUser& user);
// One value as the checker reads it: its text is the data up to the first
// zero (a multi-string's strings all, apart by their zeros); data of a type
// that holds no text is read as bytes of code page 1251.
struct TRegEntry {
    TWideString name;
    TWideString value;
    DWORD type;
};

// Decides every value of one open key, then rewrites the key's section.
void CheckRegistryKey(TUser& user, HKEY key, const TRunLocation& location);
// Decides one entry; appends its record when it stays in the allowed list.
// True when it showed a box, during which the key may have changed.
bool CheckRegistryValue(TUser& user, TWideString& records, HKEY key, const TRegEntry& entry,
                        const TRunLocation& location);

// The guarded key of the local machine that KeyPath names (as the questions
// and removed.reg name it; letter case aside), for the administrator's helper.
bool FindMachineKey(const TWideString& keyPath, TRunLocation& found);
// The value Name of the open key as the checker reads it; false when there is none.
bool ReadEntry(HKEY key, const TWideString& name, TRegEntry& entry);
// What "remove" does to a value of a guarded key: Key is open for writing.
bool RemoveEntryValue(HKEY key, const TWideString& name);
