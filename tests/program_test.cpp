#include "MainUnit.h"
#include "TestSupport.h"
#include "UserRobot.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <shellapi.h>

namespace {

constexpr DWORD START_MS = 15000;
constexpr DWORD END_MS = 15000;

class Program : public testing::Test {
protected:
    void SetUp() override
    {
        folder = FreshTestFolder();
        QuietAutostart(folder);
    }
    std::string folder;
};

bool HasTrayIcon(HWND wnd)
{
    // Modifying an icon that is not there fails; the tip is set to itself.
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = wnd;
    data.uID = TRAY_ICON_ID;
    data.uFlags = NIF_TIP;
    lstrcpyA(data.szTip, "Runwarden");
    return Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

// The window of a resident program, after its start-up check.
HWND ResidentWindow(TProcess& program)
{
    EXPECT_TRUE(program.Started());
    const HWND wnd = WaitForMainWindow(program.Id(), START_MS);
    EXPECT_NE(wnd, nullptr);
    // The start-up check runs before the message loop; a sent message
    // returns once the loop is running.
    DWORD_PTR ignored = 0;
    EXPECT_NE(SendMessageTimeoutA(wnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, START_MS, &ignored), 0);
    return wnd;
}

// Runwarden.exe -once, its questions answered by the robot: the boxes seen,
// after checking that the program ended with code 0 and nothing else came.
std::vector<TBoxInfo> RunOnce(std::vector<TAnswer> answers)
{
    TProcess program(ProgramPath(), "-once");
    TUserRobot robot(std::move(answers), program.Id());
    EXPECT_EQ(program.Wait(END_MS * 2), 0u);
    robot.Finish();
    const std::vector<std::string> problems = robot.Problems();
    EXPECT_TRUE(problems.empty()) << problems.front();
    return robot.Boxes();
}

} // namespace

TEST_F(Program, OnceRunsTheCheckAndEndsWithoutAMessage)
{
    EXPECT_TRUE(RunOnce({}).empty());
    EXPECT_EQ(FindWindowA(MAIN_CLASS_NAME, MAIN_WINDOW_TITLE), nullptr);
    // The start-up run found the settings folder missing and created it.
    EXPECT_TRUE(FileExists(folder + "\\Runwarden\\options.ini"));
}

TEST_F(Program, OtherSpellingsOfTheSwitchStayResident)
{
    for (const char* arguments : {"-ONCE", "/once", "--once", "x -once", ""}) {
        TProcess program(ProgramPath(), arguments);
        const HWND wnd = ResidentWindow(program);
        EXPECT_TRUE(program.Running()) << arguments;
        EXPECT_TRUE(HasTrayIcon(wnd)) << arguments;
        PostMessageA(wnd, WM_CLOSE, 0, 0);
        EXPECT_EQ(program.Wait(END_MS), 0u) << arguments;
        EXPECT_FALSE(HasTrayIcon(wnd)) << arguments;
    }
}

TEST_F(Program, IconComesBackWhenTheTaskbarIsMadeAgain)
{
    TProcess program(ProgramPath(), "");
    const HWND wnd = ResidentWindow(program);
    // As after a crash of the shell: the icon is gone, then the new taskbar
    // asks every program for its icon.
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = wnd;
    data.uID = TRAY_ICON_ID;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
    EXPECT_FALSE(HasTrayIcon(wnd));
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(wnd, RegisterWindowMessageA("TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG, START_MS, &ignored);
    EXPECT_TRUE(HasTrayIcon(wnd));
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.Wait(END_MS), 0u);
}

TEST_F(Program, SecondStartEndsAtOnceAndLeavesTheFirstAlone)
{
    TProcess first(ProgramPath(), "");
    const HWND wnd = ResidentWindow(first);
    for (const char* arguments : {"", "-once"}) {
        TProcess second(ProgramPath(), arguments);
        TUserRobot robot({}, second.Id());
        EXPECT_EQ(second.Wait(END_MS), 0u) << arguments;
        robot.Finish();
        EXPECT_TRUE(robot.Problems().empty()) << arguments;
    }
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(WaitForMainWindow(first.Id(), 0), wnd);
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.Wait(END_MS), 0u);
}

TEST_F(Program, ClickDuringARunStartsNoSecondRun)
{
    TProcess program(ProgramPath(), "");
    const HWND wnd = ResidentWindow(program);
    // While the completion box is open, a second click must not start a run
    // (it would show a second box, which the robot reports).
    TUserRobot robot({{0, TPress::Ok,
                       [wnd](const TBoxInfo&) {
                           PostMessageA(wnd, WM_TRAYICON, 0, WM_LBUTTONDOWN);
                           PostMessageA(wnd, WM_COMMAND, IDM_CHECK, 0);
                           Sleep(1000);
                       }},
                      {0, TPress::Ok, nullptr}},
                     program.Id());
    PostMessageA(wnd, WM_TRAYICON, 0, WM_LBUTTONDOWN);
    // The box of the first run is answered; the next click runs again.
    Sleep(3000);
    PostMessageA(wnd, WM_TRAYICON, 0, WM_LBUTTONDOWN);
    Sleep(3000);
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.Wait(END_MS), 0u);
    robot.Finish();
    EXPECT_TRUE(robot.Problems().empty()) << robot.Problems().front();
    const std::vector<TBoxInfo> boxes = robot.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const TBoxInfo& box : boxes) {
        // "Проверка завершена"
        EXPECT_EQ(box.text, Bytes("CF F0 EE E2 E5 F0 EA E0 20 E7 E0 E2 E5 F0 F8 E5 ED E0"));
        EXPECT_EQ(box.caption, "Runwarden");
        EXPECT_EQ(box.owner, wnd);
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
    }
}

TEST_F(Program, ReleasesAndOtherButtonsDoNothing)
{
    TProcess program(ProgramPath(), "");
    const HWND wnd = ResidentWindow(program);
    TUserRobot robot({}, program.Id());
    for (const LPARAM mouse : {WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_MBUTTONDOWN, WM_MOUSEMOVE}) {
        PostMessageA(wnd, WM_TRAYICON, 0, mouse);
    }
    PostMessageA(wnd, WM_COMMAND, 999, 0);
    Sleep(1500);
    EXPECT_TRUE(program.Running());
    PostMessageA(wnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.Wait(END_MS), 0u);
    robot.Finish();
    EXPECT_TRUE(robot.Problems().empty()) << robot.Problems().front();
}

TEST_F(Program, OnceAsksAboutNewRunValuesAndCarriesOutTheAnswers)
{
    const TRunKey& user = RUN_KEYS[0];
    const TRunKey& machine = RUN_KEYS[2];
    SetKeyValues(user.root, user.path, {Sz("UserTool", "C:\\user.exe /q")});
    SetKeyValues(machine.root, machine.path, {Sz("MachineTool", "C:\\machine.exe")});
    const std::vector<TBoxInfo> boxes = RunOnce({{2, TPress::Ok, nullptr}, {0, TPress::Ok, nullptr}});
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, NewEntryMessage(std::string(user.section) + "\\UserTool=C:\\user.exe /q"));
    EXPECT_EQ(boxes[1].text, NewEntryMessage(std::string(machine.section) + "\\MachineTool=C:\\machine.exe"));
    EXPECT_EQ(boxes[0].ownerClass, MAIN_CLASS_NAME);
    EXPECT_TRUE(boxes[0].topmost);
    EXPECT_EQ(KeyValues(user.root, user.path), (std::vector<TRegValue>{Sz("UserTool", "C:\\user.exe /q")}));
    EXPECT_TRUE(KeyValues(machine.root, machine.path).empty());
    EXPECT_EQ(ReadFileBytes(folder + "\\Runwarden\\options.ini"),
              std::string("[") + user.section + "]\r\nUserTool=C:\\user.exe /q\r\n");
}

TEST_F(Program, UnwritableSettingsFileIsReportedAtStartAndByTheCheck)
{
    // A directory where the settings file should be.
    ASSERT_TRUE(CreateDirectoryA((folder + "\\Runwarden").c_str(), nullptr));
    const std::string path = folder + "\\Runwarden\\options.ini";
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    const std::vector<TBoxInfo> boxes = RunOnce({{0, TPress::Ok, nullptr}, {0, TPress::Ok, nullptr}});
    ASSERT_EQ(boxes.size(), 2u);
    // While the window is made the box has no owner; the check's box is owned.
    EXPECT_EQ(boxes[0].text, CannotOpenFileMessage(path));
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[1].text, CannotOpenFileMessage(path));
    EXPECT_EQ(boxes[1].ownerClass, MAIN_CLASS_NAME);
}

TEST_F(Program, OneRunAsksAboutEveryKindOfLocationInOrder)
{
    const TRunKey& user = RUN_KEYS[0];
    SetKeyValues(user.root, user.path, {Sz("Tool", "C:\\tool.exe")});
    ASSERT_TRUE(WriteFileBytes(folder + "\\Startup\\Mine.LNK", "m"));
    ASSERT_TRUE(WriteFileBytes(folder + "\\Common Startup\\shared.lnk", "s"));
    ASSERT_TRUE(WritePrivateProfileStringA("windows", "run", "C:\\old.exe,C:\\keep.exe", "win.ini"));
    const std::vector<TBoxInfo> boxes = RunOnce({{2, TPress::Ok, nullptr},
                                                 {0, TPress::Ok, nullptr},
                                                 {0, TPress::Cancel, nullptr},
                                                 {0, TPress::Ok, nullptr},
                                                 {2, TPress::Ok, nullptr}});
    ASSERT_EQ(boxes.size(), 5u);
    EXPECT_EQ(boxes[0].text, NewEntryMessage(std::string(user.section) + "\\Tool=C:\\tool.exe"));
    EXPECT_EQ(boxes[1].text, NewEntryMessage(folder + "\\Startup\\mine.lnk"));
    EXPECT_EQ(boxes[2].text, NewEntryMessage(folder + "\\Common Startup\\shared.lnk"));
    EXPECT_EQ(boxes[3].text, NewEntryMessage("win.ini\\[windows]\\run=C:\\old.exe"));
    EXPECT_EQ(boxes[4].text, NewEntryMessage("win.ini\\[windows]\\run=C:\\keep.exe"));

    EXPECT_EQ(KeyValues(user.root, user.path), (std::vector<TRegValue>{Sz("Tool", "C:\\tool.exe")}));
    EXPECT_TRUE(FolderNames(folder + "\\Startup").empty());
    EXPECT_EQ(FolderNames(folder + "\\Common Startup"), std::vector<std::string>{"shared.lnk"});
    char run[64] = {};
    GetPrivateProfileStringA("windows", "run", "", run, sizeof(run), "win.ini");
    EXPECT_EQ(std::string(run), "C:\\keep.exe");
    EXPECT_EQ(ReadFileBytes(folder + "\\Runwarden\\options.ini"),
              std::string("[") + user.section + "]\r\nTool=C:\\tool.exe\r\n[HKEY_LOCAL_MACHINE\\Common Startup]\r\n"
                  + folder + "\\Common Startup\\shared.lnk=1\r\n[win.ini]\r\nrun=C:\\keep.exe\r\n");
    WritePrivateProfileStringA("windows", "run", nullptr, "win.ini");
}
