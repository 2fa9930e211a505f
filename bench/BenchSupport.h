#pragma once

// Small helpers shared by the benchmark programs: a clock and a scratch folder.

#include <windows.h>

#include <string>

inline double Seconds()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// C:\rwbench\<name>, emptied of the files the benchmark makes.
inline std::string BenchFolder(const std::string& name)
{
    CreateDirectoryA("C:\\rwbench", nullptr);
    const std::string folder = "C:\\rwbench\\" + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}
