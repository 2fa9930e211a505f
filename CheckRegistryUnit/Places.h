#pragma once

// The registry places from which Windows starts programs, one row each. The
// table drives the registry checker, the watch and the administrator's
// helper's check of what it may touch; adding a place is adding a row.

#include "Decide.h"
#include "registry_profile.h"

#include <vector>

// Whether 64-bit Windows keeps a copy of the key of its own for 32-bit
// programs (under Software\Wow6432Node) that Windows also starts from. A
// key that one copy serves for both (it is shared) is guarded once.
enum class TViews { Native, Both };

// Where a place's entries are: in the key's own values, in the values of
// each of its subkeys (one level down), or in both.
enum class TLevels { Key, Subkeys, KeyAndSubkeys };

// Windows' own data for a value: never asked about, not even at the first
// check, and what "remove" writes back. The text is written with
// %SystemRoot% as the system's Windows folder (never as the environment
// says), as Type (REG_SZ, or REG_MULTI_SZ of this one string). A value
// matches it when, both so written and without one trailing comma, they
// compare as Windows compares paths.
struct TWindowsValue {
    const wchar_t* text;
    DWORD type;
};

// A value that is an entry of its place by its name.
struct TNamedValue {
    const wchar_t* name;
    const TWindowsValue* windowsValue; // none: "remove" deletes the value
};

constexpr std::size_t MAX_NAMED_VALUES = 4;

struct TPlace {
    HKEY root;
    const wchar_t* path;
    TViews views;
    TLevels levels;
    // The entries by name; none named: every value is an entry.
    TNamedValue names[MAX_NAMED_VALUES];
    // Task Manager's switches for the key's values, under StartupApproved
    // of the same root, in the native view and the 32-bit one; null where
    // Task Manager lists none.
    const wchar_t* switches;
    const wchar_t* switches32;
    // A place Windows fills by itself starts from a baseline (Decide.h).
    TBaselineKind baseline;
    // The entries of all its subkeys in the place's one section, each named
    // by its subkey's path (the place names one value), rather than a
    // section for each subkey.
    bool oneSection;
};

// Where Task Manager (Windows 8 and later) keeps its startup switches, one
// subkey per kind of place, in the native view.
constexpr wchar_t STARTUP_APPROVED_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved";

// One key the checker goes through: a place in one view, or one subkey of
// a place whose entries are in its subkeys.
struct TKeyLocation {
    const TPlace* place;
    HKEY root;
    TWideString path;    // below the root, in View
    TWideString section; // in the allowed list
    REGSAM view;         // KEY_WOW64_64KEY, KEY_WOW64_32KEY or 0
    TWideString keyPath; // the full name, root included: in the questions and the record
    TLevels levels;      // a subkey's location: Key
    TWideString switchKey; // Task Manager's switches for its values; empty: none
    // A subkey of a place with one section: the name its entry is listed
    // and asked about under; empty: the value's own name.
    TWideString entryName;
};

// Windows is 64-bit for a 64-bit build, and for a 32-bit one that runs
// under WOW64.
bool IsWindows64(bool build64, bool wow64);
bool OnWindows64();
// The flag that opens a key of HKEY_LOCAL_MACHINE in the native view.
REGSAM NativeView(bool windows64);

// Every place in the native view, in the table's order, then those kept
// apart for 32-bit programs, named by their Wow6432Node path.
std::vector<TKeyLocation> KeyLocations(bool windows64);
TKeyLocation SubkeyLocation(const TKeyLocation& location, const TWideString& subkey);
// The guarded key of the local machine that KeyPath names (as the questions
// and removed.reg name it; letter case aside), for the administrator's
// helper: a place whose key holds entries, or one subkey of a place whose
// subkeys do.
bool FindMachineKey(const TWideString& keyPath, TKeyLocation& found);
// The same, of either root: where a value removed from KeyPath is put back.
bool FindKey(const TWideString& keyPath, TKeyLocation& found);

// Whether the location's value Name is an entry: any value where the place
// names none, else one of its names (letter case aside).
bool IsEntryName(const TKeyLocation& location, const TWideString& name);
// The value, as the checker reads it (Type and Text), is Windows' own.
bool IsWindowsValue(const TKeyLocation& location, const TWideString& name, DWORD type, const TWideString& text);
// What the location's value Name (read as Text) makes Windows start: a
// command line for most; each element of the lists that Userinit and Shell,
// AppInit_DLLs and BootExecute are; the DLL an AppCertDlls value names.
std::vector<TStartItem> EntryStarts(const TKeyLocation& location, const TWideString& name, const TWideString& text);
// What "remove" does to the entry Name of a key open for writing: Windows'
// own value written back where the place has one, else the value deleted.
bool RemoveEntryValue(HKEY key, const TKeyLocation& location, const TWideString& name);
