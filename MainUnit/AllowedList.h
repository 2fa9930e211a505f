#pragma once

// The allowed list in options.ini: one section per autostart location, one
// key per allowed entry. Checkers collect the entries of one location in a
// record list ("name=value!" or "name!" records) and hand it to
// SaveAllowedSection, which replaces the location's section with it.

#include <initializer_list>
#include <optional>
#include <string>

constexpr char MSG_CANNOT_OPEN_FILE[] =
    "Не удалось открыть файл \"%s\" - убедитесь, что у вас есть необходимые права доступа.";

// The settings file cannot be written. Caught only by the check run.
class TINIExcept {
public:
    explicit TINIExcept(const std::string& fileName) : FileName(fileName) {}
    std::string FileName;
};

// Erases Section of the settings file and writes one key per record, in list
// order. Raises TINIExcept when the file cannot be written.
void SaveAllowedSection(const std::string& records, const std::string& section);

// wvsprintfA over the arguments; the result is at most 1023 bytes.
std::string FormatMsg(const std::string& templ, std::initializer_list<std::string> args);

// Entries that the record list or the profile file cannot carry as they are
// (empty names, "=" or "!" in a name, "!" in a command, enclosing quotes,
// blanks at the ends, ...) are stored encoded: key and value both start with
// "%" and the bytes that would not survive are written as %XX. Ordinary
// entries keep the plain "name=command" form.
void AppendRecord(std::string& records, const std::string& name, const std::string& command);
void AppendBareRecord(std::string& records, const std::string& name);
// What the section of the settings file holds for Name: the command (or "1"
// for a bare record); nothing when Name is not listed. A listed empty
// command is a command: a value whose text is empty can be accepted too.
std::optional<std::string> LookupAllowed(const std::string& section, const std::string& name);

// The allowed value of a key that holds a whole list (win.ini's "run" and
// "load"). A value that a plain line cannot carry (line breaks, enclosing
// quotes, blanks at the ends, "!") is stored encoded under "%key"; both
// forms are read, joined by a zero byte. Writing raises TINIExcept when the
// file cannot be written.
std::string ReadAllowedValue(const std::string& section, const std::string& key);
void WriteAllowedValue(const std::string& section, const std::string& key, const std::string& value);

// Text without the characters 0 to 32 at either end.
std::string TrimBlanks(const std::string& text);

// Names in profile files are found regardless of letter case.
std::string UpperCase(const std::string& text);

// Exposed for tests and the README's examples.
std::string EncodeField(const std::string& text);
std::string DecodeField(const std::string& field);
bool IsPlainName(const std::string& name);
bool IsPlainCommand(const std::string& command);
