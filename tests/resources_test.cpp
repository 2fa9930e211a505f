// The program's manifest and icons as Windows reads them from Runwarden.exe.

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

// As an image resource the file is mapped but never run or bound to its imports.
const HMODULE PROGRAM = LoadLibraryExA(ProgramPath().c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);

// Types by number (RT_MANIFEST 24, RT_GROUP_ICON 14, RT_ICON 3): the RT_
// names are wide in a Unicode build.
std::string Resource(LPCSTR type, LPCSTR name)
{
    // A null module would be this test program, which carries the same resources.
    const HRSRC found = PROGRAM ? FindResourceA(PROGRAM, name, type) : nullptr;
    const auto* data = found ? static_cast<const char*>(LockResource(LoadResource(PROGRAM, found))) : nullptr;
    return data ? std::string(data, SizeofResource(PROGRAM, found)) : std::string();
}

#pragma pack(push, 2)
struct TGroupEntry { // GRPICONDIRENTRY: the .ico directory entry with a resource id for the offset
    BYTE width, height, colours, reserved;
    WORD planes, bpp;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

using TImages = std::vector<std::pair<int, WORD>>; // size, bits per pixel, in the group's order
const struct { const char* name; TImages images; } GROUPS[] = {
    {"MAINICON", {{16, 32}, {20, 32}, {24, 32}, {32, 32}, {40, 32}, {48, 32}, {64, 32}, {256, 32}, {16, 8}, {32, 8}}},
    {"TRAYICON", {{16, 32}, {20, 32}, {24, 32}, {32, 32}, {40, 32}, {48, 32}, {64, 32}, {16, 4}, {32, 4}}},
};

} // namespace

TEST(Resources, ManifestDeclaresDpiAwarenessSupportedWindowsAsInvokerAndCommonControls)
{
    const std::string manifest = Resource(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));
    for (const char* part : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                             "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                             "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a", "level=\"asInvoker\"", "Common-Controls\" version=\"6.0.0.0\""}) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }
    // Read as Windows reads it, each setting found only in its own namespace.
    const std::string path = ProgramPath();
    ACTCTXA source = {sizeof(source), ACTCTX_FLAG_RESOURCE_NAME_VALID, path.c_str()};
    source.lpResourceName = MAKEINTRESOURCEA(1);
    const HANDLE context = CreateActCtxA(&source);
    ASSERT_NE(context, INVALID_HANDLE_VALUE);
    for (const auto& [space, setting, value] : {
             std::make_tuple(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true/pm"),
             std::make_tuple(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness",
                             L"PerMonitorV2, PerMonitor")}) {
        wchar_t read[64] = {};
        QueryActCtxSettingsW(0, context, space, setting, read, 64, nullptr);
        EXPECT_STREQ(read, value);
    }
    ReleaseActCtx(context);
}

TEST(Resources, IconGroupsHoldEverySizeInTrueColourAndOnePaletteImageForOldShells)
{
    for (const auto& [name, expected] : GROUPS) {
        std::string group = Resource(MAKEINTRESOURCEA(14), name);
        ASSERT_GE(group.size(), 6u) << name;
        const auto* entries = reinterpret_cast<const TGroupEntry*>(group.data() + 6);
        TImages images;
        for (WORD i = 0; i < *reinterpret_cast<const WORD*>(group.data() + 4); ++i) {
            const TGroupEntry& entry = entries[i];
            const int size = entry.width ? entry.width : 256; // a byte: 0 stands for 256
            images.emplace_back(size, entry.bpp);
            std::string image = Resource(MAKEINTRESOURCEA(3), MAKEINTRESOURCEA(entry.id));
            ASSERT_EQ(image.size(), entry.bytes) << name << ' ' << size;
            if (size == 256) {
                EXPECT_EQ(image.substr(0, 8), "\x89PNG\r\n\x1a\n") << name;
            } else { // the height counts the colour rows and the mask rows
                const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image.data());
                EXPECT_EQ(std::make_tuple(header->biWidth, header->biHeight, header->biBitCount),
                          std::make_tuple(size, 2 * size, entry.bpp));
            }
            // Windows must be able to decode it, the PNG too.
            const HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(image.data()), entry.bytes, TRUE,
                                                        0x00030000, size, size, LR_DEFAULTCOLOR);
            EXPECT_NE(icon, nullptr) << name << ' ' << size;
            DestroyIcon(icon);
        }
        EXPECT_EQ(images, expected) << name;
    }
}
