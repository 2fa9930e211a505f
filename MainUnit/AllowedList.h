#pragma once

// The allowed list in options.ini: one section per autostart location, one
// key per allowed entry. Checkers collect the entries of one location in a
// record list ("name=value!" or "name!" records) and hand it to
// SaveAllowedSection, which replaces the location's section with it.
//
// The file is read and written by the program itself, in code page 1251
// whatever the system's code page is (the profile functions would convert
// it through the system's code page, which cannot hold every character
// 1251 can, and rewrite an upgraded user's list with "?"), or in UTF-8 when
// an editor saved it so: a file keeps its encoding. A file that exists but
// cannot be read decides nothing: lookups and saves raise TINIExcept.

#include "registry_profile.h"

#include <optional>
#include <vector>

constexpr wchar_t MSG_CANNOT_OPEN_FILE[] =
    L"Не удалось открыть файл \"%s\" - убедитесь, что у вас есть необходимые права доступа.";

// The settings file cannot be written. Caught only by the check run.
class TINIExcept {
public:
    explicit TINIExcept(const TWideString& fileName) : FileName(fileName) {}
    TWideString FileName;
};

// Erases Section of the settings file and writes one key per record, in list
// order, as the last section of the file; no records leave no section,
// unless KeepEmpty asks for its header alone. Raises TINIExcept when the
// file cannot be written.
void SaveAllowedSection(const TWideString& records, const TWideString& section, bool keepEmpty = false);
// Whether the settings file has the section, empty or not. Raises
// TINIExcept when the file cannot be read.
bool HasSection(const TWideString& section);

// Entries that the record list or the file cannot carry as they are (empty
// names, "=" or "!" in a name, "!" in a command, enclosing quotes, blanks at
// the ends, characters code page 1251 lacks, ...) are stored encoded: key and
// value both start with "%", a character of 1251 that would not survive is
// written as %XX (its byte), any other as %uXXXX (its UTF-16 unit).
// Ordinary entries keep the plain "name=command" form.
void AppendRecord(TWideString& records, const TWideString& name, const TWideString& command);
void AppendBareRecord(TWideString& records, const TWideString& name);
// What the section of the settings file holds for Name: the command (or "1"
// for a bare record); nothing when Name is not listed. A listed empty
// command is a command: a value whose text is empty can be accepted too.
std::optional<TWideString> LookupAllowed(const TWideString& section, const TWideString& name);
// Every section of the file, its name as its header spells it, in file
// order; and the entries of one (names and commands decoded). Raise
// TINIExcept when the file cannot be read.
std::vector<TWideString> ListedSections();
struct TListedEntry {
    TWideString name;
    TWideString command;
};
std::vector<TListedEntry> ListedEntries(const TWideString& section);
// Lookups trust what they read last until the file may have changed: the
// first lookup of a check run, or after the user was shown a box, looks at
// the file again (a hand edit made while a box was open counts at once). A
// save reads the file again before it writes, and the lookups after it
// trust that read.
void AllowedListMayHaveChanged();

// One entry of Section set to Record (made for Name by AppendRecord or
// AppendBareRecord), in place of the line the section has for Name in
// either form; an empty Record takes Name out. The section's header stays.
// Raises TINIExcept when the file cannot be written.
void SetAllowedEntry(const TWideString& section, const TWideString& name, const TWideString& record);

// The allowed value of a key that holds a whole list (win.ini's "run" and
// "load"). A value that a plain line cannot carry (line breaks, enclosing
// quotes, blanks at the ends, "!", characters 1251 lacks) is stored encoded
// under "%key"; both forms are read, joined by a zero. Writing raises
// TINIExcept when the file cannot be written.
TWideString ReadAllowedValue(const TWideString& section, const TWideString& key);
void WriteAllowedValue(const TWideString& section, const TWideString& key, const TWideString& value);

// A section named after a key path that holds a subkey's name: plain where
// a header carries the name exactly and no encoded name can look like it
// (it holds no "%"), encoded otherwise, so that no two subkeys share one.
TWideString SubkeySection(const TWideString& section, const TWideString& subkey);

// Text without the characters 0 to 32 at either end.
TWideString TrimBlanks(const TWideString& text);

// Names in the settings file are found regardless of letter case.
TWideString UpperCase(const TWideString& text);

// Where a text stands in the settings file: as a key, as a key's value, or
// as a part of a section's name.
enum class TField { Key, Value, Section };
// Whether a line of the file carries the text as it is where Field puts it;
// otherwise it is written encoded. The one rule for every kind of field.
bool IsPlain(const TWideString& text, TField field);

// Exposed for tests and the README's examples.
TWideString EncodeField(const TWideString& text);
TWideString DecodeField(const TWideString& field);
