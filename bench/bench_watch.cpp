// The resident program: its working set against a bare tray program's, how
// long from a change to the question, and how much CPU it uses while
// nothing changes and while another program writes a watched key without
// pause.
//
// With 50 allowed entries in the user's Run key, the program is started
// resident and its working set read once it is idle, beside that of
// bench_tray.exe resident. Then 20 times a new value is added and the time
// until its question shows is taken (the question is then answered
// "remove"). Then the program's CPU time over 60 s of idling is measured.
// Then a thread writes a watched key (where Windows NT keeps win.ini's
// lists) in a loop, as fast as it can, while 5 times a value is added to
// the local machine's Run key; the time to each question and the program's
// share of a core over the whole stretch are taken. Last, the working set
// again, now that questions have been shown.
//
// Wine 8's GetProcessTimes answers another process's times with the
// caller's own, so the program's CPU time is read where Linux keeps it
// (/proc, through Wine's drive Z:).

#include "BenchSupport.h"
#include "MainState.h"
#include "ScopedHandle.h"
#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr int CHANGES = 20;
constexpr int LOOP_CHANGES = 5;
constexpr DWORD IDLE_MS = 60000;
constexpr DWORD BOX_MS = 20000;
constexpr DWORD SETTLE_MS = 2000; // a process started, before its working set is read
constexpr double CLOCK_TICKS = 100; // per second, in /proc's times
constexpr char MACHINE_RUN[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// A file of /proc, read whole (its size reads as 0).
std::string ProcFile(const std::wstring& path)
{
    const TFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (file.Valid() && ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        text.append(chunk, read);
    }
    return text;
}

// The Linux process whose command line holds Name: /proc/<pid>.
std::wstring UnixProcess(const std::string& name)
{
    WIN32_FIND_DATAW data;
    for (TFindHandle find(FindFirstFileW(L"Z:\\proc\\*", &data)); find.Valid();) {
        const std::wstring folder = std::wstring(L"Z:\\proc\\") + data.cFileName;
        if (data.cFileName[0] >= L'1' && data.cFileName[0] <= L'9' && ProcFile(folder + L"\\cmdline").find(name) != std::string::npos) {
            return folder;
        }
        if (!FindNextFileW(find.Get(), &data)) {
            break;
        }
    }
    return std::wstring();
}

// User and system time from /proc/<pid>/stat: fields 14 and 15, counted
// from the name (2) and the state (3), which are no numbers.
double CpuSeconds(const std::wstring& process)
{
    const std::string stat = ProcFile(process + L"\\stat");
    const std::size_t end = stat.rfind(')');
    if (end == std::string::npos || end + 4 > stat.size()) {
        return 0;
    }
    char* at = const_cast<char*>(stat.c_str()) + end + 4;
    double ticks = 0;
    for (int field = 4; field <= 15; ++field) {
        const double value = std::strtod(at, &at);
        ticks += field >= 14 ? value : 0;
    }
    return ticks / CLOCK_TICKS;
}

// The working set of bench_tray.exe, resident and idle.
double BareTrayKiB()
{
    const std::string self = Spell(ModulePath());
    TProcess bare(self.substr(0, self.rfind('\\') + 1) + "bench_tray.exe", "resident");
    const HWND wnd = WaitForWindow(bare.Id(), "RunwardenBenchTray", BOX_MS, true);
    Sleep(SETTLE_MS);
    const double kib = WorkingSetKiB(bare.Id());
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    bare.Wait(BOX_MS);
    return kib;
}

void PrintDelays(const char* what, std::vector<double> delays)
{
    std::sort(delays.begin(), delays.end());
    std::printf("%-24s | %7zu | %10.0f | %9.0f | %8.0f\n", what, delays.size(), delays[delays.size() / 2], delays.back(),
                delays.front());
}

} // namespace

int main()
{
    const std::string folder = Spell(BenchFolder(L"watch"));
    QuietAutostart(folder);
    std::vector<TRegValue> values;
    std::string options = "[HKEY_CURRENT_USER\\" + std::string(USER_RUN) + "]\r\n";
    for (int i = 0; i < 50; ++i) {
        values.push_back(Sz(Spell(Name(i)), Spell(Command(i))));
        options += Spell(Name(i)) + "=" + Spell(Command(i)) + "\r\n";
    }
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, values);
    CreateDirectoryA((folder + "\\Runwarden").c_str(), nullptr);
    WriteFileBytes(folder + "\\Runwarden\\options.ini", options);

    const double startedAt = Seconds();
    TProcess program(ProgramPath(), "");
    const HWND wnd = program.MainWindow(BOX_MS);
    const std::wstring unix = UnixProcess("Runwarden.exe");
    if (wnd == nullptr || unix.empty()) {
        std::printf("the program did not start, or its Linux process was not found\n");
        return 1;
    }
    Sleep(SETTLE_MS);
    const double started = WorkingSetKiB(program.Id());
    const double bare = BareTrayKiB();

    std::vector<double> delays;
    for (int i = 0; i < CHANGES; ++i) {
        delays.push_back(AskedAfter(HKEY_CURRENT_USER, USER_RUN, "Change" + std::to_string(i), "C:\\new\\Change" + std::to_string(i) + ".exe",
                                    program.Id(), BOX_MS));
        // The program's own removal brings one more silent check; let it pass.
        WaitFor(3000, [&] { return FindBox(program.Id()) != nullptr; });
    }

    const double idleStart = CpuSeconds(unix);
    Sleep(IDLE_MS);
    const double idleCpu = CpuSeconds(unix) - idleStart;

    std::atomic<bool> writing{true};
    std::atomic<long> writes{0};
    std::thread writer([&] {
        for (DWORD n = 0; writing; ++n) {
            RegSetKeyValueA(HKEY_CURRENT_USER, WINDOWS_KEY, "RunwardenBench", REG_DWORD, &n, sizeof(n));
            ++writes;
        }
    });
    const double loopStart = Seconds();
    const double loopCpuStart = CpuSeconds(unix);
    std::vector<double> loopDelays;
    for (int i = 0; i < LOOP_CHANGES; ++i) {
        loopDelays.push_back(AskedAfter(HKEY_LOCAL_MACHINE, MACHINE_RUN, "Loop" + std::to_string(i), "C:\\new\\Loop" + std::to_string(i) + ".exe",
                                        program.Id(), BOX_MS));
    }
    const double loopCpu = CpuSeconds(unix) - loopCpuStart;
    const double loopWall = Seconds() - loopStart;
    writing = false;
    writer.join();
    RegDeleteKeyValueA(HKEY_CURRENT_USER, WINDOWS_KEY, "RunwardenBench");
    Sleep(SETTLE_MS);
    const double asked = WorkingSetKiB(program.Id());

    if (std::find(delays.begin(), delays.end(), -1.0) != delays.end()
        || std::find(loopDelays.begin(), loopDelays.end(), -1.0) != loopDelays.end()) {
        std::printf("a change brought no question\n");
        return 1;
    }
    std::printf("%-24s | %7s | %10s | %9s | %8s\n", "a value added", "changes", "median, ms", "worst, ms", "best, ms");
    std::printf("-------------------------+---------+------------+-----------+---------\n");
    PrintDelays("nothing else changing", delays);
    PrintDelays("a watched key in a loop", loopDelays);
    std::printf("\n%-24s | %8s | %12s\n", "while", "wall, s", "program CPU");
    std::printf("-------------------------+----------+-------------\n");
    std::printf("%-24s | %8.1f | %10.2f %%\n", "nothing changes", IDLE_MS / 1000.0, idleCpu * 1e3 / IDLE_MS * 100);
    std::printf("%-24s | %8.1f | %10.2f %%  (%.0f writes/s)\n", "a watched key in a loop", loopWall, loopCpu / loopWall * 100,
                writes / loopWall);
    std::printf("%-24s | %8.1f | %10.2f s in all\n", "since the start", Seconds() - startedAt, CpuSeconds(unix));
    std::printf("\n%-24s | %13s | %15s | %6s\n", "working set", "program, KiB", "bare tray, KiB", "ratio");
    std::printf("-------------------------+---------------+-----------------+-------\n");
    std::printf("%-24s | %13.0f | %15.0f | %6.2f\n", "idle after the start", started, bare, started / bare);
    std::printf("%-24s | %13.0f | %15.0f | %6.2f\n", "after 25 questions", asked, bare, asked / bare);
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    program.Wait(BOX_MS);
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {});
    SetKeyValues(HKEY_LOCAL_MACHINE, MACHINE_RUN, {});
    return 0;
}
