#include "MainState.h"
#include "MainUnit.h"
#include "Settings.h"
#include "TestSupport.h"
#include "UserRobot.h"

#include <gtest/gtest.h>

TEST(CommandLine, OnlyTheFirstArgumentCounts)
{
    EXPECT_EQ(FirstArgument("Runwarden.exe -once"), "-once");
    EXPECT_EQ(FirstArgument("\"C:\\Program Files\\R\\Runwarden.exe\" -once x"), "-once");
    EXPECT_EQ(FirstArgument("Runwarden.exe \t-once"), "-once");
    EXPECT_EQ(FirstArgument("Runwarden.exe \"-on\"ce"), "-once");
    EXPECT_EQ(FirstArgument("Runwarden.exe x -once"), "x");
    EXPECT_EQ(FirstArgument("Runwarden.exe"), "");
    EXPECT_EQ(FirstArgument(""), "");
}

namespace {

class SettingsFile : public testing::Test {
protected:
    void SetUp() override
    {
        QuietAutostart(state.folder);
        SetMainWnd(nullptr); // as while the main window is being created
    }
    void SetAppData(const std::string& folder)
    {
        SetKeyValues(HKEY_CURRENT_USER, SHELL_FOLDERS, {Sz("AppData", folder)});
    }
    // GetSettingsPath with the robot watching; returns the boxes shown.
    std::vector<TBoxInfo> Get(std::string& path, std::vector<TAnswer> answers = {})
    {
        TUserRobot robot(std::move(answers));
        path = GetSettingsPath();
        robot.Finish();
        EXPECT_TRUE(robot.Problems().empty()) << robot.Problems().front();
        return robot.Boxes();
    }
    TTestState state;
};

} // namespace

TEST_F(SettingsFile, FirstStartCreatesFolderAndEmptyFile)
{
    SetAppData(state.folder + "\\AppData");
    ASSERT_TRUE(CreateDirectoryA((state.folder + "\\AppData").c_str(), nullptr));
    std::string path;
    EXPECT_TRUE(Get(path).empty());
    EXPECT_EQ(path, state.folder + "\\AppData\\Runwarden\\options.ini");
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(ReadFileBytes(path), "");
}

TEST_F(SettingsFile, ExistingFileIsLeftAsItIs)
{
    SetAppData(state.folder);
    ASSERT_TRUE(CreateDirectoryA((state.folder + "\\Runwarden").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(state.folder + "\\Runwarden\\options.ini", "[S]\r\na=1\r\n"));
    std::string path;
    EXPECT_TRUE(Get(path).empty());
    EXPECT_EQ(ReadFileBytes(path), "[S]\r\na=1\r\n");
    // The folder exists but the file was deleted: made again, silently.
    ASSERT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_TRUE(Get(path).empty());
    EXPECT_TRUE(FileExists(path));
}

TEST_F(SettingsFile, WithoutAppDataTheFileLivesBesideTheProgram)
{
    SetKeyValues(HKEY_CURRENT_USER, SHELL_FOLDERS, {});
    SetOwnCommands(state.folder + "\\Runwarden.exe");
    EXPECT_EQ(GetProgramFolder(), state.folder + "\\");
    std::string path;
    EXPECT_TRUE(Get(path).empty());
    EXPECT_EQ(path, state.folder + "\\options.ini");
    EXPECT_TRUE(FileExists(path));
    SetOwnCommands("Runwarden.exe");
    EXPECT_EQ(GetProgramFolder(), "");
}

TEST_F(SettingsFile, FolderThatCannotBeMadeIsReportedWithoutOwner)
{
    SetAppData(state.folder + "\\missing parent");
    std::string path;
    const std::vector<TBoxInfo> boxes = Get(path, {{0, TPress::Ok, nullptr}});
    EXPECT_EQ(path, state.folder + "\\missing parent\\Runwarden\\options.ini");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, CannotOpenFileMessage(path));
    EXPECT_EQ(boxes[0].caption, "Runwarden");
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].icon, IDI_EXCLAMATION);
    EXPECT_FALSE(DirectoryExists(state.folder + "\\missing parent"));
}

TEST_F(SettingsFile, DirectoryInPlaceOfTheFileIsNotTheFile)
{
    SetAppData(state.folder);
    ASSERT_TRUE(CreateDirectoryA((state.folder + "\\Runwarden").c_str(), nullptr));
    const std::string path = state.folder + "\\Runwarden\\options.ini";
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
    EXPECT_FALSE(SettingsFileExists(path));
    std::string returned;
    const std::vector<TBoxInfo> boxes = Get(returned, {{0, TPress::Ok, nullptr}});
    EXPECT_EQ(returned, path);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, CannotOpenFileMessage(path));
}

TEST(CheckRun, UnwritableSettingsFileIsReportedAndEndsTheRun)
{
    TTestState state;
    QuietAutostart(state.folder);
    // A new file in the Startup folder would be asked about if the run went on.
    ASSERT_TRUE(WriteFileBytes(state.folder + "\\Startup\\new.lnk", "x"));
    const std::string directory = state.folder + "\\options.ini.dir";
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
    SetSettingsFilePath(directory);
    for (const bool silent : {false, true}) {
        TUserRobot robot({{0, TPress::Ok, nullptr}});
        RunCheck(silent);
        robot.Finish();
        EXPECT_TRUE(robot.Problems().empty()) << robot.Problems().front();
        const std::vector<TBoxInfo> boxes = robot.Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, CannotOpenFileMessage(directory));
        EXPECT_EQ(boxes[0].owner, state.owner);
        EXPECT_EQ(boxes[0].icon, IDI_EXCLAMATION);
        EXPECT_FALSE(CheckRunning());
    }
    EXPECT_TRUE(FileExists(state.folder + "\\Startup\\new.lnk"));
}

TEST(CheckRun, CompletionMessageUnlessSilent)
{
    TTestState state;
    QuietAutostart(state.folder);
    TUserRobot robot({{0, TPress::Ok, nullptr}});
    RunCheck(true);
    RunCheck(false);
    robot.Finish();
    EXPECT_TRUE(robot.Problems().empty()) << robot.Problems().front();
    const std::vector<TBoxInfo> boxes = robot.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, CheckCompleteMessage());
    EXPECT_EQ(boxes[0].icon, IDI_ASTERISK);
    EXPECT_EQ(boxes[0].owner, state.owner);
}

TEST(MainWindow, DestroyEndsTheMessageLoop)
{
    TTestState state;
    QuietAutostart(state.folder);
    RegisterMainClass(GetModuleHandleA(nullptr));
    const HWND wnd = CreateWindowExA(0, MAIN_CLASS_NAME, MAIN_WINDOW_TITLE, WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                     nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(wnd, nullptr);
    // WM_CREATE found the settings file through AppData and built the menu.
    EXPECT_EQ(SettingsFilePath(), state.folder + "\\Runwarden\\options.ini");
    EXPECT_EQ(OwnCommand(), ModulePath());
    EXPECT_EQ(OwnOnceCommand(), ModulePath() + " -once");
    EXPECT_NE(TrayMenu(), nullptr);
    DestroyWindow(wnd);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
}
