#pragma once

// Set-up helpers shared by the tests: folders and files in the test prefix,
// registry values, the owner window, and programs started as processes.

#include "UserRobot.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Byte strings written as hex, for expectations that must not depend on the
// compiler's conversion of literals.
std::string Bytes(const char* hex);

// A fresh, empty folder C:\rwtest\<current test name> (no trailing backslash).
std::string FreshTestFolder();
bool RemoveTree(const std::string& path);
std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// The names in a folder, sorted, without "." and "..".
std::vector<std::string> FolderNames(const std::string& folder);

struct TRegValue {
    std::string name;
    DWORD type = REG_SZ;
    std::string data; // raw bytes, terminators included as stored
    bool operator==(const TRegValue& other) const
    {
        return name == other.name && type == other.type && data == other.data;
    }
};
// The key with exactly these values (created, emptied first).
void SetKeyValues(HKEY root, const std::string& path, const std::vector<TRegValue>& values);
// Every value of the key in enumeration order, sorted by name.
std::vector<TRegValue> KeyValues(HKEY root, const std::string& path);
bool KeyExists(HKEY root, const std::string& path);
void DeleteKey(HKEY root, const std::string& path);
// A string value as REG_SZ stores it: text plus terminator.
TRegValue Sz(const std::string& name, const std::string& text);

// Points the process state at a test settings file and a hidden owner window.
class TTestState {
public:
    TTestState();
    ~TTestState();
    TTestState(const TTestState&) = delete;
    TTestState& operator=(const TTestState&) = delete;

    std::string folder;       // FreshTestFolder()
    std::string settingsPath; // folder + "\options.ini" (created empty)
    HWND owner = nullptr;
};

// A Windows path of a Unix path (Wine's drive Z:).
std::string WinPath(const std::string& unixPath);
// The x86_64 Runwarden.exe of this build, as a Windows path.
std::string ProgramPath();

// A program started as a process of its own.
class TProcess {
public:
    TProcess(const std::string& exe, const std::string& arguments);
    ~TProcess();
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    bool Started() const { return info_.hProcess != nullptr; }
    DWORD Id() const { return info_.dwProcessId; }
    // The exit code, or STILL_ACTIVE when the process did not end in time
    // (it is then killed).
    DWORD Wait(DWORD timeoutMs);
    bool Running() const;

private:
    PROCESS_INFORMATION info_ = {};
};

// Polls (bounded) until Condition holds; false when it did not in time.
bool WaitFor(DWORD timeoutMs, const std::function<bool()>& condition);

// The program's hidden main window in another process, waited for (bounded).
HWND WaitForMainWindow(DWORD processId, DWORD timeoutMs);

// Saves what the screen shows of the window as a BMP file in the build tree
// (folder "screenshots" beside the test program); returns the path or "".
std::string SaveWindowShot(HWND wnd, const std::string& name);

// Points the program's settings (AppData) and both Startup folders at empty
// folders under Folder, and empties the seven Run keys and win.ini's "run"
// and "load": a check run then finds nothing to ask about.
void QuietAutostart(const std::string& folder);
// Sets a "Shell Folders" value (AppData, Startup, Common Startup).
void SetShellFolder(HKEY root, const char* name, const std::string& folder);

constexpr char SHELL_FOLDERS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
struct TRunKey {
    HKEY root;
    const char* path;
    const char* section;
};
// The seven keys in the order the program checks them.
extern const TRunKey RUN_KEYS[7];

// The program's messages as the user sees them, spelled out as CP1251 bytes.
std::string NewEntryMessage(const std::string& entry);
std::string ChangedEntryMessage(const std::string& entry);
std::string EmptyValueMessage(const std::string& path);
std::string CannotDeleteKeyMessage(const std::string& path);
std::string CannotDeleteFileMessage(const std::string& path);
std::string CannotOpenFileMessage(const std::string& path);
std::string CheckCompleteMessage();

// A box the robot is expected to have seen: a question with the two options
// and OK/Cancel, or a warning with OK only and the exclamation icon.
struct TExpectedBox {
    std::string text;
    bool question = true;
};
TExpectedBox Question(const std::string& entry);
TExpectedBox Warning(const std::string& text);
// Stops the robot and compares what it saw, box by box, all owned by Owner.
void ExpectBoxes(TUserRobot& robot, HWND owner, const std::vector<TExpectedBox>& expected);
