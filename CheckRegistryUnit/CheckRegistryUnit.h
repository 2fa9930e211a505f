#pragma once

// The registry keys from which Windows starts programs: the seven Run keys,
// and on 64-bit Windows the local machine's five once more in the 32-bit
// view.

#include "User.h"

#include <windows.h>

#include <string>
#include <vector>

struct TRunLocation {
    HKEY root;
    std::string path;
    std::string section; // in the allowed list
    REGSAM view;         // KEY_WOW64_64KEY, KEY_WOW64_32KEY or 0
    std::string keyPath; // the full name, root included: in the questions and the record
    bool subkeys;        // RunOnceEx: Windows runs the values of its subkeys
};

// Windows is 64-bit for a 64-bit build, and for a 32-bit one that runs
// under WOW64.
bool IsWindows64(bool build64, bool wow64);
bool OnWindows64();
// The keys in the order they are checked.
std::vector<TRunLocation> RunLocations(bool windows64);

constexpr char MSG_EMPTY_VALUE[] =
    "В реестре обнаружен \"пустой\" параметр:\n\r\n\r\"%s\".\n\r\n\rУдалить его?";
constexpr char MSG_CANNOT_DELETE_KEY[] = "Не удалось удалить ключ: \"%s\".";

// Checks every key of RunLocations(OnWindows64()) in order; raises TINIExcept when the settings file cannot
// be written.
void CheckRegistry(TUser& user);
// One value as the checker reads it: its text is the data up to the first
// zero, whatever the type.
struct TRegEntry {
    std::string name;
    std::string value;
    DWORD type;
};

// Decides every value of one open key, then rewrites the key's section.
void CheckRegistryKey(TUser& user, HKEY key, const TRunLocation& location);
// Decides one entry; appends its record when it stays in the allowed list.
// True when it showed a box, during which the key may have changed.
bool CheckRegistryValue(TUser& user, std::string& records, HKEY key, const TRegEntry& entry,
                        const TRunLocation& location);
