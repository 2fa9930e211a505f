#pragma once

// The registry checker: every place of the table of places (Places.h), in
// every view Windows keeps apart.

#include "Decide.h"
#include "Places.h"
#include "User.h"

#include <windows.h>

#include <vector>

constexpr wchar_t MSG_EMPTY_VALUE[] =
    L"В реестре обнаружен \"пустой\" параметр:\n\r\n\r\"%s\".\n\r\n\rУдалить его?";
constexpr wchar_t MSG_CANNOT_DELETE_KEY[] = L"Не удалось удалить ключ: \"%s\".";

// True when Task Manager has switched the entry Name off: Windows will not
// start it, although it is still there. An empty SwitchKey switches nothing,
// and nothing is switched off before Windows 8.
bool IsSwitchedOff(HKEY root, const TWideString& switchKey, const TWideString& name);

// Checks every key of KeyLocations(OnWindows64()) in order; raises TINIExcept when the settings file cannot
// be read or written.
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
void CheckRegistryKey(TUser& user, HKEY key, const TKeyLocation& location);
// Decides one entry; appends its record when it stays in the allowed list.
// True when it showed a box, during which the key may have changed.
bool CheckRegistryValue(TUser& user, TRecords& walk, HKEY key, const TRegEntry& entry, const TKeyLocation& location);

// The value Name of the open key as the checker reads it; false when there is none.
bool ReadEntry(HKEY key, const TWideString& name, TRegEntry& entry);

