#pragma once

// The win.ini checker: the comma-separated program lists "run" and "load" of
// the section "windows". Asks about every element the allowed list does not
// cover, writes the list back without the removed ones and stores it as the
// key's allowed value.

#include "User.h"

#include <vector>

// Where Windows NT keeps win.ini's section "windows" (IniFileMapping).
constexpr wchar_t WIN_INI_KEY[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

void CheckINI(TUser& user);

// One key and its whole list. Raises TINIExcept when the settings file
// cannot be written.
void CheckINIKey(TUser& user, const TWideString& fileName, const TWideString& section, const TWideString& key,
                 const TWideString& value);

// One element: the text of Item before its first comma. Appends it to Kept,
// joined by ", ", when it stays; false when the user removed it (and it is
// appended to Removed). The user is told what was decided about it.
bool CheckINIItem(TUser& user, TWideString& kept, std::vector<TWideString>& removed, const TWideString& item,
                  const TWideString& key, const TWideString& fileName, const TWideString& section);
