#include "AllowedList.h"
#include "CheckRegistryUnit.h"
#include "MainState.h"
#include "TestSupport.h"
#include "UserRobot.h"
#include "ScopedHandle.h"
#include "registry_profile.h"

#include <gtest/gtest.h>

namespace {

const TRunKey& USER_RUN = RUN_KEYS[0];
const TRunKey& MACHINE_RUN = RUN_KEYS[2];
const TRunKey& RUN_ONCE_EX = RUN_KEYS[4];
const TRunKey& SERVICES_ONCE = RUN_KEYS[6];

class RegistryChecker : public testing::Test {
protected:
    void SetUp() override { QuietAutostart(state.folder); }

    // One registry check answered by the robot; returns the boxes it saw.
    std::vector<TBoxInfo> Check(std::vector<TAnswer> answers)
    {
        TUserRobot robot(std::move(answers));
        CheckRegistry();
        robot.Finish();
        const std::vector<std::string> problems = robot.Problems();
        EXPECT_TRUE(problems.empty()) << problems.front();
        return robot.Boxes();
    }
    std::string Options() { return ReadFileBytes(state.settingsPath); }
    static std::string Section(const TRunKey& key, const std::string& lines)
    {
        return std::string("[") + key.section + "]\r\n" + lines;
    }

    TTestState state;
};

std::vector<std::string> Texts(const std::vector<TBoxInfo>& boxes)
{
    std::vector<std::string> texts;
    for (const TBoxInfo& box : boxes) {
        texts.push_back(box.text);
    }
    return texts;
}

std::string UserRunEntry(const std::string& nameAndValue)
{
    return std::string(USER_RUN.section) + "\\" + nameAndValue;
}

} // namespace

TEST_F(RegistryChecker, NewEntryCancelledStaysUnlisted)
{
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Tool", "D:\\Tools\\tool.exe")});
    const std::vector<TBoxInfo> boxes = Check({{2, TPress::Cancel, nullptr}});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, NewEntryMessage(UserRunEntry("Tool=D:\\Tools\\tool.exe")));
    EXPECT_EQ(boxes[0].owner, state.owner);
    EXPECT_TRUE(boxes[0].topmost);
    EXPECT_EQ(KeyValues(USER_RUN.root, USER_RUN.path), (std::vector<TRegValue>{Sz("Tool", "D:\\Tools\\tool.exe")}));
    EXPECT_EQ(Options(), "");
    // Asked again next time.
    EXPECT_EQ(Check({{0, TPress::Cancel, nullptr}}).size(), 1u);
}

TEST_F(RegistryChecker, NewEntryAddedPassesNextTime)
{
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Tool", "D:\\Tools\\tool.exe /min")});
    Check({{2, TPress::Ok, nullptr}});
    EXPECT_EQ(KeyValues(USER_RUN.root, USER_RUN.path), (std::vector<TRegValue>{Sz("Tool", "D:\\Tools\\tool.exe /min")}));
    const std::string listed = Section(USER_RUN, "Tool=D:\\Tools\\tool.exe /min\r\n");
    EXPECT_EQ(Options(), listed);
    EXPECT_TRUE(Check({}).empty());
    EXPECT_EQ(Options(), listed);
}

TEST_F(RegistryChecker, NewEntryRemovedWithTheDefaultOption)
{
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Keep", "D:\\k.exe"), Sz("Tool", "D:\\Tools\\tool.exe")});
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, Section(USER_RUN, "Keep=D:\\k.exe\r\n")));
    Check({{0, TPress::Ok, nullptr}});
    EXPECT_EQ(KeyValues(USER_RUN.root, USER_RUN.path), (std::vector<TRegValue>{Sz("Keep", "D:\\k.exe")}));
    EXPECT_EQ(Options(), Section(USER_RUN, "Keep=D:\\k.exe\r\n"));
}

TEST_F(RegistryChecker, ChangedEntryThreeWays)
{
    struct TCase {
        int option;
        TPress press;
        std::vector<TRegValue> registry;
        std::string options;
    };
    const TCase cases[] = {
        {2, TPress::Cancel, {Sz("Tool", "D:\\new.exe")}, Section(USER_RUN, "Tool=D:\\old.exe\r\n")},
        {2, TPress::Ok, {Sz("Tool", "D:\\new.exe")}, Section(USER_RUN, "Tool=D:\\new.exe\r\n")},
        {1, TPress::Ok, {}, ""},
    };
    for (const TCase& c : cases) {
        SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Tool", "D:\\new.exe")});
        ASSERT_TRUE(WriteFileBytes(state.settingsPath, Section(USER_RUN, "Tool=D:\\old.exe\r\n")));
        const std::vector<TBoxInfo> boxes = Check({{c.option, c.press, nullptr}});
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, ChangedEntryMessage("Tool=D:\\new.exe"));
        EXPECT_EQ(KeyValues(USER_RUN.root, USER_RUN.path), c.registry);
        EXPECT_EQ(Options(), c.options);
    }
}

TEST_F(RegistryChecker, CommandListedInOtherCaseIsAChange)
{
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Tool", "D:\\TOOL.EXE")});
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, Section(USER_RUN, "TOOL=D:\\tool.exe\r\n")));
    const std::vector<TBoxInfo> boxes = Check({{0, TPress::Cancel, nullptr}});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, ChangedEntryMessage("Tool=D:\\TOOL.EXE"));
    EXPECT_EQ(Options(), Section(USER_RUN, "Tool=D:\\tool.exe\r\n"));
}

TEST_F(RegistryChecker, OwnValuePassesInBothModesAndAfterASwitch)
{
    SetOwnCommands("C:\\Prog\\Runwarden.exe");
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Runwarden", "C:\\Prog\\Runwarden.exe")});
    EXPECT_TRUE(Check({}).empty());
    EXPECT_EQ(Options(), Section(USER_RUN, "Runwarden=C:\\Prog\\Runwarden.exe\r\n"));
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Runwarden", "C:\\Prog\\Runwarden.exe -once")});
    EXPECT_TRUE(Check({}).empty());
    EXPECT_EQ(Options(), Section(USER_RUN, "Runwarden=C:\\Prog\\Runwarden.exe -once\r\n"));
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Runwarden", "C:\\Prog\\Runwarden.exe")});
    EXPECT_TRUE(Check({}).empty());
    EXPECT_EQ(Options(), Section(USER_RUN, "Runwarden=C:\\Prog\\Runwarden.exe\r\n"));
    // Only the program's own value name passes unlisted.
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Other", "C:\\Prog\\Runwarden.exe")});
    const std::vector<TBoxInfo> boxes = Check({{0, TPress::Cancel, nullptr}});
    EXPECT_EQ(Texts(boxes), std::vector<std::string>{NewEntryMessage(UserRunEntry("Other=C:\\Prog\\Runwarden.exe"))});
}

TEST_F(RegistryChecker, OwnValueWithAForeignCommandIsAskedAbout)
{
    SetOwnCommands("C:\\Prog\\Runwarden.exe");
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Runwarden", "C:\\Moved\\Runwarden.exe")});
    std::vector<TBoxInfo> boxes = Check({{0, TPress::Cancel, nullptr}});
    EXPECT_EQ(Texts(boxes),
              std::vector<std::string>{NewEntryMessage(UserRunEntry("Runwarden=C:\\Moved\\Runwarden.exe"))});
    // Listed with the own command, the value now names another program: a
    // change, never a silent pass.
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, Section(USER_RUN, "Runwarden=C:\\Prog\\Runwarden.exe\r\n")));
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Runwarden", "C:\\evil.exe")});
    boxes = Check({{0, TPress::Cancel, nullptr}});
    EXPECT_EQ(Texts(boxes), std::vector<std::string>{ChangedEntryMessage("Runwarden=C:\\evil.exe")});
    EXPECT_EQ(Options(), Section(USER_RUN, "Runwarden=C:\\Prog\\Runwarden.exe\r\n"));
}

TEST_F(RegistryChecker, QuotedOwnCommandsCountWhenThePathHasABlank)
{
    SetOwnCommands("C:\\Program Files\\R\\Runwarden.exe");
    for (const std::string command : {"\"C:\\Program Files\\R\\Runwarden.exe\"",
                                      "\"C:\\Program Files\\R\\Runwarden.exe\" -once",
                                      "C:\\Program Files\\R\\Runwarden.exe"}) {
        SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Runwarden", command)});
        EXPECT_TRUE(Check({}).empty()) << command;
        EXPECT_EQ(LookupAllowed(USER_RUN.section, "Runwarden"), command);
    }
    SetOwnCommands("C:\\Prog\\Runwarden.exe");
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Runwarden", "\"C:\\Prog\\Runwarden.exe\"")});
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, ""));
    EXPECT_EQ(Check({{0, TPress::Cancel, nullptr}}).size(), 1u);
}

TEST_F(RegistryChecker, EmptyValueAsksYesOrNo)
{
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("Empty", "")});
    std::vector<TBoxInfo> boxes = Check({{0, TPress::No, nullptr}});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, EmptyValueMessage(UserRunEntry("Empty")));
    EXPECT_EQ(boxes[0].buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(boxes[0].icon, IDI_QUESTION);
    EXPECT_TRUE(boxes[0].topmost);
    EXPECT_EQ(boxes[0].owner, state.owner);
    EXPECT_EQ(KeyValues(USER_RUN.root, USER_RUN.path), (std::vector<TRegValue>{Sz("Empty", "")}));
    EXPECT_EQ(Options(), "");
    Check({{0, TPress::Yes, nullptr}});
    EXPECT_TRUE(KeyValues(USER_RUN.root, USER_RUN.path).empty());
    EXPECT_EQ(Options(), "");
}

TEST_F(RegistryChecker, UnnamedValueIsAnEntryAndRoundTrips)
{
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("", "C:\\default.exe")});
    const std::vector<TBoxInfo> boxes = Check({{2, TPress::Ok, nullptr}});
    EXPECT_EQ(Texts(boxes), std::vector<std::string>{NewEntryMessage(UserRunEntry("=C:\\default.exe"))});
    EXPECT_EQ(Options(), Section(USER_RUN, "%=%C:\\default.exe\r\n"));
    EXPECT_TRUE(Check({}).empty());
}

TEST_F(RegistryChecker, TwoDeletionsInARowSkipNothing)
{
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("a", "A.exe"), Sz("b", "B.exe"), Sz("c", "C.exe"), Sz("d", "D.exe")});
    const std::vector<TBoxInfo> boxes =
        Check({{1, TPress::Ok, nullptr}, {1, TPress::Ok, nullptr}, {2, TPress::Ok, nullptr}, {1, TPress::Ok, nullptr}});
    EXPECT_EQ(Texts(boxes), (std::vector<std::string>{NewEntryMessage(UserRunEntry("a=A.exe")),
                                                      NewEntryMessage(UserRunEntry("b=B.exe")),
                                                      NewEntryMessage(UserRunEntry("c=C.exe")),
                                                      NewEntryMessage(UserRunEntry("d=D.exe"))}));
    EXPECT_EQ(KeyValues(USER_RUN.root, USER_RUN.path), (std::vector<TRegValue>{Sz("c", "C.exe")}));
    EXPECT_EQ(Options(), Section(USER_RUN, "c=C.exe\r\n"));
}

TEST_F(RegistryChecker, MissingKeyKeepsItsSectionAndEmptyKeyLosesIt)
{
    DeleteKey(SERVICES_ONCE.root, SERVICES_ONCE.path);
    const std::string kept = Section(SERVICES_ONCE, "Old=C:\\old.exe\r\n");
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, kept + Section(MACHINE_RUN, "Gone=C:\\gone.exe\r\n")));
    EXPECT_TRUE(Check({}).empty());
    EXPECT_EQ(Options(), kept);
}

TEST_F(RegistryChecker, ValuesOfAnyTypeInRunOnceEx)
{
    SetKeyValues(RUN_ONCE_EX.root, RUN_ONCE_EX.path,
                 {{"1sz", REG_SZ, std::string("C:\\sz.exe\0", 10)},
                  {"2expand", REG_EXPAND_SZ, std::string("%windir%\\x.exe\0", 15)},
                  {"3multi", REG_MULTI_SZ, std::string("first.exe\0second.exe\0\0", 22)},
                  {"4dword", REG_DWORD, Bytes("41 42 00 00")},
                  {"5zero", REG_DWORD, Bytes("00 00 00 00")},
                  {"6binary", REG_BINARY, "AB"}});
    TRegKey sub;
    ASSERT_EQ(RegCreateKeyA(RUN_ONCE_EX.root, (std::string(RUN_ONCE_EX.path) + "\\0001").c_str(), sub.Receive()),
              ERROR_SUCCESS);
    RegSetValueExA(sub.Get(), "inner", 0, REG_SZ, reinterpret_cast<const BYTE*>("C:\\inner.exe"), 13);
    const std::string prefix = std::string(RUN_ONCE_EX.section) + "\\";
    const std::vector<TBoxInfo> boxes = Check({{2, TPress::Ok, nullptr},
                                               {2, TPress::Ok, nullptr},
                                               {2, TPress::Ok, nullptr},
                                               {2, TPress::Ok, nullptr},
                                               {0, TPress::No, nullptr},
                                               {2, TPress::Ok, nullptr}});
    EXPECT_EQ(Texts(boxes), (std::vector<std::string>{NewEntryMessage(prefix + "1sz=C:\\sz.exe"),
                                                      NewEntryMessage(prefix + "2expand=%windir%\\x.exe"),
                                                      NewEntryMessage(prefix + "3multi=first.exe"),
                                                      NewEntryMessage(prefix + "4dword=AB"),
                                                      EmptyValueMessage(prefix + "5zero"),
                                                      NewEntryMessage(prefix + "6binary=AB")}));
    EXPECT_EQ(Options(), Section(RUN_ONCE_EX, "1sz=C:\\sz.exe\r\n2expand=%windir%\\x.exe\r\n3multi=first.exe\r\n"
                                              "4dword=AB\r\n6binary=AB\r\n"));
}

TEST_F(RegistryChecker, FailedDeletionWarnsAndTheRunGoesOn)
{
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("a", "A.exe"), Sz("b", "B.exe")});
    const std::vector<TBoxInfo> boxes = Check(
        {{1, TPress::Ok, [](const TBoxInfo&) { DeleteRegValue(HKEY_CURRENT_USER, USER_RUN.path, "a"); }},
         {0, TPress::Ok, nullptr},
         {2, TPress::Ok, nullptr}});
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[1].text, CannotDeleteKeyMessage(UserRunEntry("a")));
    EXPECT_EQ(boxes[1].icon, IDI_EXCLAMATION);
    EXPECT_EQ(boxes[1].buttons, std::vector<int>{IDOK});
    EXPECT_EQ(boxes[1].owner, state.owner);
    EXPECT_EQ(boxes[2].text, NewEntryMessage(UserRunEntry("b=B.exe")));
    EXPECT_EQ(Options(), Section(USER_RUN, "b=B.exe\r\n"));
}

TEST_F(RegistryChecker, UnwritableSettingsFileEndsTheCheckerAtTheFirstKey)
{
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("a", "A.exe")});
    SetKeyValues(MACHINE_RUN.root, MACHINE_RUN.path, {Sz("m", "M.exe")});
    const std::string directory = state.folder + "\\dir.ini";
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
    SetSettingsFilePath(directory);
    TUserRobot robot({{2, TPress::Ok, nullptr}});
    std::string failed;
    try {
        CheckRegistry();
    } catch (const TINIExcept& e) {
        failed = e.FileName;
    }
    robot.Finish();
    EXPECT_TRUE(robot.Problems().empty()) << robot.Problems().front();
    EXPECT_EQ(failed, directory);
    // Only the first key's value was asked about.
    EXPECT_EQ(robot.Boxes().size(), 1u);
}

TEST_F(RegistryChecker, ValueThatGrowsWhileAQuestionIsOpenIsReadWhole)
{
    const std::string longer = "C:\\" + std::string(3000, 'g') + ".exe";
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("a", "A.exe"), Sz("b", "B.exe")});
    const std::vector<TBoxInfo> boxes = Check(
        {{2, TPress::Ok, [&](const TBoxInfo&) { WriteRegString(HKEY_CURRENT_USER, USER_RUN.path, "b", longer); }},
         {2, TPress::Ok, nullptr}});
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(LookupAllowed(USER_RUN.section, "b"), longer);
}

TEST_F(RegistryChecker, KeyThatShrinksWhileAQuestionIsOpenEndsTheWalk)
{
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("a", "A.exe"), Sz("b", "B.exe"), Sz("c", "C.exe")});
    const std::vector<TBoxInfo> boxes = Check({{2, TPress::Ok, [](const TBoxInfo&) {
                                                    DeleteRegValue(HKEY_CURRENT_USER, USER_RUN.path, "b");
                                                    DeleteRegValue(HKEY_CURRENT_USER, USER_RUN.path, "c");
                                                }}});
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Options(), Section(USER_RUN, "a=A.exe\r\n"));
}

TEST_F(RegistryChecker, ValueRemovedBeforeTheIndexIsNotAskedTwice)
{
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("a", "A.exe"), Sz("b", "B.exe"), Sz("c", "C.exe")});
    // At "b", another program removes "c" (after it) and the walk must not
    // come back to "b"; at the start the removal of "a" must not skip "c".
    std::vector<TBoxInfo> boxes = Check(
        {{2, TPress::Ok, nullptr},
         {2, TPress::Ok, [](const TBoxInfo&) { DeleteRegValue(HKEY_CURRENT_USER, USER_RUN.path, "c"); }}});
    EXPECT_EQ(Texts(boxes), (std::vector<std::string>{NewEntryMessage(UserRunEntry("a=A.exe")),
                                                      NewEntryMessage(UserRunEntry("b=B.exe"))}));
    SetKeyValues(USER_RUN.root, USER_RUN.path, {Sz("a", "A.exe"), Sz("b", "B.exe"), Sz("c", "C.exe")});
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, ""));
    boxes = Check(
        {{2, TPress::Ok, nullptr},
         {2, TPress::Ok, [](const TBoxInfo&) { DeleteRegValue(HKEY_CURRENT_USER, USER_RUN.path, "a"); }},
         {2, TPress::Ok, nullptr}});
    EXPECT_EQ(boxes.size(), 3u);
    EXPECT_EQ(Options(), Section(USER_RUN, "a=A.exe\r\nb=B.exe\r\nc=C.exe\r\n"));
}

TEST_F(RegistryChecker, EntriesThatNeedEncodingPassTheNextRun)
{
    const std::vector<TRegValue> values = {
        Sz("", "C:\\default.exe"),
        Sz("a=b", "C:\\x.exe"),
        Sz("bang!", "C:\\y.exe"),
        Sz("cmd", "C:\\z.exe -go!"),
        Sz("long", "C:\\" + std::string(5000, 'L') + ".exe"),
        Sz("quoted", "\"C:\\Program Files\\q.exe\""),
    };
    SetKeyValues(USER_RUN.root, USER_RUN.path, values);
    std::vector<TAnswer> adds(values.size(), TAnswer{2, TPress::Ok, nullptr});
    EXPECT_EQ(Check(adds).size(), values.size());
    EXPECT_TRUE(Check({}).empty());
    EXPECT_EQ(KeyValues(USER_RUN.root, USER_RUN.path), values);
}
