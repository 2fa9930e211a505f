#pragma once

// The win.ini checker: the comma-separated program lists "run" and "load" of
// the section "windows". Asks about every element the allowed list does not
// cover, writes the list back without the removed ones and stores it as the
// key's allowed value.

#include "User.h"

#include <vector>

// Where Windows NT keeps win.ini's section "windows" (IniFileMapping).
constexpr wchar_t WIN_INI_KEY[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

// A bare name: the profile functions find the file themselves, and on NT
// they keep its section "windows" in the user's registry (IniFileMapping).
// Also the section of the allowed list that holds the lists' allowed values.
constexpr wchar_t WIN_INI[] = L"win.ini";

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

// A removed element put back at the end of the list Key, through the
// profile functions (Windows NT, and Wine, keep win.ini's "windows" in the
// registry); a list that holds it already is left as it is.
bool PutBackINIItem(const TWideString& fileName, const TWideString& section, const TWideString& key, const TWideString& entry);
// Adds the element to the allowed value of Key (Allow), or takes it out.
// Raises TINIExcept when the settings file cannot be written.
void AllowINIItem(const TWideString& fileName, const TWideString& key, const TWideString& entry, bool allow);
