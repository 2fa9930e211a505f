// A check run as the user starts it: "Runwarden.exe -once" as a process of
// its own, every entry on the allowed list, so nothing is asked. Two kinds
// of load: N entries in the current user's Run key (the other places empty
// or as the prefix has them), 300 automatic services with 30 Active Setup
// components, and 150 scheduled tasks in the task store.
//
// What the check adds to the process is its time less the time of a bare
// tray program (bench_tray: a hidden window whose tray icon is added and
// removed). That is set against a floor, also a process of its own (this
// program started again with "floor KIND N"): a bare walk of the same data
// (RegEnumValueW over the Run key; the Services key's subkeys with their
// type, start, image path and service DLL, and each component's StubPath;
// every file of the task store read whole) plus one read of the allowed list's file, which that process never opened
// before. Every figure is the best of RUNS runs, the three kinds of run
// taken in turn so that the rest of the machine disturbs them alike.
//
// A first run of the program, not timed, takes the baselines of the places
// Windows fills by itself; the list as it leaves it is the one every timed
// run must leave byte for byte.

#include "BenchSupport.h"
#include "MainState.h"
#include "ScopedHandle.h"
#include "TestSupport.h"
#include "registry_profile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int RUNS = 15;
constexpr int COUNTS[] = {1000, 10000};
// A run that asked would wait for ever: it is given up on after this long.
constexpr double RUN_SECONDS = 120;
// How often a running program is looked at for a box.
constexpr DWORD POLL_MS = 20;
constexpr char FLOOR_SWITCH[] = "floor";
constexpr char RUN_KIND[] = "run";
constexpr char SERVICES_KIND[] = "services";
constexpr char TASKS_KIND[] = "tasks";
// The floor's exit code when its walk or read went wrong (a walk never
// takes no time at all).
constexpr DWORD FLOOR_FAILED = 0;

TWideString OptionsPath() { return BenchFolder(L"once") + L"\\Runwarden\\options.ini"; }

// The values of the key: how many there are, each read whole.
long WalkValues(HKEY key)
{
    DWORD maxName = 0;
    DWORD maxData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData, nullptr,
                         nullptr)
        != ERROR_SUCCESS) {
        return -1;
    }
    std::vector<wchar_t> name(maxName + 1);
    std::vector<BYTE> data(maxData + 1);
    long walked = 0;
    for (;; ++walked) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(key, static_cast<DWORD>(walked), name.data(), &nameLength, nullptr, &type, data.data(),
                          &dataLength)
            != ERROR_SUCCESS) {
            return walked;
        }
    }
}

// Reads the named values of the key; how many of them there were.
long ReadValues(HKEY key, std::initializer_list<const wchar_t*> names)
{
    long read = 0;
    for (const wchar_t* name : names) {
        BYTE data[1024];
        DWORD size = sizeof(data);
        read += RegQueryValueExW(key, name, nullptr, nullptr, data, &size) == ERROR_SUCCESS ? 1 : 0;
    }
    return read;
}

// Each subkey of Path opened, then Read with it; how many were read.
template <typename TRead>
long WalkSubkeys(const wchar_t* path, TRead read)
{
    TRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) {
        return -1;
    }
    long walked = 0;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return walked;
        }
        TRegKey sub;
        if (RegOpenKeyExW(key.Get(), name, 0, KEY_READ, sub.Receive()) == ERROR_SUCCESS) {
            walked += read(sub.Get());
        }
    }
}

long WalkServicesAndComponents()
{
    const long services = WalkSubkeys(SERVICES_PATH, [](HKEY service) {
        TRegKey parameters;
        if (RegOpenKeyExW(service, L"Parameters", 0, KEY_READ, parameters.Receive()) == ERROR_SUCCESS) {
            ReadValues(parameters.Get(), {L"ServiceDll"});
        }
        return ReadValues(service, {L"Type", L"Start", L"ImagePath"}) > 0 ? 1L : 0L;
    });
    const long components = WalkSubkeys(COMPONENTS_PATH, [](HKEY component) { return ReadValues(component, {L"StubPath"}); });
    return services < 0 || components < 0 ? -1 : services + components;
}

// The files below Folder, each read whole: how many there are.
long ReadTree(const TWideString& folder)
{
    long read = 0;
    WIN32_FIND_DATAW data;
    for (TFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data)); find.Valid();) {
        const TWideString name = data.cFileName;
        std::string bytes;
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            read += ReadFileBytes(folder + L"\\" + name, bytes) ? 1 : 0;
        } else if (name != L"." && name != L"..") {
            read += ReadTree(folder + L"\\" + name);
        }
        if (!FindNextFileW(find.Get(), &data)) {
            break;
        }
    }
    return read;
}

// The floor, run in a process of its own: the time of the walk and the
// read in microseconds, as the exit code.
DWORD Floor(const char* kind, long expected)
{
    const TWideString runPath = W(USER_RUN);
    const TWideString options = OptionsPath();
    const double start = Seconds();
    long walked = -1;
    if (std::strcmp(kind, RUN_KIND) == 0) {
        TRegKey key;
        walked = RegOpenKeyExW(HKEY_CURRENT_USER, runPath.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS
            ? WalkValues(key.Get())
            : -1;
    } else if (std::strcmp(kind, TASKS_KIND) == 0) {
        walked = ReadTree(W(TASK_STORE));
    } else {
        walked = WalkServicesAndComponents();
    }
    std::string bytes;
    const bool read = ReadFileBytes(options, bytes);
    const double elapsed = Seconds() - start;
    if (walked < expected || !read || bytes.empty()) {
        return FLOOR_FAILED;
    }
    return static_cast<DWORD>(elapsed * 1e6);
}

struct TRun {
    double seconds;
    bool ended; // in time; a process that did not was ended
    DWORD exitCode;
    bool asked; // a box of it showed
};

// Starts Exe and waits for its end, looking for a box of it meanwhile.
TRun RunProcess(const std::string& exe, const std::string& arguments)
{
    const double start = Seconds();
    TProcess process(exe, arguments);
    // TProcess keeps its own handle open, so the id names this process.
    const TKernelHandle handle(OpenProcess(SYNCHRONIZE, FALSE, process.Id()));
    bool ended = false;
    bool asked = false;
    while (!ended && Seconds() - start < RUN_SECONDS) {
        ended = WaitForSingleObject(handle.Get(), POLL_MS) == WAIT_OBJECT_0;
        asked = asked || (!ended && FindBox(process.Id()) != nullptr);
    }
    const double seconds = Seconds() - start;
    return {seconds, ended, process.Wait(0), asked};
}

void Keep(double& best, double seconds, int run)
{
    if (run == 0 || seconds < best) {
        best = seconds;
    }
}

// The program's, the bare tray program's and the floor's best times; false
// when a run went wrong (told).
bool Measure(const char* kind, long entries, const std::string& tray, double& program, double& bare, double& floor)
{
    // Untimed: takes the baselines; the list it leaves is the reference.
    RunProcess(ProgramPath(), "-once");
    const std::string options = ReadFileBytes(Spell(OptionsPath()));
    for (int run = 0; run < RUNS; ++run) {
        const TRun check = RunProcess(ProgramPath(), "-once");
        const bool listKept = ReadFileBytes(Spell(OptionsPath())) == options;
        if (!check.ended || check.exitCode != 0 || check.asked || !listKept) {
            std::printf("the check (%s, %ld): ended %d, exit code %lu, asked %d, list kept %d\n", kind, entries, check.ended,
                        check.exitCode, check.asked, listKept);
            return false;
        }
        Keep(program, check.seconds, run);
        const TRun bareRun = RunProcess(tray, "");
        if (!bareRun.ended || bareRun.exitCode != 0) {
            std::printf("the bare tray program failed\n");
            return false;
        }
        Keep(bare, bareRun.seconds, run);
        const TRun floorRun = RunProcess(Spell(ModulePath()), std::string(FLOOR_SWITCH) + " " + kind + " " + std::to_string(entries));
        if (!floorRun.ended || floorRun.exitCode == FLOOR_FAILED) {
            std::printf("the floor (%s, %ld) failed\n", kind, entries);
            return false;
        }
        Keep(floor, floorRun.exitCode / 1e6, run);
    }
    return true;
}

void PrintRow(const char* what, double program, double bare, double floor)
{
    const double added = program - bare;
    std::printf("%-26s | %11.1f | %13.1f | %18.1f | %9.1f | %6.2f\n", what, program * 1e3, bare * 1e3, added * 1e3,
                floor * 1e3, added / floor);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], FLOOR_SWITCH) == 0) {
        return static_cast<int>(Floor(argv[2], std::atol(argv[3])));
    }
    const std::string folder = Spell(BenchFolder(L"once"));
    QuietAutostart(folder);
    CreateDirectoryA((folder + "\\Runwarden").c_str(), nullptr);
    const std::string self = Spell(ModulePath());
    const std::string tray = self.substr(0, self.rfind('\\') + 1) + "bench_tray.exe";

    std::printf("%-26s | %11s | %13s | %18s | %9s | %6s\n", "load", "program, ms", "bare tray, ms", "program - bare, ms",
                "floor, ms", "ratio");
    std::printf("---------------------------+-------------+---------------+--------------------+-----------+-------\n");
    for (const int count : COUNTS) {
        double program = 0, bare = 0, floor = 0;
        FillRunKey(count, Spell(OptionsPath()));
        if (!Measure(RUN_KIND, count, tray, program, bare, floor)) {
            return 1;
        }
        PrintRow((std::to_string(count) + " Run values").c_str(), program, bare, floor);
    }
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {});
    WriteFileBytes(Spell(OptionsPath()), "");
    FillServicesAndComponents(true);
    double program = 0, bare = 0, floor = 0;
    const bool measured = Measure(SERVICES_KIND, SERVICES + COMPONENTS, tray, program, bare, floor);
    FillServicesAndComponents(false);
    if (!measured) {
        return 1;
    }
    PrintRow("300 services, 30 components", program, bare, floor);
    WriteFileBytes(Spell(OptionsPath()), "");
    FillTasks(true);
    const bool tasksMeasured = Measure(TASKS_KIND, TASKS, tray, program, bare, floor);
    FillTasks(false);
    if (!tasksMeasured) {
        return 1;
    }
    PrintRow("150 scheduled tasks", program, bare, floor);
    return 0;
}
