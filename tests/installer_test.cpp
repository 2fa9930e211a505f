// The downloads: the 64-bit installer run silently in the test prefix, the
// program it installed, its uninstaller; the 32-bit installer is looked at
// only, since this machine cannot run 32-bit code.

#include "MainUnit.h"
#include "TestSupport.h"
#include "MainState.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>

namespace {

constexpr DWORD SETUP_MS = 60000;
const std::string UNINSTALL = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Runwarden";

std::string Installer(const char* arch)
{
    std::string path = std::string("Z:" RUNWARDEN_DIST "/Runwarden-1.0-") + arch + "-setup.exe";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string ShellFolder(int csidl)
{
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

} // namespace

TEST(Downloads, InstallOverARunningProgramAndUninstall)
{
    const std::string folder = FreshTestFolder();
    QuietAutostart(folder);
    const std::string dir = ShellFolder(CSIDL_LOCAL_APPDATA) + "\\Programs\\Runwarden", exe = dir + "\\Runwarden.exe";
    const std::string blank = folder + "\\P F\\Runwarden";
    const struct {
        std::string arguments, dir;
        std::vector<TRegValue> run;
    } rows[] = {
        {"/S /NOSTART", dir, {}},
        {"/S /D=" + blank, blank, {Sz("Runwarden", "\"" + blank + "\\Runwarden.exe\"")}},
        {"/S", dir, {Sz("Runwarden", exe)}},
    };
    for (const auto& row : rows) {
        SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {});
        EXPECT_EQ(TProcess(Installer("x64"), row.arguments).Wait(SETUP_MS), 0u) << row.arguments;
        EXPECT_EQ(FolderNames(row.dir), (std::vector<std::string>{"Runwarden.chm", "Runwarden.exe", "readme.txt", "uninstall.exe"}));
        EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), row.run);
        // What the program started from there takes for "start with Windows".
        SetOwnCommands(W(row.dir + "\\Runwarden.exe"));
        EXPECT_TRUE(row.run.empty() || Spell(StartupCommand(false)) + '\0' == row.run[0].data);
    }
    EXPECT_EQ(ReadFileBytes(ShellFolder(CSIDL_PROGRAMS) + "\\Runwarden.lnk").substr(0, 4), std::string("L\0\0\0", 4));
    std::vector<std::string> entry;
    for (const TRegValue& value : KeyValues(HKEY_CURRENT_USER, UNINSTALL)) {
        entry.push_back(value.name + "=" + (value.type == REG_SZ ? value.data.c_str() : value.data.size() == 4 ? "dword" : "?"));
    }
    EXPECT_EQ(entry, (std::vector<std::string>{"DisplayIcon=" + exe, "DisplayName=Runwarden", "DisplayVersion=1.0",
                                               "EstimatedSize=dword", "InstallLocation=" + dir, "NoModify=dword", "NoRepair=dword",
                                               "QuietUninstallString=\"" + dir + "\\uninstall.exe\" /S",
                                               "UninstallString=\"" + dir + "\\uninstall.exe\""}));

    // A second install ends the running program first.
    TProcess first(exe, "");
    ASSERT_NE(first.MainWindow(SETUP_MS), nullptr);
    EXPECT_EQ(TProcess(Installer("x64"), "/S").Wait(SETUP_MS), 0u);
    EXPECT_EQ(first.Wait(0), 0u);

    // The uninstaller ends the program and takes away all but the settings
    // and the history of decisions.
    TProcess second(exe, "");
    ASSERT_NE(second.MainWindow(SETUP_MS), nullptr);
    TProcess(dir + "\\uninstall.exe", "/S").Wait(SETUP_MS);
    EXPECT_TRUE(WaitFor(SETUP_MS, [&] { return GetFileAttributesA(dir.c_str()) == INVALID_FILE_ATTRIBUTES; }));
    EXPECT_EQ(second.Wait(SETUP_MS), 0u);
    EXPECT_TRUE(KeyValues(HKEY_CURRENT_USER, USER_RUN).empty());
    // The uninstaller takes its key away after the folder, as its last step.
    EXPECT_TRUE(WaitFor(SETUP_MS, [] { return KeyValues(HKEY_CURRENT_USER, UNINSTALL).empty(); }));
    // (The history is there when the program's first check took its baselines.)
    const std::vector<std::string> kept = FolderNames(folder + "\\Runwarden");
    EXPECT_TRUE(kept == std::vector<std::string>{"options.ini"} || kept == (std::vector<std::string>{"history.log", "options.ini"}))
        << testing::PrintToString(kept);
    TProcess(blank + "\\uninstall.exe", "/S").Wait(SETUP_MS);
    EXPECT_TRUE(WaitFor(SETUP_MS, [&] { return GetFileAttributesA(blank.c_str()) == INVALID_FILE_ATTRIBUTES; }));

    // The 32-bit installer's stub is a 32-bit program (machine i386).
    const std::string x86 = ReadFileBytes(Installer("x86"));
    ASSERT_GT(x86.size(), 0x200u);
    const std::size_t pe = static_cast<unsigned char>(x86[0x3C]) | static_cast<unsigned char>(x86[0x3D]) << 8;
    EXPECT_EQ(x86.substr(pe, 6), std::string("PE\0\0\x4C\x01", 6));
}
