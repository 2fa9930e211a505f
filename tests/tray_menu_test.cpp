#include "MainState.h"
#include "MainUnit.h"
#include "ScopedHandle.h"
#include "TestSupport.h"
#include "UserRobot.h"
#include "resource.h"
#include "tray_support.h"

#include <gtest/gtest.h>

namespace {

constexpr DWORD WINDOW_MS = 20000;
// How long a test watches for a window that must not appear.
constexpr DWORD NOTHING_MS = 2000;
constexpr char BLANK_FOLDER[] = "\\Program Files X";

std::vector<TRegValue> RunValues() { return KeyValues(HKEY_CURRENT_USER, RUN_KEY); }

std::vector<TRegValue> OwnValue(const std::string& command) { return {Sz(RUN_VALUE_NAME, command)}; }

// The Run key with the program's value holding Command, or without values.
void SetRunValue(const std::string& command) { SetKeyValues(HKEY_CURRENT_USER, RUN_KEY, OwnValue(command)); }
void ClearRunKey() { SetKeyValues(HKEY_CURRENT_USER, RUN_KEY, {}); }

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string UpperCased(std::string text)
{
    CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

std::string FileNameOf(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

MENUITEMINFOA ItemInfo(HMENU menu, int position)
{
    MENUITEMINFOA info = {};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID;
    EXPECT_TRUE(GetMenuItemInfoA(menu, static_cast<UINT>(position), TRUE, &info)) << position;
    return info;
}

std::string ItemText(HMENU menu, int position)
{
    char text[256] = {};
    GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof(text), MF_BYPOSITION);
    return text;
}

// The menu's command arrives as a posted message some time after the menu
// has closed.
bool Eventually(const std::function<bool()>& condition) { return WaitFor(WINDOW_MS, condition); }

void PressOk(HWND box)
{
    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitWindowGone(box, WINDOW_MS));
}

void ExpectCompletionBox(HWND box, HWND owner)
{
    const TBoxInfo info = TUserRobot::Describe(box);
    EXPECT_EQ(info.text, CheckCompleteMessage());
    EXPECT_EQ(info.caption, "Runwarden");
    EXPECT_EQ(info.owner, owner);
    EXPECT_EQ(info.buttons, std::vector<int>{IDOK});
    EXPECT_TRUE(BoxShowsIcon(box, IDI_ASTERISK)); // MB_ICONINFORMATION
    EXPECT_FALSE(BoxShowsIcon(box, IDI_EXCLAMATION));
    EXPECT_FALSE(info.topmost);
}

bool IsHelpWindow(HWND wnd) { return HasClass(wnd, "HH Parent"); }

bool AnyWindow(HWND) { return true; }

// The settings file is written after the start-up check, which rewrites the
// sections it owns; this one belongs to no checker.
void ExpectSettingsFileOpens(const TProgram& program, const std::string& settingsPath)
{
    // "[Notes]" CR LF "line=Заметка" CR LF
    const std::string text = "[Notes]\r\nline=" + Bytes("C7 E0 EC E5 F2 EA E0") + "\r\n";
    ASSERT_TRUE(WriteFileBytes(settingsPath, text));
    EXPECT_TRUE(program.Command(IDM_LIST));
    const HWND editor = WaitForVisibleWindow(
        0, [](HWND wnd) { return HasClass(wnd, "Notepad") && WindowText(wnd).rfind("options.ini", 0) == 0; },
        WINDOW_MS);
    ASSERT_NE(editor, nullptr) << "no editor showed options.ini";
    TForeignWindow closer(editor);
    EXPECT_EQ(WindowText(editor).substr(0, 14), "options.ini - ");
    EXPECT_EQ(WindowText(FindWindowExA(editor, nullptr, "Edit", nullptr)), text);
    EXPECT_TRUE(closer.Close());
}

// The child processes of a test inherit its current folder.
class TCurrentFolder {
public:
    explicit TCurrentFolder(const std::string& folder)
    {
        GetCurrentDirectoryA(sizeof(saved_), saved_);
        SetCurrentDirectoryA(folder.c_str());
    }
    ~TCurrentFolder() { SetCurrentDirectoryA(saved_); }
    TCurrentFolder(const TCurrentFolder&) = delete;
    TCurrentFolder& operator=(const TCurrentFolder&) = delete;

private:
    char saved_[MAX_PATH] = {};
};

class TrayTest : public testing::Test {
protected:
    void SetUp() override
    {
        folder = FreshTestFolder();
        QuietAutostart(folder);
        ASSERT_EQ(FindWindowA(MAIN_CLASS_NAME, MAIN_WINDOW_TITLE), nullptr) << "an instance is still running";
    }
    // The bench's wineboot starts whatever the Run key names: no test may
    // leave the program registered there.
    void TearDown() override { ClearRunKey(); }
    std::string SettingsPath() const { return folder + "\\Runwarden\\options.ini"; }
    std::string folder;
};

// The window made in this process: its own command is this test program's path.
class MenuHere : public TrayTest {
protected:
    const std::string own = ModulePath();
};

class TrayProgram : public TrayTest {};

} // namespace

TEST_F(MenuHere, SetUpKeepsTheResourceAndMakesTheThreeModesRadioItems)
{
    const TMainWindowHere window;
    const HMENU menu = window.Menu();
    ASSERT_NE(menu, nullptr);
    const TMenuHandle resource(LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAYMENU)));
    const HMENU original = GetSubMenu(resource.Get(), 0);
    ASSERT_EQ(GetMenuItemCount(original), 10);
    ASSERT_EQ(GetMenuItemCount(menu), 10);
    for (int position = 0; position < 10; ++position) {
        const MENUITEMINFOA item = ItemInfo(menu, position);
        const MENUITEMINFOA before = ItemInfo(original, position);
        const bool mode = item.wID >= IDM_NOSTART && item.wID <= IDM_STARTONCE;
        EXPECT_EQ(item.wID, before.wID) << position;
        EXPECT_EQ(item.fType, before.fType | (mode ? MFT_RADIOCHECK : 0u)) << position;
        EXPECT_EQ(ItemText(menu, position), ItemText(original, position)) << position;
        if ((before.fType & MFT_SEPARATOR) == 0) {
            EXPECT_EQ(item.fState & (MFS_GRAYED | MFS_DEFAULT), 0u) << position;
            const bool marked = (item.fState & MFS_CHECKED) != 0;
            EXPECT_EQ(marked, item.wID == IDM_NOSTART) << position;
        }
    }
}

TEST_F(MenuHere, MarkAtStartFollowsTheRunValueExactly)
{
    ASSERT_EQ(own.find(' '), std::string::npos) << "the build folder must hold no blank";
    ASSERT_NE(UpperCased(own), own);
    struct TCase {
        const char* what;
        bool present;
        std::string value;
        UINT marked;
    };
    const TCase cases[] = {
        {"no value", false, "", IDM_NOSTART},
        {"own command", true, own, IDM_START},
        {"own -once command", true, own + " -once", IDM_STARTONCE},
        {"empty text", true, "", IDM_NOSTART},
        {"other letter case", true, UpperCased(own), IDM_NOSTART},
        {"other letter case, -once", true, UpperCased(own) + " -once", IDM_NOSTART},
        {"quoted, no blank in the path", true, Quoted(own), IDM_NOSTART},
        {"quoted -once, no blank in the path", true, Quoted(own) + " -once", IDM_NOSTART},
        {"switch in capitals", true, own + " -ONCE", IDM_NOSTART},
        {"two blanks before the switch", true, own + "  -once", IDM_NOSTART},
        {"blank after the switch", true, own + " -once ", IDM_NOSTART},
        {"moved program", true, "C:\\rwtest\\moved\\" + FileNameOf(own), IDM_NOSTART},
        {"moved program, -once", true, "C:\\rwtest\\moved\\" + FileNameOf(own) + " -once", IDM_NOSTART},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.what);
        if (test.present) {
            SetRunValue(test.value);
        } else {
            ClearRunKey();
        }
        const std::vector<TRegValue> before = RunValues();
        const TMainWindowHere window;
        EXPECT_EQ(MarkedStartupItems(window.Menu()), std::vector<UINT>{test.marked});
        // Reading the mode changes nothing.
        EXPECT_EQ(RunValues(), before);
    }
}

TEST_F(MenuHere, StartThenOnceThenNoStartLeavesNoValue)
{
    const TMainWindowHere window;
    ASSERT_EQ(MarkedStartupItems(window.Menu()), std::vector<UINT>{IDM_NOSTART});

    window.Command(IDM_START);
    EXPECT_EQ(RunValues(), OwnValue(own));
    EXPECT_EQ(MarkedStartupItems(window.Menu()), std::vector<UINT>{IDM_START});

    window.Command(IDM_STARTONCE);
    EXPECT_EQ(RunValues(), OwnValue(own + " -once"));
    EXPECT_EQ(MarkedStartupItems(window.Menu()), std::vector<UINT>{IDM_STARTONCE});

    window.Command(IDM_NOSTART);
    EXPECT_TRUE(RunValues().empty());
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, RUN_KEY));
    EXPECT_EQ(MarkedStartupItems(window.Menu()), std::vector<UINT>{IDM_NOSTART});
}

TEST_F(MenuHere, ChoosingTheMarkedItemAgainRepeatsTheRegistryStep)
{
    SetRunValue(own);
    const TMainWindowHere window;
    ASSERT_EQ(MarkedStartupItems(window.Menu()), std::vector<UINT>{IDM_START});
    // Something else took the value away meanwhile.
    ClearRunKey();
    window.Command(IDM_START);
    EXPECT_EQ(RunValues(), OwnValue(own));

    window.Command(IDM_NOSTART);
    SetRunValue("D:\\Other\\other.exe");
    window.Command(IDM_NOSTART);
    EXPECT_TRUE(RunValues().empty());
    EXPECT_EQ(MarkedStartupItems(window.Menu()), std::vector<UINT>{IDM_NOSTART});
}

TEST_F(MenuHere, MarkMovesEvenWhenTheRunKeyIsMissing)
{
    DeleteKey(HKEY_CURRENT_USER, RUN_KEY);
    const TMainWindowHere window;
    EXPECT_EQ(MarkedStartupItems(window.Menu()), std::vector<UINT>{IDM_NOSTART});
    for (const UINT command : {IDM_START, IDM_STARTONCE, IDM_NOSTART}) {
        window.Command(command);
        EXPECT_EQ(MarkedStartupItems(window.Menu()), std::vector<UINT>{command}) << command;
        // The write does not create the key.
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, RUN_KEY)) << command;
    }
}

TEST_F(MenuHere, UnknownNumbersDoNothingAndTheHighWordIsIgnored)
{
    SetRunValue("D:\\Other\\other.exe");
    const TMainWindowHere window;
    for (const UINT command : {0u, 1u, 100u, 108u, 109u, 1105u, 0xFFFFu}) {
        window.Command(command);
        EXPECT_EQ(RunValues(), OwnValue("D:\\Other\\other.exe")) << command;
        EXPECT_EQ(MarkedStartupItems(window.Menu()), std::vector<UINT>{IDM_NOSTART}) << command;
    }
    // As an accelerator (notification 1) or a control (notification 0x300)
    // would send it.
    window.Command(IDM_START, 1);
    EXPECT_EQ(RunValues(), OwnValue(own));
    window.Command(IDM_STARTONCE, 0x300);
    EXPECT_EQ(RunValues(), OwnValue(own + " -once"));
    EXPECT_EQ(MarkedStartupItems(window.Menu()), std::vector<UINT>{IDM_STARTONCE});
}

TEST_F(TrayProgram, ExitEndsWithCodeZeroAndTakesTheIconAway)
{
    TProgram program(ProgramPath());
    const HWND wnd = program.Wnd();
    ASSERT_NE(wnd, nullptr);
    EXPECT_TRUE(HasTrayIcon(wnd));
    TUserRobot robot({}, program.Id());
    EXPECT_EQ(program.Exit(), 0u);
    robot.Finish();
    EXPECT_TRUE(robot.Problems().empty()) << robot.Problems().front();
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_FALSE(HasTrayIcon(wnd));
}

TEST_F(TrayProgram, ModeCommandsWriteThePlainPath)
{
    const std::string exe = ProgramPath();
    ASSERT_EQ(exe.find(' '), std::string::npos) << "the build folder must hold no blank";
    TProgram program(exe);
    ASSERT_NE(program.Wnd(), nullptr);
    EXPECT_TRUE(program.Command(IDM_START));
    EXPECT_EQ(RunValues(), OwnValue(exe));
    EXPECT_TRUE(program.Command(IDM_STARTONCE));
    EXPECT_EQ(RunValues(), OwnValue(exe + " -once"));
    EXPECT_TRUE(program.Command(IDM_NOSTART));
    EXPECT_TRUE(RunValues().empty());
    EXPECT_EQ(program.Exit(), 0u);
}

TEST_F(TrayProgram, PathWithABlankIsWrittenInQuotes)
{
    const std::string exe = CopyInto(ProgramPath(), folder + BLANK_FOLDER);
    ASSERT_FALSE(exe.empty());
    TProgram program(exe);
    ASSERT_NE(program.Wnd(), nullptr);
    EXPECT_TRUE(program.Command(IDM_START));
    EXPECT_EQ(RunValues(), OwnValue(Quoted(exe)));
    EXPECT_TRUE(program.Command(IDM_STARTONCE));
    EXPECT_EQ(RunValues(), OwnValue(Quoted(exe) + " -once"));
    EXPECT_TRUE(program.Command(IDM_NOSTART));
    EXPECT_TRUE(RunValues().empty());
    EXPECT_EQ(program.Exit(), 0u);
}

TEST_F(TrayProgram, MarkAtStartWithAndWithoutABlankInThePath)
{
    const std::string blank = CopyInto(WinPath(TRAY_MARKS_PROBE), folder + BLANK_FOLDER);
    const std::string plain = CopyInto(WinPath(TRAY_MARKS_PROBE), folder + "\\NoBlank");
    ASSERT_FALSE(blank.empty());
    ASSERT_FALSE(plain.empty());
    struct TCase {
        const std::string& probe;
        bool present;
        std::string value;
        DWORD marked;
    };
    const TCase cases[] = {
        {blank, false, "", IDM_NOSTART},
        {blank, true, Quoted(blank), IDM_START},
        {blank, true, blank, IDM_START},
        {blank, true, Quoted(blank) + " -once", IDM_STARTONCE},
        {blank, true, blank + " -once", IDM_STARTONCE},
        {blank, true, Quoted(UpperCased(blank)), IDM_NOSTART},
        {blank, true, Quoted(blank) + "  -once", IDM_NOSTART},
        {blank, true, "\"" + blank, IDM_NOSTART},
        {plain, true, plain, IDM_START},
        {plain, true, Quoted(plain), IDM_NOSTART},
        {plain, true, Quoted(plain) + " -once", IDM_NOSTART},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.probe + " with the value " + (test.present ? test.value : "missing"));
        if (test.present) {
            SetRunValue(test.value);
        } else {
            ClearRunKey();
        }
        const std::vector<TRegValue> before = RunValues();
        TProcess probe(test.probe, "");
        ASSERT_TRUE(probe.Started());
        EXPECT_EQ(probe.Wait(PROGRAM_END_MS), test.marked);
        EXPECT_EQ(RunValues(), before);
    }
}

TEST_F(TrayProgram, LeftPressAndCheckRunACheckThatEndsWithTheCompletionMessage)
{
    TProgram program(ProgramPath());
    ASSERT_NE(program.Wnd(), nullptr);
    // The run starts on the press, not on the release.
    program.PostTray(WM_LBUTTONUP);
    EXPECT_EQ(WaitForVisibleWindow(program.Id(), IsMessageBox, NOTHING_MS), nullptr);
    for (const bool press : {true, false}) {
        SCOPED_TRACE(press ? "left press" : "command Check");
        if (press) {
            program.PostTray(WM_LBUTTONDOWN);
        } else {
            program.PostCommand(IDM_CHECK);
        }
        const HWND box = WaitForVisibleWindow(program.Id(), IsMessageBox, WINDOW_MS);
        ASSERT_NE(box, nullptr);
        ExpectCompletionBox(box, program.Wnd());
        PressOk(box);
        EXPECT_EQ(WaitForVisibleWindow(program.Id(), IsMessageBox, NOTHING_MS), nullptr);
    }
    EXPECT_EQ(program.Exit(), 0u);
}

TEST_F(TrayProgram, RightPressOpensTheMenuAtTheCursorAndItsItemsSendTheirCommands)
{
    const std::string exe = ProgramPath();
    TProgram program(exe);
    ASSERT_NE(program.Wnd(), nullptr);
    ASSERT_TRUE(SetCursorPos(200, 150));
    program.PostTray(WM_RBUTTONUP);
    EXPECT_EQ(WaitForVisibleWindow(program.Id(), IsPopupMenu, NOTHING_MS), nullptr);

    program.PostTray(WM_RBUTTONDOWN);
    HWND menu = WaitForVisibleWindow(program.Id(), IsPopupMenu, WINDOW_MS);
    ASSERT_NE(menu, nullptr);
    RECT r = {};
    GetWindowRect(menu, &r);
    EXPECT_EQ(r.left, 200);
    EXPECT_EQ(r.top, 150);
    SaveWindowShot(menu, "tray_menu");
    // Down to the fourth command, "Запускать с Windows", and choose it.
    for (int step = 0; step < 4; ++step) {
        PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    }
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_TRUE(WaitWindowGone(menu, WINDOW_MS));
    EXPECT_TRUE(Eventually([&exe] { return RunValues() == OwnValue(exe); }));

    // Esc closes the menu without a command.
    program.PostTray(WM_RBUTTONDOWN);
    menu = WaitForVisibleWindow(program.Id(), IsPopupMenu, WINDOW_MS);
    ASSERT_NE(menu, nullptr);
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(WaitWindowGone(menu, WINDOW_MS));
    EXPECT_TRUE(program.Command(0)); // the loop has handled whatever came before
    EXPECT_EQ(RunValues(), OwnValue(exe));
    EXPECT_EQ(program.Exit(), 0u);
}

TEST_F(TrayProgram, CommandsActAtOnceWhileARunShowsItsBox)
{
    const std::string exe = ProgramPath();
    TProgram program(exe);
    ASSERT_NE(program.Wnd(), nullptr);
    program.PostTray(WM_LBUTTONDOWN);
    const HWND box = WaitForVisibleWindow(program.Id(), IsMessageBox, WINDOW_MS);
    ASSERT_NE(box, nullptr);

    EXPECT_TRUE(program.Command(IDM_START));
    EXPECT_EQ(RunValues(), OwnValue(exe));
    EXPECT_TRUE(program.Command(IDM_NOSTART));
    EXPECT_TRUE(RunValues().empty());
    ExpectSettingsFileOpens(program, SettingsPath());

    // The run is still open: neither starts a second one.
    program.PostCommand(IDM_CHECK);
    program.PostTray(WM_LBUTTONDOWN);
    Sleep(NOTHING_MS);
    EXPECT_EQ(VisibleWindows(program.Id(), IsMessageBox), std::vector<HWND>{box});
    EXPECT_TRUE(IsWindowVisible(box));
    PressOk(box);

    // The guard is clear again: the next press runs.
    program.PostTray(WM_LBUTTONDOWN);
    const HWND next = WaitForVisibleWindow(program.Id(), IsMessageBox, WINDOW_MS);
    ASSERT_NE(next, nullptr);
    ExpectCompletionBox(next, program.Wnd());
    PressOk(next);
    EXPECT_EQ(program.Exit(), 0u);
}

TEST_F(TrayProgram, CommandsActAtOnceWhileAStartUpQuestionIsOpen)
{
    const std::string exe = ProgramPath();
    const TRegValue tool = Sz("Tool", "D:\\Tools\\tool.exe");
    SetKeyValues(HKEY_CURRENT_USER, RUN_KEY, {tool});
    TProgram program(exe);
    ASSERT_NE(program.Wnd(), nullptr);
    const HWND question = WaitForVisibleWindow(program.Id(), IsMessageBox, WINDOW_MS);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(TUserRobot::Describe(question).text,
              NewEntryMessage(std::string(RUN_KEYS[0].section) + "\\Tool=D:\\Tools\\tool.exe"));

    EXPECT_TRUE(program.Command(IDM_START));
    EXPECT_EQ(RunValues(), (std::vector<TRegValue>{Sz(RUN_VALUE_NAME, exe), tool}));
    EXPECT_TRUE(program.Command(IDM_NOSTART));
    EXPECT_EQ(RunValues(), std::vector<TRegValue>{tool});
    program.PostCommand(IDM_CHECK);
    program.PostTray(WM_LBUTTONDOWN);
    Sleep(NOTHING_MS);
    EXPECT_EQ(VisibleWindows(program.Id(), IsMessageBox), std::vector<HWND>{question});

    // Cancel leaves the new entry alone; the start-up run ends silently.
    PostMessageA(GetDlgItem(question, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitWindowGone(question, WINDOW_MS));
    EXPECT_EQ(WaitForVisibleWindow(program.Id(), IsMessageBox, NOTHING_MS), nullptr);
    EXPECT_EQ(RunValues(), std::vector<TRegValue>{tool});
    EXPECT_EQ(program.Exit(), 0u);
}

TEST_F(TrayProgram, ExitDuringAStartUpQuestionEndsAndTouchesNothing)
{
    // A listed entry that is gone: a run that finished the key would drop it.
    const std::string list = std::string("[") + RUN_KEYS[0].section + "]\r\nGone=C:\\gone.exe\r\n";
    ASSERT_TRUE(CreateDirectoryA((folder + "\\Runwarden").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(SettingsPath(), list));
    const TRegValue tool = Sz("Tool", "D:\\Tools\\tool.exe");
    SetKeyValues(HKEY_CURRENT_USER, RUN_KEY, {tool});
    TProgram program(ProgramPath());
    ASSERT_NE(program.Wnd(), nullptr);
    const HWND question = WaitForVisibleWindow(program.Id(), IsMessageBox, WINDOW_MS);
    ASSERT_NE(question, nullptr);
    program.PostCommand(IDM_EXIT);
    EXPECT_TRUE(WaitWindowGone(question, WINDOW_MS));
    TUserRobot robot({}, program.Id());
    EXPECT_EQ(program.Wait(), 0u);
    robot.Finish();
    EXPECT_TRUE(robot.Problems().empty()) << robot.Problems().front();
    EXPECT_EQ(RunValues(), std::vector<TRegValue>{tool});
    EXPECT_EQ(ReadFileBytes(SettingsPath()), list);
}

TEST_F(TrayProgram, ExitDuringARunClosesTheBoxAndEndsWithCodeZero)
{
    TProgram program(ProgramPath());
    ASSERT_NE(program.Wnd(), nullptr);
    program.PostTray(WM_LBUTTONDOWN);
    const HWND box = WaitForVisibleWindow(program.Id(), IsMessageBox, WINDOW_MS);
    ASSERT_NE(box, nullptr);
    program.PostCommand(IDM_EXIT);
    EXPECT_TRUE(WaitWindowGone(box, WINDOW_MS));
    // Nothing else is shown on the way out.
    TUserRobot robot({}, program.Id());
    EXPECT_EQ(program.Wait(), 0u);
    robot.Finish();
    EXPECT_TRUE(robot.Problems().empty()) << robot.Problems().front();
}

TEST_F(TrayProgram, ListOpensTheSettingsFileInTheAssociatedEditor)
{
    TProgram program(ProgramPath());
    ASSERT_NE(program.Wnd(), nullptr);
    ExpectSettingsFileOpens(program, SettingsPath());
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(program.Exit(), 0u);
}

TEST_F(TrayProgram, HelpShowsTheHelpFileBesideTheProgram)
{
    TProgram program(ProgramPath());
    ASSERT_NE(program.Wnd(), nullptr);
    EXPECT_TRUE(program.Command(IDM_HELP));
    const HWND help = WaitForVisibleWindow(program.Id(), IsHelpWindow, WINDOW_MS);
    ASSERT_NE(help, nullptr);
    TForeignWindow closer(help);
    // The title comes from the help file: "Справка Runwarden".
    EXPECT_EQ(WindowText(help), Bytes("D1 EF F0 E0 E2 EA E0 20") + "Runwarden");
    SaveWindowShot(help, "help_window");
    EXPECT_TRUE(closer.Close());
    EXPECT_TRUE(program.Running());
    EXPECT_EQ(program.Exit(), 0u);
}

TEST_F(TrayProgram, HelpIsLookedForBesideTheProgramOnly)
{
    const std::string builtHelp = FolderOf(ProgramPath()) + "\\Runwarden.chm";
    ASSERT_TRUE(FileExists(builtHelp));
    const std::string exe = CopyInto(ProgramPath(), folder + "\\Alone");
    ASSERT_FALSE(exe.empty());
    // The current folder holds a help file; the program must not take it.
    const TCurrentFolder current(FolderOf(builtHelp));
    TProgram program(exe);
    ASSERT_NE(program.Wnd(), nullptr);
    EXPECT_TRUE(program.Command(IDM_HELP));
    // No help window, and no message either.
    EXPECT_EQ(WaitForVisibleWindow(program.Id(), AnyWindow, NOTHING_MS), nullptr);
    EXPECT_TRUE(program.Running());

    ASSERT_FALSE(CopyInto(builtHelp, FolderOf(exe)).empty());
    EXPECT_TRUE(program.Command(IDM_HELP));
    const HWND help = WaitForVisibleWindow(program.Id(), IsHelpWindow, WINDOW_MS);
    ASSERT_NE(help, nullptr);
    TForeignWindow closer(help);
    EXPECT_TRUE(closer.Close());
    EXPECT_EQ(program.Exit(), 0u);
}
