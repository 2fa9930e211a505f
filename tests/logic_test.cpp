// Pure functions as tables, then the allowed-list store, the settings file
// and the registry and profile layer against the test prefix.

#include "AllowedList.h"
#include "CheckRegistryUnit.h"
#include "Elevation.h"
#include "MainUnit.h"
#include "Removed.h"
#include "ScopedHandle.h"
#include "Settings.h"
#include "TestSupport.h"
#include "registry_profile.h"

#include <gtest/gtest.h>

TEST(Pure, FirstArgumentOwnCommandsTrimmingAndMessages)
{
    const std::pair<const char*, const char*> arguments[] = {
        {"prog.exe -once", "-once"}, {"\"C:\\P F\\prog.exe\" -once x", "-once"}, {"prog.exe", ""},
        {"prog.exe \t\"-on\"ce", "-once"}, {"prog.exe \"a b\"", "a b"}, {"prog.exe\x01-ONCE", "-ONCE"},
    };
    for (const auto& row : arguments) {
        EXPECT_EQ(FirstArgument(W(row.first).c_str()), W(row.second)) << row.first;
    }

    struct TOwn {
        const char* path;
        const char* command;
        bool own, once;
    } own[] = {
        {"C:\\R\\rw.exe", "C:\\R\\rw.exe", true, false},     {"C:\\R\\rw.exe", "C:\\R\\rw.exe -once", false, true},
        {"C:\\R\\rw.exe", "\"C:\\R\\rw.exe\"", false, false}, {"C:\\R\\rw.exe", "c:\\r\\rw.exe", false, false},
        {"C:\\P F\\rw.exe", "\"C:\\P F\\rw.exe\"", true, false}, {"C:\\P F\\rw.exe", "\"C:\\P F\\rw.exe\" -once", false, true},
        {"C:\\P F\\rw.exe", "C:\\P F\\rw.exe", true, false},
    };
    for (const TOwn& row : own) {
        SetOwnCommands(W(row.path));
        EXPECT_EQ(IsOwnCommand(W(row.command)), row.own) << row.command;
        EXPECT_EQ(IsOwnOnceCommand(W(row.command)), row.once) << row.command;
    }
    EXPECT_EQ(StartupCommand(true), L"\"C:\\P F\\rw.exe\" -once");
    SetOwnCommands(L"C:\\R\\rw.exe");
    EXPECT_EQ(StartupCommand(false), L"C:\\R\\rw.exe");

    EXPECT_FALSE(IsWindows64(false, false));
    EXPECT_TRUE(IsWindows64(false, true));
    EXPECT_TRUE(IsWindows64(true, false));
    std::vector<std::string> sections;
    for (bool windows64 : {false, true}) {
        for (const TRunLocation& location : RunLocations(windows64)) {
            const bool user = location.root == HKEY_CURRENT_USER;
            const std::string root = user ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\";
            EXPECT_EQ(location.view, user || !windows64 ? 0u : location.section.find(L"Wow6432Node") != TWideString::npos
                                                                ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
            EXPECT_EQ(location.section.find(L"Software\\Wow6432Node\\"), location.view == KEY_WOW64_32KEY ? root.size() : std::string::npos);
            EXPECT_EQ(location.keyPath, location.section);
            EXPECT_EQ(location.subkeys, location.path.find(L"RunOnceEx") != TWideString::npos);
            sections.push_back(Spell(location.section.substr(location.section.rfind(L'\\') + 1)) + (location.view == KEY_WOW64_32KEY ? "32" : ""));
        }
    }
    EXPECT_EQ(sections, (std::vector<std::string>{"Run", "RunOnce", "Run", "RunOnce", "RunOnceEx", "RunServices", "RunServicesOnce",
                                                  "Run", "RunOnce", "Run", "RunOnce", "RunOnceEx", "RunServices", "RunServicesOnce",
                                                  "Run32", "RunOnce32", "RunOnceEx32", "RunServices32", "RunServicesOnce32"}));

    EXPECT_EQ(TrimBlanks(W(std::string("\0\x01\t a  b\r\n \x1F", 11))), L"a  b");
    EXPECT_EQ(TrimBlanks(W(std::string(" \t\0", 3))), L"");
    EXPECT_EQ(TrimBlanks(W("\xA0x\xFF")), W("\xA0x\xFF"));

    EXPECT_EQ(FormatMsg(L"", {L"x"}), L"");
    EXPECT_EQ(FormatMsg(L"a \"%s\".", {L"100%s d"}), L"a \"100%s d\".");
    EXPECT_EQ(FormatMsg(L"%s", {TWideString(3000, L'x')}), TWideString(1023, L'x'));

    // The elevated removal's switch reads back exactly as it was written.
    SetRemovedFolder(L"C:\\R F\\");
    std::vector<TWideString> split;
    const std::vector<TWideString> texts = {L"a b", L"\"q\" \"", L"x\\", L"\\\\\"\\", L"", L"l\r\n\t%", L"C:\\R F\\"};
    ASSERT_TRUE(SplitCommandLine((L"p.exe " + RemovalSwitch(L"-s", {texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]})).c_str(), split));
    ASSERT_EQ(split.size(), 9u);
    EXPECT_EQ(std::vector<TWideString>(split.begin() + 2, split.end()), texts);
    SetRemovedFolder(L"");
}

class Store : public testing::Test {
protected:
    TTestState state;
};

TEST_F(Store, RecordsAreWrittenPlainOrEncodedAndReadBack)
{
    // Text outside 1251 comes back exactly: a surrogate pair, a lone
    // surrogate, look-alikes of Latin letters.
    const std::pair<std::pair<std::string, std::string>, std::string> records[] = {
        {{"Tool", "D:\\t.exe /m"}, "Tool=D:\\t.exe /m"}, {{"Agent", "\"C:\\P F\\a.exe\" -q"}, "Agent=\"C:\\P F\\a.exe\" -q"},
        {{"Env", "%w%\\x.exe a=b"}, "Env=%w%\\x.exe a=b"}, {{"", "C:\\x.exe"}, "%=%C:\\x.exe"},
        {{"Q", "\"C:\\P F\\t.exe\""}, "%Q=%%22C:\\P F\\t.exe%22"}, {{" a=b!", "x!\r\n "}, "%%20a%3Db%21=%x%21%0D%0A%20"},
        {{";c", "'q'"}, "%%3Bc=%%27q%27"}, {{"[s", "\xCF\xF0"}, "%%5Bs=%\xCF\xF0"}, {{"%p", "%w%\\x"}, "%%25p=%%25w%25\\x"},
        {{"lone", "\""}, "%lone=%%22"}, {{"long", std::string(5000, 'L')}, "long=" + std::string(5000, 'L')},
        {{"a!b", "tab\tin"}, "%a%21b=%tab%09in"}, {{"\xD1\xF2\xE0\xF0\xFB\xE9", "C:\\\xF1.exe"}, "\xD1\xF2\xE0\xF0\xFB\xE9=C:\\\xF1.exe"},
        {{"{97F3}{4E50}", "C:\\{97F3}{4E50}\\play.exe"}, "%%u97F3%u4E50=%C:\\%u97F3%u4E50\\play.exe"},
        {{"L{00E9}git", "C:\\{03A9}\\{03C9}.exe"}, "%L%u00E9git=%C:\\%u03A9\\%u03C9.exe"},
        {{"{D83D}{DE00}x{D800}", "T{FF43} %u0041"}, "%%uD83D%uDE00x%uD800=%T%uFF43 %25u0041"},
    };
    std::string lines;
    TWideString all;
    for (const auto& row : records) {
        TWideString one;
        AppendRecord(one, W(row.first.first), W(row.first.second));
        EXPECT_EQ(Spell(one), row.second + "!");
        all += one;
        lines += row.second + "\r\n";
    }
    AppendBareRecord(all, L"C:\\S\\a!b=c.lnk");
    SaveAllowedSection(all, L"S");
    EXPECT_EQ(ReadFileBytes(state.settingsPath), "[S]\r\n" + lines + "%C:\\S\\a%21b%3Dc.lnk=1\r\n");
    for (const auto& row : records) {
        EXPECT_TRUE(LookupAllowed(L"S", W(row.first.first)) == W(row.first.second)) << "[" << row.first.first << "]";
    }
    EXPECT_EQ(LookupAllowed(L"S", L"C:\\S\\a!b=c.lnk"), L"1");
    for (const char* missing : {"C:\\S\\a", "Legit", "{6728}{9A6C}", "{D83D}{DE01}x{D800}", "{97F3}{4E51}"}) {
        EXPECT_FALSE(LookupAllowed(L"S", W(missing))) << missing;
    }

    ASSERT_TRUE(WriteFileBytes(state.settingsPath, "[S]\r\n; note\r\n  Tool =  D:\\t.exe /m  \r\nQ=\"C:\\q.exe\"\r\n"
                                                   "tool=second loses\r\n"));
    AllowedListMayHaveChanged();
    EXPECT_EQ(LookupAllowed(L"S", L"TOOL"), L"D:\\t.exe /m");
    EXPECT_EQ(LookupAllowed(L"S", L"Q"), L"C:\\q.exe");
    EXPECT_FALSE(LookupAllowed(L"S", L"; note"));
    // An edit made while a box is open counts at once.
    TScriptedUser user("", [&](std::size_t) { WriteFileBytes(state.settingsPath, "[S]\r\nTool=E:\\other.exe\r\n"); });
    TChoice choice;
    user.AskChoice(false, L"x", choice);
    EXPECT_EQ(LookupAllowed(L"S", L"Tool"), L"E:\\other.exe");
}

TEST_F(Store, SavingLeavesWhatOneWritePerRecordLeavesAndOnlyInItsSection)
{
    const std::string initial = "[Other]\r\nk=1\r\n[S]\r\nx=9\r\n[Tail]\r\nt=\r\n";
    const std::string reference = state.folder + "\\reference.ini";
    for (const std::string records :
         {"a=1!b=x=y!", "a=1!A=2!b=3!a=4!", "D:\\x.lnk!=x!y=!", "only!", "k=v!tail", "\xC0\xE1=\xE2!\xC2\xE3=2!", ""}) {
        // The profile functions write the system's code page: their bytes
        // are the reference for Cyrillic only where that is 1251.
        if (GetACP() != 1251 && records.find('\xC0') != std::string::npos) {
            continue;
        }
        ASSERT_TRUE(WriteFileBytes(state.settingsPath, initial));
        ASSERT_TRUE(WriteFileBytes(reference, initial));
        SaveAllowedSection(W(records), L"S");
        ASSERT_TRUE(WritePrivateProfileSectionA("S", nullptr, reference.c_str()));
        std::string rest = records;
        for (std::string::size_type end; (end = rest.find('!')) != std::string::npos; rest.erase(0, end + 1)) {
            const std::string record = rest.substr(0, end);
            const std::string::size_type equals = record.find('=');
            const std::string name = equals == std::string::npos ? "" : record.substr(0, equals);
            const std::string value = equals == std::string::npos ? record : record.substr(equals + 1);
            WritePrivateProfileStringA("S", (name.empty() ? value : name).c_str(), name.empty() ? "1" : value.c_str(),
                                       reference.c_str());
        }
        EXPECT_EQ(ReadFileBytes(state.settingsPath), ReadFileBytes(reference)) << records;
    }
    // Nothing is written over a file that cannot be read, nor where no file can be.
    const TFileHandle locked(CreateFileA(state.settingsPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    for (const std::string& path : {state.folder, state.folder + "\\missing\\options.ini", state.settingsPath}) {
        SetSettingsFilePath(W(path));
        EXPECT_THROW(SaveAllowedSection(L"a=1!", L"S"), TINIExcept) << path;
    }
}

TEST_F(Store, SettingsFileAndRegistryAccess)
{
    CreateDirectoryA((state.folder + "\\new").c_str(), nullptr);
    SetShellFolder(HKEY_CURRENT_USER, "AppData", state.folder + "\\new");
    EXPECT_EQ(GetSettingsPath(), W(state.folder + "\\new\\Runwarden\\options.ini"));
    EXPECT_EQ(FolderNames(state.folder + "\\new\\Runwarden"), std::vector<std::string>{"options.ini"});
    ASSERT_TRUE(WriteFileBytes(state.folder + "\\new\\Runwarden\\options.ini", "[k]\r\n"));
    EXPECT_EQ(GetSettingsPath(), W(state.folder + "\\new\\Runwarden\\options.ini"));
    EXPECT_EQ(ReadFileBytes(state.folder + "\\new\\Runwarden\\options.ini"), "[k]\r\n");
    SetOwnCommands(W(state.folder + "\\prog\\rw.exe"));
    CreateDirectoryA((state.folder + "\\prog").c_str(), nullptr);
    SetShellFolder(HKEY_CURRENT_USER, "AppData", "");
    EXPECT_EQ(GetSettingsPath(), W(state.folder + "\\prog\\options.ini"));
    EXPECT_EQ(FolderNames(state.folder + "\\prog"), std::vector<std::string>{"options.ini"});

    // An empty path reads the open key itself and leaves it open.
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "x"), {"z", REG_SZ, std::string("a\0b\0", 4)}});
    TRegKey key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, USER_RUN, 0, KEY_READ, key.Receive()), ERROR_SUCCESS);
    EXPECT_EQ(ReadRegString(key.Get(), L"", L"a"), L"x");
    EXPECT_EQ(ReadRegString(key.Get(), L"", L"z"), TWideString(L"a\0b", 3));
    EXPECT_EQ(ReadRegString(key.Get(), L"", L"missing"), L"");
    EXPECT_TRUE(DeleteRegValue(key.Get(), L"", L"a"));
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN).size(), 1u);
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {});
}
