#include "ProgramPath.h"

#include "Com.h"
#include "MainState.h"
#include "ScopedHandle.h"

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace {

constexpr wchar_t APP_PATHS_KEY[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr wchar_t PROGRAM_EXTENSION[] = L".exe";
constexpr wchar_t LIBRARY_EXTENSION[] = L".dll";
constexpr wchar_t SHORTCUT_EXTENSION[] = L".lnk";
constexpr wchar_t SCRIPT_EXTENSION[] = L".ps1";
// CreateProcess reads a program's name up to a blank or a tab.
constexpr wchar_t NAME_BLANKS[] = L" \t";
// cmd ends a command at the first of these outside quotes.
constexpr wchar_t SHELL_OPERATORS[] = L"&|<>";
constexpr wchar_t SCHEME_CHARACTERS[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+-.";
// A shortcut's target is a path; its arguments may be long.
constexpr DWORD SHORTCUT_TEXT = 32768;
// A cmd inside a cmd is followed no further.
constexpr int MAX_SHELL_DEPTH = 1;

// How Windows looks for a name: a program as CreateProcess and the shell do
// (".exe" implied), a DLL as the loader does (".dll" implied), and a file a
// host is given to open, which only its folder or the current one names.
enum class TLookup { Program, Library, Script };

enum class THost { None, RunDll, RegSvr, Shell, PowerShell, ScriptHost, Hta };
const struct {
    const wchar_t* name;
    THost host;
} HOSTS[] = {
    {L"rundll32", THost::RunDll}, {L"regsvr32", THost::RegSvr}, {L"cmd", THost::Shell},
    {L"powershell", THost::PowerShell}, {L"pwsh", THost::PowerShell}, {L"wscript", THost::ScriptHost},
    {L"cscript", THost::ScriptHost}, {L"mshta", THost::Hta},
};

// PowerShell's parameters that take the next argument, and those after which
// the rest is a command rather than a file. Any start of a parameter's name
// is that parameter, the commands' first ("-c", "-e"); "-ep" and "-wd" are
// names of their own.
const wchar_t* const POWERSHELL_VALUES[] = {
    L"executionpolicy", L"windowstyle", L"version", L"inputformat", L"outputformat", L"psconsolefile",
    L"configurationname", L"workingdirectory", L"settingsfile", L"custompipename", L"ep", L"wd",
};
const wchar_t* const POWERSHELL_COMMANDS[] = {L"command", L"encodedcommand", L"ec"};
constexpr wchar_t POWERSHELL_FILE[] = L"file";

// A registry value or a file name may hold U+0000; Windows reads each only
// up to it.
TWideString UpToZero(const TWideString& text) { return text.substr(0, text.find(L'\0')); }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsOneOf(wchar_t c, const wchar_t* set) { return c != L'\0' && std::wcschr(set, c) != nullptr; }

// Whether the text, or its first End characters, end in Suffix, letter case aside.
bool EndsWith(const TWideString& text, const TWideString& suffix, std::size_t end = TWideString::npos)
{
    end = std::min(end, text.size());
    return end >= suffix.size() && SamePath(text.substr(end - suffix.size(), suffix.size()), suffix);
}

TWideString FileName(const TWideString& path)
{
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == TWideString::npos ? path : path.substr(separator + 1);
}

// Up to the first U+0000, as every Win32 call reads it.
TWideString Expanded(const TWideString& text)
{
    TWideString expanded(text.size() + 1, L'\0');
    for (;;) {
        const DWORD size = ExpandEnvironmentStringsW(text.c_str(), &expanded[0], static_cast<DWORD>(expanded.size()));
        if (size == 0) {
            return UpToZero(text);
        }
        if (size <= expanded.size()) {
            expanded.resize(size - 1);
            return expanded;
        }
        expanded.resize(size);
    }
}

TWideString FullPath(const TWideString& path)
{
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    TWideString full(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (length == 0 || length >= size) {
        return path;
    }
    full.resize(length);
    return full;
}

// A drive's root or a share; "\\?\" and "\\.\" paths too.
bool IsQualified(const TWideString& path)
{
    return (path.size() >= 3 && path[1] == L':' && IsSeparator(path[2]))
        || (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]));
}

bool IsBare(const TWideString& name) { return name.find_first_of(L"\\/:") == TWideString::npos; }

// A share (\\server\share, \\?\UNC\...) or a drive that maps one: what an
// entry names there is not to be touched.
bool IsRemote(const TWideString& path)
{
    constexpr wchar_t LOCAL_PREFIX[] = L"\\\\?\\";
    constexpr wchar_t SHARE_PREFIX[] = L"\\\\?\\UNC\\";
    if (StartsWithPath(path, SHARE_PREFIX)) {
        return true;
    }
    const TWideString local = StartsWithPath(path, LOCAL_PREFIX) ? path.substr(wcslen(LOCAL_PREFIX)) : path;
    if (local.size() >= 2 && IsSeparator(local[0]) && IsSeparator(local[1])) {
        return true;
    }
    return local.size() >= 2 && local[1] == L':' && GetDriveTypeW((local.substr(0, 2) + L"\\").c_str()) == DRIVE_REMOTE;
}

// A name no file of the search had: full where it names its folder.
TProgramFile Missing(const TWideString& name)
{
    const TWideString path = IsQualified(name) && !IsRemote(name) ? FullPath(name) : name;
    return {path, false, IsRemote(path)};
}

bool FileAt(const TWideString& path, TWideString& found)
{
    if (IsRemote(path)) {
        return false;
    }
    // A device's name (CON, NUL, COM1, ...), whatever its extension, is the
    // device in every folder.
    const TWideString name = Win32Spelling(FileName(path));
    if (!Win32SpellsExactly(name)) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(NativePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    found = FullPath(path);
    return true;
}

// Where the loader and CreateProcess look for a bare name before PATH. The
// program's own folder and the current one are left out: which they are
// depends on who starts the entry.
std::vector<TWideString> SystemFolders()
{
    std::vector<TWideString> folders = {SystemFolder()};
    const TWideString windows = SystemFolder(true);
    if (!windows.empty()) {
        folders.push_back(windows + L"\\System");
        folders.push_back(windows);
    }
    return folders;
}

// PATH's folders; a relative one would be the current folder's.
std::vector<TWideString> PathFolders()
{
    std::vector<TWideString> folders;
    const TWideString path = Expanded(L"%PATH%");
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(L';', start), path.size());
        TWideString folder = path.substr(start, end - start);
        folder.erase(std::remove(folder.begin(), folder.end(), L'"'), folder.end());
        if (IsQualified(folder)) {
            folders.push_back(folder);
        }
        start = end + 1;
    }
    return folders;
}

// The shell runs a bare name that App Paths lists as the file its default
// value names (quoted or not, with variables).
bool AppPath(const TWideString& name, TWideString& found)
{
    TWideString target = UpToZero(ReadRegString(HKEY_LOCAL_MACHINE, APP_PATHS_KEY + name, L""));
    const std::size_t start = target.find_first_not_of(NAME_BLANKS);
    if (start == TWideString::npos) {
        return false;
    }
    target.erase(0, start);
    if (target[0] == L'"') {
        target = target.substr(1, target.find(L'"', 1) - 1);
    }
    target = Expanded(target);
    return IsQualified(target) && FileAt(target, found);
}

// A relative name is relative to a current folder the entry does not say;
// only the system folder, where what Windows starts at logon begins, is
// tried. A drive's own current folder ("D:x") is not known at all.
bool RelativeFileAt(const TWideString& name, TWideString& found)
{
    const TWideString system = SystemFolder();
    if (system.empty() || (name.size() > 1 && name[1] == L':')) {
        return false;
    }
    return FileAt(IsSeparator(name[0]) ? system.substr(0, 2) + name : system + L"\\" + name, found);
}

bool Find(const TWideString& name, TLookup lookup, TWideString& found)
{
    if (IsQualified(name)) {
        return FileAt(name, found);
    }
    if (!IsBare(name) || lookup == TLookup::Script) {
        return RelativeFileAt(name, found);
    }
    for (const TWideString& folder : SystemFolders()) {
        if (FileAt(folder + L"\\" + name, found)) {
            return true;
        }
    }
    if (lookup == TLookup::Program && AppPath(name, found)) {
        return true;
    }
    for (const TWideString& folder : PathFolders()) {
        if (FileAt(folder + L"\\" + name, found)) {
            return true;
        }
    }
    return false;
}

TProgramFile Locate(const TWideString& name, TLookup lookup)
{
    // The implied extension is added only to a name that has none; a
    // trailing dot counts as one.
    TWideString sought = name;
    if (lookup != TLookup::Script && FileName(name).find(L'.') == TWideString::npos) {
        sought += lookup == TLookup::Program ? PROGRAM_EXTENSION : LIBRARY_EXTENSION;
    }
    TWideString found;
    return !name.empty() && Find(sought, lookup, found) ? TProgramFile{found, true} : Missing(name);
}

// As CreateProcess reads an unquoted name: the text up to each blank in
// turn, then the whole; the first that names a file is the program. When
// none does, the first that ends in ".exe" is the likeliest meant, else the
// first word. End: where the arguments begin.
TProgramFile UnquotedProgram(const TWideString& command, std::size_t start, std::size_t& end)
{
    std::size_t likeliest = TWideString::npos;
    for (std::size_t i = start + 1; i <= command.size(); ++i) {
        const bool boundary = i == command.size() || IsOneOf(command[i], NAME_BLANKS);
        if (!boundary || IsOneOf(command[i - 1], NAME_BLANKS)) {
            continue;
        }
        // CreateProcess takes no longer name.
        if (i - start <= MAX_PATH) {
            const TProgramFile program = Locate(command.substr(start, i - start), TLookup::Program);
            if (program.found) {
                end = i;
                return program;
            }
        }
        if (likeliest == TWideString::npos && EndsWith(command, PROGRAM_EXTENSION, i)) {
            likeliest = i;
        }
    }
    const std::size_t firstBlank = std::min(command.find_first_of(NAME_BLANKS, start), command.size());
    end = likeliest != TWideString::npos ? likeliest : firstBlank;
    return Missing(command.substr(start, end - start));
}

THost HostOf(const TWideString& program)
{
    TWideString name = Win32Spelling(FileName(program));
    if (EndsWith(name, PROGRAM_EXTENSION)) {
        name.erase(name.rfind(L'.'));
    }
    for (const auto& host : HOSTS) {
        if (SamePath(name, host.name)) {
            return host.host;
        }
    }
    return THost::None;
}

bool IsSwitch(const TWideString& argument) { return !argument.empty() && (argument[0] == L'/' || argument[0] == L'-'); }

// What cmd runs: the text after /c or /k (other switches may come before).
// Of its quotes cmd keeps a sole pair; otherwise it drops the first and the
// last.
TWideString ShellCommand(const TWideString& arguments)
{
    TWideString command;
    for (std::size_t i = arguments.find_first_not_of(NAME_BLANKS);; i = arguments.find_first_not_of(NAME_BLANKS, i)) {
        if (i == TWideString::npos || arguments[i] != L'/') {
            return command;
        }
        const wchar_t letter = i + 1 < arguments.size() ? static_cast<wchar_t>(std::towlower(arguments[i + 1])) : L'\0';
        if (letter == L'c' || letter == L'k') {
            command = arguments.substr(i + 2);
            break;
        }
        i = arguments.find_first_of(NAME_BLANKS, i);
    }
    command.erase(0, std::min(command.find_first_not_of(NAME_BLANKS), command.size()));
    if (!command.empty() && command[0] == L'"' && std::count(command.begin(), command.end(), L'"') != 2) {
        const std::size_t last = command.rfind(L'"');
        if (last > 0) {
            command.erase(last, 1);
        }
        command.erase(0, 1);
    }
    bool quoted = false;
    for (std::size_t i = 0; i < command.size(); ++i) {
        quoted = quoted != (command[i] == L'"');
        if (!quoted && IsOneOf(command[i], SHELL_OPERATORS)) {
            command.resize(i);
            break;
        }
    }
    return command;
}

// The script PowerShell runs: the one of -File, or a first argument that
// is no parameter's and names a .ps1.
TWideString PowerShellScript(const std::vector<TWideString>& arguments)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (!IsSwitch(arguments[i])) {
            return EndsWith(arguments[i], SCRIPT_EXTENSION) ? arguments[i] : TWideString();
        }
        const TWideString name = arguments[i].substr(1);
        const auto matches = [&name](const wchar_t* parameter) {
            return !name.empty() && StartsWithPath(parameter, name);
        };
        if (std::any_of(std::begin(POWERSHELL_COMMANDS), std::end(POWERSHELL_COMMANDS), matches)) {
            return TWideString();
        }
        if (matches(POWERSHELL_FILE)) {
            return i + 1 < arguments.size() ? arguments[i + 1] : TWideString();
        }
        if (std::any_of(std::begin(POWERSHELL_VALUES), std::end(POWERSHELL_VALUES), matches)) {
            ++i;
        }
    }
    return TWideString();
}

// "javascript:...", "http://...": a scheme of two characters or more, where
// a path has a drive's one letter.
bool IsUrl(const TWideString& text)
{
    const std::size_t colon = text.find(L':');
    return colon != TWideString::npos && colon >= 2 && text.find_first_not_of(SCHEME_CHARACTERS) >= colon;
}

std::vector<TProgramFile> CommandFilesAt(const TWideString& commandLine, int depth);

// What a host program is given to run, after the host itself.
void AddHostedFiles(const TWideString& program, const TWideString& arguments, int depth,
                    std::vector<TProgramFile>& files)
{
    const THost host = HostOf(program);
    if (host == THost::Shell) {
        const TWideString command = ShellCommand(arguments);
        if (depth < MAX_SHELL_DEPTH) {
            const std::vector<TProgramFile> inner = CommandFilesAt(command, depth + 1);
            files.insert(files.end(), inner.begin(), inner.end());
        }
        return;
    }
    const std::vector<TWideString> split = SplitCommandLine(arguments.c_str());
    const auto firstFile = std::find_if(split.begin(), split.end(), [](const TWideString& argument) {
        return !argument.empty() && argument[0] != L'/';
    });
    const auto lastFile =
        std::find_if(split.rbegin(), split.rend(), [](const TWideString& argument) { return !IsSwitch(argument); });
    TWideString name;
    TLookup lookup = TLookup::Script;
    if (host == THost::RunDll && !split.empty()) {
        // "rundll32 file.dll,Entry arguments"
        name = split[0].substr(0, split[0].find(L','));
        lookup = TLookup::Library;
    } else if (host == THost::RegSvr && lastFile != split.rend()) {
        name = *lastFile;
        lookup = TLookup::Library;
    } else if (host == THost::PowerShell) {
        name = PowerShellScript(split);
    } else if (host == THost::ScriptHost && firstFile != split.end()) {
        // Its own switches ("//B", "//E:jscript") come before the script.
        name = *firstFile;
    } else if (host == THost::Hta && !split.empty() && !IsUrl(split[0])) {
        name = split[0];
    }
    if (!name.empty()) {
        files.push_back(Locate(name, lookup));
    }
}

std::vector<TProgramFile> CommandFilesAt(const TWideString& commandLine, int depth)
{
    const TWideString command = Expanded(commandLine);
    const std::size_t start = command.find_first_not_of(NAME_BLANKS);
    if (start == TWideString::npos) {
        return {};
    }
    std::vector<TProgramFile> files;
    std::size_t end = command.size();
    if (command[start] == L'"') {
        // An unbalanced quote runs to the end.
        const std::size_t close = command.find(L'"', start + 1);
        const TWideString name = command.substr(start + 1, close == TWideString::npos ? close : close - start - 1);
        if (name.empty()) {
            return {};
        }
        files.push_back(Locate(name, TLookup::Program));
        end = close == TWideString::npos ? command.size() : close + 1;
    } else {
        files.push_back(UnquotedProgram(command, start, end));
    }
    AddHostedFiles(files[0].path, command.substr(end), depth, files);
    return files;
}

// A shortcut's target and arguments; false where the file is no shortcut
// or names no file (a shortcut to a shell object).
bool ReadShortcut(const TWideString& path, TWideString& target, TWideString& arguments)
{
    const TApartment apartment;
    TScopedHandle<TComTraits<IShellLinkW>> link;
    TScopedHandle<TComTraits<IPersistFile>> file;
    if (!apartment.Ready()
        || FAILED(apartment.Create(CLSID_ShellLink, IID_IShellLinkW, reinterpret_cast<void**>(link.Receive())))
        || FAILED(link.Get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Receive())))
        || FAILED(file.Get()->Load(path.c_str(), STGM_READ))) {
        return false;
    }
    std::vector<wchar_t> text(SHORTCUT_TEXT);
    if (link.Get()->GetPath(text.data(), static_cast<int>(text.size() - 1), nullptr, 0) != S_OK) {
        return false;
    }
    target = text.data();
    if (FAILED(link.Get()->GetArguments(text.data(), static_cast<int>(text.size() - 1)))) {
        text[0] = L'\0';
    }
    arguments = text.data();
    return !target.empty();
}

} // namespace

std::vector<TProgramFile> CommandFiles(const TWideString& commandLine) { return CommandFilesAt(commandLine, 0); }

std::vector<TProgramFile> EntryFileFiles(const TWideString& path)
{
    // A file's name may hold "%": it is no variable.
    const TWideString file = UpToZero(path);
    if (file.empty()) {
        return {};
    }
    TWideString target;
    TWideString arguments;
    if (!EndsWith(file, SHORTCUT_EXTENSION) || !ReadShortcut(file, target, arguments)) {
        return {Locate(file, TLookup::Script)};
    }
    // The shell expands the variables in a shortcut's arguments.
    std::vector<TProgramFile> files = {Locate(target, TLookup::Script)};
    AddHostedFiles(files[0].path, Expanded(arguments), 0, files);
    return files;
}

std::vector<TProgramFile> LibraryFiles(const TWideString& name)
{
    TWideString library = Expanded(name);
    library.erase(0, std::min(library.find_first_not_of(NAME_BLANKS), library.size()));
    library.erase(library.find_last_not_of(NAME_BLANKS) + 1);
    if (library.empty()) {
        return {};
    }
    return {Locate(library, TLookup::Library)};
}
