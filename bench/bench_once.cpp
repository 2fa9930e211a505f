// A check run as the user starts it: "Runwarden.exe -once" as a process of
// its own, over N allowed entries in the current user's Run key (every one
// of them on the allowed list, so nothing is asked), the other places empty.
//
// What the check adds to the process is its time less the time of a bare
// tray program (bench_tray: a hidden window whose tray icon is added and
// removed). That is set against a floor, also a process of its own (this
// program started again with "floor N"): a bare RegEnumValueW walk of the
// key plus one read of the allowed list's file, which that process never
// opened before. Every figure is the best of RUNS runs, the three kinds of
// run taken in turn so that the rest of the machine disturbs them alike.

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

constexpr int RUNS = 5;
constexpr int COUNTS[] = {1000, 10000};
// A run that asked would wait for ever: it is given up on after this long.
constexpr double RUN_SECONDS = 120;
// How often a running program is looked at for a box.
constexpr DWORD POLL_MS = 20;
constexpr char FLOOR_SWITCH[] = "floor";
// The floor's exit code when its walk or read went wrong (a walk never
// takes no time at all).
constexpr DWORD FLOOR_FAILED = 0;

TWideString OptionsPath() { return BenchFolder(L"once") + L"\\Runwarden\\options.ini"; }

// The value count of the user's Run key, or -1.
long RunValueCount()
{
    TRegKey key;
    DWORD count = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, W(USER_RUN).c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS
        || RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                            nullptr, nullptr, nullptr)
            != ERROR_SUCCESS) {
        return -1;
    }
    return static_cast<long>(count);
}

// The floor, run in a process of its own: the time of the walk and the
// read in microseconds, as the exit code.
DWORD Floor(long expected)
{
    const TWideString runPath = W(USER_RUN);
    const TWideString options = OptionsPath();
    const double start = Seconds();
    TRegKey key;
    DWORD count = 0;
    DWORD maxName = 0;
    DWORD maxData = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, runPath.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS
        || RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName,
                            &maxData, nullptr, nullptr)
            != ERROR_SUCCESS) {
        return FLOOR_FAILED;
    }
    std::vector<wchar_t> name(maxName + 1);
    std::vector<BYTE> data(maxData + 1);
    long walked = 0;
    for (;; ++walked) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(key.Get(), static_cast<DWORD>(walked), name.data(), &nameLength, nullptr, &type,
                          data.data(), &dataLength)
            != ERROR_SUCCESS) {
            break;
        }
    }
    std::string bytes;
    const bool read = ReadFileBytes(options, bytes);
    const double elapsed = Seconds() - start;
    if (walked != expected || !read || bytes.empty()) {
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

// N entries in the Run key and in the allowed list, in the program's format.
void FillPlaces(int count, std::string& options)
{
    std::vector<TRegValue> values;
    options = "[HKEY_CURRENT_USER\\" + std::string(USER_RUN) + "]\r\n";
    for (int i = 0; i < count; ++i) {
        const std::string name = Spell(Name(i));
        const std::string command = Spell(Command(i));
        values.push_back(Sz(name, command));
        options += name + "=" + command + "\r\n";
    }
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, values);
    WriteFileBytes(Spell(OptionsPath()), options);
}

void Keep(double& best, double seconds, int run)
{
    if (run == 0 || seconds < best) {
        best = seconds;
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], FLOOR_SWITCH) == 0) {
        return static_cast<int>(Floor(std::atol(argv[2])));
    }
    const std::string folder = Spell(BenchFolder(L"once"));
    QuietAutostart(folder);
    CreateDirectoryA((folder + "\\Runwarden").c_str(), nullptr);
    const std::string self = Spell(ModulePath());
    const std::string tray = self.substr(0, self.rfind('\\') + 1) + "bench_tray.exe";

    std::printf("%8s | %11s | %13s | %18s | %9s | %6s\n", "entries", "program, ms", "bare tray, ms",
                "program - bare, ms", "floor, ms", "ratio");
    std::printf("---------+-------------+---------------+--------------------+-----------+-------\n");
    for (const int count : COUNTS) {
        std::string options;
        FillPlaces(count, options);
        double program = 0;
        double bare = 0;
        double floor = 0;
        for (int run = 0; run < RUNS; ++run) {
            const TRun check = RunProcess(ProgramPath(), "-once");
            const bool listKept = ReadFileBytes(Spell(OptionsPath())) == options;
            const long left = RunValueCount();
            if (!check.ended || check.exitCode != 0 || check.asked || !listKept || left != count) {
                std::printf("the check at %d entries: ended %d, exit code %lu, asked %d, list kept %d, %ld values left\n",
                            count, check.ended, check.exitCode, check.asked, listKept, left);
                return 1;
            }
            Keep(program, check.seconds, run);
            const TRun bareRun = RunProcess(tray, "");
            if (!bareRun.ended || bareRun.exitCode != 0) {
                std::printf("the bare tray program failed\n");
                return 1;
            }
            Keep(bare, bareRun.seconds, run);
            const TRun floorRun = RunProcess(self, std::string(FLOOR_SWITCH) + " " + std::to_string(count));
            if (!floorRun.ended || floorRun.exitCode == FLOOR_FAILED) {
                std::printf("the floor at %d entries failed\n", count);
                return 1;
            }
            Keep(floor, floorRun.exitCode / 1e6, run);
        }
        const double added = program - bare;
        std::printf("%8d | %11.1f | %13.1f | %18.1f | %9.1f | %6.2f\n", count, program * 1e3, bare * 1e3,
                    added * 1e3, floor * 1e3, added / floor);
    }
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {});
    return 0;
}
