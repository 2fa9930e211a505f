#pragma once

// Set-up helpers shared by the tests: files and registry values in the test
// prefix, the scripted user, the program started as a process.

#include "User.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Texts in the tests are bytes of code page 1251, as the program's texts
// were; a UTF-16 unit that 1251 lacks is spelled "{XXXX}" (four hex digits).
// W and Spell convert exactly, whatever the system's code page.
TWideString W(const std::string& spelled);
std::string Spell(const TWideString& text);

constexpr char USER_RUN[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char MACHINE[] = "Software\\Microsoft\\Windows\\CurrentVersion\\";
constexpr char APPROVED[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved";
constexpr char WINDOWS_KEY[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";

// A fresh, empty folder C:\rwtest\<current test name> (no trailing backslash).
std::string FreshTestFolder();
void RemoveTree(const std::string& path);
std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// A UTF-16 file with its byte-order mark, as spelled text; "!" when it has none.
std::string ReadUtf16File(const std::string& path);
// The names in a folder, sorted, without "." and "..".
std::vector<std::string> FolderNames(const std::string& folder);

struct TRegValue {
    std::string name;
    DWORD type;
    std::string data; // raw bytes, terminators included as stored; text types as spelled text
    bool operator==(const TRegValue& other) const
    {
        return name == other.name && type == other.type && data == other.data;
    }
};
inline void PrintTo(const TRegValue& value, std::ostream* out)
{
    *out << testing::PrintToString(value.name) << ", " << value.type << ", " << testing::PrintToString(value.data);
}
// Task Manager's startup switches as it writes them.
inline const std::string SWITCH_ON("\x02\0\0\0\0\0\0\0\0\0\0\0", 12), SWITCH_OFF("\x03\0\0\0\x10\x32\x54\x76\x98\xBA\xDC\x01", 12);
inline TRegValue Sz(const std::string& name, const std::string& text) { return {name, REG_SZ, text + '\0'}; }
inline TRegValue Bin(const std::string& name, const std::string& data, DWORD type = REG_BINARY) { return {name, type, data}; }
// The key made anew with exactly these values, in View (KEY_WOW64_32KEY, ...).
void SetKeyValues(HKEY root, const std::string& path, const std::vector<TRegValue>& values, REGSAM view = 0);
// Every value of the key, sorted by name.
std::vector<TRegValue> KeyValues(HKEY root, const std::string& path, REGSAM view = 0);
void DeleteKey(HKEY root, const std::string& path, REGSAM view = 0);
void SetShellFolder(HKEY root, const char* name, const std::string& folder);
// Denies setting and deleting the key's values to everyone, or allows all again.
void DenySetValue(HKEY root, const std::string& path, bool deny);
// The file's path on the Linux side.
std::string UnixName(const std::string& path);
// Runs a command of Linux's /bin/sh (single quotes only); false when it did
// not end well in time.
bool RunLinux(const std::string& command);
// Sets or clears the file's immutable flag from the Linux side (chattr):
// no one, root included, may move it then. False when it did not take.
bool SetImmutable(const std::string& path, bool immutable);

// A service of the prefix's service manager, made anew (own process, the
// given start type and image path), or deleted.
void MakeService(const std::string& name, DWORD start, const std::string& path);
void DeleteService(const std::string& name);

// The prefix's task store; a task written there as Windows keeps one:
// UTF-16 with its byte-order mark, or UTF-8. TaskXml is a definition with
// these triggers, actions and settings.
constexpr char TASK_STORE[] = "C:\\windows\\system32\\Tasks";
std::string TaskXml(const std::string& triggers, const std::string& actions, const std::string& settings = "");
void WriteTask(const std::string& path, const std::string& xml, bool utf16 = true);

// Points the settings (AppData) and both Startup folders (Folder\Startup and
// Folder\Common Startup) at empty folders and empties every Run key and
// win.ini's "run" and "load", drops Task Manager's switches and the task
// store: nothing to ask.
void QuietAutostart(const std::string& folder);

// The settings file's text without the sections of the places Windows fills
// by itself (services, Active Setup, tasks): their first check writes them, and
// rows about other places leave them to rows of their own.
std::string WithoutBaselines(const std::string& options);

// The process state pointed at Folder\options.ini (empty) and a hidden owner.
struct TTestState {
    TTestState();
    ~TTestState();
    std::string folder;
    std::string settingsPath;
    HWND owner;
};

// A user that answers from a script, one letter per question: R remove (OK
// on the first option), A add or correct (OK on the second), C cancel, Y
// yes, N no (to the empty value and to removing as administrator), X the
// user ends the program while the question is open. It
// writes down every question and message, and runs Before(i) as question i
// (from 0) is asked.
class TScriptedUser : public TUser {
public:
    explicit TScriptedUser(std::string answers = "", std::function<void(std::size_t)> before = nullptr)
        : answers_(std::move(answers)), before_(std::move(before))
    {
    }
    bool AllAnswered() const { return next_ == answers_.size(); }

    std::vector<std::string> said;     // questions and boxes, in order
    std::vector<std::string> starts;   // of each question: what the entry starts, "C:" a command line, "F:" a file, "L:" a DLL
    std::vector<std::string> balloons; // the tray icon's
    std::vector<std::string> recorded; // the decisions, "keyword section|name|command|detail"

protected:
    bool OnAskChoice(bool isChanged, const TEntryText& entry, TChoice& choice) override
    {
        std::string line;
        for (const TStartItem& item : entry.starts) {
            line += (line.empty() ? "" : " | ") + std::string(1, "CFL"[static_cast<int>(item.kind)]) + ":" + Spell(item.text);
        }
        starts.push_back(line);
        const char answer = Next((isChanged ? "changed: " : "new: ") + Spell(entry.shown));
        choice = answer == 'R' ? ChoiceRemove : isChanged ? ChoiceCorrectList : ChoiceAddToList;
        return answer == 'R' || answer == 'A';
    }
    bool OnAskDeleteEmpty(const TEntryText& path) override { return Next("empty: " + Spell(path.shown)) == 'Y'; }
    bool OnAskElevate(const TEntryText& entry) override { return Next("admin: " + Spell(entry.shown)) == 'Y'; }
    void OnWarn(const TWideString& text) override { said.push_back("warn: " + Spell(text)); }
    void OnInform(const TWideString& text) override { said.push_back("info: " + Spell(text)); }
    void OnNotify(const TWideString& text) override { balloons.push_back(Spell(text)); }
    void OnRecord(const THistoryEvent& event) override
    {
        recorded.push_back(Spell(HistoryKeyword(event.kind) + (L" " + event.section) + L"|" + event.name + L"|" + event.command
                                 + L"|" + event.detail));
    }

private:
    char Next(const std::string& question);
    std::string answers_;
    std::function<void(std::size_t)> before_;
    std::size_t next_ = 0;
};

// Polls (bounded) until Condition holds; false when it did not in time.
bool WaitFor(DWORD timeoutMs, const std::function<bool()>& condition);
// A top-level window of the class (a visible one unless Hidden), of the
// process (0: of any).
HWND WaitForWindow(DWORD processId, const char* className, DWORD timeoutMs, bool hidden = false);

// The x86_64 Runwarden.exe of this build, as a Windows path.
std::string ProgramPath();

// A program started as a process of its own; killed if it outlives the test.
class TProcess {
public:
    TProcess(const std::string& exe, const std::string& arguments);
    ~TProcess()
    {
        Wait(0);
        CloseHandle(info_.hProcess);
    }
    TProcess(const TProcess&) = delete;
    TProcess& operator=(const TProcess&) = delete;

    DWORD Id() const { return info_.dwProcessId; }
    // The exit code, or STILL_ACTIVE when the process did not end in time.
    DWORD Wait(DWORD timeoutMs);
    bool Running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
    // Its hidden main window once the message loop runs; null if it did not.
    HWND MainWindow(DWORD timeoutMs) const;

private:
    PROCESS_INFORMATION info_ = {};
};
