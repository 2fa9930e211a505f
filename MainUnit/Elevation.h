#pragma once

// Removing, as administrator, an entry of the machine that the user's rights
// cannot remove: the side that asks. The program starts itself elevated
// with a switch that names exactly one entry (Helper.h is the side that
// acts):
//
//   Runwarden.exe -remove-value "<key>" "<name>" <hash>
//   Runwarden.exe -remove-file "<file>" <hash>
//   Runwarden.exe -disable-service "<service>" <hash>
//   Runwarden.exe -delete-task "<task path>" <hash>
//
// <key> is the key as the questions and removed.reg name it, root included
// (the 32-bit view of 64-bit Windows under Software\Wow6432Node); <hash> is
// the SHA-256 of what the user was shown (a value's or a service's command,
// a task's command and when it runs, as UTF-16 text without a terminator)
// or of what was kept (a file's bytes) in 64
// lower-case hexadecimal digits, so that a command of any length fits the
// command line (32767 characters in all). Arguments are quoted as
// SplitCommandLine reads them back.
//
// Only entries of the machine: the elevated process may run as another
// account (an administrator's name and password typed into the prompt),
// whose HKEY_CURRENT_USER and Startup folder are not the user's. That
// process writes nothing but the one removal: this side keeps the record
// first, in the user's own Removed folder, and takes it back when the
// helper removed nothing.

#include "User.h"

#include <functional>
#include <initializer_list>

constexpr wchar_t REMOVE_VALUE_SWITCH[] = L"-remove-value";
constexpr wchar_t REMOVE_FILE_SWITCH[] = L"-remove-file";
constexpr wchar_t DISABLE_SERVICE_SWITCH[] = L"-disable-service";
constexpr wchar_t DELETE_TASK_SWITCH[] = L"-delete-task";
// Any other exit code, such as that of a version without the switch, counts
// as failed.
constexpr DWORD ELEVATED_REMOVED = 2;
constexpr DWORD ELEVATED_CHANGED = 3; // changed or gone meanwhile: nothing done
constexpr DWORD ELEVATED_FAILED = 4;  // unreadable arguments, a place not guarded, or the removal failed

constexpr wchar_t MSG_ASK_ELEVATE[] =
    L"Для удаления \"%s\" нужны права администратора.\n\r\n\rУдалить от имени администратора?";
constexpr wchar_t MSG_CHANGED_MEANWHILE[] = L"Запись \"%s\" изменилась, пока вы отвечали, поэтому она не удалена.";

// The switch followed by its arguments.
TWideString RemovalSwitch(const wchar_t* name, std::initializer_list<TWideString> arguments);

// Asks the user whether to remove Entry as administrator. On Yes, Record
// keeps what is to be removed and gives the switch that names the entry
// (false: nothing could be kept, and nothing is removed); the program then
// runs itself elevated with that switch and waits for it, and TakeBack
// takes the record away when the helper removed nothing. The user
// cancelling the elevation prompt is an answer: nothing more is said. No,
// or a removal that failed, gives the warning CannotRemove (a template
// naming the entry).
void OfferElevatedRemoval(TUser& user, const TEntryText& entry, const wchar_t* cannotRemove,
                          const std::function<bool(TWideString&)>& record, const std::function<void()>& takeBack);

// SHA-256 of the bytes in 64 lower-case hexadecimal digits. The system's
// bcrypt.dll is loaded from the system folder at the first hash: only a
// removal as administrator needs it.
bool DataHash(const void* data, std::size_t size, TWideString& hash);
// Of the file's bytes from where it is read now to its end.
bool FileHash(HANDLE file, TWideString& hash);
bool TextHash(const TWideString& text, TWideString& hash);
bool IsTextHash(const TWideString& text);
