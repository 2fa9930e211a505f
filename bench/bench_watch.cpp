// The resident program's watch: how long from a change to the question, and
// how much CPU the program uses while nothing changes.
//
// With 50 allowed entries in the user's Run key, the program is started
// resident; 20 times a new value is added and the time until its question
// shows is taken (the question is then answered "remove"). Then the
// program's CPU time over 60 s of idling is measured.

#include "BenchSupport.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int CHANGES = 20;
constexpr DWORD IDLE_MS = 60000;
constexpr DWORD BOX_MS = 20000;

double CpuSeconds(HANDLE process)
{
    FILETIME created, ended, kernel, user;
    GetProcessTimes(process, &created, &ended, &kernel, &user);
    const auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
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

    TProcess program(ProgramPath(), "");
    const HWND wnd = program.MainWindow(BOX_MS);
    if (wnd == nullptr) {
        std::printf("the program did not start\n");
        return 1;
    }
    std::vector<double> delays;
    for (int i = 0; i < CHANGES; ++i) {
        const std::string name = "Change" + std::to_string(i);
        const std::string command = "C:\\new\\" + name + ".exe";
        HKEY key = nullptr;
        RegOpenKeyExA(HKEY_CURRENT_USER, USER_RUN, 0, KEY_SET_VALUE, &key);
        const double start = Seconds();
        RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                       static_cast<DWORD>(command.size() + 1));
        RegCloseKey(key);
        HWND box = nullptr;
        while ((box = FindBox(program.Id())) == nullptr && Seconds() - start < BOX_MS / 1000.0) {
            Sleep(1);
        }
        if (box == nullptr) {
            std::printf("no question came for change %d\n", i);
            return 1;
        }
        delays.push_back((Seconds() - start) * 1e3);
        // "Remove" is selected at first.
        PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
        WaitFor(BOX_MS, [&] { return !IsWindow(box); });
        // The program's own removal brings one more silent check; let it pass.
        WaitFor(3000, [&] { return FindBox(program.Id()) != nullptr; });
    }
    std::sort(delays.begin(), delays.end());
    std::printf("%8s | %12s | %12s | %12s\n", "changes", "median, ms", "worst, ms", "best, ms");
    std::printf("---------+--------------+--------------+-------------\n");
    std::printf("%8d | %12.0f | %12.0f | %12.0f\n\n", CHANGES, (delays[CHANGES / 2 - 1] + delays[CHANGES / 2]) / 2,
                delays.back(), delays.front());

    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, program.Id());
    const double before = CpuSeconds(process);
    Sleep(IDLE_MS);
    const double after = CpuSeconds(process);
    CloseHandle(process);
    std::printf("%8s | %16s\n", "idle, s", "program CPU, ms");
    std::printf("---------+-----------------\n");
    std::printf("%8d | %16.1f\n", static_cast<int>(IDLE_MS / 1000), (after - before) * 1e3);
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    program.Wait(BOX_MS);
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {});
    return 0;
}
