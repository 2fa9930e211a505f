#pragma once

// Small helpers shared by the benchmark programs: a clock, a scratch folder,
// the entries of an allowed list, the places filled with them, a look for
// the program's boxes and at a process's working set.

#include "ScopedHandle.h"
#include "TestSupport.h"
#include "User.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

constexpr int SERVICES = 300;
constexpr int COMPONENTS = 30;
constexpr int TASKS = 150;
constexpr int TASK_FOLDERS = 10;
constexpr wchar_t SERVICES_PATH[] = L"System\\CurrentControlSet\\Services";
constexpr wchar_t COMPONENTS_PATH[] = L"Software\\Microsoft\\Active Setup\\Installed Components";
constexpr wchar_t BENCH_PREFIX[] = L"RunwardenBench";

inline double Seconds()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The best of Runs timings of Step: the least disturbed by the rest of the
// machine.
template <typename Step>
double BestOf(int runs, Step step)
{
    double best = 0;
    for (int run = 0; run < runs; ++run) {
        const double start = Seconds();
        step();
        const double elapsed = Seconds() - start;
        if (run == 0 || elapsed < best) {
            best = elapsed;
        }
    }
    return best;
}

// C:\rwbench\<name>, emptied of the files the benchmark makes.
inline TWideString BenchFolder(const TWideString& name)
{
    CreateDirectoryW(L"C:\\rwbench", nullptr);
    const TWideString folder = L"C:\\rwbench\\" + name;
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// The I-th entry of a benchmark's allowed list: ordinary, plainly stored.
inline TWideString Name(int i)
{
    wchar_t name[32];
    wsprintfW(name, L"Entry%05d", i);
    return name;
}

inline TWideString Command(int i)
{
    wchar_t command[96];
    wsprintfW(command, L"C:\\Program Files\\Vendor %05d\\app.exe /background", i);
    return command;
}

// N entries in the Run key and in the allowed list at Options, in the
// program's format.
inline void FillRunKey(int count, const std::string& options)
{
    std::vector<TRegValue> values;
    std::string text = "[HKEY_CURRENT_USER\\" + std::string(USER_RUN) + "]\r\n";
    for (int i = 0; i < count; ++i) {
        const std::string name = Spell(Name(i));
        const std::string command = Spell(Command(i));
        values.push_back(Sz(name, command));
        text += name + "=" + command + "\r\n";
    }
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, values);
    WriteFileBytes(options, text);
}

// Services written straight into the key, as an installer's registry
// script would: the prefix's service manager, which read the key when it
// started, never starts them.
inline void FillServicesAndComponents(bool fill)
{
    for (int i = 0; i < SERVICES; ++i) {
        wchar_t name[64];
        wsprintfW(name, L"%s\\%s%03d", SERVICES_PATH, BENCH_PREFIX, i);
        DeleteKey(HKEY_LOCAL_MACHINE, Spell(name));
        if (fill) {
            SetKeyValues(HKEY_LOCAL_MACHINE, Spell(name),
                         {{"Type", REG_DWORD, std::string("\x10\0\0\0", 4)}, {"Start", REG_DWORD, std::string("\x02\0\0\0", 4)},
                          {"ImagePath", REG_EXPAND_SZ, Spell(Command(i)) + '\0'}});
        }
    }
    for (int i = 0; i < COMPONENTS; ++i) {
        wchar_t name[128];
        wsprintfW(name, L"%s\\{%s-%03d}", COMPONENTS_PATH, BENCH_PREFIX, i);
        DeleteKey(HKEY_LOCAL_MACHINE, Spell(name));
        if (fill) {
            SetKeyValues(HKEY_LOCAL_MACHINE, Spell(name), {Sz("StubPath", Spell(Command(i)) + " /setup")});
        }
    }
}

// Tasks in ten task folders, each at logon or every hour, as installers
// register them.
inline void FillTasks(bool fill)
{
    RemoveTree(TASK_STORE);
    for (int i = 0; fill && i < TASKS; ++i) {
        char path[64];
        std::snprintf(path, sizeof(path), "\\%ls%d\\Task%03d", BENCH_PREFIX, i % TASK_FOLDERS, i);
        const std::string trigger = i % 2 == 0 ? "<LogonTrigger/>"
                                               : "<TimeTrigger><StartBoundary>2026-01-01T00:00:00</StartBoundary><Repetition>"
                                                 "<Interval>PT1H</Interval></Repetition></TimeTrigger>";
        WriteTask(path, TaskXml(trigger, "<Exec><Command>" + Spell(Command(i)) + "</Command><Arguments>/update</Arguments></Exec>"));
    }
}

inline double WorkingSetKiB(DWORD processId)
{
    const TKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    return GetProcessMemoryInfo(process.Get(), &counters, sizeof(counters)) ? counters.WorkingSetSize / 1024.0 : 0;
}

// A visible message box or dialog of the process, or null.
inline HWND FindBox(DWORD processId)
{
    for (HWND box = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); box != nullptr;
         box = FindWindowExW(nullptr, box, L"#32770", nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(box, &pid);
        if (pid == processId && IsWindowVisible(box)) {
            return box;
        }
    }
    return nullptr;
}

// Adds the value Name = Command to Root's Key and returns the ms until the
// program's question shows (and Shown says it is complete), answering it
// "remove"; -1 when none came within TimeoutMs.
inline double AskedAfter(HKEY root, const char* key, const std::string& name, const std::string& command, DWORD processId,
                         DWORD timeoutMs, bool (*shown)(HWND box) = nullptr)
{
    const double start = Seconds();
    RegSetKeyValueA(root, key, name.c_str(), REG_SZ, command.c_str(), static_cast<DWORD>(command.size() + 1));
    HWND box = nullptr;
    while (((box = FindBox(processId)) == nullptr || (shown != nullptr && !shown(box))) && Seconds() - start < timeoutMs / 1000.0) {
        Sleep(1);
    }
    if (box == nullptr) {
        return -1;
    }
    const double delay = (Seconds() - start) * 1e3;
    // "Remove" is selected at first.
    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    for (const double asked = Seconds(); IsWindow(box) && Seconds() - asked < timeoutMs / 1000.0;) {
        Sleep(1);
    }
    return delay;
}

// A user for checks that must ask nothing: it counts what it is asked and
// answers nothing.
class TCountingUser : public TUser {
public:
    int asked = 0;

protected:
    bool OnAskChoice(bool, const TEntryText&, TChoice&) override { return ++asked, false; }
    bool OnAskDeleteEmpty(const TEntryText&) override { return ++asked, false; }
    bool OnAskElevate(const TEntryText&) override { return ++asked, false; }
    void OnWarn(const TWideString&) override { ++asked; }
    void OnInform(const TWideString&) override { ++asked; }
    void OnNotify(const TWideString&) override {}
    void OnRecord(const THistoryEvent&) override {}
};
