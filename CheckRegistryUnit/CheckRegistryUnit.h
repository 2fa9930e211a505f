#pragma once

// The seven registry keys from which Windows starts programs.

#include "User.h"

#include <windows.h>

#include <string>

constexpr char MSG_EMPTY_VALUE[] =
    "В реестре обнаружен \"пустой\" параметр:\n\r\n\r\"%s\".\n\r\n\rУдалить его?";
constexpr char MSG_CANNOT_DELETE_KEY[] = "Не удалось удалить ключ: \"%s\".";

// Checks every key in order; raises TINIExcept when the settings file cannot
// be written.
void CheckRegistry(TUser& user);
// Decides every value of one open key, then rewrites the key's section.
void CheckRegistryKey(TUser& user, HKEY key, const std::string& section);
// Decides one entry; appends its record when it stays in the allowed list.
// True when it showed a box, during which the key may have changed.
bool CheckRegistryValue(TUser& user, std::string& records, HKEY key, const std::string& name,
                        const std::string& value, const std::string& section);
