#include "AllowedList.h"
#include "CheckINIUnit.h"
#include "MainState.h"
#include "ScopedHandle.h"
#include "TestSupport.h"
#include "UserRobot.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace {

// Windows NT, and Wine since 8.0, keep the section "windows" of win.ini in
// this key (IniFileMapping); the profile functions read and write it there,
// and win.ini itself is not touched.
constexpr char WINDOWS_KEY[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
constexpr char RUN[] = "run";
constexpr char LOAD[] = "load";

using TValue = std::optional<std::string>; // nullopt: no such value

TExpectedBox Question(const std::string& key, const std::string& entry)
{
    return ::Question("win.ini\\[windows]\\" + key + "=" + entry);
}
TExpectedBox WinIniWarning() { return Warning(CannotOpenFileMessage("win.ini")); }

// Value names ignore letter case.
bool IsWatched(const TRegValue& value)
{
    return lstrcmpiA(value.name.c_str(), RUN) == 0 || lstrcmpiA(value.name.c_str(), LOAD) == 0;
}

void SetWindowsValue(const char* name, const TValue& text)
{
    TRegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, WINDOWS_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              key.Receive(), nullptr),
              ERROR_SUCCESS);
    if (!text) {
        RegDeleteValueA(key.Get(), name);
        return;
    }
    ASSERT_EQ(RegSetValueExA(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text->c_str()),
                             static_cast<DWORD>(text->size() + 1)),
              ERROR_SUCCESS);
}

std::string WinIniPath()
{
    char folder[MAX_PATH] = {};
    GetWindowsDirectoryA(folder, MAX_PATH);
    return std::string(folder) + "\\win.ini";
}

// Takes every right but reading (and giving the rights back) from the key
// for as long as it lives.
class TReadOnlyKey {
public:
    explicit TReadOnlyKey(const char* path)
    {
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, READ_CONTROL | WRITE_DAC, key_.Receive()),
                  ERROR_SUCCESS);
        DWORD size = 0;
        RegGetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, nullptr, &size);
        saved_.resize(size);
        EXPECT_EQ(RegGetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, saved_.data(), &size), ERROR_SUCCESS);

        BYTE everyone[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof(everyone);
        EXPECT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, everyone, &sidSize));
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + sidSize);
        ACL* acl = reinterpret_cast<ACL*>(acl_.data());
        EXPECT_TRUE(InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION));
        EXPECT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, KEY_READ | WRITE_DAC, everyone));
        SECURITY_DESCRIPTOR sd;
        InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE);
        EXPECT_EQ(RegSetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, &sd), ERROR_SUCCESS);
    }
    ~TReadOnlyKey() { RegSetKeySecurity(key_.Get(), DACL_SECURITY_INFORMATION, saved_.data()); }
    TReadOnlyKey(const TReadOnlyKey&) = delete;
    TReadOnlyKey& operator=(const TReadOnlyKey&) = delete;

private:
    TRegKey key_;
    std::vector<BYTE> saved_;
    std::vector<BYTE> acl_;
};

// The keys "run" and "load" start absent; the fixture puts back what the
// key and win.ini held before.
class WinIniChecker : public testing::Test {
protected:
    WinIniChecker()
    {
        for (const TRegValue& value : saved) {
            if (!IsWatched(value)) {
                others.push_back(value);
            }
        }
        SetWindowsValue(RUN, std::nullopt);
        SetWindowsValue(LOAD, std::nullopt);
    }
    ~WinIniChecker() override
    {
        SetWindowsValue(RUN, std::nullopt);
        SetWindowsValue(LOAD, std::nullopt);
        for (const TRegValue& value : saved) {
            if (IsWatched(value)) {
                TRegKey key;
                RegOpenKeyExA(HKEY_CURRENT_USER, WINDOWS_KEY, 0, KEY_SET_VALUE, key.Receive());
                RegSetValueExA(key.Get(), value.name.c_str(), 0, value.type,
                               reinterpret_cast<const BYTE*>(value.data.data()),
                               static_cast<DWORD>(value.data.size()));
            }
        }
    }

    void SetList(const TValue& run, const TValue& load)
    {
        SetWindowsValue(RUN, run);
        SetWindowsValue(LOAD, load);
    }

    // The whole key as it must read: the untouched values plus these two.
    void ExpectLists(const TValue& run, const TValue& load)
    {
        std::vector<TRegValue> expected = others;
        if (run) {
            expected.push_back(Sz(RUN, *run));
        }
        if (load) {
            expected.push_back(Sz(LOAD, *load));
        }
        std::sort(expected.begin(), expected.end(),
                  [](const TRegValue& a, const TRegValue& b) { return a.name < b.name; });
        EXPECT_TRUE(KeyValues(HKEY_CURRENT_USER, WINDOWS_KEY) == expected);
        EXPECT_TRUE(ReadFileBytes(winIni) == winIniBytes);
    }

    void Check(const std::vector<TAnswer>& script, const std::vector<TExpectedBox>& expected)
    {
        TUserRobot robot(script);
        CheckINI();
        ExpectBoxes(robot, state.owner, expected);
    }

    std::string Settings() { return ReadFileBytes(state.settingsPath); }
    void SetSettings(const std::string& bytes) { ASSERT_TRUE(WriteFileBytes(state.settingsPath, bytes)); }

    TTestState state;
    std::vector<TRegValue> saved = KeyValues(HKEY_CURRENT_USER, WINDOWS_KEY);
    std::vector<TRegValue> others;
    std::string winIni = WinIniPath();
    std::string winIniBytes = ReadFileBytes(winIni);
};

} // namespace

TEST(TrimBlanks, RemovesCodesZeroToSpaceAtBothEndsOnly)
{
    EXPECT_EQ(TrimBlanks(std::string("\0\x01\t a  b\r\n \x1F", 11)), "a  b");
    EXPECT_EQ(TrimBlanks(std::string(" \t\0\r\n", 5)), "");
    EXPECT_EQ(TrimBlanks(""), "");
    EXPECT_EQ(TrimBlanks("x"), "x");
    EXPECT_EQ(TrimBlanks("\xA0x\xFF"), "\xA0x\xFF");
    EXPECT_EQ(TrimBlanks("!x!"), "!x!");
}

TEST_F(WinIniChecker, ItemIsTheTrimmedTextBeforeItsFirstComma)
{
    SetSettings("[win.ini]\r\nrun=a.exe\r\n");
    std::string kept = "first";
    TUserRobot robot({{2, TPress::Ok, nullptr}});
    CheckINIItem(kept, " a.exe\t,b.exe", RUN, "win.ini", "windows");
    EXPECT_EQ(kept, "first, a.exe");
    CheckINIItem(kept, " \t ,x.exe", RUN, "win.ini", "windows");
    EXPECT_EQ(kept, "first, a.exe");
    // The question names the file and section it was given; the allowed list
    // is looked up under the file name, in any letter case.
    CheckINIItem(kept, "new.exe", RUN, "WIN.INI", "Windows");
    EXPECT_EQ(kept, "first, a.exe, new.exe");
    ExpectBoxes(robot, state.owner, {{NewEntryMessage("WIN.INI\\[Windows]\\run=new.exe"), true}});
    EXPECT_EQ(Settings(), "[win.ini]\r\nrun=a.exe\r\n");
}

TEST_F(WinIniChecker, AllowedListComesBackNormalisedAndIsStored)
{
    SetList("a.exe,b.exe", std::nullopt);
    // A hand-edited value allows whatever it contains.
    SetSettings("[win.ini]\r\nrun=a.exe b.exe\r\n");
    Check({}, {});
    ExpectLists("a.exe, b.exe", std::nullopt);
    EXPECT_EQ(Settings(), "[win.ini]\r\nrun=a.exe, b.exe\r\n");
}

TEST_F(WinIniChecker, BlanksAroundElementsAndEmptyElementsAreDropped)
{
    SetList(" \ta.exe \t,\t b.exe  ,  x.exe\t ", "a.exe,,b.exe, \t ,\xA0\xC0.exe\xA0,");
    SetSettings("[win.ini]\r\nrun=a.exe b.exe x.exe\r\nload=b.exe a.exe \xA0\xC0.exe\xA0\r\n");
    Check({}, {});
    ExpectLists("a.exe, b.exe, x.exe", "a.exe, b.exe, \xA0\xC0.exe\xA0");
    EXPECT_EQ(Settings(), "[win.ini]\r\nrun=a.exe, b.exe, x.exe\r\nload=a.exe, b.exe, \xA0\xC0.exe\xA0\r\n");
}

TEST_F(WinIniChecker, ListWithoutCommaIsOneElement)
{
    SetList("a.exe b.exe", std::nullopt);
    Check({{2, TPress::Ok, nullptr}}, {Question(RUN, "a.exe b.exe")});
    ExpectLists("a.exe b.exe", std::nullopt);
    EXPECT_EQ(Settings(), "[win.ini]\r\nrun=a.exe b.exe\r\n");
}

TEST_F(WinIniChecker, RemovingEveryElementLeavesTheKeyEmpty)
{
    SetList("x.exe, y.exe", std::nullopt);
    SetSettings("[win.ini]\r\nrun=old.exe\r\n");
    Check({{0, TPress::Ok, nullptr}, {0, TPress::Ok, nullptr}}, {Question(RUN, "x.exe"), Question(RUN, "y.exe")});
    ExpectLists("", std::nullopt);
    EXPECT_EQ(Settings(), "[win.ini]\r\nrun=\r\n");

    // An empty list is skipped: no question, nothing written.
    SetSettings("[win.ini]\r\nrun=old.exe\r\n");
    Check({}, {});
    ExpectLists("", std::nullopt);
    EXPECT_EQ(Settings(), "[win.ini]\r\nrun=old.exe\r\n");
}

TEST_F(WinIniChecker, ElementIsAllowedWhenItOccursInTheAllowedValueCaseSensitively)
{
    SetList("AGENT.EXE,d:\\tools\\agent.exe,D:\\TOOLS\\AGENT.EXE /min", std::nullopt);
    SetSettings("[win.ini]\r\nrun=D:\\TOOLS\\AGENT.EXE\r\n");
    Check({{2, TPress::Cancel, nullptr}, {0, TPress::Ok, nullptr}},
          {Question(RUN, "d:\\tools\\agent.exe"), Question(RUN, "D:\\TOOLS\\AGENT.EXE /min")});
    ExpectLists("AGENT.EXE, d:\\tools\\agent.exe", std::nullopt);
    EXPECT_EQ(Settings(), "[win.ini]\r\nrun=AGENT.EXE, d:\\tools\\agent.exe\r\n");
}

TEST_F(WinIniChecker, OnlyRunIsTouchedWhenLoadIsEmptyOrMissing)
{
    SetList("a.exe", "");
    SetSettings("[win.ini]\r\nload=keep.exe\r\n");
    Check({{2, TPress::Ok, nullptr}}, {Question(RUN, "a.exe")});
    ExpectLists("a.exe", "");
    EXPECT_EQ(Settings(), "[win.ini]\r\nload=keep.exe\r\nrun=a.exe\r\n");

    SetList("a.exe", std::nullopt);
    Check({}, {});
    ExpectLists("a.exe", std::nullopt);
    EXPECT_EQ(Settings(), "[win.ini]\r\nload=keep.exe\r\nrun=a.exe\r\n");
}

TEST_F(WinIniChecker, RunIsFinishedAndStoredBeforeLoadIsRead)
{
    SetList("r.exe", "l.exe");
    std::string settingsAtLoadQuestion;
    Check({{2, TPress::Ok, nullptr}, {0, TPress::Ok, [&](const TBoxInfo&) { settingsAtLoadQuestion = Settings(); }}},
          {Question(RUN, "r.exe"), Question(LOAD, "l.exe")});
    EXPECT_EQ(settingsAtLoadQuestion, "[win.ini]\r\nrun=r.exe\r\n");
    ExpectLists("r.exe", "");
    EXPECT_EQ(Settings(), "[win.ini]\r\nrun=r.exe\r\nload=\r\n");
}

TEST_F(WinIniChecker, UnwritableWinIniWarnsAndTheAllowedValueIsStillReplaced)
{
    SetList("a.exe,x.exe", std::nullopt);
    SetSettings("[win.ini]\r\nrun=a.exe and more\r\n");
    {
        TReadOnlyKey readOnly(WINDOWS_KEY);
        Check({{0, TPress::Ok, nullptr}, {0, TPress::Ok, nullptr}}, {Question(RUN, "x.exe"), WinIniWarning()});
    }
    ExpectLists("a.exe,x.exe", std::nullopt);
    EXPECT_EQ(Settings(), "[win.ini]\r\nrun=a.exe\r\n");

    // Still in win.ini and no longer allowed: asked again at the next check.
    Check({{2, TPress::Ok, nullptr}}, {Question(RUN, "x.exe")});
    ExpectLists("a.exe, x.exe", std::nullopt);
    EXPECT_EQ(Settings(), "[win.ini]\r\nrun=a.exe, x.exe\r\n");
}

TEST_F(WinIniChecker, UnwritableSettingsFileRaisesAfterWinIniAndSkipsLoad)
{
    const std::string directory = state.folder + "\\dir.ini";
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
    SetSettingsFilePath(directory);
    SetList("a.exe,,x.exe", "b.exe");

    TUserRobot robot({{2, TPress::Ok, nullptr}, {0, TPress::Cancel, nullptr}});
    std::string raised;
    try {
        CheckINI();
    } catch (const TINIExcept& e) {
        raised = e.FileName;
    }
    ExpectBoxes(robot, state.owner, {Question(RUN, "a.exe"), Question(RUN, "x.exe")});
    EXPECT_EQ(raised, directory);
    ExpectLists("a.exe, x.exe", "b.exe");
    EXPECT_TRUE(FolderNames(directory).empty());
}

TEST_F(WinIniChecker, SectionsNamedAfterTheKeysAreLeftAlone)
{
    const std::string settings = "[run]\r\nhand=1\r\n[load]\r\nx=1\r\n[win.ini]\r\nrun=a.exe\r\nload=b.exe\r\n";
    SetSettings(settings);
    SetList("a.exe", "b.exe");
    Check({}, {});
    ExpectLists("a.exe", "b.exe");
    EXPECT_EQ(Settings(), settings);
}

TEST_F(WinIniChecker, LongListIsReadAndWrittenBackWhole)
{
    constexpr std::size_t LIST_LENGTH = 5000;
    constexpr char INTRUDER[] = "D:\\intruder.exe";
    std::vector<std::string> allowed;
    std::string list;
    for (int i = 0; list.size() + 30 < LIST_LENGTH; ++i) {
        allowed.push_back("C:\\Apps\\tool" + std::to_string(1000 + i) + ".exe");
        list += allowed.back() + ",";
        if (i == 100) {
            list += std::string(INTRUDER) + ",";
        }
    }
    allowed.push_back("C:\\Apps\\last" + std::string(LIST_LENGTH - list.size() - 16, 'x') + ".exe");
    list += allowed.back();
    ASSERT_EQ(list.size(), LIST_LENGTH);
    std::string kept;
    for (const std::string& item : allowed) {
        kept += (kept.empty() ? "" : ", ") + item;
    }
    SetList(list, std::nullopt);
    SetSettings("[win.ini]\r\nrun=" + kept + "\r\n");

    Check({{0, TPress::Ok, nullptr}}, {Question(RUN, INTRUDER)});
    ExpectLists(kept, std::nullopt);
    EXPECT_TRUE(Settings() == "[win.ini]\r\nrun=" + kept + "\r\n");
    EXPECT_GT(kept.size(), 2 * 2048u);
}

TEST_F(WinIniChecker, ExitDuringAQuestionLeavesWinIniAndTheListAlone)
{
    SetList("x.exe,y.exe", "z.exe");
    SetSettings("[win.ini]\r\nrun=old.exe\r\n");
    Check({{2, TPress::Ok, [](const TBoxInfo&) { SetRunAborted(true); }}}, {Question(RUN, "x.exe")});
    ExpectLists("x.exe,y.exe", "z.exe");
    EXPECT_EQ(Settings(), "[win.ini]\r\nrun=old.exe\r\n");
}
