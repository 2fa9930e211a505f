#pragma once

// Thin access to registry string values and profile (INI) files, in UTF-16.
// Every call opens what it needs, acts, closes again and reports only
// through its result.

#include <windows.h>

#include <string>

// Every name, command, path and text of the program, as a type of the
// program's own: the runtime instantiates std::wstring in one piece, and
// using it links all of that (about 40 KB) into the program.
struct TWideTraits : std::char_traits<wchar_t> {};
using TWideString = std::basic_string<wchar_t, TWideTraits>;
// FNV-1a of the characters.
inline std::size_t HashOf(const wchar_t* text, std::size_t length)
{
    std::size_t hash = 2166136261u;
    for (std::size_t i = 0; i < length; ++i) {
        hash = (hash ^ static_cast<std::size_t>(text[i])) * 16777619u;
    }
    return hash;
}
// For hashed containers of it.
struct TWideHash {
    std::size_t operator()(const TWideString& text) const { return HashOf(text.data(), text.size()); }
};

// Code page 1251, the code page of the settings file, whatever the system's
// ANSI code page is. Decoding never fails; encoding, which appends to
// Bytes, gives false when Text holds a character 1251 has no byte for (no
// look-alike is ever used).
TWideString Decode1251(const char* bytes, std::size_t count);
inline TWideString Decode1251(const std::string& bytes) { return Decode1251(bytes.data(), bytes.size()); }
bool Append1251(const wchar_t* text, std::size_t length, std::string& bytes);
bool Fits1251(wchar_t c);
// Characters 0 to 31 and 127: no line of a text file carries them as they are.
inline bool IsControl(wchar_t c) { return c < 0x20 || c == 0x7F; }

// Root is a predefined key or a key the caller holds open; an empty Path names
// Root itself (a second handle is opened with the access the call needs).
// On failure the Win32 error is left in GetLastError().
bool DeleteRegValue(HKEY root, const TWideString& path, const TWideString& name);
bool WriteRegString(HKEY root, const TWideString& path, const TWideString& name, const TWideString& value);
TWideString ReadRegString(HKEY root, const TWideString& path, const TWideString& name);

// FileName is a full path or a bare name such as "win.ini". Empty strings are
// passed as empty texts, never as null pointers.
TWideString ReadINIString(const TWideString& fileName, const TWideString& section, const TWideString& key,
                          const TWideString& defaultValue);
bool WriteINIString(const TWideString& fileName, const TWideString& section, const TWideString& key,
                    const TWideString& value);

// A whole file's bytes; false when it cannot be read (a missing file reads
// as empty and true).
bool ReadFileBytes(const TWideString& path, std::string& bytes);
// Replaces the file with Bytes at once: written beside it under a temporary
// name, then moved over it, so that a crash never leaves half a file.
bool ReplaceFileBytes(const TWideString& path, const std::string& bytes);
