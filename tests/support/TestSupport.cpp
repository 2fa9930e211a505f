#include "TestSupport.h"

#include "MainState.h"
#include "CheckServicesUnit.h"
#include "CheckTasksUnit.h"
#include "Places.h"
#include "ScopedHandle.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <regex>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace {

// Wide calls: a name the code page lacks lists as "?" in the ANSI ones.
void RemoveTreeW(const std::wstring& path)
{
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    WIN32_FIND_DATAW data;
    for (TFindHandle find(FindFirstFileW((path + L"\\*").c_str(), &data)); find.Valid();) {
        if (data.cFileName != std::wstring(L".") && data.cFileName != std::wstring(L"..")) {
            RemoveTreeW(path + L"\\" + data.cFileName);
        }
        if (!FindNextFileW(find.Get(), &data)) {
            break;
        }
    }
    DeleteFileW(path.c_str()) || RemoveDirectoryW(path.c_str());
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::string Bytes(const TWideString& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

TWideString Wide(const std::string& bytes)
{
    return TWideString(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

} // namespace

TWideString W(const std::string& spelled)
{
    TWideString text;
    for (std::size_t i = 0; i < spelled.size(); ++i) {
        unsigned unit = 0;
        if (spelled[i] == '{' && i + 5 < spelled.size() && spelled[i + 5] == '}'
            && std::sscanf(spelled.substr(i + 1, 4).c_str(), "%4x", &unit) == 1) {
            text += static_cast<wchar_t>(unit);
            i += 5;
            continue;
        }
        wchar_t wide = 0;
        MultiByteToWideChar(1251, 0, &spelled[i], 1, &wide, 1);
        text += wide;
    }
    return text;
}

std::string Spell(const TWideString& text)
{
    std::string spelled;
    for (const wchar_t unit : text) {
        char byte = 0;
        BOOL lost = FALSE;
        wchar_t back = 0;
        if (WideCharToMultiByte(1251, WC_NO_BEST_FIT_CHARS, &unit, 1, &byte, 1, nullptr, &lost) == 1 && !lost
            && MultiByteToWideChar(1251, 0, &byte, 1, &back, 1) == 1 && back == unit) {
            spelled += byte;
        } else {
            char code[8];
            std::snprintf(code, sizeof(code), "{%04X}", static_cast<unsigned>(unit));
            spelled += code;
        }
    }
    return spelled;
}

std::string FreshTestFolder()
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string folder = std::string("C:\\rwtest\\") + test->test_suite_name() + "." + test->name();
    CreateDirectoryA("C:\\rwtest", nullptr);
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

// Test paths are plain ASCII.
// By exact names: a name with a trailing dot is no other file's.
void RemoveTree(const std::string& path) { RemoveTreeW(L"\\\\?\\" + std::wstring(path.begin(), path.end())); }

std::string ReadFileBytes(const std::string& path)
{
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    return static_cast<bool>(std::ofstream(path, std::ios::binary) << bytes);
}

std::string ReadUtf16File(const std::string& path)
{
    const std::string bytes = ReadFileBytes(path);
    return bytes.compare(0, 2, "\xFF\xFE") == 0 ? Spell(Wide(bytes.substr(2))) : "!";
}

std::vector<std::string> FolderNames(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW data;
    for (TFindHandle find(FindFirstFileW((W(folder) + L"\\*").c_str(), &data)); find.Valid();) {
        if (data.cFileName != std::wstring(L".") && data.cFileName != std::wstring(L"..")) {
            names.push_back(Spell(data.cFileName));
        }
        if (!FindNextFileW(find.Get(), &data)) {
            break;
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void SetKeyValues(HKEY root, const std::string& path, const std::vector<TRegValue>& values, REGSAM view)
{
    DeleteKey(root, path, view);
    TRegKey key;
    ASSERT_EQ(RegCreateKeyExW(root, W(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.Receive(), nullptr),
              ERROR_SUCCESS);
    // By the whole name: a name may hold U+0000.
    for (const TRegValue& value : values) {
        EXPECT_TRUE(WriteRegValue(key.Get(), W(value.name), {value.type, IsText(value.type) ? Bytes(W(value.data)) : value.data}));
    }
}

std::vector<TRegValue> KeyValues(HKEY root, const std::string& path, REGSAM view)
{
    std::vector<TRegValue> values;
    TRegKey key;
    RegOpenKeyExW(root, W(path).c_str(), 0, KEY_READ | view, key.Receive());
    static wchar_t name[16384];
    static BYTE data[1 << 16];
    for (DWORD index = 0, nameLength = ARRAYSIZE(name), size = sizeof(data), type = 0;
         key.Valid() && RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, &type, data, &size) == ERROR_SUCCESS;
         ++index, nameLength = ARRAYSIZE(name), size = sizeof(data)) {
        const std::string bytes(reinterpret_cast<char*>(data), size);
        values.push_back({Spell(TWideString(name, nameLength)), type, IsText(type) ? Spell(Wide(bytes)) : bytes});
    }
    std::sort(values.begin(), values.end(), [](const TRegValue& a, const TRegValue& b) { return a.name < b.name; });
    return values;
}

void DeleteKey(HKEY root, const std::string& path, REGSAM view)
{
    TRegKey key;
    if (RegOpenKeyExW(root, W(path).c_str(), 0, KEY_ALL_ACCESS | view, key.Receive()) == ERROR_SUCCESS) {
        RegDeleteTreeW(key.Get(), nullptr);
    }
    RegDeleteKeyExW(root, W(path).c_str(), view, 0);
}

void SetShellFolder(HKEY root, const char* name, const std::string& folder)
{
    const TWideString wide = W(folder);
    RegSetKeyValueW(root, SHELL_FOLDERS_KEY, W(name).c_str(), REG_SZ, wide.c_str(),
                    static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

void DenySetValue(HKEY root, const std::string& path, bool deny)
{
    PSECURITY_DESCRIPTOR security = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(deny ? "D:(D;;0x2;;;WD)(A;;KA;;;WD)" : "D:(A;;KA;;;WD)",
                                                                     SDDL_REVISION_1, &security, nullptr));
    TRegKey key;
    RegOpenKeyExA(root, path.c_str(), 0, WRITE_DAC, key.Receive());
    EXPECT_EQ(RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, security), ERROR_SUCCESS);
    LocalFree(security);
}

std::string UnixName(const std::string& path)
{
    const auto unixName = reinterpret_cast<char*(CDECL*)(LPCWSTR)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    char* name = unixName(W(path).c_str());
    const std::string copy = name;
    HeapFree(GetProcessHeap(), 0, name);
    return copy;
}

bool RunLinux(const std::string& command)
{
    const std::string done = "C:\\rwtest\\linux.done";
    DeleteFileA(done.c_str());
    std::string line = "/bin/sh -c \"" + command + " && touch '" + UnixName(done) + "'\"";
    // Wine runs a Linux program but gives no handle to wait on: it leaves a mark.
    STARTUPINFOA startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    return CreateProcessA("Z:\\bin\\sh", &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)
        && WaitFor(5000, [&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

bool SetImmutable(const std::string& path, bool immutable)
{
    return RunLinux(std::string("chattr ") + (immutable ? "+i '" : "-i '") + UnixName(path) + "'");
}

void DeleteService(const std::string& name)
{
    const TServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const TServiceHandle service(OpenServiceA(manager.Get(), name.c_str(), DELETE));
    if (service.Valid()) {
        ::DeleteService(service.Get());
    }
}

void MakeService(const std::string& name, DWORD start, const std::string& path)
{
    DeleteService(name);
    const TServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const TServiceHandle service(CreateServiceA(manager.Get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                                SERVICE_WIN32_OWN_PROCESS, start, SERVICE_ERROR_IGNORE, path.c_str(), nullptr,
                                                nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(service.Valid()) << name;
}

std::string TaskXml(const std::string& triggers, const std::string& actions, const std::string& settings)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
           "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
           "  <Triggers>" + triggers + "</Triggers>\r\n  <Settings>" + settings + "</Settings>\r\n"
           "  <Actions Context=\"Author\">" + actions + "</Actions>\r\n</Task>\r\n";
}

void WriteTask(const std::string& path, const std::string& xml, bool utf16)
{
    CreateDirectoryA(TASK_STORE, nullptr);
    for (std::size_t slash = path.find('\\', 1); slash != std::string::npos; slash = path.find('\\', slash + 1)) {
        CreateDirectoryA((TASK_STORE + path.substr(0, slash)).c_str(), nullptr);
    }
    const TWideString text = L"\xFEFF" + W(utf16 ? xml : std::regex_replace(xml, std::regex("UTF-16"), "UTF-8"));
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    if (!utf16) {
        bytes.assign(text.size() * 3, '\0');
        bytes.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, text.data() + 1, static_cast<int>(text.size() - 1),
                                                                  &bytes[0], static_cast<int>(bytes.size()), nullptr, nullptr)));
    }
    EXPECT_TRUE(WriteFileBytes("\\\\?\\" + (TASK_STORE + path), bytes)) << path;
}

void QuietAutostart(const std::string& folder)
{
    RemoveTree(TASK_STORE);
    SetShellFolder(HKEY_CURRENT_USER, "AppData", folder);
    SetShellFolder(HKEY_CURRENT_USER, "Startup", folder + "\\Startup");
    SetShellFolder(HKEY_LOCAL_MACHINE, "Common Startup", folder + "\\Common Startup");
    for (const char* startup : {"\\Startup", "\\Common Startup"}) {
        RemoveTree(folder + startup);
        CreateDirectoryA((folder + startup).c_str(), nullptr);
    }
    // Every guarded key: emptied where its every value is an entry, its
    // subkeys gone where they hold the entries, its named values gone (or
    // set to Windows' own) where it names them.
    for (const TKeyLocation& location : KeyLocations(true)) {
        const std::string path = Spell(location.path);
        if (location.place->names[0].name == nullptr) {
            SetKeyValues(location.root, path, {}, location.view);
            continue;
        }
        TRegKey key;
        if (RegCreateKeyExW(location.root, location.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | location.view, nullptr,
                            key.Receive(), nullptr) != ERROR_SUCCESS) {
            continue;
        }
        if (location.levels == TLevels::Subkeys) {
            RegDeleteTreeW(key.Get(), nullptr);
        }
        for (const TNamedValue& named : location.place->names) {
            if (named.name != nullptr && (named.windowsValue == nullptr || !RemoveEntryValue(key.Get(), location, named.name))) {
                RegDeleteValueW(key.Get(), named.name);
            }
        }
    }
    DeleteKey(HKEY_CURRENT_USER, APPROVED), DeleteKey(HKEY_LOCAL_MACHINE, APPROVED, KEY_WOW64_64KEY);
    WritePrivateProfileStringW(L"windows", L"run", nullptr, L"win.ini");
    WritePrivateProfileStringW(L"windows", L"load", nullptr, L"win.ini");
}

std::string WithoutBaselines(const std::string& options)
{
    std::set<std::string> baselines = {Spell(SERVICES_SECTION), Spell(TASKS_SECTION)};
    for (const TKeyLocation& location : KeyLocations(true)) {
        if (location.place->baseline != TBaselineKind::None) {
            baselines.insert(Spell(location.section));
        }
    }
    std::string kept;
    bool skipping = false;
    for (std::size_t at = 0; at < options.size();) {
        const std::size_t end = std::min(options.find('\n', at), options.size() - 1) + 1;
        const std::string line = options.substr(at, end - at);
        if (line[0] == '[') {
            skipping = baselines.count(line.substr(1, line.find(']') - 1)) != 0;
        }
        kept += skipping ? "" : line;
        at = end;
    }
    return kept;
}

TTestState::TTestState()
    : folder(FreshTestFolder()), settingsPath(folder + "\\options.ini"),
      owner(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr))
{
    QuietAutostart(folder);
    WriteFileBytes(settingsPath, "");
    SetMainWnd(owner);
    SetOwnCommands(ModulePath());
    SetSettingsFilePath(W(settingsPath));
    SetRunAborted(false);
}

TTestState::~TTestState()
{
    SetMainWnd(nullptr);
    DestroyWindow(owner);
    SetRunAborted(false);
}

char TScriptedUser::Next(const std::string& question)
{
    said.push_back(question);
    if (before_) {
        before_(next_);
    }
    const char answer = next_ < answers_.size() ? answers_[next_] : '?';
    ++next_;
    SetRunAborted(RunAborted() || answer == 'X');
    return answer;
}

bool WaitFor(DWORD timeoutMs, const std::function<bool()>& condition)
{
    for (const DWORD start = GetTickCount(); !condition(); Sleep(20)) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
    }
    return true;
}

HWND WaitForWindow(DWORD processId, const char* className, DWORD timeoutMs, bool hidden)
{
    HWND found = nullptr;
    WaitFor(timeoutMs, [&] {
        for (HWND wnd = FindWindowExA(nullptr, nullptr, className, nullptr); wnd != nullptr && found == nullptr;
             wnd = FindWindowExA(nullptr, wnd, className, nullptr)) {
            DWORD pid = 0;
            GetWindowThreadProcessId(wnd, &pid);
            found = (processId == 0 || pid == processId) && (hidden || IsWindowVisible(wnd)) ? wnd : nullptr;
        }
        return found != nullptr;
    });
    return found;
}

std::string ProgramPath()
{
    std::string path = "Z:" RUNWARDEN_EXE;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

TProcess::TProcess(const std::string& exe, const std::string& arguments)
{
    std::string commandLine = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup = {sizeof(startup)};
    CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_);
    CloseHandle(info_.hThread);
}

DWORD TProcess::Wait(DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 5000);
    } else {
        GetExitCodeProcess(info_.hProcess, &code);
    }
    return code;
}

HWND TProcess::MainWindow(DWORD timeoutMs) const
{
    const HWND wnd = WaitForWindow(info_.dwProcessId, "RunwardenClass", timeoutMs, true);
    // The start-up check runs before the message loop; a sent message returns
    // once the loop runs.
    DWORD_PTR ignored = 0;
    return wnd != nullptr && SendMessageTimeoutA(wnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &ignored) ? wnd
                                                                                                           : nullptr;
}
