#include "AllowedList.h"
#include "CheckStartupUnit.h"
#include "MainState.h"
#include "ScopedHandle.h"
#include "TestSupport.h"
#include "UserRobot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace {

constexpr char USER_VALUE[] = "Startup";
constexpr char COMMON_VALUE[] = "Common Startup";
constexpr char USER_SECTION[] = "[HKEY_CURRENT_USER\\Startup]\r\n";
constexpr char COMMON_SECTION[] = "[HKEY_LOCAL_MACHINE\\Common Startup]\r\n";

// A scripted answer without a callback, for tables keyed by file name.
struct TReply {
    int option;
    TPress press;
    TAnswer Answer() const { return {option, press, nullptr}; }
};

TExpectedBox DeleteWarning(const std::string& path) { return Warning(CannotDeleteFileMessage(path)); }

std::string Line(const std::string& path) { return path + "=1\r\n"; }

// Test folders are plain ASCII.
std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void MakeFile(const std::wstring& path)
{
    TFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file.Valid());
}

// The names of Folder in the order the file system lists them, which is the
// order in which the checker meets them.
std::vector<std::wstring> ListingOrder(const std::string& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    TFindHandle find(FindFirstFileW((Wide(folder) + L"\\*").c_str(), &data));
    if (!find.Valid()) {
        return names;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(find.Get(), &data));
    return names;
}

std::vector<std::wstring> SortedNames(const std::string& folder)
{
    std::vector<std::wstring> names = ListingOrder(folder);
    std::sort(names.begin(), names.end());
    return names;
}

void DeleteShellFolder(HKEY root, const char* name)
{
    TRegKey key;
    if (RegOpenKeyExA(root, SHELL_FOLDERS, 0, KEY_SET_VALUE, key.Receive()) == ERROR_SUCCESS) {
        RegDeleteValueA(key.Get(), name);
    }
}

// One "Shell Folders" value, put back as the test found it.
class TSavedShellFolder {
public:
    TSavedShellFolder(HKEY root, const char* name) : root_(root), name_(name)
    {
        // Value names ignore letter case: Wine's own is "Common StartUp".
        for (const TRegValue& value : KeyValues(root, SHELL_FOLDERS)) {
            if (lstrcmpiA(value.name.c_str(), name) == 0) {
                saved_ = value;
                present_ = true;
            }
        }
    }
    ~TSavedShellFolder()
    {
        DeleteShellFolder(root_, name_);
        TRegKey key;
        if (present_ && RegOpenKeyExA(root_, SHELL_FOLDERS, 0, KEY_SET_VALUE, key.Receive()) == ERROR_SUCCESS) {
            RegSetValueExA(key.Get(), saved_.name.c_str(), 0, saved_.type, reinterpret_cast<const BYTE*>(saved_.data.data()),
                           static_cast<DWORD>(saved_.data.size()));
        }
    }
    TSavedShellFolder(const TSavedShellFolder&) = delete;
    TSavedShellFolder& operator=(const TSavedShellFolder&) = delete;

private:
    HKEY root_;
    const char* name_;
    TRegValue saved_;
    bool present_ = false;
};

// Both Startup folders live in the test folder and the registry names them.
class StartupChecker : public testing::Test {
protected:
    StartupChecker()
    {
        CreateDirectoryA(menu.c_str(), nullptr);
        CreateDirectoryA(user.c_str(), nullptr);
        CreateDirectoryA(common.c_str(), nullptr);
        SetShellFolder(HKEY_CURRENT_USER, USER_VALUE, user);
        SetShellFolder(HKEY_LOCAL_MACHINE, COMMON_VALUE, common);
    }

    // The test folder's own clean-up lists names in ANSI and cannot remove
    // files whose names the code page lacks.
    ~StartupChecker() override
    {
        for (const std::string& folder : {user, common}) {
            for (const std::wstring& name : ListingOrder(folder)) {
                DeleteFileW((Wide(folder) + L"\\" + name).c_str());
            }
        }
    }

    void Check(const std::vector<TAnswer>& script, const std::vector<TExpectedBox>& expected)
    {
        TUserRobot robot(script);
        CheckStartup();
        ExpectBoxes(robot, state.owner, expected);
    }

    std::string Settings() { return ReadFileBytes(state.settingsPath); }

    TTestState state;
    TSavedShellFolder savedUser{HKEY_CURRENT_USER, USER_VALUE};
    TSavedShellFolder savedCommon{HKEY_LOCAL_MACHINE, COMMON_VALUE};
    std::string menu = state.folder + "\\Menu";
    std::string user = menu + "\\User Startup";
    std::string common = menu + "\\Common Startup";
};

} // namespace

TEST_F(StartupChecker, NameIsLowerCasedForTheQuestionTheListAndTheDeletion)
{
    // The registry's spelling of the folder is kept as it is.
    const std::string folder = state.folder + "\\MENU\\user STARTUP";
    SetShellFolder(HKEY_CURRENT_USER, USER_VALUE, folder);
    ASSERT_TRUE(WriteFileBytes(user + "\\Tool.LNK", "x"));
    const std::string path = folder + "\\tool.lnk";

    Check({{2, TPress::Ok, nullptr}}, {Question(path)});
    EXPECT_EQ(Settings(), USER_SECTION + Line(path));
    EXPECT_EQ(SortedNames(user), std::vector<std::wstring>{L"Tool.LNK"});

    // Known now: no question, the same file.
    Check({}, {});
    EXPECT_EQ(Settings(), USER_SECTION + Line(path));

    // Taken off the list by hand: asked again, removed by the lower-cased path.
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, ""));
    Check({{0, TPress::Ok, nullptr}}, {Question(path)});
    EXPECT_EQ(Settings(), "");
    EXPECT_TRUE(SortedNames(user).empty());
}

TEST_F(StartupChecker, DesktopIniIsSkippedInAnyCaseButNotDesktopIniLnk)
{
    ASSERT_TRUE(WriteFileBytes(user + "\\Desktop.ini", "x"));
    ASSERT_TRUE(WriteFileBytes(user + "\\desktop.ini.lnk", "x"));
    ASSERT_TRUE(WriteFileBytes(common + "\\DESKTOP.INI", "x"));

    Check({{0, TPress::Cancel, nullptr}}, {Question(user + "\\desktop.ini.lnk")});
    EXPECT_EQ(Settings(), USER_SECTION + Line(user + "\\desktop.ini.lnk"));
    EXPECT_EQ(SortedNames(user), (std::vector<std::wstring>{L"Desktop.ini", L"desktop.ini.lnk"}));
    EXPECT_EQ(SortedNames(common), std::vector<std::wstring>{L"DESKTOP.INI"});
}

TEST_F(StartupChecker, SubfolderIsAskedAboutAndCannotBeDeleted)
{
    ASSERT_TRUE(CreateDirectoryA((user + "\\Sub").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(user + "\\Sub\\inner.lnk", "x"));
    const std::string path = user + "\\sub";

    Check({{0, TPress::Ok, nullptr}, {0, TPress::Ok, nullptr}}, {Question(path), DeleteWarning(path)});
    EXPECT_EQ(Settings(), "");
    EXPECT_TRUE(DirectoryExists(user + "\\Sub"));
    EXPECT_TRUE(FileExists(user + "\\Sub\\inner.lnk"));

    // Not recorded, so it comes up again; accepted this time.
    Check({{2, TPress::Ok, nullptr}}, {Question(path)});
    EXPECT_EQ(Settings(), USER_SECTION + Line(path));
    EXPECT_EQ(SortedNames(user), std::vector<std::wstring>{L"Sub"});
}

TEST_F(StartupChecker, ReadOnlyFileThatCannotBeDeletedBringsTheWarning)
{
    ASSERT_TRUE(WriteFileBytes(user + "\\Locked.lnk", "x"));
    ASSERT_TRUE(SetFileAttributesA((user + "\\Locked.lnk").c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string path = user + "\\locked.lnk";

    Check({{0, TPress::Ok, nullptr}, {0, TPress::Ok, nullptr}}, {Question(path), DeleteWarning(path)});
    EXPECT_EQ(Settings(), "");
    EXPECT_EQ(ReadFileBytes(user + "\\Locked.lnk"), "x");
}

TEST_F(StartupChecker, AnswersDecideEachFileUserFolderSavedBeforeTheCommonOne)
{
    for (const char* name : {"a.lnk", "b.lnk", "c.lnk", "d.lnk"}) {
        ASSERT_TRUE(WriteFileBytes(user + "\\" + name, name));
    }
    ASSERT_TRUE(WriteFileBytes(common + "\\f.lnk", "f"));
    // OK on the untouched box removes; Cancel, Esc and the second option keep.
    const std::map<std::wstring, TReply> plan = {
        {L"a.lnk", {0, TPress::Ok}},
        {L"b.lnk", {0, TPress::Cancel}},
        {L"c.lnk", {2, TPress::Ok}},
        {L"d.lnk", {1, TPress::Escape}},
    };
    std::string settingsAtCommonQuestion;
    std::vector<TAnswer> script;
    std::vector<TExpectedBox> expected;
    std::string userLines;
    for (const std::wstring& name : ListingOrder(user)) {
        const std::string path = user + "\\" + std::string(name.begin(), name.end());
        script.push_back(plan.at(name).Answer());
        expected.push_back(Question(path));
        if (name != L"a.lnk") {
            userLines += Line(path);
        }
    }
    script.push_back({2, TPress::Ok, [&](const TBoxInfo&) { settingsAtCommonQuestion = Settings(); }});
    expected.push_back(Question(common + "\\f.lnk"));

    Check(script, expected);
    EXPECT_EQ(settingsAtCommonQuestion, USER_SECTION + userLines);
    EXPECT_EQ(Settings(), USER_SECTION + userLines + COMMON_SECTION + Line(common + "\\f.lnk"));
    EXPECT_EQ(SortedNames(user), (std::vector<std::wstring>{L"b.lnk", L"c.lnk", L"d.lnk"}));
    EXPECT_EQ(SortedNames(common), std::vector<std::wstring>{L"f.lnk"});
}

TEST_F(StartupChecker, AllowedFilesStayWithoutQuestionAndVanishedOnesDrop)
{
    ASSERT_TRUE(WriteFileBytes(user + "\\kept.lnk", "x"));
    // Any non-empty value allows; the rewrite stores "1". Other sections stay.
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, std::string("[Other]\r\nx=1\r\n") + USER_SECTION
                                   + user + "\\gone.lnk=1\r\n" + user + "\\kept.lnk=yes\r\n" + COMMON_SECTION
                                   + common + "\\gone too.lnk=1\r\n"));

    Check({}, {});
    EXPECT_EQ(Settings(), "[Other]\r\nx=1\r\n" + (USER_SECTION + Line(user + "\\kept.lnk")));
    EXPECT_EQ(SortedNames(user), std::vector<std::wstring>{L"kept.lnk"});
}

TEST_F(StartupChecker, MissingFolderErasesItsSectionMissingOrEmptyValueLeavesIt)
{
    const std::string before = std::string(USER_SECTION) + user + "\\a.lnk=1\r\n" + COMMON_SECTION + common
        + "\\b.lnk=1\r\n";
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, before));
    ASSERT_TRUE(WriteFileBytes(common + "\\new.lnk", "x"));

    SetShellFolder(HKEY_CURRENT_USER, USER_VALUE, state.folder + "\\No Such Folder");
    DeleteShellFolder(HKEY_LOCAL_MACHINE, COMMON_VALUE);
    Check({}, {});
    EXPECT_EQ(Settings(), COMMON_SECTION + common + "\\b.lnk=1\r\n");

    ASSERT_TRUE(WriteFileBytes(state.settingsPath, before));
    DeleteShellFolder(HKEY_CURRENT_USER, USER_VALUE);
    SetShellFolder(HKEY_LOCAL_MACHINE, COMMON_VALUE, "");
    Check({}, {});
    EXPECT_EQ(Settings(), before);
    EXPECT_EQ(SortedNames(common), std::vector<std::wstring>{L"new.lnk"});
}

TEST_F(StartupChecker, PathsWithBangAndEqualsAreKeptAcrossRuns)
{
    ASSERT_TRUE(WriteFileBytes(user + "\\a!b.lnk", "x"));
    ASSERT_TRUE(WriteFileBytes(user + "\\x=y.lnk", "x"));
    // Stored encoded: a "%" in front and the two separators as %21 and %3D.
    const std::map<std::wstring, std::string> lines = {
        {L"a!b.lnk", "%" + user + "\\a%21b.lnk=1\r\n"},
        {L"x=y.lnk", "%" + user + "\\x%3Dy.lnk=1\r\n"},
    };
    std::vector<TExpectedBox> expected;
    std::string records;
    for (const std::wstring& name : ListingOrder(user)) {
        expected.push_back(Question(user + "\\" + std::string(name.begin(), name.end())));
        records += lines.at(name);
    }

    Check({{2, TPress::Ok, nullptr}, {2, TPress::Ok, nullptr}}, expected);
    EXPECT_EQ(Settings(), USER_SECTION + records);
    Check({}, {});
    EXPECT_EQ(Settings(), USER_SECTION + records);

    ASSERT_TRUE(DeleteFileA((user + "\\x=y.lnk").c_str()));
    Check({}, {});
    EXPECT_EQ(Settings(), USER_SECTION + lines.at(L"a!b.lnk"));
    EXPECT_EQ(SortedNames(user), std::vector<std::wstring>{L"a!b.lnk"});
}

// Names the code page cannot carry: two CJK names that both list as "?.lnk",
// and "café.lnk", which the ANSI listing gives as "cafe.lnk", the name of
// another file in the folder. "a.lnk" is what a "?.lnk" wildcard would meet.
TEST_F(StartupChecker, NameTheCodePageCannotCarryIsNeverTakenForAnotherFile)
{
    const std::wstring zhong = L"\x4E2D.lnk";
    const std::wstring wen = L"\x6587.lnk";
    const std::wstring cafeAcute = L"caf\x00E9.lnk";
    for (const std::wstring& name : {zhong, wen, cafeAcute, std::wstring(L"cafe.lnk"), std::wstring(L"a.lnk")}) {
        MakeFile(Wide(user) + L"\\" + name);
    }
    struct TPlan {
        std::string shown;
        TReply reply;
        std::string key; // empty: removed
    };
    const std::map<std::wstring, TPlan> plan = {
        {zhong, {user + "\\?.lnk", {0, TPress::Ok}, ""}},
        {wen, {user + "\\?.lnk", {2, TPress::Ok}, user + "\\?6587.lnk"}},
        {cafeAcute, {user + "\\caf?.lnk", {0, TPress::Ok}, ""}},
        {L"cafe.lnk", {user + "\\cafe.lnk", {2, TPress::Ok}, user + "\\cafe.lnk"}},
        {L"a.lnk", {user + "\\a.lnk", {2, TPress::Ok}, user + "\\a.lnk"}},
    };
    std::vector<TAnswer> script;
    std::vector<TExpectedBox> expected;
    std::string records;
    for (const std::wstring& name : ListingOrder(user)) {
        const TPlan& file = plan.at(name);
        script.push_back(file.reply.Answer());
        expected.push_back(Question(file.shown));
        if (!file.key.empty()) {
            records += Line(file.key);
        }
    }

    Check(script, expected);
    EXPECT_EQ(SortedNames(user), (std::vector<std::wstring>{L"a.lnk", L"cafe.lnk", wen}));
    EXPECT_EQ(Settings(), USER_SECTION + records);

    Check({}, {});
    EXPECT_EQ(Settings(), USER_SECTION + records);

    // A new file that lists like the accepted one is still a new file.
    MakeFile(Wide(user) + L"\\" + zhong);
    records.clear();
    for (const std::wstring& name : ListingOrder(user)) {
        records += Line(name == zhong ? user + "\\?4e2d.lnk" : plan.at(name).key);
    }
    Check({{0, TPress::Cancel, nullptr}}, {Question(user + "\\?.lnk")});
    EXPECT_EQ(Settings(), USER_SECTION + records);
    EXPECT_EQ(SortedNames(user), (std::vector<std::wstring>{L"a.lnk", L"cafe.lnk", zhong, wen}));
}

TEST_F(StartupChecker, DeletionGoesToThePathItselfNeverToAWildcardMatch)
{
    ASSERT_TRUE(WriteFileBytes(user + "\\a.lnk", "x"));
    for (const std::string& path : {user + "\\?.lnk", user + "\\*.lnk"}) {
        std::string records = "before!";
        TUserRobot robot({{0, TPress::Ok, nullptr}, {0, TPress::Ok, nullptr}});
        CheckStartupFile(records, path, "HKEY_CURRENT_USER\\Startup");
        ExpectBoxes(robot, state.owner, {Question(path), DeleteWarning(path)});
        EXPECT_EQ(records, "before!");
    }
    EXPECT_EQ(SortedNames(user), std::vector<std::wstring>{L"a.lnk"});
    EXPECT_EQ(Settings(), "");
}

TEST_F(StartupChecker, ExitDuringAQuestionStopsWithoutActingOrSaving)
{
    ASSERT_TRUE(WriteFileBytes(user + "\\x.lnk", "x"));
    ASSERT_TRUE(WriteFileBytes(user + "\\y.lnk", "y"));
    ASSERT_TRUE(WriteFileBytes(common + "\\z.lnk", "z"));
    const std::string before = USER_SECTION + Line(user + "\\gone.lnk");
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, before));
    const std::wstring first = ListingOrder(user).front();

    Check({{0, TPress::Ok, [](const TBoxInfo&) { SetRunAborted(true); }}},
          {Question(user + "\\" + std::string(first.begin(), first.end()))});
    EXPECT_EQ(Settings(), before);
    EXPECT_EQ(SortedNames(user), (std::vector<std::wstring>{L"x.lnk", L"y.lnk"}));
    EXPECT_EQ(SortedNames(common), std::vector<std::wstring>{L"z.lnk"});
}

TEST_F(StartupChecker, UnwritableSettingsFileEndsTheCheckAfterTheUserFolder)
{
    const std::string directory = state.folder + "\\dir.ini";
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
    SetSettingsFilePath(directory);
    ASSERT_TRUE(WriteFileBytes(common + "\\z.lnk", "z"));

    TUserRobot robot({});
    std::string raised;
    try {
        CheckStartup();
    } catch (const TINIExcept& e) {
        raised = e.FileName;
    }
    ExpectBoxes(robot, state.owner, {});
    EXPECT_EQ(raised, directory);
    EXPECT_EQ(SortedNames(common), std::vector<std::wstring>{L"z.lnk"});
    EXPECT_TRUE(FolderNames(directory).empty());
}
