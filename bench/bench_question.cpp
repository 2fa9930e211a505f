// From a new entry's appearance to its question on screen, with the account
// of the program filled in: the resident program watches the user's Run
// key; a value is added, and the time runs until the program's box shows
// with nothing left "being checked". Three kinds of program: one that does
// not exist (the account has nothing to look up), an unsigned program with
// a version resource, and a signed one. Given another program's path (an
// earlier version without the account), the same is timed for it: the
// box alone.

#include "BenchSupport.h"
#include "Identity.h"
#include "MainState.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int CHANGES = 10;
constexpr DWORD BOX_MS = 20000;

// The account of the program in the box: its read-only field without an
// edge; empty when there is none.
std::wstring Identity(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[16] = {};
        GetClassNameW(child, name, ARRAYSIZE(name));
        if (lstrcmpiW(name, L"Edit") == 0 && (GetWindowLongPtrW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) == 0) {
            std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(child)) + 1, L'\0');
            text.resize(static_cast<std::size_t>(GetWindowTextW(child, &text[0], static_cast<int>(text.size()))));
            return text;
        }
    }
    return std::wstring();
}

bool Complete(HWND box) { return Identity(box).find(MSG_SIGNATURE_CHECKING) == std::wstring::npos; }

double Median(std::vector<double> delays)
{
    std::sort(delays.begin(), delays.end());
    return delays[delays.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const std::string folder = Spell(BenchFolder(L"question"));
    QuietAutostart(folder);
    CreateDirectoryA((folder + "\\Runwarden").c_str(), nullptr);
    WriteFileBytes(folder + "\\Runwarden\\options.ini", "");
    const std::string program = argc > 1 ? argv[1] : ProgramPath();
    TProcess resident(program, "");
    const HWND wnd = resident.MainWindow(BOX_MS);
    if (wnd == nullptr) {
        std::printf("the program did not start\n");
        return 1;
    }
    // The first check of a fresh list takes its baselines: let it end.
    WaitFor(3000, [&] { return FindBox(resident.Id()) != nullptr; });
    struct TKind {
        const char* what;
        std::string command;
    } kinds[] = {
        {"a file that does not exist", "C:\\new\\missing.exe /run"},
        {"unsigned, with a version", "C:\\windows\\system32\\notepad.exe /run"},
        {"signed", SIGNED_PROGRAM " /run"},
    };
    std::printf("%-28s | %7s | %10s | %9s\n", "the entry starts", "changes", "median, ms", "first, ms");
    std::printf("-----------------------------+---------+------------+----------\n");
    for (const TKind& kind : kinds) {
        std::vector<double> delays;
        for (int i = 0; i < CHANGES; ++i) {
            const double delay = AskedAfter(HKEY_CURRENT_USER, USER_RUN, "Question" + std::to_string(i), kind.command, resident.Id(), BOX_MS, Complete);
            // The program's own removal brings one more silent check; let it pass.
            WaitFor(3000, [&] { return FindBox(resident.Id()) != nullptr; });
            if (delay < 0) {
                std::printf("a change brought no question\n");
                return 1;
            }
            delays.push_back(delay);
        }
        // The first question of a kind looks the file up; the others find it known.
        std::printf("%-28s | %7d | %10.1f | %9.1f\n", kind.what, CHANGES, Median(delays), delays.front());
    }
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    resident.Wait(BOX_MS);
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {});
    return 0;
}
