#pragma once

// Removing, as administrator, an entry of the machine that the user's rights
// cannot remove: a value of a local machine's Run key or a file of the
// common Startup folder. The program starts itself elevated with a switch
// that names exactly one entry:
//
//   Runwarden.exe -remove-value "<key>" "<name>" <hash> "<Removed folder>"
//   Runwarden.exe -remove-file "<file>" "<Removed folder>"
//
// <key> is the key as the questions and removed.reg name it, root included
// (the 32-bit view of 64-bit Windows under Software\Wow6432Node); <hash> is
// the SHA-256 of the command the user was shown (its UTF-16 text without a
// terminator) in 64 lower-case hexadecimal digits, so that a command of any
// length fits the command line (32767 characters in all). Arguments are
// quoted as CommandLineToArgvW reads them back.
//
// Only entries of the machine: the elevated process may run as another
// account (an administrator's name and password typed into the prompt),
// whose HKEY_CURRENT_USER, Startup folder and settings are not the user's.
// For the same reason it is given the Removed folder.
//
// That process shows no window and takes no part in the single-instance
// rule. It acts only on a Run key of the local machine (or a subkey of
// RunOnceEx one level down) or on a file directly in the common Startup
// folder, only while the entry is still the one the user was asked about,
// and records it first into the given folder, as every removal is recorded.
// Its exit code tells the outcome.

#include "User.h"

#include <initializer_list>
#include <vector>

constexpr wchar_t REMOVE_VALUE_SWITCH[] = L"-remove-value";
constexpr wchar_t REMOVE_FILE_SWITCH[] = L"-remove-file";
// Any other exit code, such as that of a version without the switch, counts
// as failed.
constexpr DWORD ELEVATED_REMOVED = 2;
constexpr DWORD ELEVATED_CHANGED = 3; // changed or gone meanwhile: nothing done
constexpr DWORD ELEVATED_FAILED = 4;  // unreadable arguments, an unguarded place, or the removal failed

constexpr wchar_t MSG_ASK_ELEVATE[] =
    L"Для удаления \"%s\" нужны права администратора.\n\r\n\rУдалить от имени администратора?";
constexpr wchar_t MSG_CHANGED_MEANWHILE[] = L"Запись \"%s\" изменилась, пока вы отвечали, поэтому она не удалена.";

// The switch followed by its arguments and the Removed folder.
TWideString RemovalSwitch(const wchar_t* name, std::initializer_list<TWideString> arguments);
// Asks the user whether to remove Entry as administrator and, on Yes, runs
// the program elevated with Switch and waits for it. The user cancelling
// the elevation prompt is an answer: nothing more is said. No, or a removal
// that failed, gives the warning CannotRemove (a template naming the entry).
void OfferElevatedRemoval(TUser& user, const TWideString& entry, const TWideString& removalSwitch,
                          const wchar_t* cannotRemove);

// The elevated side. The arguments as CommandLineToArgvW splits them, the
// program's name first.
bool SplitCommandLine(const wchar_t* commandLine, std::vector<TWideString>& arguments);
// Takes the Removed folder, the last argument, and records into it from now
// on; false when there is none or it is no full path.
bool TakeRemovedFolder(std::vector<TWideString>& arguments);
bool TextHash(const TWideString& text, TWideString& hash);
bool IsTextHash(const TWideString& text);
