#pragma once

// Thin access to registry values and profile (INI) files, in UTF-16, and the
// few Win32 helpers every unit shares. Every call opens what it needs, acts,
// closes again and reports only through its result.

#include <windows.h>

#include <string>
#include <vector>

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
// ANSI code page is. Every byte decodes to a character of its own, so that
// decoding and encoding again gives the same bytes; encoding, which appends
// to Bytes, gives false when Text holds a character 1251 has no byte for (no
// look-alike is ever used).
TWideString Decode1251(const char* bytes, std::size_t count);
inline TWideString Decode1251(const std::string& bytes) { return Decode1251(bytes.data(), bytes.size()); }
bool Append1251(const wchar_t* text, std::size_t length, std::string& bytes);
// The text's UTF-16 units as bytes, as the registry and files hold them.
inline std::string Utf16Bytes(const TWideString& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}
// The bytes in the code page, when every one of them is valid there; false
// otherwise.
bool DecodeCodePage(UINT codePage, const char* bytes, std::size_t count, TWideString& text);
// The bytes as UTF-8, when they are valid UTF-8 throughout; false otherwise.
inline bool DecodeUtf8(const char* bytes, std::size_t count, TWideString& text)
{
    return DecodeCodePage(CP_UTF8, bytes, count, text);
}
bool AppendUtf8(const TWideString& text, std::string& bytes);
bool Fits1251(wchar_t c);
// Characters 0 to 31 and 127: no line of a text file carries them as they are.
inline bool IsControl(wchar_t c) { return c < 0x20 || c == 0x7F; }

// Appends Value as Digits hexadecimal digits, upper-case or lower-case.
void AppendHex(TWideString& text, unsigned long value, int digits, bool lowerCase = false);
// The text before the last backslash; empty when there is none.
TWideString ParentPath(const TWideString& path);
// Names and paths compared as Windows compares them: ordinal, letter case aside.
bool SamePath(const TWideString& a, const TWideString& b);
// Whether Path starts with Prefix, compared so.
bool StartsWithPath(const TWideString& path, const TWideString& prefix);
// A Win32 path drops a name's trailing dots and blanks, and takes a device's
// name (CON, NUL, COM1, ..., with any extension) for the device: such a
// file is reached only by a "\\?\" path. The name as a Win32 path spells it.
TWideString Win32Spelling(const TWideString& name);
// Whether a Win32 path reaches the file each name of Path (names apart by
// backslashes) names, and no other.
bool Win32SpellsExactly(const TWideString& path);
// The file Name in Folder, as a "\\?\" path that reaches exactly it; the
// folder's own text is made whole as a Win32 path makes it.
TWideString ExactPath(const TWideString& folder, const TWideString& name);

// A function of a loaded module, or null.
template <typename T>
T ProcAddress(HMODULE module, const char* name)
{
    return module == nullptr ? nullptr : reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
// The system folder (System32), or the system's Windows folder (not the
// folder of a user's own that GetWindowsDirectoryW may give under Terminal
// Services); empty when it cannot be had. Never from the environment.
TWideString SystemFolder(bool windows = false);
// The path through which this process reaches the file Path names for a
// 64-bit program: a 32-bit program under WOW64 sees SysWOW64 as System32,
// and reaches the real one as Sysnative. Elsewhere, Path itself.
TWideString NativePath(const TWideString& path);
// Loads a DLL from the system folder only, never from the program's or the
// current folder, where another one may have been put.
HMODULE LoadSystemLibrary(const wchar_t* name);

// A value as the registry holds it: its type and its bytes.
struct TRegData {
    DWORD type = REG_NONE;
    std::string bytes;
};

// Value names are counted strings and may hold U+0000; the Win32 calls take
// a terminated name and would act on another value. Every read, deletion
// and write by name goes through the native calls with the whole name. Key
// is a key the caller holds open (not a predefined root). On failure the
// Win32 error is left in GetLastError().
bool ReadRegValue(HKEY key, const TWideString& name, TRegData& value);
bool DeleteRegValue(HKEY key, const TWideString& name);
bool WriteRegValue(HKEY key, const TWideString& name, const TRegData& value);
// The names of the key's values, whole (a name may hold U+0000).
std::vector<TWideString> ValueNames(HKEY key);
// The data as the checkers read it: a string up to its first zero; a
// multi-string whole, its strings apart by their zeros (only the zeros at
// its end dropped), since Windows may run any of them; the bytes of any
// other type up to the first zero, as code page 1251.
void SetRegDataText(DWORD type, const BYTE* data, std::size_t size, TWideString& text);
TWideString RegDataText(const TRegData& value);

// Root is a predefined key or a key the caller holds open; an empty Path names
// Root itself (a second handle is opened with the access the call needs).
// On failure the Win32 error is left in GetLastError().
bool DeleteRegValue(HKEY root, const TWideString& path, const TWideString& name);
bool WriteRegString(HKEY root, const TWideString& path, const TWideString& name, const TWideString& value);
// The data as UTF-16 without its terminator (zeros before it are kept).
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
// A new file with Bytes; false (and nothing left) when the name is taken
// or the file cannot be written whole.
bool WriteNewFile(const TWideString& path, const std::string& bytes);
// Makes Bytes the file's contents at once and keeps the file what it was:
// written under a name of this process's own beside it and put in its place
// with ReplaceFileW, which keeps the file's attributes and security; a file
// that has other names (a hard link) or is a link is written in place, since
// replacing it would part it from them, and so is a file that another
// program keeps open against removal for two seconds. A read-only file is
// one its owner chose not to have written: it is left alone
// (ERROR_ACCESS_DENIED).
bool ReplaceFileBytes(const TWideString& path, const std::string& bytes);
