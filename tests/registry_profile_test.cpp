#include "TestSupport.h"
#include "registry_profile.h"

#include <gtest/gtest.h>

namespace {

constexpr char KEY[] = "Software\\RunwardenTest\\Access";

class RegistryAccess : public testing::Test {
protected:
    void SetUp() override { SetKeyValues(HKEY_CURRENT_USER, KEY, {}); }
    void TearDown() override { DeleteKey(HKEY_CURRENT_USER, "Software\\RunwardenTest"); }
};

class ProfileAccess : public testing::Test {
protected:
    void SetUp() override { file = FreshTestFolder() + "\\p.ini"; }
    std::string file;
};

} // namespace

TEST(TestBench, AnsiCodePageIsCyrillic)
{
    EXPECT_EQ(GetACP(), 1251u);
    // The literals of the program are converted to the same code page.
    EXPECT_EQ(std::string("Выход"), Bytes("C2 FB F5 EE E4"));
}

TEST_F(RegistryAccess, WriteThenReadGivesTheTextBackAsRegSz)
{
    const std::string text = "D:\\Tools\\tool.exe /min \xC0\xE1\xE2";
    EXPECT_TRUE(WriteRegString(HKEY_CURRENT_USER, KEY, "Tool", text));
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, KEY, "Tool"), text);
    EXPECT_TRUE(WriteRegString(HKEY_CURRENT_USER, KEY, "Empty", ""));
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, KEY, "Empty"), "");
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, KEY),
              (std::vector<TRegValue>{Sz("Empty", ""), Sz("Tool", text)}));
}

TEST_F(RegistryAccess, WriteNeverCreatesTheKey)
{
    EXPECT_FALSE(WriteRegString(HKEY_CURRENT_USER, "Software\\RunwardenTest\\Missing", "a", "b"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\RunwardenTest\\Missing"));
}

TEST_F(RegistryAccess, ReadOfMissingOrTerminatorOnlyValuesIsEmpty)
{
    SetKeyValues(HKEY_CURRENT_USER, KEY, {{"Zero", REG_SZ, std::string(1, '\0')}, {"NoData", REG_BINARY, ""}});
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, KEY, "Zero"), "");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, KEY, "NoData"), "");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, KEY, "Missing"), "");
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, "Software\\RunwardenTest\\Missing", "x"), "");
}

TEST_F(RegistryAccess, ReadKeepsInnerZeroBytesAndIgnoresTheType)
{
    SetKeyValues(HKEY_CURRENT_USER, KEY,
                 {{"Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)}, {"Dword", REG_DWORD, Bytes("41 42 43 00")}});
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, KEY, "Multi"), std::string("a\0b\0", 4));
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, KEY, "Dword"), "ABC");
}

TEST_F(RegistryAccess, DeleteRemovesNamedAndUnnamedValues)
{
    SetKeyValues(HKEY_CURRENT_USER, KEY, {Sz("", "default"), Sz("a", "1"), Sz("b", "2")});
    EXPECT_TRUE(DeleteRegValue(HKEY_CURRENT_USER, KEY, ""));
    EXPECT_TRUE(DeleteRegValue(HKEY_CURRENT_USER, KEY, "a"));
    EXPECT_FALSE(DeleteRegValue(HKEY_CURRENT_USER, KEY, "a"));
    EXPECT_FALSE(DeleteRegValue(HKEY_CURRENT_USER, "Software\\RunwardenTest\\Missing", "a"));
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, KEY), (std::vector<TRegValue>{Sz("b", "2")}));
}

TEST_F(RegistryAccess, EmptyPathReopensAnOpenKeyForWriting)
{
    SetKeyValues(HKEY_CURRENT_USER, KEY, {Sz("a", "1")});
    HKEY open = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, KEY, 0, KEY_READ, &open), ERROR_SUCCESS);
    EXPECT_EQ(ReadRegString(open, "", "a"), "1");
    EXPECT_TRUE(WriteRegString(open, "", "b", "2"));
    EXPECT_TRUE(DeleteRegValue(open, "", "a"));
    RegCloseKey(open);
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, KEY), (std::vector<TRegValue>{Sz("b", "2")}));
}

TEST_F(ProfileAccess, MissingFileSectionOrKeyReadsAsDefault)
{
    EXPECT_EQ(ReadINIString(file, "s", "k", ""), "");
    EXPECT_EQ(ReadINIString(file, "s", "k", "dflt"), "dflt");
    ASSERT_TRUE(WriteINIString(file, "s", "other", "1"));
    EXPECT_EQ(ReadINIString(file, "s", "k", ""), "");
    EXPECT_EQ(ReadINIString(file, "t", "other", ""), "");
}

TEST_F(ProfileAccess, EmptyValueKeepsTheKeyLine)
{
    ASSERT_TRUE(WriteINIString(file, "s", "k", ""));
    EXPECT_EQ(ReadFileBytes(file), "[s]\r\nk=\r\n");
    EXPECT_EQ(ReadINIString(file, "s", "k", "dflt"), "");
}

TEST_F(ProfileAccess, EmptyKeyAndSectionNamesAreNamesNotLists)
{
    ASSERT_TRUE(WriteINIString(file, "s", "a", "1"));
    ASSERT_TRUE(WriteINIString(file, "s", "b", "2"));
    // A null key would list "a" and "b"; the empty name is a key of its own.
    EXPECT_EQ(ReadINIString(file, "s", "", ""), "");
    ASSERT_TRUE(WriteINIString(file, "s", "", "x"));
    EXPECT_EQ(ReadINIString(file, "s", "", ""), "x");
    EXPECT_EQ(ReadINIString(file, "", "a", ""), "");
}

TEST_F(ProfileAccess, EraseRemovesTheWholeSectionOnly)
{
    ASSERT_TRUE(WriteINIString(file, "keep", "k", "1"));
    ASSERT_TRUE(WriteINIString(file, "gone", "a", "1"));
    ASSERT_TRUE(WriteINIString(file, "gone", "b", "2"));
    EXPECT_TRUE(EraseINISection(file, "GONE"));
    EXPECT_EQ(ReadINIString(file, "gone", "a", ""), "");
    EXPECT_EQ(ReadFileBytes(file), "[keep]\r\nk=1\r\n");
}

TEST_F(ProfileAccess, LongValuesAreReadWhole)
{
    for (const std::size_t length : {2047u, 2048u, 5000u, 20000u}) {
        std::string value;
        for (std::size_t i = 0; i < length; ++i) {
            value += static_cast<char>('a' + i % 26);
        }
        ASSERT_TRUE(WriteINIString(file, "s", "k", value));
        const std::string read = ReadINIString(file, "s", "k", "");
        EXPECT_EQ(read.size(), length);
        EXPECT_TRUE(read == value) << length;
    }
}

TEST_F(ProfileAccess, WritesFailWhereTheFileCannotBeWritten)
{
    const std::string folder = FreshTestFolder();
    const std::string missing = folder + "\\no such folder\\p.ini";
    EXPECT_FALSE(WriteINIString(missing, "s", "k", "v"));
    EXPECT_FALSE(DirectoryExists(folder + "\\no such folder"));
    // A directory where the file should be.
    ASSERT_TRUE(CreateDirectoryA((folder + "\\dir.ini").c_str(), nullptr));
    EXPECT_FALSE(WriteINIString(folder + "\\dir.ini", "s", "k", "v"));
    EXPECT_FALSE(EraseINISection(folder + "\\dir.ini", "s"));
}

TEST_F(ProfileAccess, SectionWriteAndReadInOneCall)
{
    ASSERT_TRUE(WriteINIString(file, "s", "old", "1"));
    ASSERT_TRUE(WriteINISection(file, "s", std::string("a=1\0b=x=y\0", 10)));
    EXPECT_EQ(ReadINISection(file, "s"), std::string("a=1\0b=x=y\0", 10));
    EXPECT_EQ(ReadINISection(file, "none"), "");
}
