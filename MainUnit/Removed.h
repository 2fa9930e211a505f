#pragma once

// What the checkers remove is kept, so that it can be put back: registry
// values and win.ini lists are appended to Removed\removed.reg, a REGEDIT4
// file that regedit imports; Startup files are moved into Removed. The
// folder lies beside the settings file and is made when first needed.

#include "registry_profile.h"

#include <windows.h>

#include <string>

std::string RemovedFolder();
// Makes the folder when it is missing; false when it cannot be made.
bool MakeRemovedFolder();

// Appends the value Name of the open Key, with its type and data, under
// KeyPath (the full name, root included, under which regedit writes it
// back). False when the value cannot be read or the record written.
bool RecordRemovedValue(HKEY key, const std::string& keyPath, const std::string& name);
// Appends a string value as it stood: for a win.ini list that loses elements.
bool RecordRemovedString(const std::string& keyPath, const std::string& name, const std::string& value);

// Moves the file into the folder under its own name, or with " (2)", " (3)",
// ... before the extension when that name is taken there. A folder is not
// moved: it was never an entry Windows starts.
bool MoveToRemoved(const TWideString& path, const TWideString& name);

constexpr char MSG_RESTORE_BY_HAND[] =
    "Этот параметр нельзя записать для regedit: его раздел или имя содержит перевод строки или "
    "другой управляющий символ. Восстановите его вручную.";

// The record of one value: its key line and "name"=data (the unnamed value
// as @); a value whose key or name regedit cannot read back is written as
// comments only.
std::string RegFileRecord(const std::string& keyPath, const std::string& name, DWORD type, const std::string& data);
