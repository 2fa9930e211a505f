#include "AllowedList.h"
#include "MainState.h"
#include "TestSupport.h"
#include "registry_profile.h"

#include <gtest/gtest.h>

namespace {

constexpr char SECTION[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class AllowedList : public testing::Test {
protected:
    std::string Saved(const std::string& records)
    {
        SaveAllowedSection(records, "S");
        return ReadFileBytes(state.settingsPath);
    }
    TTestState state;
};

// What one profile write per record leaves, for comparison.
void EraseAndWriteEach(const std::string& file, const std::string& records, const std::string& section)
{
    ASSERT_TRUE(EraseINISection(file, section));
    std::string rest = records;
    for (std::string::size_type end; (end = rest.find('!')) != std::string::npos; rest.erase(0, end + 1)) {
        const std::string record = rest.substr(0, end);
        const std::string::size_type equals = record.find('=');
        std::string name = equals == std::string::npos ? std::string() : record.substr(0, equals);
        std::string value = equals == std::string::npos ? record : record.substr(equals + 1);
        if (name.empty()) {
            name = value;
            value = "1";
        }
        WriteINIString(file, section, name, value);
    }
}

} // namespace

TEST_F(AllowedList, RecordListsAsTheyAreWritten)
{
    EXPECT_EQ(Saved("a=1!b=x=y!"), "[S]\r\na=1\r\nb=x=y\r\n");
    EXPECT_EQ(Saved("D:\\Menu\\x.lnk!"), "[S]\r\nD:\\Menu\\x.lnk=1\r\n");
    EXPECT_EQ(Saved("=x!"), "[S]\r\nx=1\r\n");
    EXPECT_EQ(Saved("a=1!tail"), "[S]\r\na=1\r\n");
    EXPECT_EQ(Saved("a=!"), "[S]\r\na=\r\n");
    EXPECT_EQ(LookupAllowed("S", "a"), "");
    EXPECT_EQ(Saved(""), "");
}

TEST_F(AllowedList, SavingReplacesOnlyItsSection)
{
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, "[Before]\r\nk=1\r\n[S]\r\nold=1\r\nhand=written\r\n[After]\r\nz=2\r\n"));
    SaveAllowedSection("a=1!b=2!", "S");
    EXPECT_EQ(ReadFileBytes(state.settingsPath), "[Before]\r\nk=1\r\n[After]\r\nz=2\r\n[S]\r\na=1\r\nb=2\r\n");
    SaveAllowedSection("c=3!", "s");
    EXPECT_EQ(ReadFileBytes(state.settingsPath), "[Before]\r\nk=1\r\n[After]\r\nz=2\r\n[s]\r\nc=3\r\n");
    SaveAllowedSection("", "S");
    EXPECT_EQ(ReadFileBytes(state.settingsPath), "[Before]\r\nk=1\r\n[After]\r\nz=2\r\n");
}

TEST_F(AllowedList, OnePassLeavesWhatOneWritePerRecordLeaves)
{
    const std::string initial = "[Other]\r\nk=1\r\n[S]\r\nx=9\r\n[Tail]\r\nt=\r\n";
    const std::string reference = state.folder + "\\reference.ini";
    for (const std::string records :
         {"a=1!b=x=y!", "a=1!A=2!b=3!a=4!", "D:\\Menu\\x.lnk!=x!y=!", "only!", "k=v!tail", "\xC0\xE1=\xE2!\xC2\xE3=2!"}) {
        ASSERT_TRUE(WriteFileBytes(state.settingsPath, initial));
        ASSERT_TRUE(WriteFileBytes(reference, initial));
        SaveAllowedSection(records, "S");
        EraseAndWriteEach(reference, records, "S");
        EXPECT_EQ(ReadFileBytes(state.settingsPath), ReadFileBytes(reference)) << records;
    }
}

TEST_F(AllowedList, UnwritableFileRaisesWithItsPath)
{
    const std::string directory = state.folder + "\\dir.ini";
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
    for (const std::string& path : {directory, state.folder + "\\missing\\options.ini"}) {
        SetSettingsFilePath(path);
        try {
            SaveAllowedSection("a=1!", "S");
            ADD_FAILURE() << "no failure for " << path;
        } catch (const TINIExcept& e) {
            EXPECT_EQ(e.FileName, path);
        }
    }
    EXPECT_FALSE(DirectoryExists(state.folder + "\\missing"));
}

TEST_F(AllowedList, EveryEntryRoundTrips)
{
    const std::pair<std::string, std::string> entries[] = {
        {"", "C:\\default.exe"},
        {"a=b", "C:\\x.exe"},
        {"a!b", "C:\\x.exe"},
        {"bang", "C:\\x.exe -go!"},
        {"quoted", "\"C:\\Program Files\\t.exe\""},
        {"single", "'C:\\t.exe'"},
        {" lead", "C:\\x.exe"},
        {"trail ", " C:\\padded.exe "},
        {";comment", "C:\\x.exe"},
        {"[section", "C:\\x.exe"},
        {"%percent", "%SystemRoot%\\x.exe"},
        {"tab\tname", "line\r\nbreak"},
        {"\xCF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xE0", "C:\\\xCF\xF0\xEE\xE3.exe"},
        {"long", std::string(5000, 'L')},
        {"lone quote", "\""},
        {"empty command", ""},
    };
    std::string records;
    for (const auto& entry : entries) {
        AppendRecord(records, entry.first, entry.second);
    }
    AppendBareRecord(records, "C:\\Startup\\a!b=c.lnk");
    AppendBareRecord(records, "C:\\Startup\\plain.lnk");
    SaveAllowedSection(records, SECTION);
    for (const auto& entry : entries) {
        if (entry.second.empty()) {
            continue; // an empty command is "not listed" by definition
        }
        EXPECT_TRUE(LookupAllowed(SECTION, entry.first) == entry.second) << "[" << entry.first << "]";
    }
    EXPECT_EQ(LookupAllowed(SECTION, "C:\\Startup\\a!b=c.lnk"), "1");
    EXPECT_EQ(LookupAllowed(SECTION, "C:\\Startup\\plain.lnk"), "1");
    EXPECT_EQ(LookupAllowed(SECTION, "C:\\Startup\\a"), "");
    EXPECT_EQ(LookupAllowed(SECTION, "a"), "");
}

TEST_F(AllowedList, OrdinaryEntriesKeepThePlainForm)
{
    std::string records;
    AppendRecord(records, "Tool", "D:\\Tools\\tool.exe /min");
    AppendRecord(records, "Agent", "\"C:\\Program Files\\agent.exe\" -q");
    AppendRecord(records, "Env", "%windir%\\x.exe a=b");
    AppendRecord(records, "", "C:\\x.exe");
    AppendRecord(records, "Quoted", "\"C:\\Program Files\\t.exe\"");
    AppendBareRecord(records, "D:\\Menu\\Startup\\tool.lnk");
    EXPECT_EQ(records,
              "Tool=D:\\Tools\\tool.exe /min!Agent=\"C:\\Program Files\\agent.exe\" -q!Env=%windir%\\x.exe a=b!"
              "%=%C:\\x.exe!%Quoted=%%22C:\\Program Files\\t.exe%22!D:\\Menu\\Startup\\tool.lnk!");
}

TEST_F(AllowedList, HandWrittenLinesCountAndEditsAreSeenAtOnce)
{
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, "[S]\r\n; a comment\r\n  Tool =  D:\\tool.exe /min  \r\nQ=\"C:\\q.exe\"\r\n"
                                                   "tool=second line loses\r\n"));
    EXPECT_EQ(LookupAllowed("S", "TOOL"), "D:\\tool.exe /min");
    EXPECT_EQ(LookupAllowed("S", "Q"), "C:\\q.exe");
    EXPECT_EQ(LookupAllowed("S", "; a comment"), "");
    EXPECT_EQ(LookupAllowed("S", "Q"), ReadINIString(state.settingsPath, "S", "Q", ""));
    EXPECT_EQ(LookupAllowed("S", "tool"), ReadINIString(state.settingsPath, "S", "tool", ""));
    ASSERT_TRUE(WriteINIString(state.settingsPath, "S", "Tool", "E:\\other.exe"));
    EXPECT_EQ(LookupAllowed("S", "Tool"), "E:\\other.exe");
    ASSERT_TRUE(WriteFileBytes(state.settingsPath, ""));
    EXPECT_EQ(LookupAllowed("S", "Tool"), "");
}

TEST(FormatMessage, OneArgumentCutAt1023Bytes)
{
    EXPECT_EQ(FormatMsg("", {"x"}), "");
    EXPECT_EQ(FormatMsg("a \"%s\".", {"100%s d"}), "a \"100%s d\".");
    const std::string cut = FormatMsg("%s", {std::string(3000, 'x')});
    EXPECT_EQ(cut.size(), 1023u);
    EXPECT_EQ(cut.find('\0'), std::string::npos);
}
