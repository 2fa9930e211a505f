#include "TestSupport.h"

#include "MainState.h"
#include "ScopedHandle.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr char TEST_ROOT[] = "C:\\rwtest";

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    return (c | 0x20) - 'a' + 10;
}

void ClearAttributes(const std::string& path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

} // namespace

std::string Bytes(const char* hex)
{
    std::string bytes;
    for (const char* p = hex; *p != '\0';) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        bytes += static_cast<char>(HexDigit(p[0]) * 16 + HexDigit(p[1]));
        p += 2;
    }
    return bytes;
}

std::string FreshTestFolder()
{
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : "none";
    std::replace(name.begin(), name.end(), '/', '_');
    CreateDirectoryA(TEST_ROOT, nullptr);
    const std::string folder = std::string(TEST_ROOT) + "\\" + name;
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

bool RemoveTree(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    ClearAttributes(path);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return DeleteFileA(path.c_str()) != FALSE;
    }
    for (const std::string& name : FolderNames(path)) {
        RemoveTree(path + "\\" + name);
    }
    return RemoveDirectoryA(path.c_str()) != FALSE;
}

std::string ReadFileBytes(const std::string& path)
{
    TFileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    if (!file.Valid()) {
        return bytes;
    }
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    TFileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file.Valid()
        && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)
        && written == bytes.size();
}

bool FileExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<std::string> FolderNames(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    TFindHandle find(FindFirstFileA((folder + "\\*").c_str(), &data));
    if (!find.Valid()) {
        return names;
    }
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (FindNextFileA(find.Get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

void SetKeyValues(HKEY root, const std::string& path, const std::vector<TRegValue>& values)
{
    DeleteKey(root, path);
    TRegKey key;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.Receive(), nullptr),
              ERROR_SUCCESS)
        << path;
    for (const TRegValue& value : values) {
        ASSERT_EQ(RegSetValueExA(key.Get(), value.name.c_str(), 0, value.type,
                                 reinterpret_cast<const BYTE*>(value.data.data()),
                                 static_cast<DWORD>(value.data.size())),
                  ERROR_SUCCESS)
            << value.name;
    }
}

std::vector<TRegValue> KeyValues(HKEY root, const std::string& path)
{
    std::vector<TRegValue> values;
    TRegKey key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) {
        return values;
    }
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD nameLength = sizeof(name);
        static BYTE data[1 << 16];
        DWORD dataSize = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueA(key.Get(), index, name, &nameLength, nullptr, &type, data, &dataSize)
            != ERROR_SUCCESS) {
            break;
        }
        values.push_back({std::string(name, nameLength), type,
                          std::string(reinterpret_cast<const char*>(data), dataSize)});
    }
    std::sort(values.begin(), values.end(),
              [](const TRegValue& a, const TRegValue& b) { return a.name < b.name; });
    return values;
}

bool KeyExists(HKEY root, const std::string& path)
{
    TRegKey key;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

void DeleteKey(HKEY root, const std::string& path)
{
    RegDeleteTreeA(root, path.c_str());
    RegDeleteKeyA(root, path.c_str());
}

TRegValue Sz(const std::string& name, const std::string& text)
{
    return {name, REG_SZ, text + '\0'};
}

TTestState::TTestState()
    : folder(FreshTestFolder()), settingsPath(folder + "\\options.ini")
{
    WriteFileBytes(settingsPath, "");
    owner = CreateWindowExA(0, "STATIC", "test owner", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    SetMainWnd(owner);
    SetOwnCommands(ModulePath());
    SetSettingsFilePath(settingsPath);
    SetRunAborted(false);
}

TTestState::~TTestState()
{
    SetMainWnd(nullptr);
    DestroyWindow(owner);
}

std::string WinPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string ProgramPath() { return WinPath(RUNWARDEN_EXE); }

TProcess::TProcess(const std::string& exe, const std::string& arguments)
{
    std::string commandLine = "\"" + exe + "\"";
    if (!arguments.empty()) {
        commandLine += " " + arguments;
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info_)) {
        info_ = {};
    }
}

TProcess::~TProcess()
{
    if (info_.hProcess != nullptr) {
        if (Running()) {
            TerminateProcess(info_.hProcess, 1);
            WaitForSingleObject(info_.hProcess, 5000);
        }
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
}

DWORD TProcess::Wait(DWORD timeoutMs)
{
    if (info_.hProcess == nullptr) {
        return STILL_ACTIVE;
    }
    if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 5000);
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

bool TProcess::Running() const
{
    return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

bool WaitFor(DWORD timeoutMs, const std::function<bool()>& condition)
{
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

HWND WaitForMainWindow(DWORD processId, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        HWND wnd = nullptr;
        while ((wnd = FindWindowExA(nullptr, wnd, "RunwardenClass", "Runwarden")) != nullptr) {
            DWORD pid = 0;
            GetWindowThreadProcessId(wnd, &pid);
            if (pid == processId) {
                return wnd;
            }
        }
        if (GetTickCount() - start > timeoutMs) {
            return nullptr;
        }
        Sleep(20);
    }
}

std::string SaveWindowShot(HWND wnd, const std::string& name)
{
    RECT r = {};
    if (!GetWindowRect(wnd, &r)) {
        return std::string();
    }
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    const std::string own = ModulePath();
    const std::string folder = own.substr(0, own.rfind('\\')) + "\\screenshots";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string path = folder + "\\" + name + ".bmp";

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    header.biSizeImage = stride * static_cast<DWORD>(height);
    std::string pixels(header.biSizeImage, '\0');

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), &pixels[0],
              reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + header.biSizeImage;
    const std::string bytes = std::string(reinterpret_cast<const char*>(&file), sizeof(file))
        + std::string(reinterpret_cast<const char*>(&header), sizeof(header)) + pixels;
    return WriteFileBytes(path, bytes) ? path : std::string();
}

const TRunKey RUN_KEYS[7] = {
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
     "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
     "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
     "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
     "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
     "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
     "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
     "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce"},
};

void SetShellFolder(HKEY root, const char* name, const std::string& folder)
{
    TRegKey key;
    ASSERT_EQ(RegCreateKeyExA(root, SHELL_FOLDERS, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Receive(),
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
}

void QuietAutostart(const std::string& folder)
{
    SetShellFolder(HKEY_CURRENT_USER, "AppData", folder);
    CreateDirectoryA((folder + "\\Startup").c_str(), nullptr);
    CreateDirectoryA((folder + "\\Common Startup").c_str(), nullptr);
    SetShellFolder(HKEY_CURRENT_USER, "Startup", folder + "\\Startup");
    SetShellFolder(HKEY_LOCAL_MACHINE, "Common Startup", folder + "\\Common Startup");
    for (const TRunKey& key : RUN_KEYS) {
        SetKeyValues(key.root, key.path, {});
    }
    WritePrivateProfileStringA("windows", "run", nullptr, "win.ini");
    WritePrivateProfileStringA("windows", "load", nullptr, "win.ini");
}

std::string NewEntryMessage(const std::string& entry)
{
    // "Обнаружена новая запись:" LF CR LF CR '"' entry '".' LF CR LF CR "Что будем с ней делать?"
    return Bytes("CE E1 ED E0 F0 F3 E6 E5 ED E0 20 ED EE E2 E0 FF 20 E7 E0 EF E8 F1 FC 3A 0A 0D 0A 0D 22") + entry
        + Bytes("22 2E 0A 0D 0A 0D D7 F2 EE 20 E1 F3 E4 E5 EC 20 F1 20 ED E5 E9 20 E4 E5 EB E0 F2 FC 3F");
}

std::string ChangedEntryMessage(const std::string& entry)
{
    // "Параметр:" ... " - есть в списке, но имеет другое значение." ... "Что будем с ним делать?"
    return Bytes("CF E0 F0 E0 EC E5 F2 F0 3A 0A 0D 0A 0D 22") + entry
        + Bytes("22 0A 0D 0A 0D 20 2D 20 E5 F1 F2 FC 20 E2 20 F1 EF E8 F1 EA E5 2C 20 ED EE 20 E8 EC E5 E5 F2 20 "
                "E4 F0 F3 E3 EE E5 20 E7 ED E0 F7 E5 ED E8 E5 2E 0A 0D 0A 0D D7 F2 EE 20 E1 F3 E4 E5 EC 20 F1 20 "
                "ED E8 EC 20 E4 E5 EB E0 F2 FC 3F");
}

std::string EmptyValueMessage(const std::string& path)
{
    // "В реестре обнаружен "пустой" параметр:" LF CR LF CR '"' path '".' LF CR LF CR "Удалить его?"
    return Bytes("C2 20 F0 E5 E5 F1 F2 F0 E5 20 EE E1 ED E0 F0 F3 E6 E5 ED 20 22 EF F3 F1 F2 EE E9 22 20 EF E0 F0 E0 "
                 "EC E5 F2 F0 3A 0A 0D 0A 0D 22")
        + path + Bytes("22 2E 0A 0D 0A 0D D3 E4 E0 EB E8 F2 FC 20 E5 E3 EE 3F");
}

std::string CannotDeleteKeyMessage(const std::string& path)
{
    // "Не удалось удалить ключ: "path"."
    return Bytes("CD E5 20 F3 E4 E0 EB EE F1 FC 20 F3 E4 E0 EB E8 F2 FC 20 EA EB FE F7 3A 20 22") + path + "\".";
}

std::string CannotDeleteFileMessage(const std::string& path)
{
    // "Не удалось удалить файл: "path"."
    return Bytes("CD E5 20 F3 E4 E0 EB EE F1 FC 20 F3 E4 E0 EB E8 F2 FC 20 F4 E0 E9 EB 3A 20 22") + path + "\".";
}

std::string CannotOpenFileMessage(const std::string& path)
{
    // "Не удалось открыть файл "path" - убедитесь, что у вас есть необходимые права доступа."
    return Bytes("CD E5 20 F3 E4 E0 EB EE F1 FC 20 EE F2 EA F0 FB F2 FC 20 F4 E0 E9 EB 20 22") + path
        + Bytes("22 20 2D 20 F3 E1 E5 E4 E8 F2 E5 F1 FC 2C 20 F7 F2 EE 20 F3 20 E2 E0 F1 20 E5 F1 F2 FC 20 ED E5 EE "
                "E1 F5 EE E4 E8 EC FB E5 20 EF F0 E0 E2 E0 20 E4 EE F1 F2 F3 EF E0 2E");
}

std::string CheckCompleteMessage()
{
    // "Проверка завершена"
    return Bytes("CF F0 EE E2 E5 F0 EA E0 20 E7 E0 E2 E5 F0 F8 E5 ED E0");
}

TExpectedBox Question(const std::string& entry) { return {NewEntryMessage(entry), true}; }
TExpectedBox Warning(const std::string& text) { return {text, false}; }

void ExpectBoxes(TUserRobot& robot, HWND owner, const std::vector<TExpectedBox>& expected)
{
    robot.Finish();
    const std::vector<std::string> problems = robot.Problems();
    EXPECT_TRUE(problems.empty()) << problems.size() << " problem(s), first: " << (problems.empty() ? "" : problems[0]);
    const std::vector<TBoxInfo> boxes = robot.Boxes();
    ASSERT_EQ(boxes.size(), expected.size());
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].caption, "Runwarden") << i;
        EXPECT_EQ(boxes[i].text, expected[i].text) << i;
        EXPECT_EQ(boxes[i].owner, owner) << i;
        if (expected[i].question) {
            EXPECT_EQ(boxes[i].Options().size(), 2u) << i;
            EXPECT_EQ(boxes[i].buttons, (std::vector<int>{IDOK, IDCANCEL})) << i;
        } else {
            EXPECT_TRUE(boxes[i].Options().empty()) << i;
            EXPECT_EQ(boxes[i].buttons, std::vector<int>{IDOK}) << i;
            EXPECT_EQ(boxes[i].icon, IDI_EXCLAMATION) << i;
        }
    }
}
