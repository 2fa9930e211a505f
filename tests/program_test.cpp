// The whole program as a process, its boxes answered by the robot.

#include "Elevation.h"
#include "MainUnit.h"
#include "ScopedHandle.h"
#include "TestSupport.h"
#include "UserRobot.h"
#include "dlgAutorunUnit.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <thread>

namespace {

constexpr DWORD START_MS = 20000;
constexpr DWORD NOTHING_MS = 1500;

std::string Machine(const char* key) { return "HKEY_LOCAL_MACHINE\\" + std::string(MACHINE) + key; }

class Program : public testing::Test {
protected:
    void SetUp() override { QuietAutostart(folder); }
    std::string Options() { return WithoutBaselines(ReadFileBytes(folder + "\\Runwarden\\options.ini")); }
    std::string folder = FreshTestFolder();
};

bool HasTrayIcon(HWND wnd)
{
    // Changing an icon that is not there fails.
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = wnd;
    data.uID = TRAY_ICON_ID;
    data.uFlags = NIF_TIP;
    lstrcpyA(data.szTip, "Runwarden");
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

void Command(HWND wnd, UINT command) { PostMessageA(wnd, WM_COMMAND, command, 0); }

const std::string USER_RUN_SECTION = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The settings file the program finds, its folder made.
bool WriteOptions(const std::string& folder, const std::string& options)
{
    CreateDirectoryA((folder + "\\Runwarden").c_str(), nullptr);
    return WriteFileBytes(folder + "\\Runwarden\\options.ini", options);
}

// The window of everything guarded, opened as the tray menu opens it;
// Main: the program's hidden window. Null when either did not come.
HWND OpenWindow(TProcess& program, HWND& main)
{
    main = program.MainWindow(START_MS);
    if (main == nullptr) {
        return nullptr;
    }
    Command(main, IDM_AUTORUN);
    return WaitForWindow(program.Id(), "RunwardenAutorun", START_MS);
}

constexpr int TABS = 100, ENTRIES_LIST = 102, HISTORY_LIST = 103, RESTORE_BUTTON = 111;

// The window's entries, "name state" each, in the list's order.
std::vector<std::string> WindowRows(HWND window)
{
    std::vector<std::string> texts;
    const HWND list = GetDlgItem(window, ENTRIES_LIST);
    const std::vector<std::string> names = ListViewColumn(list, 0), states = ListViewColumn(list, 4);
    for (std::size_t i = 0; i < names.size() && i < states.size(); ++i) {
        texts.push_back(names[i] + " " + states[i]);
    }
    return texts;
}

bool HasRow(HWND window, const std::string& row)
{
    const std::vector<std::string> rows = WindowRows(window);
    return std::find(rows.begin(), rows.end(), row) != rows.end();
}

void SelectRow(HWND window, const std::string& row)
{
    const std::vector<std::string> rows = WindowRows(window);
    SelectListViewItem(GetDlgItem(window, ENTRIES_LIST), static_cast<int>(std::find(rows.begin(), rows.end(), row) - rows.begin()));
}

} // namespace

TEST_F(Program, OnceAsksAboutEveryKindOfLocationInOrderAndEnds)
{
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe")});
    SetKeyValues(HKEY_LOCAL_MACHINE, std::string(MACHINE) + "RunOnce", {Sz("e", "")});
    WriteFileBytes(folder + "\\Startup\\s.lnk", "");
    WritePrivateProfileStringA("windows", "load", "w.exe", "win.ini");
    TProcess program(ProgramPath(), "-once");
    TUserRobot robot({{2, TPress::Ok}, {0, TPress::No}, {1, TPress::Ok}, {2, TPress::Ok}}, program.Id());
    EXPECT_EQ(program.Wait(START_MS), 0u);
    robot.Finish();
    EXPECT_EQ(robot.Problems(), std::vector<std::string>{});
    const std::vector<TBoxInfo> boxes = robot.Boxes();
    ASSERT_EQ(boxes.size(), 4u);
    const std::string ask = "Обнаружена новая запись:\n\r\n\r\"", what = "\".\n\r\n\rЧто будем с ней делать?";
    EXPECT_EQ(boxes[0].text, ask + "HKEY_CURRENT_USER\\" + USER_RUN + "\\a=A.exe" + what);
    EXPECT_EQ(boxes[1].text, "В реестре обнаружен \"пустой\" параметр:\n\r\n\r\"" + Machine("RunOnce")
                                 + "\\e\".\n\r\n\rУдалить его?");
    EXPECT_EQ(boxes[2].text, ask + folder + "\\Startup\\s.lnk" + what);
    EXPECT_EQ(boxes[3].text, ask + "win.ini\\[windows]\\load=w.exe" + what);
    for (const TBoxInfo& box : boxes) {
        EXPECT_EQ(box.ownerClass, "RunwardenClass");
        EXPECT_EQ(box.caption, "Runwarden");
    }
    EXPECT_EQ(Options(), "[HKEY_CURRENT_USER\\" + std::string(USER_RUN) + "]\r\na=A.exe\r\n[win.ini]\r\nload=w.exe\r\n");
    EXPECT_EQ(FolderNames(folder + "\\Startup"), std::vector<std::string>{});
    EXPECT_EQ(FindWindowA("RunwardenClass", nullptr), nullptr);
}

TEST_F(Program, BeforeWindows8ASwitchedOffValueIsAskedAbout)
{
    // Windows 7 starts a Run value whatever Task Manager's switch says. Wine
    // takes the version it reports from the program's AppDefaults.
    const std::string defaults = "Software\\Wine\\AppDefaults\\Runwarden.exe";
    SetKeyValues(HKEY_CURRENT_USER, defaults, {Sz("Version", "win7")});
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("f", "F.exe")});
    SetKeyValues(HKEY_CURRENT_USER, std::string(APPROVED) + "\\Run", {Bin("f", SWITCH_OFF)});
    TProcess program(ProgramPath(), "-once");
    TUserRobot robot({{0, TPress::Cancel}}, program.Id());
    EXPECT_EQ(program.Wait(START_MS), 0u);
    robot.Finish();
    SetKeyValues(HKEY_CURRENT_USER, defaults, {Sz("Version", "win10")});
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {});
    EXPECT_EQ(robot.Problems(), std::vector<std::string>{});
    ASSERT_EQ(robot.Boxes().size(), 1u);
    EXPECT_EQ(robot.Boxes()[0].text, "Обнаружена новая запись:\n\r\n\r\"HKEY_CURRENT_USER\\" + std::string(USER_RUN)
                                         + "\\f=F.exe\".\n\r\n\rЧто будем с ней делать?");
}

TEST_F(Program, ThreeStartsAtOnceMakeOneInstanceThatAsksOnce)
{
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe")});
    // Only exactly "-once" ends after the check; any other spelling stays.
    for (const char* arguments : {"-once", "-ONCE"}) {
        SCOPED_TRACE(arguments);
        TProcess starts[] = {{ProgramPath(), arguments}, {ProgramPath(), arguments}, {ProgramPath(), arguments}};
        TProcess* left = nullptr;
        ASSERT_TRUE(WaitFor(START_MS, [&] {
            std::size_t running = 0;
            for (TProcess& start : starts) {
                running += start.Running() ? (left = &start, 1) : 0;
            }
            return running == 1;
        }));
        TUserRobot robot({{0, TPress::Cancel}}, left->Id());
        for (TProcess& start : starts) {
            if (&start != left) {
                EXPECT_EQ(start.Wait(0), 0u);
            }
        }
        if (arguments[1] == 'O') {
            EXPECT_TRUE(WaitFor(START_MS, [&] { return robot.Boxes().size() == 1; }));
            // The question answered, the program stays.
            robot.Finish();
            EXPECT_FALSE(WaitFor(NOTHING_MS, [&] { return !left->Running(); }));
            const HWND wnd = left->MainWindow(START_MS);
            ASSERT_NE(wnd, nullptr);
            EXPECT_EQ(FindWindowExA(nullptr, wnd, "RunwardenClass", nullptr), nullptr);
            EXPECT_EQ(FindWindowExA(nullptr, nullptr, "RunwardenClass", nullptr), wnd);
            Command(wnd, IDM_EXIT);
        }
        EXPECT_EQ(left->Wait(START_MS), 0u);
        robot.Finish();
        EXPECT_EQ(robot.Boxes().size(), 1u);
        EXPECT_EQ(robot.Problems(), std::vector<std::string>{});
    }
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {});
}

TEST_F(Program, TrayAndMenuCommands)
{
    TProcess program(ProgramPath(), "");
    const HWND wnd = program.MainWindow(START_MS);
    ASSERT_NE(wnd, nullptr);

    // A restarted taskbar gets the icon again.
    NOTIFYICONDATAA icon = {};
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = wnd;
    icon.uID = TRAY_ICON_ID;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &icon));
    SendMessageA(wnd, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(HasTrayIcon(wnd));

    const std::pair<UINT, std::vector<TRegValue>> modes[] = {
        {IDM_START, {Sz("Runwarden", ProgramPath())}},
        {IDM_STARTONCE, {Sz("Runwarden", ProgramPath() + " -once")}},
        {IDM_NOSTART, {}},
    };
    for (const auto& mode : modes) {
        SendMessageA(wnd, WM_COMMAND, mode.first, 0);
        EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), mode.second);
    }

    // The list opens in the editor, the help beside the program.
    WriteFileBytes(folder + "\\Runwarden\\options.ini", "[Notes]\r\nline=Заметка\r\n");
    Command(wnd, IDM_LIST);
    const HWND editor = WaitForWindow(0, "Notepad", START_MS);
    ASSERT_NE(editor, nullptr);
    char text[64] = {};
    EXPECT_TRUE(WaitFor(START_MS, [&] {
        // Only a sent WM_GETTEXT reads another process's edit control.
        SendMessageA(FindWindowExA(editor, nullptr, "Edit", nullptr), WM_GETTEXT, sizeof(text),
                     reinterpret_cast<LPARAM>(text));
        return std::string(text) == "[Notes]\r\nline=Заметка\r\n";
    })) << text;
    PostMessageA(editor, WM_CLOSE, 0, 0);
    Command(wnd, IDM_REMOVED);
    const HWND removed = WaitForWindow(0, "ExplorerWClass", START_MS);
    ASSERT_NE(removed, nullptr);
    GetWindowTextA(removed, text, sizeof(text));
    EXPECT_STREQ(text, "Removed");
    EXPECT_EQ(FolderNames(folder + "\\Runwarden\\Removed"), std::vector<std::string>{});
    PostMessageA(removed, WM_CLOSE, 0, 0);
    Command(wnd, IDM_HELP);
    const HWND help = WaitForWindow(program.Id(), "HH Parent", START_MS);
    ASSERT_NE(help, nullptr);
    char title[64] = {};
    GetWindowTextA(help, title, sizeof(title));
    EXPECT_STREQ(title, "Справка Runwarden");
    PostMessageA(help, WM_CLOSE, 0, 0);

    // A change is asked about at once; a press during that question starts
    // no second run. A press afterwards runs a check that ends with the
    // completion box.
    const auto press = [&](const TBoxInfo&) {
        PostMessageA(wnd, WM_TRAYICON, 0, WM_LBUTTONDOWN);
        Command(wnd, IDM_CHECK);
        // Both are handled by the box's own message loop.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(wnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, START_MS, &ignored);
    };
    TUserRobot robot({{2, TPress::Cancel, press}, {2, TPress::Ok}, {0, TPress::Ok}}, program.Id());
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe")});
    EXPECT_TRUE(WaitFor(START_MS, [&] { return robot.Boxes().size() == 1; }));
    EXPECT_FALSE(WaitFor(NOTHING_MS, [&] { return robot.Boxes().size() > 1; }));
    PostMessageA(wnd, WM_TRAYICON, 0, WM_LBUTTONDOWN);
    EXPECT_TRUE(WaitFor(START_MS, [&] { return robot.Boxes().size() == 3; }));
    robot.Finish();
    EXPECT_EQ(robot.Problems(), std::vector<std::string>{});
    EXPECT_EQ(robot.Boxes().back().text, "Проверка завершена");

    // Exit while a question is open ends the program and touches nothing.
    TUserRobot exiting({{1, TPress::Ok, [&](const TBoxInfo&) { Command(wnd, IDM_EXIT); }}}, program.Id());
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe"), Sz("b", "B.exe")});
    EXPECT_EQ(program.Wait(START_MS), 0u);
    exiting.Finish();
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), (std::vector<TRegValue>{Sz("a", "A.exe"), Sz("b", "B.exe")}));
    EXPECT_EQ(Options(), "[Notes]\r\nline=Заметка\r\n[HKEY_CURRENT_USER\\" + std::string(USER_RUN) + "]\r\na=A.exe\r\n");
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {});
}

TEST_F(Program, ResidentProgramAsksAboutEveryChangeAtOnce)
{
    const std::string once = std::string(MACHINE) + "RunServicesOnce";
    DeleteKey(HKEY_LOCAL_MACHINE, once, KEY_WOW64_64KEY);
    const std::string switches = std::string(APPROVED) + "\\Run", exSub = std::string(MACHINE) + "RunOnceEx\\0001";
    const std::string ifeo = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\utilman.exe";
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("f", "F.exe")}), SetKeyValues(HKEY_CURRENT_USER, switches, {Bin("f", SWITCH_OFF)});
    SetKeyValues(HKEY_LOCAL_MACHINE, exSub, {}, KEY_WOW64_64KEY);
    CreateDirectoryA(TASK_STORE, nullptr);
    TProcess program(ProgramPath(), "");
    const HWND wnd = program.MainWindow(START_MS);
    ASSERT_NE(wnd, nullptr);
    EXPECT_EQ(WaitForWindow(program.Id(), "#32770", 0, true), nullptr);
    // A value of a watched parent starts no check: the stale line would go,
    // as the first row's check shows.
    // The first check ends with the tasks' baseline.
    const std::string path = folder + "\\Runwarden\\options.ini";
    EXPECT_TRUE(WaitFor(START_MS, [&] { return ReadFileBytes(path).find("[Task Scheduler]") != std::string::npos; }));
    const std::string options = ReadFileBytes(path) + "[HKEY_CURRENT_USER\\" + USER_RUN + "]\r\nstale=x.exe\r\n";
    WriteFileBytes(path, options);
    // New data each time: Wine tells no watch of a value written as it was.
    const DWORD now = GetTickCount();
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, std::string(MACHINE).substr(0, std::strlen(MACHINE) - 1).c_str(), "RunwardenValue", REG_DWORD,
                    &now, sizeof(now));
    EXPECT_FALSE(WaitFor(2 * NOTHING_MS, [&] { return ReadFileBytes(path) != options; }));
    const std::string ask = "Обнаружена новая запись:\n\r\n\r\"", what = "\".\n\r\n\rЧто будем с ней делать?";
    const std::string file = folder + "\\Startup\\w.lnk", wow = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
    struct TRow {
        std::function<void()> change;
        std::string entry;
        std::function<bool()> removed;
    } rows[] = {
        // A task written into the store (Wine's notifications tell of its first level only).
        {[] { WriteTask("\\rwresident", TaskXml("<LogonTrigger/>", "<Exec><Command>C:\\x\\r.exe</Command></Exec>")); },
         "Task Scheduler\\rwresident=C:\\x\\r.exe (запуск: при входе в систему)", [] { return FolderNames(TASK_STORE).empty(); }},
        // Switched on as Task Manager does it; the switch outlives the removal, as in Windows.
        {[&] { RegSetKeyValueA(HKEY_CURRENT_USER, switches.c_str(), "f", REG_BINARY, SWITCH_ON.data(), 12); },
         "HKEY_CURRENT_USER\\" + std::string(USER_RUN) + "\\f=F.exe",
         [&] { return KeyValues(HKEY_CURRENT_USER, USER_RUN).empty() && KeyValues(HKEY_CURRENT_USER, switches) == std::vector<TRegValue>{Bin("f", SWITCH_ON)}; }},
        {[] { SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("w", "W.exe")}); }, "HKEY_CURRENT_USER\\" + std::string(USER_RUN) + "\\w=W.exe",
         [] { return KeyValues(HKEY_CURRENT_USER, USER_RUN).empty(); }},
        {[&] { WriteFileBytes(file, ""); }, file, [&] { return FolderNames(folder + "\\Startup").empty(); }},
        {[] { WritePrivateProfileStringA("windows", "load", "w.exe", "win.ini"); }, "win.ini\\[windows]\\load=w.exe", [] {
             char list[16] = "?";
             GetProfileStringA("windows", "load", "", list, sizeof(list));
             return list[0] == '\0';
         }},
        {[] { SetKeyValues(HKEY_LOCAL_MACHINE, std::string(MACHINE) + "Run", {Sz("w", "W.exe")}, KEY_WOW64_32KEY); },
         "HKEY_LOCAL_MACHINE\\" + wow + "\\w=W.exe",
         [] { return KeyValues(HKEY_LOCAL_MACHINE, std::string(MACHINE) + "Run", KEY_WOW64_32KEY).empty(); }},
        {[&] { SetKeyValues(HKEY_LOCAL_MACHINE, once, {Sz("w", "W.exe")}, KEY_WOW64_64KEY); }, "HKEY_LOCAL_MACHINE\\" + once + "\\w=W.exe",
         [&] { return KeyValues(HKEY_LOCAL_MACHINE, once, KEY_WOW64_64KEY).empty(); }},
        // A value in a subkey that was there before: the key is watched with its subkeys.
        {[&] { RegSetKeyValueA(HKEY_LOCAL_MACHINE, exSub.c_str(), "w", REG_SZ, "W.exe", 6); }, Machine("RunOnceEx\\0001\\w=W.exe"),
         [&] { return KeyValues(HKEY_LOCAL_MACHINE, exSub, KEY_WOW64_64KEY).empty(); }},
        {[&] { SetKeyValues(HKEY_LOCAL_MACHINE, exSub + "2", {Sz("w", "W.exe")}, KEY_WOW64_64KEY); }, Machine("RunOnceEx\\00012\\w=W.exe"),
         [&] { return KeyValues(HKEY_LOCAL_MACHINE, exSub + "2", KEY_WOW64_64KEY).empty(); }},
        {[&] { SetKeyValues(HKEY_LOCAL_MACHINE, ifeo, {Sz("Debugger", "C:\\x\\cmd.exe")}); }, "HKEY_LOCAL_MACHINE\\" + ifeo + "\\Debugger=C:\\x\\cmd.exe",
         [&] { return KeyValues(HKEY_LOCAL_MACHINE, ifeo).empty(); }},
        // A service made by the service manager; "remove" disables it.
        {[&] { MakeService("rwresident", SERVICE_AUTO_START, "C:\\x\\r.exe"); },
         "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\rwresident=C:\\x\\r.exe",
         [&] {
             const auto values = KeyValues(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\rwresident");
             return std::count(values.begin(), values.end(), TRegValue{"Start", REG_DWORD, std::string("\4\0\0\0", 4)}) == 1;
         }},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.entry);
        TUserRobot robot({{1, TPress::Ok}}, program.Id());
        row.change();
        EXPECT_TRUE(WaitFor(START_MS, [&] { return robot.Boxes().size() == 1; }));
        // Our own removal leads to one more silent check, which asks nothing
        // (the next row's robot would meet its question).
        EXPECT_TRUE(WaitFor(START_MS, [&] { return row.removed(); }));
        robot.Finish();
        EXPECT_EQ(robot.Problems(), std::vector<std::string>{});
        EXPECT_EQ(robot.Boxes().at(0).text, ask + row.entry + what);
        EXPECT_EQ(Options().find("stale"), std::string::npos);
    }
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.Wait(START_MS), 0u);
    DeleteService("rwresident");
}

TEST_F(Program, AStreamOfUnrelatedChangesDoesNotHoldTheQuestionOff)
{
    TProcess program(ProgramPath(), "");
    ASSERT_NE(program.MainWindow(START_MS), nullptr);
    // The parent of the Run keys written every 800 ms, and the watched key
    // of win.ini's lists written without pause by a program in a loop.
    const std::string parent = std::string(MACHINE).substr(0, std::strlen(MACHINE) - 1), run = std::string(MACHINE) + "Run";
    const std::pair<std::string, DWORD> writers[] = {{parent, 800}, {WINDOWS_KEY, 0}};
    for (const auto& [key, pause] : writers) {
        SCOPED_TRACE(key + ", " + std::to_string(pause));
        TKernelHandle stop(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        std::thread writer([&, key = key, pause = pause] {
            for (DWORD n = 0; WaitForSingleObject(stop.Get(), pause) == WAIT_TIMEOUT; ++n) {
                RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "RunwardenTrickle", REG_DWORD, &n, sizeof(n));
            }
        });
        TUserRobot robot({{0, TPress::Cancel}}, program.Id());
        SetKeyValues(HKEY_LOCAL_MACHINE, run, {Sz("t", "T.exe")});
        EXPECT_TRUE(WaitFor(6000, [&] { return robot.Boxes().size() == 1; }));
        SetEvent(stop.Get());
        writer.join();
        robot.Finish();
        RegDeleteKeyValueA(HKEY_CURRENT_USER, key.c_str(), "RunwardenTrickle");
        SetKeyValues(HKEY_LOCAL_MACHINE, run, {});
    }
    PostMessageA(program.MainWindow(START_MS), WM_CLOSE, 0, 0);
    EXPECT_EQ(program.Wait(START_MS), 0u);
}

TEST_F(Program, TheAdministratorsHelperActsOnlyOnWhatACheckWouldAskAbout)
{
    const std::string run = std::string(MACHINE) + "Run", machine = "-remove-value \"HKEY_LOCAL_MACHINE\\";
    const std::string common = folder + "\\Common Startup\\", link = std::string(MACHINE) + "RunOnceEx\\lnk";
    const auto hash = [](const std::string& bytes, bool text) {
        TWideString hex;
        const TWideString wide = W(bytes);
        EXPECT_TRUE(text ? TextHash(wide, hex) : DataHash(bytes.data(), bytes.size(), hex));
        return " " + Spell(hex);
    };
    const std::vector<TRegValue> values = {Sz("v", "V.exe")};
    for (const std::string& key : {run, run + "\\sub", std::string("Software\\rwtest")}) {
        SetKeyValues(HKEY_LOCAL_MACHINE, key, values);
    }
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, values);
    // A subkey of RunOnceEx that is a registry link to another key.
    TRegKey linked;
    const TWideString target = L"\\Registry\\Machine\\Software\\rwtest";
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(link).c_str(), 0, nullptr, REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, linked.Receive(), nullptr), ERROR_SUCCESS);
    RegSetValueExW(linked.Get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                   static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    // The user's own Startup folder is no place for the administrator.
    const std::string user = folder + "\\Startup\\a file of the user's own Startup folder.lnk";
    for (const std::string& file : {folder + "\\x.lnk", common + "c.lnk", common + "desktop.ini", user}) {
        WriteFileBytes(file, "x");
    }
    // Names a Win32 path spells as another file's: the helper acts on them, not on the other.
    WriteFileBytes("\\\\?\\" + common + "c.lnk.", "x");
    WriteTask("\\rwhelp.", TaskXml("<BootTrigger/>", "<Exec><Command>C:\\x\\dot.exe</Command></Exec>"));
    std::string upper = common;
    CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    const std::string v = "\" v" + hash("V.exe", true);
    const std::string winlogon = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    const std::string help = "System\\CurrentControlSet\\Services\\rwhelp";
    MakeService("rwhelp", SERVICE_AUTO_START, "C:\\x\\h.exe"), MakeService("rwdemand", SERVICE_DEMAND_START, "C:\\x\\d.exe");
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, help.c_str(), "ImagePath", REG_EXPAND_SZ, "C:\\x\\h2.exe", 13);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, winlogon.c_str(), "Userinit2", REG_SZ, "V.exe", 6);
    const std::string exec = "<Exec><Command>C:\\x\\t.exe</Command></Exec>";
    WriteTask("\\rwhelp", TaskXml("<BootTrigger/>", exec)), WriteTask("\\rwoff", TaskXml("", exec, "<Enabled>false</Enabled>"));
    const std::string task = hash("C:\\x\\t.exe (запуск: при запуске Windows)", true);
    const std::pair<std::string, DWORD> rows[] = {
        {machine + "Software\\rwtest" + v, ELEVATED_FAILED}, {machine + run + "\\sub" + v, ELEVATED_FAILED},
        {"-remove-value \"HKEY_CURRENT_USER\\" + std::string(USER_RUN) + v, ELEVATED_FAILED},
        {machine + run + "\" v 00", ELEVATED_FAILED}, {machine + run + v + " \"" + folder + "\\Removed\"", ELEVATED_FAILED},
        {machine + link + v, ELEVATED_CHANGED}, {machine + run + "\" w" + hash("V.exe", true), ELEVATED_CHANGED},
        {machine + run + "\" v" + hash("W.exe", true), ELEVATED_CHANGED},
        // Winlogon's values that are no entries, and Windows' own shell.
        {machine + winlogon + "\" Userinit2" + hash("V.exe", true), ELEVATED_FAILED},
        {machine + winlogon + "\" Shell" + hash("explorer.exe", true), ELEVATED_FAILED},
        {"-remove-file \"" + folder + "\\x.lnk\"" + hash("x", false), ELEVATED_FAILED},
        {"-remove-file \"" + user + "\"" + hash("x", false), ELEVATED_FAILED},
        {"-remove-file \"" + common + "..\\x.lnk\"" + hash("x", false), ELEVATED_FAILED},
        {"-remove-file \"" + common + "desktop.ini\"" + hash("x", false), ELEVATED_FAILED}, {"-remove-file", ELEVATED_FAILED},
        {"-remove-file \"" + common + "c.lnk\"" + hash("y", false), ELEVATED_CHANGED},
        {"-remove-file \"" + common + "c.lnk.\"" + hash("x", false), ELEVATED_REMOVED},
        // A service whose path changed after the question, one no check asks about, then the one asked about.
        {"-disable-service rwhelp" + hash("C:\\x\\h.exe", true), ELEVATED_CHANGED},
        {"-disable-service rwdemand" + hash("C:\\x\\d.exe", true), ELEVATED_FAILED},
        {"-disable-service ..\\rwhelp" + hash("C:\\x\\h2.exe", true), ELEVATED_FAILED},
        {"-disable-service rwhelp" + hash("C:\\x\\h2.exe", true), ELEVATED_REMOVED},
        // A task changed or gone since the question, a disabled one, a path out of the store, then the one asked about.
        {"-delete-task \\rwhelp" + hash("C:\\x\\t.exe (запуск: при входе в систему)", true), ELEVATED_CHANGED},
        {"-delete-task \\rwgone" + task, ELEVATED_CHANGED},
        {"-delete-task \\rwoff" + hash("C:\\x\\t.exe (запуск: только по запросу)", true), ELEVATED_FAILED},
        {"-delete-task \\..\\Tasks\\rwhelp" + task, ELEVATED_FAILED},
        {"-delete-task \\rwhelp." + hash("C:\\x\\dot.exe (запуск: при запуске Windows)", true), ELEVATED_REMOVED},
        {"-delete-task \\rwhelp" + task, ELEVATED_REMOVED},
        // Paths compare as Windows compares them.
        {"-remove-value \"hkey_local_machine\\software\\microsoft\\windows\\currentversion\\RUN" + v, ELEVATED_REMOVED},
        {"-remove-file \"" + upper + "C.LNK\"" + hash("x", false), ELEVATED_REMOVED},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(TProcess(ProgramPath(), row.first).Wait(START_MS), row.second) << row.first;
    }
    EXPECT_EQ(KeyValues(HKEY_LOCAL_MACHINE, run), std::vector<TRegValue>{});
    for (const std::string& key : {run + "\\sub", std::string("Software\\rwtest")}) {
        EXPECT_EQ(KeyValues(HKEY_LOCAL_MACHINE, key), values);
    }
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), values);
    TRegKey kept;
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, winlogon.c_str(), 0, KEY_ALL_ACCESS, kept.Receive());
    EXPECT_EQ(ReadRegString(kept.Get(), L"", L"Userinit2"), L"V.exe");
    EXPECT_EQ(ReadRegString(kept.Get(), L"", L"Shell"), L"explorer.exe");
    RegDeleteValueA(kept.Get(), "Userinit2");
    TRegKey disabled;
    DWORD disabledStart = 0, size = sizeof(disabledStart);
    RegOpenKeyExA(HKEY_LOCAL_MACHINE, help.c_str(), 0, KEY_READ, disabled.Receive());
    EXPECT_EQ(RegQueryValueExA(disabled.Get(), "Start", nullptr, nullptr, reinterpret_cast<BYTE*>(&disabledStart), &size), ERROR_SUCCESS);
    EXPECT_EQ(disabledStart, static_cast<DWORD>(SERVICE_DISABLED));
    DeleteService("rwhelp"), DeleteService("rwdemand");
    EXPECT_EQ(FolderNames(TASK_STORE), std::vector<std::string>{"rwoff"});
    EXPECT_EQ(FolderNames(common), std::vector<std::string>{"desktop.ini"});
    EXPECT_EQ(FolderNames(folder + "\\Startup").size(), 1u);
    // The helper writes nothing else: no Removed folder, no settings.
    EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{"Common Startup", "Startup", "x.lnk"}));
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, W(run + "\\sub").c_str(), KEY_WOW64_64KEY, 0);
    DeleteKey(HKEY_LOCAL_MACHINE, "Software\\rwtest");
    const auto deleteKey = ProcAddress<LONG(NTAPI*)(HANDLE)>(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey");
    TRegKey opened;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(link).c_str(), REG_OPTION_OPEN_LINK, DELETE, opened.Receive());
    EXPECT_GE(deleteKey(opened.Get()), 0);
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {});
}

// The window of everything guarded, as a user's tool reads it from another
// process: the entries with their states, the search, one window however
// often it is opened, and its size kept from one opening to the next.
TEST_F(Program, TheWindowShowsEveryEntryFindsAndKeepsItsSize)
{
    // A command of 10,000 characters with a line feed: one row, escaped, cut where the list cuts it.
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe"), Sz("c", "C.exe\n" + std::string(10000, 'y'))});
    SetKeyValues(HKEY_CURRENT_USER, std::string(APPROVED) + "\\Run", {{"c", REG_BINARY, std::string("\3\0\0\0\1\0\0\0\0\0\0\0", 12)}});
    // A hand-edited place and size: kept on the screen, within its bounds.
    ASSERT_TRUE(WriteOptions(folder, "[" + USER_RUN_SECTION + "]\r\na=A.exe\r\n[Window]\r\nLeft=-2147483648\r\n"
                                     "Top=99999999\r\nWidth=-5\r\nHeight=2147483647\r\n"));
    // Added once, and no longer there.
    ASSERT_TRUE(WriteFileBytes(folder + "\\Runwarden\\history.log", "2026-12-07 10:00:00\tadded\t" + USER_RUN_SECTION + "\tgone\tG.exe\t\n"));
    TProcess program(ProgramPath(), "");
    HWND wnd = nullptr;
    const HWND window = OpenWindow(program, wnd);
    ASSERT_NE(window, nullptr);
    RECT work = {}, placed = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(window, &placed);
    EXPECT_EQ(std::vector<LONG>({placed.left, placed.top, placed.right - placed.left, placed.bottom}),
              std::vector<LONG>({work.left, work.top, 480, work.bottom}));
    for (const char* expected : {"a Разрешена", "c Выключена в диспетчере задач", "gone Разрешена, но ее больше нет"}) {
        EXPECT_TRUE(HasRow(window, expected)) << expected;
    }
    const std::vector<std::string> commands = ListViewColumn(GetDlgItem(window, ENTRIES_LIST), 1);
    EXPECT_NE(std::find(commands.begin(), commands.end(), "C.exe\xAB" "0A\xBB" + std::string(1014, 'y')), commands.end());
    SendMessageW(GetDlgItem(window, 101), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"GONE"));
    EXPECT_EQ(WindowRows(window), std::vector<std::string>{"gone Разрешена, но ее больше нет"});
    // A second opening brings the same window forward.
    Command(wnd, IDM_AUTORUN);
    SendMessageW(wnd, WM_NULL, 0, 0);
    EXPECT_EQ(FindWindowExA(nullptr, window, "RunwardenAutorun", nullptr), nullptr);
    SetWindowPos(window, nullptr, 40, 30, 700, 420, SWP_NOZORDER);
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor(START_MS, [&] { return !IsWindow(window); }));
    Command(wnd, IDM_AUTORUN);
    const HWND again = WaitForWindow(program.Id(), "RunwardenAutorun", START_MS);
    ASSERT_NE(again, nullptr);
    RECT rect = {};
    GetWindowRect(again, &rect);
    EXPECT_EQ(std::vector<LONG>({rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top}),
              std::vector<LONG>({40, 30, 700, 420}));
    Command(wnd, IDM_EXIT);
    EXPECT_EQ(program.Wait(START_MS), 0u);
}

// What the window does to an entry: Del removes it as the question's
// "remove" does, "Восстановить" puts it back, and a check the watch starts
// while the window is open asks in a box of its own and updates the rows;
// the history tab tells it all, newest first.
TEST_F(Program, TheWindowRemovesPutsBackAndFollowsEveryCheck)
{
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe")});
    ASSERT_TRUE(WriteOptions(folder, "[" + USER_RUN_SECTION + "]\r\na=A.exe\r\n"));
    TProcess program(ProgramPath(), "");
    HWND wnd = nullptr;
    const HWND window = OpenWindow(program, wnd);
    ASSERT_NE(window, nullptr);
    SelectRow(window, "a Разрешена");
    PostMessageW(GetDlgItem(window, ENTRIES_LIST), WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_TRUE(WaitFor(START_MS, [&] { return HasRow(window, "a Удалена, можно восстановить"); }));
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), std::vector<TRegValue>{});
    SelectRow(window, "a Удалена, можно восстановить");
    SendMessageW(GetDlgItem(window, RESTORE_BUTTON), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitFor(START_MS, [&] { return HasRow(window, "a Разрешена"); }));
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), std::vector<TRegValue>{Sz("a", "A.exe")});
    {
        TUserRobot robot({{2, TPress::Ok}}, program.Id());
        SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe"), Sz("b", "B.exe")});
        EXPECT_TRUE(WaitFor(START_MS, [&] { return HasRow(window, "b Разрешена"); }));
        robot.Finish();
        EXPECT_EQ(robot.Boxes().size(), 1u);
    }
    // The history is filled once its tab is shown.
    PostMessageW(GetDlgItem(window, TABS), WM_KEYDOWN, VK_RIGHT, 0);
    std::vector<std::string> what;
    EXPECT_TRUE(WaitFor(START_MS, [&] { return (what = ListViewColumn(GetDlgItem(window, HISTORY_LIST), 1)).size() >= 3; }));
    EXPECT_EQ(std::vector<std::string>(what.begin(), what.begin() + std::min<std::size_t>(what.size(), 3)),
              (std::vector<std::string>{"добавлена в список", "восстановлена", "удалена"}));
    Command(wnd, IDM_EXIT);
    EXPECT_EQ(program.Wait(START_MS), 0u);
}
