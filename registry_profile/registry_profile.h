#pragma once

// Thin access to registry string values and profile (INI) files. Every call
// opens what it needs, acts, closes again and reports only through its result.

#include <windows.h>

#include <string>

// Wide texts for the file-system calls, as a type of the program's own: the
// runtime instantiates std::wstring in one piece, and using it links all of
// that (about 40 KB) into the program.
struct TWideTraits : std::char_traits<wchar_t> {};
using TWideString = std::basic_string<wchar_t, TWideTraits>;
// Text of the ANSI code page in UTF-16.
TWideString Widen(const std::string& text);

// Root is a predefined key or a key the caller holds open; an empty Path names
// Root itself (a second handle is opened with the access the call needs).
bool DeleteRegValue(HKEY root, const std::string& path, const std::string& name);
bool WriteRegString(HKEY root, const std::string& path, const std::string& name,
                    const std::string& value);
std::string ReadRegString(HKEY root, const std::string& path, const std::string& name);

// FileName is a full path or a bare name such as "win.ini". Empty strings are
// passed as empty texts, never as null pointers.
std::string ReadINIString(const std::string& fileName, const std::string& section,
                          const std::string& key, const std::string& defaultValue);
bool WriteINIString(const std::string& fileName, const std::string& section,
                    const std::string& key, const std::string& value);
bool DeleteINIKey(const std::string& fileName, const std::string& section, const std::string& key);
bool EraseINISection(const std::string& fileName, const std::string& section);

// The whole section in one call: Lines holds "key=value" strings, each ended by
// a zero byte. Writing replaces the section's keys; reading returns them in the
// same form.
bool WriteINISection(const std::string& fileName, const std::string& section,
                     const std::string& lines);
std::string ReadINISection(const std::string& fileName, const std::string& section);
