#pragma once

// Small helpers shared by the benchmark programs: a clock and a scratch folder.

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
inline std::string BenchFolder(const std::string& name)
{
    CreateDirectoryA("C:\\rwbench", nullptr);
    const std::string folder = "C:\\rwbench\\" + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

// The I-th entry of a benchmark's allowed list: ordinary, plainly stored.
inline std::string Name(int i)
{
    char name[32];
    std::snprintf(name, sizeof(name), "Entry%05d", i);
    return name;
}

inline std::string Command(int i)
{
    char command[96];
    std::snprintf(command, sizeof(command), "C:\\Program Files\\Vendor %05d\\app.exe /background", i);
    return command;
}

// A user for checks that must ask nothing: it counts what it is asked and
// answers nothing.
class TCountingUser : public TUser {
public:
    bool AskChoice(bool, const std::string&, TChoice&) override { return ++asked, false; }
    bool AskDeleteEmpty(const std::string&) override { return ++asked, false; }
    void Warn(const std::string&) override { ++asked; }
    void Inform(const std::string&) override { ++asked; }
    int asked = 0;
};
