#include "Places.h"

#include "AllowedList.h"

#include <cwchar>
#include <optional>

namespace {

constexpr wchar_t USER_ROOT[] = L"HKEY_CURRENT_USER\\";
constexpr wchar_t MACHINE_ROOT[] = L"HKEY_LOCAL_MACHINE\\";
// Where the native view shows the 32-bit view's copy of a key under Software.
constexpr wchar_t SOFTWARE[] = L"Software\\";
constexpr wchar_t WOW_NODE[] = L"Wow6432Node\\";

constexpr wchar_t SYSTEM_ROOT[] = L"%SystemRoot%";
const TWindowsValue EXPLORER = {L"explorer.exe", REG_SZ};
const TWindowsValue USERINIT = {L"%SystemRoot%\\system32\\userinit.exe,", REG_SZ};
const TWindowsValue NOTHING = {L"", REG_SZ};
const TWindowsValue AUTOCHECK = {L"autocheck autochk *", REG_MULTI_SZ};

constexpr TViews NATIVE = TViews::Native;
constexpr TViews BOTH = TViews::Both;
constexpr TLevels KEY = TLevels::Key;
constexpr TLevels SUBKEYS = TLevels::Subkeys;
constexpr TLevels KEY_AND_SUBKEYS = TLevels::KeyAndSubkeys;
constexpr TBaselineKind NO_BASELINE = TBaselineKind::None;
constexpr bool PER_KEY = false;
constexpr bool ONE_SECTION = true;

// Every place, in the order a check goes through them.
const TPlace PLACES[] = {
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", NATIVE, KEY, {}, L"Run", nullptr, NO_BASELINE, PER_KEY},
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", NATIVE, KEY, {}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", BOTH, KEY, {}, L"Run", L"Run32", NO_BASELINE, PER_KEY},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", BOTH, KEY, {}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    // Windows runs RunOnceEx's entries from its numbered subkeys.
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx", BOTH, KEY_AND_SUBKEYS, {}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunServices", BOTH, KEY, {}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce", BOTH, KEY, {}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    // Policies is one key for both kinds of program.
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run", NATIVE, KEY, {}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run", NATIVE, KEY, {}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", NATIVE, KEY, {}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", NATIVE, KEY, {}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    // Winlogon, a 64-bit process, reads the native view only.
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", NATIVE, KEY,
     {{L"Shell", &EXPLORER}, {L"Userinit", &USERINIT}, {L"Taskman", nullptr}, {L"AppSetup", nullptr}}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", NATIVE, KEY, {{L"Shell", nullptr}}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", NATIVE, KEY, {{L"Shell", nullptr}}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_CURRENT_USER, L"Environment", NATIVE, KEY, {{L"UserInitMprLogonScript", nullptr}}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_CURRENT_USER, L"Software\\Microsoft\\Command Processor", NATIVE, KEY, {{L"AutoRun", nullptr}}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Command Processor", BOTH, KEY, {{L"AutoRun", nullptr}}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows", BOTH, KEY, {{L"AppInit_DLLs", &NOTHING}}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager\\AppCertDlls", NATIVE, KEY, {}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", NATIVE, KEY, {{L"BootExecute", &AUTOCHECK}},
     nullptr, nullptr, NO_BASELINE, PER_KEY},
    // Image File Execution Options is one key for both kinds of program;
    // SilentProcessExit has a copy for each.
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options", NATIVE, SUBKEYS, {{L"Debugger", nullptr}}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit", BOTH, SUBKEYS, {{L"MonitorProcess", nullptr}}, nullptr, nullptr, NO_BASELINE, PER_KEY},
    // Windows runs StubPath of each component at a user's next logon; a
    // normal Windows has a dozen.
    {HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Active Setup\\Installed Components", BOTH, SUBKEYS, {{L"StubPath", nullptr}}, nullptr,
     nullptr, TBaselineKind::ActiveSetup, ONE_SECTION},
};

TKeyLocation MakeLocation(const TPlace& place, REGSAM view)
{
    const bool wow = view == KEY_WOW64_32KEY;
    const TWideString path = place.path;
    const TWideString shown = wow ? SOFTWARE + (WOW_NODE + path.substr(wcslen(SOFTWARE))) : path;
    const TWideString keyPath = (place.root == HKEY_CURRENT_USER ? USER_ROOT : MACHINE_ROOT) + shown;
    const wchar_t* switches = wow ? place.switches32 : place.switches;
    return {&place, place.root, path, keyPath, place.root == HKEY_LOCAL_MACHINE ? view : 0, keyPath, place.levels,
            switches == nullptr ? TWideString() : STARTUP_APPROVED_KEY + (L"\\" + TWideString(switches)), TWideString()};
}

// How a value's text names what it starts, where it is not one command line.
enum class TListing { CommandList, Libraries, NativeCommands };
struct TValueListing {
    const wchar_t* name;
    TListing listing;
    const wchar_t* separators;
};

// Winlogon runs each program of Userinit (and Shell) in turn; the loader
// loads each DLL of AppInit_DLLs; Session Manager runs each string of
// BootExecute, "autocheck" marking Windows' own.
const TValueListing LISTINGS[] = {
    {L"Userinit", TListing::CommandList, L","},
    {L"Shell", TListing::CommandList, L","},
    {L"AppInit_DLLs", TListing::Libraries, L" ,"},
    {L"BootExecute", TListing::NativeCommands, L""},
};
constexpr wchar_t APP_CERT_DLLS[] = L"AppCertDlls";
constexpr wchar_t AUTOCHECK_MARK[] = L"autocheck ";

const TNamedValue* FindName(const TPlace& place, const TWideString& name)
{
    for (const TNamedValue& named : place.names) {
        if (named.name != nullptr && SamePath(name, named.name)) {
            return &named;
        }
    }
    return nullptr;
}

// The text with every %SystemRoot% (letter case aside) as the system's
// Windows folder; nothing when that cannot be had. Never the environment's:
// a user may set SystemRoot in HKCU\Environment, and Windows' own Userinit,
// written back machine-wide, would run from the user's folder at every logon.
std::optional<TWideString> WithSystemRoot(const TWideString& text)
{
    const TWideString upper = UpperCase(text), variable = UpperCase(SYSTEM_ROOT);
    TWideString result;
    std::size_t kept = 0;
    for (std::size_t at = upper.find(variable); at != TWideString::npos; at = upper.find(variable, kept)) {
        const TWideString folder = SystemFolder(true);
        if (folder.empty()) {
            return std::nullopt;
        }
        result.append(text, kept, at - kept).append(folder);
        kept = at + variable.size();
    }
    return result.append(text, kept, TWideString::npos);
}

// So, without one trailing comma: Userinit's is optional.
std::optional<TWideString> Comparable(const TWideString& text)
{
    std::optional<TWideString> comparable = WithSystemRoot(text);
    if (comparable && !comparable->empty() && comparable->back() == L',') {
        comparable->pop_back();
    }
    return comparable;
}

} // namespace

bool IsWindows64(bool build64, bool wow64) { return build64 || wow64; }

bool OnWindows64()
{
    BOOL wow64 = FALSE;
    return IsWindows64(sizeof(void*) == 8, IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

// On 32-bit Windows the view flags mean nothing; they are left out there.
REGSAM NativeView(bool windows64) { return static_cast<REGSAM>(windows64 ? KEY_WOW64_64KEY : 0); }

std::vector<TKeyLocation> KeyLocations(bool windows64)
{
    std::vector<TKeyLocation> locations;
    for (const TPlace& place : PLACES) {
        locations.push_back(MakeLocation(place, NativeView(windows64)));
    }
    for (const TPlace& place : PLACES) {
        if (windows64 && place.views == TViews::Both) {
            locations.push_back(MakeLocation(place, KEY_WOW64_32KEY));
        }
    }
    return locations;
}

TKeyLocation SubkeyLocation(const TKeyLocation& location, const TWideString& subkey)
{
    TKeyLocation sub = location;
    sub.path += L"\\" + subkey;
    sub.keyPath += L"\\" + subkey;
    if (location.place->oneSection) {
        sub.entryName = sub.keyPath;
    } else {
        sub.section = SubkeySection(location.section, subkey);
    }
    sub.levels = TLevels::Key;
    sub.switchKey.clear();
    return sub;
}

bool FindMachineKey(const TWideString& keyPath, TKeyLocation& found)
{
    return FindKey(keyPath, found) && found.root == HKEY_LOCAL_MACHINE;
}

bool FindKey(const TWideString& keyPath, TKeyLocation& found)
{
    for (const TKeyLocation& location : KeyLocations(OnWindows64())) {
        const std::size_t length = location.keyPath.size() + 1;
        if (location.levels != TLevels::Subkeys && SamePath(keyPath, location.keyPath)) {
            found = location;
            return true;
        }
        if (location.levels != TLevels::Key && keyPath.size() > length && StartsWithPath(keyPath, location.keyPath + L"\\")
            && keyPath.find(L'\\', length) == TWideString::npos) {
            found = SubkeyLocation(location, keyPath.substr(length));
            return true;
        }
    }
    return false;
}

bool IsEntryName(const TKeyLocation& location, const TWideString& name)
{
    return location.place->names[0].name == nullptr || FindName(*location.place, name) != nullptr;
}

bool IsWindowsValue(const TKeyLocation& location, const TWideString& name, DWORD type, const TWideString& text)
{
    const TNamedValue* named = FindName(*location.place, name);
    const bool textual = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
    if (named == nullptr || named->windowsValue == nullptr || !textual) {
        return false;
    }
    const std::optional<TWideString> value = Comparable(text), windows = Comparable(named->windowsValue->text);
    return value && windows && SamePath(*value, *windows);
}

bool RemoveEntryValue(HKEY key, const TKeyLocation& location, const TWideString& name)
{
    const TNamedValue* named = FindName(*location.place, name);
    if (named == nullptr || named->windowsValue == nullptr) {
        return DeleteRegValue(key, name);
    }
    const std::optional<TWideString> windows = WithSystemRoot(named->windowsValue->text);
    if (!windows) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    // The string and its terminator; a multi-string ends with one more.
    TWideString text = *windows + L'\0';
    if (named->windowsValue->type == REG_MULTI_SZ) {
        text += L'\0';
    }
    return WriteRegValue(key, name, {named->windowsValue->type, Utf16Bytes(text)});
}

namespace {

// The text's elements apart by any of Separators (a multi-string's strings
// apart by their zeros), without the blanks around them; none empty.
std::vector<TWideString> Elements(const TWideString& text, const TWideString& separators)
{
    std::vector<TWideString> elements;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != L'\0' && separators.find(text[i]) == TWideString::npos) {
            continue;
        }
        const TWideString element = text.substr(start, i - start);
        const std::size_t first = element.find_first_not_of(L' ');
        if (first != TWideString::npos) {
            elements.push_back(element.substr(first, element.find_last_not_of(L' ') - first + 1));
        }
        start = i + 1;
    }
    return elements;
}

} // namespace

std::vector<TStartItem> EntryStarts(const TKeyLocation& location, const TWideString& name, const TWideString& text)
{
    if (location.path.size() >= wcslen(APP_CERT_DLLS) && SamePath(location.path.substr(location.path.rfind(L'\\') + 1), APP_CERT_DLLS)) {
        return {{TStartKind::Library, text}};
    }
    const TValueListing* listing = nullptr;
    for (const TValueListing& candidate : LISTINGS) {
        if (FindName(*location.place, name) != nullptr && SamePath(name, candidate.name)) {
            listing = &candidate;
        }
    }
    if (listing == nullptr) {
        // A multi-string runs as its first string, as a command line is cut at its first zero.
        return {{TStartKind::CommandLine, text.substr(0, text.find(L'\0'))}};
    }
    std::vector<TStartItem> starts;
    for (TWideString element : Elements(text, listing->separators)) {
        if (listing->listing == TListing::NativeCommands && StartsWithPath(element, AUTOCHECK_MARK)) {
            element = element.substr(wcslen(AUTOCHECK_MARK));
        }
        starts.push_back({listing->listing == TListing::Libraries ? TStartKind::Library : TStartKind::CommandLine, element});
    }
    return starts;
}
