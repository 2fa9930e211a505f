#pragma once

// What the checkers remove is kept, so that it can be put back: registry
// values and win.ini lists are appended to Removed\removed.reg, a file that
// regedit imports; Startup files are moved into Removed. The folder lies
// beside the settings file and is made when first needed.
//
// removed.reg is a "Windows Registry Editor Version 5.00" file in UTF-16, so
// that every name and text comes back exactly, whatever the system's code
// page. A REGEDIT4 file left by an earlier version is kept beside it, as
// "removed (2).reg" and so on.

#include "User.h"
#include "registry_profile.h"

#include <windows.h>

#include <vector>

constexpr wchar_t MSG_RESTORE_BY_HAND[] =
    L"Этот параметр нельзя записать для regedit: его раздел или имя содержит перевод строки или "
    L"другой управляющий символ. Восстановите его вручную.";

TWideString RemovedFolder();
// Makes the folder when it is missing; false (the Win32 error left in
// GetLastError()) when it cannot be made.
bool MakeRemovedFolder();

// Where removed.reg stood before a record, so that the record can be taken
// back when the removal it tells of did not happen.
struct TRecordMark {
    TWideString path;
    LONGLONG size = -1; // -1: the record made the file
};

// Appends the value Name of the open Key, with its type and data, under
// KeyPath (the full name, root included, under which regedit writes it
// back); Value, where given, gets what was recorded. False when the value
// cannot be read or the record written.
bool RecordRemovedValue(HKEY key, const TWideString& keyPath, const TWideString& name, TRecordMark* mark = nullptr,
                        TRegData* value = nullptr);
void TakeBackRecord(const TRecordMark& mark);
// Where a removal kept what it removed, as the history names it: the
// record's offset in removed.reg ("removed.reg:1234"), or the copy's name
// in the folder.
TWideString RecordPlace(const TRecordMark& mark);
TWideString RecordPlace(const TWideString& copy);
// Appends every value of the open Key (not of its subkeys), as
// RecordRemovedValue appends one.
bool RecordRemovedValues(HKEY key, const TWideString& keyPath, TRecordMark* mark);
// Appends the deletion of each value the open Key has now that is not among
// Before: importing the records then takes away what a removal added.
void RecordAddedValues(HKEY key, const TWideString& keyPath, const std::vector<TWideString>& before);
// Appends a string value as it stood: for a win.ini list that loses elements.
bool RecordRemovedString(const TWideString& keyPath, const TWideString& name, const TWideString& value,
                         TRecordMark* mark = nullptr);

// Moves the file into the folder under its own name, or with " (2)", " (3)",
// ... before the extension when that name is taken there. A folder is not
// moved: it was never an entry Windows starts. On failure the Win32 error
// is left in GetLastError().
bool MoveToRemoved(const TWideString& path, const TWideString& name, TWideString* moved = nullptr);
// Writes Bytes into the folder as a new file named Name (or with " (2)",
// ...); Copy names it.
bool KeepRemovedFile(const TWideString& name, const std::string& bytes, TWideString& copy);
// Copies the file into the folder as MoveToRemoved would move it; Copy
// names the copy.
bool CopyToRemoved(const TWideString& path, const TWideString& name, TWideString& copy);

// The record of one value: its key line and "name"=data (the unnamed value
// as @); a value whose key or name regedit cannot read back is written as
// comments only. Data is the value's bytes as the registry holds them.
TWideString RegFileRecord(const TWideString& keyPath, const TWideString& name, DWORD type, const std::string& data);

constexpr wchar_t MSG_PUT_BACK[] = L"Запись \"%s\" пропала после удаления другой записи и восстановлена из копии.";
constexpr wchar_t MSG_NOT_PUT_BACK[] = L"Запись \"%s\" пропала после удаления другой записи; восстановить ее не удалось.";

// A file of a place whose entries are files (Startup folders, the task
// store), as the check saw it before a removal, and a copy of its bytes
// where one was taken.
struct TSeenFile {
    TWideString exact; // its "\\?\" path
    TWideString shown; // as the questions name it
    std::string copy;
    bool copied = false;
};
// Just before the removal of Removed (an exact path): drops the seen files
// that are gone already (removed earlier in the check, or by another
// program), and copies those that a Win32 path spelling Removed could reach
// instead of it: a name that differs from Removed's only by trailing dots
// or blanks, letter case aside.
void PrepareForRemoval(std::vector<TSeenFile>& seen, const TWideString& removed);
// After the removal of Removed: every other seen file is still there; one
// that is not is written back from its copy, and the user is told.
void PutBackVanished(TUser& user, const std::vector<TSeenFile>& seen, const TWideString& removed);
