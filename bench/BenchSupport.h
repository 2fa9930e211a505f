#pragma once

// Small helpers shared by the benchmark programs: a clock, a scratch folder,
// the entries of an allowed list and a look for the program's boxes.

#include "User.h"

#include <windows.h>

#include <cstdio>
#include <string>

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
