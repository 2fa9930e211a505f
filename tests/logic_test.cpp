// Pure functions as tables, then the allowed-list store, the settings file
// and the registry and profile layer against the test prefix.

#include "AllowedList.h"
#include "AutorunRows.h"
#include "CheckRegistryUnit.h"
#include "Elevation.h"
#include "History.h"
#include "MainUnit.h"
#include "Removed.h"
#include "ScopedHandle.h"
#include "Settings.h"
#include "TestSupport.h"
#include "registry_profile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <set>

// What the window learns from the history, newest line first: each
// entry's last decision, and the entries last accepted that are gone (but
// not one since forgotten or removed, one still there, or a win.ini
// element); a line whose escapes do not read back is passed by. Copied,
// a row is its columns apart by tabs, under their titles.
TEST(Pure, TheHistoryTellsEachEntrysLastDecisionAndWhatIsGone)
{
    const TWideString run = L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const auto at = [](int minute) { return TWideString(L"2026-12-07 10:0") + static_cast<wchar_t>(L'0' + minute) + L":00"; };
    const std::vector<THistoryLine> history = {
        {at(9), L"forgotten", run, L"f", L"F.exe", L""},
        {at(8), L"added", run, L"a", L"A.exe", L""},
        {at(7), L"removed", run, L"r", L"R.exe", L"removed.reg:0"},
        {at(6), L"added", run, L"k", L"K.exe", L""},
        {at(5), L"added", run, L"f", L"F.exe", L""},
        {at(4), L"corrected", run, L"a", L"old.exe", L""},
        {at(3), L"added", L"win.ini", L"run", L"w.exe", L""},
        {at(2), L"restored", run, L"line\x00AB" L"0A\x00BB" L"feed", L"X.exe", L""},
        {at(1), L"added", run, L"bad\x00AB" L"ZZ\x00BB", L"B.exe", L""},
    };
    THistoryFacts facts = ReadHistoryFacts(history, {DecisionKey(run, L"K")});
    std::vector<TAutorunRow> rows = {{{run, L"k", L"K.exe"}, EntryText({L"k"}), TEntryState::Allowed, GroupOf(run)}};
    ApplyHistoryFacts(rows, facts);
    std::vector<std::string> shown;
    for (const TAutorunRow& row : rows) {
        shown.push_back(Spell(ColumnText(row, ColEntry) + L" " + ColumnText(row, ColState) + L" " + ColumnText(row, ColDecided)));
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"k Разрешена 2026-12-07 10:06:00", "a Разрешена, но ее больше нет 2026-12-07 10:08:00",
                                               "line\xAB" "0A\xBB" "feed Разрешена, но ее больше нет 2026-12-07 10:02:00"}));
    EXPECT_EQ(rows[2].key.name, L"line\nfeed");
    // A line feed in a name does not break the copied row.
    EXPECT_EQ(Spell(RowsText({&rows[2]})), "Запись\tКоманда\tОписание\tПроизводитель\tСостояние\tРешение\tМесто\r\n"
                                           "line\xAB" "0A\xBB" "feed\tX.exe\t\t\tРазрешена, но ее больше нет\t2026-12-07 10:02:00\tРазделы Run\r\n");
}

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
    // Every key once: 64-bit Windows keeps a 32-bit copy of some (named by
    // their Wow6432Node path), and one copy of others serves both.
    for (bool windows64 : {false, true}) {
        std::vector<std::string> copies;
        std::set<std::string> paths;
        for (const TKeyLocation& location : KeyLocations(windows64)) {
            const bool user = location.root == HKEY_CURRENT_USER, wow = location.view == KEY_WOW64_32KEY;
            EXPECT_EQ(location.view, user || !windows64 ? 0u : wow ? KEY_WOW64_32KEY : KEY_WOW64_64KEY);
            EXPECT_EQ(location.keyPath, location.section);
            EXPECT_TRUE(paths.insert(Spell(location.keyPath)).second) << Spell(location.keyPath);
            if (wow) {
                copies.push_back(Spell(location.keyPath.substr(std::strlen("HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\"))));
            }
        }
        const std::vector<std::string> expected = {"Microsoft\\Windows\\CurrentVersion\\Run", "Microsoft\\Windows\\CurrentVersion\\RunOnce",
            "Microsoft\\Windows\\CurrentVersion\\RunOnceEx", "Microsoft\\Windows\\CurrentVersion\\RunServices",
            "Microsoft\\Windows\\CurrentVersion\\RunServicesOnce", "Microsoft\\Command Processor", "Microsoft\\Windows NT\\CurrentVersion\\Windows",
            "Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit", "Microsoft\\Active Setup\\Installed Components"};
        EXPECT_EQ(copies, windows64 ? expected : std::vector<std::string>{});
    }
    // The help's table of places and the README's name every key and value of the program's.
    std::string help = Spell(Decode1251(ReadFileBytes(RUNWARDEN_SOURCE "/help/Places.html")));
    const std::string readme = ReadFileBytes(RUNWARDEN_SOURCE "/README.md");
    for (const TKeyLocation& location : KeyLocations(true)) {
        std::vector<std::string> names = {Spell(location.path.substr(location.path.rfind(L'\\') + 1))};
        for (const TNamedValue& named : location.place->names) {
            names.push_back(named.name != nullptr ? Spell(named.name) : "");
        }
        for (const std::string& name : names) {
            EXPECT_TRUE(name.empty() || help.find("<code>" + name) != std::string::npos || help.find("\\" + name + "</code>") != std::string::npos
                        || help.find("\\" + name + "\\") != std::string::npos)
                << name;
            EXPECT_NE(readme.find(name), std::string::npos) << name;
        }
    }

    EXPECT_EQ(TrimBlanks(W(std::string("\0\x01\t a  b\r\n \x1F", 11))), L"a  b");
    EXPECT_EQ(TrimBlanks(W(std::string(" \t\0", 3))), L"");
    EXPECT_EQ(TrimBlanks(W("\xA0x\xFF")), W("\xA0x\xFF"));

    EXPECT_EQ(FormatMsg(L"", {L"x"}), L"");
    EXPECT_EQ(FormatMsg(L"a \"%s\".", {L"100%s d"}), L"a \"100%s d\".");
    EXPECT_EQ(FormatMsg(L"%s", {TWideString(3000, L'x')}), TWideString(3000, L'x'));
    // What would not show as itself is shown by its code, and so are the
    // program's own marks where a text holds them.
    const std::pair<std::string, std::string> visible[] = {
        {std::string("a\0b\r\n\t\x7F", 7), "a\xAB" "00\xBB" "b\xAB" "0D\xBB\xAB" "0A\xBB\xAB" "09\xBB\xAB" "7F\xBB"},
        {"{202E}exe.{200B}live", "\xAB" "202E\xBB" "exe.\xAB" "200B\xBB" "live"}, {"\xAB" "0A\xBB\x85", "\xAB" "AB\xBB" "0A\xBB\xAB" "2026\xBB"},
        {"{D83D}{DE00} {D800}x{DC00}", "{D83D}{DE00} \xAB" "D800\xBBx\xAB" "DC00\xBB"}, {"C:\\\xCF\xF0\\%w%.exe \xBB", "C:\\\xCF\xF0\\%w%.exe \xBB"},
        // Blank or nothing: a tag, white space, default ignorables, braille blank, noncharacters, private use, surrogates.
        {"C:\\Windows\\explorer{DB40}{DC20}.exe", "C:\\Windows\\explorer\xAB" "E0020\xBB.exe"},
        {"{DC00}{D800}x{DBFF}", "\xAB" "DC00\xBB\xAB" "D800\xBBx\xAB" "DBFF\xBB"}, {"\xA0{2002}{3000}{202F}{1680}{205F}{0085}",
         "\xAB" "A0\xBB\xAB" "2002\xBB\xAB" "3000\xBB\xAB" "202F\xBB\xAB" "1680\xBB\xAB" "205F\xBB\xAB" "85\xBB"},
        {"\xAD{034F}{115F}{180F}{FFF0}{D82F}{DCA0}{D834}{DD73}{DB40}{DD00}",
         "\xAB" "AD\xBB\xAB" "034F\xBB\xAB" "115F\xBB\xAB" "180F\xBB\xAB" "FFF0\xBB\xAB" "1BCA0\xBB\xAB" "1D173\xBB\xAB" "E0100\xBB"},
        {"{2800}{2801}{FDD0}{FDF0}{FFFE}{D83F}{DFFF}", "\xAB" "2800\xBB{2801}\xAB" "FDD0\xBB{FDF0}\xAB" "FFFE\xBB\xAB" "1FFFF\xBB"},
        {"{E000}{DB80}{DC00}{DBFF}{DFFD}", "\xAB" "E000\xBB\xAB" "F0000\xBB\xAB" "10FFFD\xBB"},
    };
    for (const auto& [text, shown] : visible) {
        EXPECT_EQ(Spell(Visible(W(text))), shown) << shown;
    }
    // Each long field is shortened on its own: the command's start stays.
    const TEntryText entry = EntryText({L"K\\", TWideString(200, L'n'), L"=", L"C:\\evil.exe" + TWideString(200, L'a')});
    EXPECT_EQ(entry.full, L"K\\" + TWideString(200, L'n') + L"=C:\\evil.exe" + TWideString(200, L'a'));
    EXPECT_EQ(entry.shown, L"K\\" + TWideString(96, L'n') + ELISION + TWideString(63, L'n') + L"=C:\\evil.exe" + TWideString(85, L'a')
                  + ELISION + TWideString(63, L'a'));
    // Neither a surrogate pair nor an escape is ever cut.
    TWideString mixed = L"x";
    for (int i = 0; i < 100; ++i) {
        mixed += W("{D83D}{DE00}{DB40}{DC20}");
    }
    const TWideString shown = Visible(mixed);
    EXPECT_EQ(EntryText({mixed}).shown, shown.substr(0, 93) + ELISION + shown.substr(shown.size() - 63));

    // The elevated removal's switch reads back exactly as it was written.
    const std::vector<TWideString> texts = {L"a b", L"\"q\" \"", L"x\\", L"\\\\\"\\", L"", L"l\r\n\t%", L"C:\\R F\\"};
    const std::vector<TWideString> split = SplitCommandLine(
        (L"p.exe " + RemovalSwitch(L"-s", {texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], texts[6]})).c_str());
    ASSERT_EQ(split.size(), 9u);
    EXPECT_EQ(std::vector<TWideString>(split.begin() + 2, split.end()), texts);
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
    // A subkey's name never makes another's section: "%" marks the encoded form.
    EXPECT_EQ(SubkeySection(L"K", L"\x00E9"), L"K\\%%u00E9");
    EXPECT_EQ(SubkeySection(L"K", L"%%u00E9"), L"K\\%%25%25u00E9");
    EXPECT_EQ(SubkeySection(L"K", W("0001 \xC8")), W("K\\0001 \xC8"));
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
    user.AskChoice({}, false, EntryText({L"x"}), choice);
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
    // A file that cannot be read decides nothing and is not written over,
    // nor is anything written where no file can be.
    const TFileHandle locked(CreateFileA(state.settingsPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    for (const std::string& path : {state.folder, state.folder + "\\missing\\options.ini", state.settingsPath}) {
        SetSettingsFilePath(W(path));
        EXPECT_THROW(SaveAllowedSection(L"a=1!", L"S"), TINIExcept) << path;
        AllowedListMayHaveChanged();
        EXPECT_THROW(LookupAllowed(L"S", L"a"), TINIExcept) << path;
    }
}

TEST_F(Store, AFileKeepsItsEncodingAndEveryByte)
{
    // Cyrillic in 1251 ("Ярлык", "Имя", "я"); the same text as an editor saves it in UTF-8.
    const auto utf8 = [](const std::string& spelled) {
        const TWideString wide = W(spelled);
        std::string bytes(wide.size() * 3, '\0');
        bytes.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0],
                                         static_cast<int>(bytes.size()), nullptr, nullptr));
        return bytes;
    };
    const std::string mark = "\xEF\xBB\xBF", other = "[Other]\r\nk=\xDF\xF0\xEB\xFB\xEA\r\n", record = "\xC8\xEC\xFF=C:\\\xFF.exe\r\n";
    const std::pair<std::string, std::string> rows[] = {
        {mark + utf8(other), mark + utf8(other + "[S]\r\n" + record)},
        {utf8(other), utf8(other + "[S]\r\n" + record)},
        {other, other + "[S]\r\n" + record},
        // Not UTF-8 throughout: 1251, whose every byte comes back (98 is no letter of it).
        {other + "x=\x98\xC3\r\n", other + "x=\x98\xC3\r\n[S]\r\n" + record},
    };
    for (const auto& [before, after] : rows) {
        ASSERT_TRUE(WriteFileBytes(state.settingsPath, before));
        AllowedListMayHaveChanged();
        EXPECT_EQ(LookupAllowed(L"Other", L"k"), W("\xDF\xF0\xEB\xFB\xEA")) << before;
        TWideString records;
        AppendRecord(records, W("\xC8\xEC\xFF"), W("C:\\\xFF.exe"));
        SaveAllowedSection(records, L"S");
        EXPECT_EQ(ReadFileBytes(state.settingsPath), after);
        AllowedListMayHaveChanged();
        EXPECT_EQ(LookupAllowed(L"S", W("\xC8\xCC\xDF")), W("C:\\\xFF.exe")) << before;
    }
}

TEST_F(Store, HistoryKeepsOneEventALineAndRollsOverPastAMegabyte)
{
    const std::string log = state.folder + "\\history.log", older = state.folder + "\\history.1.log";
    WriteHistory({THistoryKind::Removed, L"S", L"a\nb\tc", L"C:\\x.exe", L""});
    const std::string line = ReadFileBytes(log);
    EXPECT_TRUE(std::regex_match(line.substr(0, 19), std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"))) << line;
    EXPECT_EQ(line.substr(19), "\tremoved\tS\ta\xC2\xAB" "0A\xC2\xBB" "b\xC2\xAB" "09\xC2\xBB" "c\tC:\\x.exe\t\n");
    // Not UTF-8, a field too few, a day of one digit: skipped.
    const std::string fields = "\tadded\tS\tn\tc";
    ASSERT_TRUE(WriteFileBytes(log, line + "2026-12-07 16:45:31\tadded\t\xFF\tn\tc\t\n2026-12-07 16:45:31" + fields + "\n2026-12-7 16:45:31"
                                    + fields + "\t\n2026-12-07 16:45:32" + fields + "\td"));
    const std::vector<THistoryLine> lines = ReadHistory();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].time + L"|" + lines[0].what + L"|" + lines[0].detail, L"2026-12-07 16:45:32|added|d");
    EXPECT_EQ(lines[1].name, L"a\x00AB" L"0A\x00BB" L"b\x00AB" L"09\x00BB" L"c");
    // Just under the limit, one more line goes past it.
    ASSERT_TRUE(WriteFileBytes(older, "stale\n"));
    const std::string full(static_cast<std::size_t>(HISTORY_LIMIT) - 10, 'x');
    ASSERT_TRUE(WriteFileBytes(log, full));
    WriteHistory({THistoryKind::Baseline, L"S", L"", L"", L"5"});
    EXPECT_EQ(ReadFileBytes(older), full);
    EXPECT_EQ(ReadFileBytes(log).substr(19), "\tbaseline\tS\t\t\t5\n");
}

TEST_F(Store, ASaveKeepsTheFileWhatItWas)
{
    const std::string link = state.folder + "\\link.ini", leftover = state.settingsPath + ".new";
    const DWORD hidden = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(CreateHardLinkA(link.c_str(), state.settingsPath.c_str(), nullptr));
    SetFileAttributesA(state.settingsPath.c_str(), hidden);
    // Temporary files of an earlier version, left behind.
    CreateDirectoryA(leftover.c_str(), nullptr);
    SaveAllowedSection(L"a=1!", L"S");
    EXPECT_EQ(ReadFileBytes(link), "[S]\r\na=1\r\n");
    RemoveDirectoryA(leftover.c_str());
    WriteFileBytes(leftover, ""), SetFileAttributesA(leftover.c_str(), FILE_ATTRIBUTE_READONLY);
    DeleteFileA(link.c_str());
    SaveAllowedSection(L"a=2!", L"S");
    EXPECT_EQ(ReadFileBytes(state.settingsPath), "[S]\r\na=2\r\n");
    EXPECT_EQ(GetFileAttributesA(state.settingsPath.c_str()), hidden);
    EXPECT_EQ(FolderNames(state.folder), (std::vector<std::string>{"Common Startup", "Startup", "options.ini", "options.ini.new"}));
    // A read-only list is one its owner chose not to have written.
    SetFileAttributesA(state.settingsPath.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_THROW(SaveAllowedSection(L"a=3!", L"S"), TINIExcept);
    EXPECT_EQ(ReadFileBytes(state.settingsPath), "[S]\r\na=2\r\n");
    SetFileAttributesA(state.settingsPath.c_str(), FILE_ATTRIBUTE_NORMAL);
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
