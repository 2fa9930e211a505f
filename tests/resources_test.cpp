#include "TestSupport.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The program file loaded as data: its resources exactly as shipped.
class ProgramResources : public testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override { FreeLibrary(module); }

    std::string Resource(LPCSTR type, LPCSTR name, WORD language)
    {
        const HRSRC found = FindResourceExA(module, type, name, language);
        if (found == nullptr) {
            return std::string();
        }
        const void* data = LockResource(LoadResource(module, found));
        return std::string(static_cast<const char*>(data), SizeofResource(module, found));
    }

    HMODULE module = nullptr;
};

#pragma pack(push, 2)
struct TIconGroupEntry {
    BYTE width;
    BYTE height;
    BYTE colors;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

struct TIconGroup {
    WORD count = 0;
    TIconGroupEntry entry = {};
};

TIconGroup ParseIconGroup(const std::string& data)
{
    TIconGroup group;
    if (data.size() >= 6 + sizeof(TIconGroupEntry)) {
        std::memcpy(&group.count, data.data() + 4, sizeof(group.count));
        std::memcpy(&group.entry, data.data() + 6, sizeof(group.entry));
    }
    return group;
}

std::string VersionString(const std::string& file, const std::string& name)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
    std::string info(size, '\0');
    if (size == 0 || !GetFileVersionInfoA(file.c_str(), 0, size, &info[0])) {
        return std::string();
    }
    char* value = nullptr;
    UINT length = 0;
    const std::string path = "\\StringFileInfo\\041904E3\\" + name;
    if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || length == 0) {
        return std::string();
    }
    return std::string(value, strnlen(value, length));
}

} // namespace

TEST_F(ProgramResources, MenuIsRussianWithTheTenItemsInOrder)
{
    EXPECT_FALSE(Resource(RT_MENU, MAKEINTRESOURCEA(IDR_TRAYMENU), MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT)).empty());
    const HMENU bar = LoadMenuA(module, MAKEINTRESOURCEA(IDR_TRAYMENU));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(GetMenuItemCount(bar), 1);
    const HMENU popup = GetSubMenu(bar, 0);
    ASSERT_NE(popup, nullptr);
    struct TItem {
        UINT id;
        const char* text; // CP1251 hex; null for a separator
    };
    const TItem items[] = {
        {IDM_CHECK, "CF F0 EE E2 E5 F0 E8 F2 FC 2E 2E 2E"},
        {IDM_LIST, "D1 EF E8 F1 EE EA 20 F0 E0 E7 F0 E5 F8 E5 ED ED FB F5 2E 2E 2E"},
        {0, nullptr},
        {IDM_NOSTART, "CD E5 20 E7 E0 EF F3 F1 EA E0 F2 FC 20 F1 20 57 69 6E 64 6F 77 73"},
        {IDM_START, "C7 E0 EF F3 F1 EA E0 F2 FC 20 F1 20 57 69 6E 64 6F 77 73"},
        {IDM_STARTONCE, "C7 E0 EF F3 F1 EA E0 F2 FC 20 F2 EE EB FC EA EE 20 EF F0 E8 20 E2 EA EB FE F7 E5 ED E8 E8"},
        {0, nullptr},
        {IDM_HELP, "D1 EF F0 E0 E2 EA E0 2E 2E 2E"},
        {0, nullptr},
        {IDM_EXIT, "C2 FB F5 EE E4"},
    };
    ASSERT_EQ(GetMenuItemCount(popup), 10);
    for (int position = 0; position < 10; ++position) {
        const TItem& item = items[position];
        MENUITEMINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID;
        ASSERT_TRUE(GetMenuItemInfoA(popup, static_cast<UINT>(position), TRUE, &info));
        if (item.text == nullptr) {
            EXPECT_NE(info.fType & MFT_SEPARATOR, 0u) << position;
            continue;
        }
        EXPECT_EQ(info.fState & (MFS_CHECKED | MFS_GRAYED | MFS_DEFAULT), 0u) << position;
        EXPECT_EQ(info.wID, item.id) << position;
        EXPECT_EQ(info.fType & MFT_RADIOCHECK, 0u) << position;
        char text[128] = {};
        GetMenuStringA(popup, static_cast<UINT>(position), text, sizeof(text), MF_BYPOSITION);
        EXPECT_EQ(std::string(text), Bytes(item.text)) << position;
    }
    DestroyMenu(bar);
}

TEST_F(ProgramResources, IconGroupsHaveTheirSizesAndColours)
{
    const WORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    const WORD russian = MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);
    std::string main = Resource(RT_GROUP_ICON, "MAINICON", russian);
    std::string tray = Resource(RT_GROUP_ICON, "TRAYICON", russian);
    if (main.empty()) {
        main = Resource(RT_GROUP_ICON, "MAINICON", neutral);
        tray = Resource(RT_GROUP_ICON, "TRAYICON", neutral);
    }
    const TIconGroup mainGroup = ParseIconGroup(main);
    EXPECT_EQ(mainGroup.count, 1);
    EXPECT_EQ(mainGroup.entry.width, 64);
    EXPECT_EQ(mainGroup.entry.height, 64);
    EXPECT_EQ(mainGroup.entry.bitCount, 8);
    const TIconGroup trayGroup = ParseIconGroup(tray);
    EXPECT_EQ(trayGroup.count, 1);
    EXPECT_EQ(trayGroup.entry.width, 32);
    EXPECT_EQ(trayGroup.entry.height, 32);
    EXPECT_EQ(trayGroup.entry.colors, 16);
    EXPECT_EQ(trayGroup.entry.bitCount, 4);
    EXPECT_NE(LoadIconA(module, "TRAYICON"), nullptr);
}

TEST_F(ProgramResources, VersionRecord)
{
    // "Утилита для контроля автозагрузки"
    EXPECT_EQ(VersionString(ProgramPath(), "FileDescription"),
              Bytes("D3 F2 E8 EB E8 F2 E0 20 E4 EB FF 20 EA EE ED F2 F0 EE EB FF 20 E0 E2 F2 EE E7 E0 E3 F0 F3 E7 EA E8"));
    EXPECT_EQ(VersionString(ProgramPath(), "FileVersion"), "1.00");
    EXPECT_EQ(VersionString(ProgramPath(), "InternalName"), "Runwarden");
    EXPECT_EQ(VersionString(ProgramPath(), "OriginalFilename"), "Runwarden.exe");
}

TEST_F(ProgramResources, ManifestAsksForCommonControls6OfThisArchitecture)
{
    std::string manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEA(1), MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
    if (manifest.empty()) {
        manifest = Resource(RT_MANIFEST, MAKEINTRESOURCEA(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    }
    const std::string::size_type controls = manifest.find("name=\"Microsoft.Windows.Common-Controls\"");
    ASSERT_NE(controls, std::string::npos);
    const std::string dependency = manifest.substr(controls, manifest.find("/>", controls) - controls);
    EXPECT_NE(dependency.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(dependency.find("processorArchitecture=\"amd64\""), std::string::npos);
}
