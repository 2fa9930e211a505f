// What an entry starts, found as Windows finds it, against files and keys
// of the test prefix.

#include "ProgramPath.h"
#include "ScopedHandle.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

using namespace std::string_literals;

namespace {

using TFound = std::vector<std::pair<std::string, bool>>;

TFound Found(const std::vector<TProgramFile>& files)
{
    TFound found;
    for (const TProgramFile& file : files) {
        found.push_back({Spell(file.path), file.found});
    }
    return found;
}

HRESULT MakeShortcut(const std::string& path, const std::string& target, const std::string& arguments)
{
    TScopedHandle<TComTraits<IShellLinkW>> link;
    TScopedHandle<TComTraits<IPersistFile>> file;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void**>(link.Receive()));
    result = SUCCEEDED(result) ? link.Get()->SetPath(W(target).c_str()) : result;
    result = SUCCEEDED(result) ? link.Get()->SetArguments(W(arguments).c_str()) : result;
    result = SUCCEEDED(result) ? link.Get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Receive())) : result;
    return SUCCEEDED(result) ? file.Get()->Save(W(path).c_str(), TRUE) : result;
}

} // namespace

TEST(Identity, Paths)
{
    const std::string base = FreshTestFolder(), app = base + "\\My App\\", sys = "C:\\windows\\system32\\";
    ASSERT_EQ(base, "C:\\rwtest\\Identity.Paths");
    CreateDirectoryA((base + "\\My App").c_str(), nullptr);
    CreateDirectoryA((base + "\\P F").c_str(), nullptr);
    for (const std::string& name : {app + "run.exe", app + "run x.exe", app + "go.bat", app + "wscript.exe", app + "job.vbs",
                                    base + "\\P F\\x.dll", base + "\\junk.lnk"}) {
        ASSERT_TRUE(WriteFileBytes(name, "MZ")) << name;
    }
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(MakeShortcut(base + "\\s.lnk", app + "wscript.exe", "//B \"%SystemDrive%\\rwtest\\Identity.Paths\\My App\\job.vbs\""), S_OK);
    CoUninitialize();
    const std::string appPaths = std::string(MACHINE) + "App Paths\\rwtestapp.exe";
    SetKeyValues(HKEY_LOCAL_MACHINE, appPaths, {Sz("", " \"" + app + "run x.exe\"")});

    const struct {
        std::vector<TProgramFile> (*files)(const TWideString&);
        std::string text;
        TFound expected;
    } rows[] = {
        // CreateProcess's order: "...\My.exe", then "...\My App\run.exe", found before "run x.exe".
        {CommandFiles, app + "run x.exe -q", {{app + "run.exe", true}}},
        {CommandFiles, "\"" + app + "run x.exe\" -q", {{app + "run x.exe", true}}},
        {CommandFiles, "notepad", {{sys + "notepad.exe", true}}},
        {CommandFiles, "rwtestapp -z", {{app + "run x.exe", true}}},
        {CommandFiles, "%SystemRoot%\\system32\\cmd.exe", {{sys + "cmd.exe", true}}},
        {CommandFiles, "RunDll32.EXE shell32.dll,Control_RunDLL x", {{sys + "RunDll32.EXE", true}, {sys + "shell32.dll", true}}},
        {CommandFiles, "regsvr32 /s \"" + base + "\\P F\\x.dll\" /i:\"a b\"", {{sys + "regsvr32.exe", true}, {base + "\\P F\\x.dll", true}}},
        {CommandFiles, "cmd /d /c \"\"" + app + "go.bat\" a\" >nul", {{sys + "cmd.exe", true}, {app + "go.bat", true}}},
        {CommandFiles, "powershell -nop -ep Bypass -f x.ps1", {{sys + "WindowsPowershell\\v1.0\\powershell.exe", true}, {"x.ps1", false}}},
        {CommandFiles, "mshta vbscript:Close(Execute(\"x\"))", {{sys + "mshta.exe", true}}},
        // None exists: the candidate that ends in ".exe" is named.
        {CommandFiles, base + "\\No Dir\\gone.exe -a", {{base + "\\No Dir\\gone.exe", false}}},
        {CommandFiles, "..\\notepad x", {{"C:\\windows\\notepad.exe", true}}},
        {CommandFiles, "\"C:\\rwtest\\x y", {{"C:\\rwtest\\x y", false}}},
        {CommandFiles, "notepad.exe. -x", {{sys + "notepad.exe", true}}},
        {CommandFiles, "notepad\0.x"s, {{sys + "notepad.exe", true}}},
        {CommandFiles, "con", {{"con", false}}},
        {CommandFiles, " \t", {}},
        {CommandFiles, "\"\" x", {}},
        {EntryFileFiles, base + "\\s.lnk", {{app + "wscript.exe", true}, {app + "job.vbs", true}}},
        {EntryFileFiles, base + "\\junk.lnk", {{base + "\\junk.lnk", true}}},
        {EntryFileFiles, base + "\\gone.vbs", {{base + "\\gone.vbs", false}}},
        {LibraryFiles, "shell32", {{sys + "shell32.dll", true}}},
        {LibraryFiles, "%SystemRoot%\\nope.dll", {{"C:\\windows\\nope.dll", false}}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Found(row.files(W(row.text))), row.expected) << row.text;
    }
    const TWideString longName(10000, L'a');
    EXPECT_EQ(Found(CommandFiles(longName + L" -x")), (TFound{{Spell(longName), false}}));
    // A share is never touched: its server would be sent the user's credentials.
    const std::vector<TProgramFile> share = CommandFiles(L"\\\\rwnowhere\\share\\x.exe -a");
    EXPECT_TRUE(share.size() == 1 && share[0].remote && !share[0].found && share[0].path == L"\\\\rwnowhere\\share\\x.exe");
    DeleteKey(HKEY_LOCAL_MACHINE, appPaths);
    EXPECT_EQ(Found(CommandFiles(L"rwtestapp")), (TFound{{"rwtestapp", false}}));
}
