// The three checkers and the check run, as decision tables answered by the
// scripted user against the real registry, files and win.ini of the prefix.

#include "AllowedList.h"
#include "CheckINIUnit.h"
#include "CheckRegistryUnit.h"
#include "CheckStartupUnit.h"
#include "MainUnit.h"
#include "TestSupport.h"
#include "ScopedHandle.h"
#include "registry_profile.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

using TSaid = std::vector<std::string>;
using TStep = std::function<void(std::size_t)>;
using TValue = std::optional<std::string>; // nullopt: no such value

const std::string UR = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string ONCE_EX = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";

std::string Section(const std::string& name, const std::string& lines) { return "[" + name + "]\r\n" + lines; }
std::string U(const std::string& lines) { return lines.empty() ? "" : Section(UR, lines); }
std::string New(const std::string& entry) { return "new: " + UR + "\\" + entry; }
std::string Changed(const std::string& entry) { return "changed: " + entry; }
std::string CannotOpen(const std::string& path)
{
    return "warn: Не удалось открыть файл \"" + path + "\" - убедитесь, что у вас есть необходимые права доступа.";
}

class Checkers : public testing::Test {
protected:
    std::string Options() { return ReadFileBytes(state.settingsPath); }
    // One checker's pass; what the user was asked and told, and the settings
    // file that could not be written.
    static TSaid Run(void (*check)(TUser&), const std::string& answers, const TStep& before = nullptr)
    {
        SetRunAborted(false);
        TScriptedUser user(answers, before);
        try {
            check(user);
        } catch (const TINIExcept& e) {
            user.said.push_back("raised: " + e.FileName);
        }
        EXPECT_TRUE(user.AllAnswered());
        return user.said;
    }
    std::string Directory(const char* name)
    {
        const std::string path = state.folder + "\\" + name;
        CreateDirectoryA(path.c_str(), nullptr);
        return path;
    }

    TTestState state;
};

// Windows NT keeps win.ini's [windows] in the registry; the lists are set
// and read there, byte for byte.
void SetList(const char* key, const TValue& value)
{
    TRegKey windows;
    RegCreateKeyA(HKEY_CURRENT_USER, WINDOWS_KEY, windows.Receive());
    if (value) {
        RegSetValueExA(windows.Get(), key, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                       static_cast<DWORD>(value->size() + 1));
    } else {
        RegDeleteValueA(windows.Get(), key);
    }
}

TValue List(const char* key)
{
    for (const TRegValue& value : KeyValues(HKEY_CURRENT_USER, WINDOWS_KEY)) {
        if (lstrcmpiA(value.name.c_str(), key) == 0) {
            return value.data.substr(0, value.data.size() - 1);
        }
    }
    return {};
}

} // namespace

TEST_F(Checkers, RegistryRunKeys)
{
    const std::string own = "C:\\Prog\\Runwarden.exe";
    const std::string blank = "C:\\Program Files\\R\\Runwarden.exe";
    const std::string longer = "C:\\" + std::string(5000, 'L') + ".exe";
    const TRegValue a = Sz("a", "A.exe"), b = Sz("b", "B.exe"), c = Sz("c", "C.exe"), d = Sz("d", "D.exe");
    const auto remove = [](const char* name) { DeleteRegValue(HKEY_CURRENT_USER, USER_RUN, name); };
    struct TRow {
        const char* what;
        std::vector<TRegValue> values; // the user's Run key
        std::string options;
        std::string answers;
        TSaid said;
        std::vector<TRegValue> after;
        std::string optionsAfter;
        std::size_t askedNext;
        TStep during;
        std::string own;
        std::function<void()> setUp;
    } rows[] = {
        {"new, cancelled", {a}, "", "C", {New("a=A.exe")}, {a}, "", 1},
        {"new, added", {Sz("T", "D:\\t.exe /min")}, "", "A", {New("T=D:\\t.exe /min")}, {Sz("T", "D:\\t.exe /min")},
         U("T=D:\\t.exe /min\r\n"), 0},
        {"new, removed", {a, b}, U("a=A.exe\r\n"), "R", {New("b=B.exe")}, {a}, U("a=A.exe\r\n"), 0},
        {"changed, cancelled", {a}, U("a=old.exe\r\n"), "C", {Changed("a=A.exe")}, {a}, U("a=old.exe\r\n"), 1},
        {"changed, corrected", {a}, U("a=old.exe\r\n"), "A", {Changed("a=A.exe")}, {a}, U("a=A.exe\r\n"), 0},
        {"changed, removed", {a}, U("a=old.exe\r\n"), "R", {Changed("a=A.exe")}, {}, "", 0},
        {"command in another case", {Sz("T", "D:\\T.EXE")}, U("t=D:\\t.exe\r\n"), "C", {Changed("T=D:\\T.EXE")},
         {Sz("T", "D:\\T.EXE")}, U("T=D:\\t.exe\r\n"), 1},
        {"own value", {Sz("Runwarden", own)}, "", "", {}, {Sz("Runwarden", own)}, U("Runwarden=" + own + "\r\n"), 0,
         nullptr, own},
        {"own value switched to -once", {Sz("Runwarden", own + " -once")}, U("Runwarden=" + own + "\r\n"), "", {},
         {Sz("Runwarden", own + " -once")}, U("Runwarden=" + own + " -once\r\n"), 0, nullptr, own},
        {"own command under another name", {Sz("x", own)}, "", "C", {New("x=" + own)}, {Sz("x", own)}, "", 1, nullptr,
         own},
        {"own name, another program", {Sz("Runwarden", "C:\\evil.exe")}, U("Runwarden=" + own + "\r\n"), "C",
         {Changed("Runwarden=C:\\evil.exe")}, {Sz("Runwarden", "C:\\evil.exe")}, U("Runwarden=" + own + "\r\n"), 1,
         nullptr, own},
        {"quoted own command, blank in the path", {Sz("Runwarden", "\"" + blank + "\" -once")}, "", "", {},
         {Sz("Runwarden", "\"" + blank + "\" -once")}, U("Runwarden=\"" + blank + "\" -once\r\n"), 0, nullptr, blank},
        {"quoted own command, no blank in the path", {Sz("Runwarden", "\"" + own + "\"")}, "", "C",
         {New("Runwarden=\"" + own + "\"")}, {Sz("Runwarden", "\"" + own + "\"")}, "", 1, nullptr, own},
        {"empty value kept", {Sz("e", "")}, "", "N", {"empty: " + UR + "\\e"}, {Sz("e", "")}, "", 1},
        {"empty value deleted", {Sz("e", "")}, "", "Y", {"empty: " + UR + "\\e"}, {}, "", 0},
        {"unnamed value", {Sz("", "C:\\d.exe")}, "", "A", {New("=C:\\d.exe")}, {Sz("", "C:\\d.exe")},
         U("%=%C:\\d.exe\r\n"), 0},
        {"entries that need encoding",
         {Sz("a=b", "x"), Sz("bang!", "y"), Sz("c", "z -go!"), Sz("q", "\"C:\\P F\\q.exe\""), Sz("l", longer)}, "",
         "AAAAA", {New("a=b=x"), New("bang!=y"), New("c=z -go!"), New("l=" + longer), New("q=\"C:\\P F\\q.exe\"")},
         {Sz("a=b", "x"), Sz("bang!", "y"), Sz("c", "z -go!"), Sz("l", longer), Sz("q", "\"C:\\P F\\q.exe\"")},
         U("%a%3Db=%x\r\n%bang%21=%y\r\n%c=%z -go%21\r\nl=" + longer + "\r\n%q=%%22C:\\P F\\q.exe%22\r\n"), 0},
        {"deletions in a row skip nothing", {a, b, c, d}, "", "RRAR",
         {New("a=A.exe"), New("b=B.exe"), New("c=C.exe"), New("d=D.exe")}, {c}, U("c=C.exe\r\n"), 0},
        {"failed deletion warns and the walk goes on", {a, b}, "", "RA",
         {New("a=A.exe"), "warn: Не удалось удалить ключ: \"" + UR + "\\a\".", New("b=B.exe")}, {b}, U("b=B.exe\r\n"),
         0, [&](std::size_t i) { i == 0 ? remove("a") : void(); }},
        {"value that grows during a question is read whole", {a, b}, "", "AA", {New("a=A.exe"), New("b=" + longer)},
         {a, Sz("b", longer)}, U("a=A.exe\r\nb=" + longer + "\r\n"), 0,
         [&](std::size_t i) { i == 0 ? void(WriteRegString(HKEY_CURRENT_USER, USER_RUN, "b", longer)) : void(); }},
        {"key that shrinks during a question ends the walk", {a, b, c}, "", "A", {New("a=A.exe")}, {a},
         U("a=A.exe\r\n"), 0, [&](std::size_t) { remove("b"), remove("c"); }},
        {"value removed before the index is not asked twice", {a, b, c}, "", "AAA",
         {New("a=A.exe"), New("b=B.exe"), New("c=C.exe")}, {b, c}, U("a=A.exe\r\nb=B.exe\r\nc=C.exe\r\n"), 0,
         [&](std::size_t i) { i == 1 ? remove("a") : void(); }},
        {"exit during a question", {a, b}, U("old=O.exe\r\n"), "X", {New("a=A.exe")}, {a, b}, U("old=O.exe\r\n"), 2},
        {"missing key keeps its section, an empty key loses it", {}, Section(ONCE_EX, "o=O.exe\r\n") + U("g=G.exe\r\n"),
         "", {}, {}, Section(ONCE_EX, "o=O.exe\r\n"), 0, nullptr, "",
         [] { DeleteKey(HKEY_LOCAL_MACHINE, std::string(MACHINE) + "RunOnceEx", KEY_WOW64_64KEY); }},
        {"values of any type; subkeys are no entries", {}, "", "AAAANA",
         {"new: " + ONCE_EX + "\\1=C:\\sz.exe", "new: " + ONCE_EX + "\\2=%windir%\\x.exe", "new: " + ONCE_EX + "\\3=f.exe",
          "new: " + ONCE_EX + "\\4=AB", "empty: " + ONCE_EX + "\\5", "new: " + ONCE_EX + "\\6=AB"},
         {}, Section(ONCE_EX, "1=C:\\sz.exe\r\n2=%windir%\\x.exe\r\n3=f.exe\r\n4=AB\r\n6=AB\r\n"), 1, nullptr, "", [] {
             const std::string key = std::string(MACHINE) + "RunOnceEx";
             SetKeyValues(HKEY_LOCAL_MACHINE, key,
                          {Sz("1", "C:\\sz.exe"), {"2", REG_EXPAND_SZ, std::string("%windir%\\x.exe\0", 15)},
                           {"3", REG_MULTI_SZ, std::string("f.exe\0g.exe\0\0", 13)}, {"4", REG_DWORD, "AB\0\0"},
                           {"5", REG_DWORD, std::string(4, '\0')}, {"6", REG_BINARY, "AB"}});
             SetKeyValues(HKEY_LOCAL_MACHINE, key + "\\0001", {Sz("inner", "C:\\inner.exe")});
         }},
        {"unwritable settings file ends the run at the first key", {a}, "", "A",
         {New("a=A.exe"), "raised: " + state.folder + "\\dir"}, {a}, "", 1, nullptr, "", [&] {
             SetSettingsFilePath(Directory("dir"));
             SetKeyValues(HKEY_LOCAL_MACHINE, std::string(MACHINE) + "Run", {Sz("m", "M.exe")});
         }},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        QuietAutostart(state.folder);
        SetSettingsFilePath(state.settingsPath);
        SetOwnCommands(row.own.empty() ? ModulePath() : row.own);
        SetKeyValues(HKEY_CURRENT_USER, USER_RUN, row.values);
        ASSERT_TRUE(WriteFileBytes(state.settingsPath, row.options));
        if (row.setUp) {
            row.setUp();
        }
        EXPECT_EQ(Run(CheckRegistry, row.answers, row.during), row.said);
        EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), row.after);
        EXPECT_EQ(Options(), row.optionsAfter);
        // The next run asks exactly this many questions (Run checks the count).
        Run(CheckRegistry, std::string(row.askedNext, 'C'));
    }
}

TEST_F(Checkers, StartupFolders)
{
    const std::string user = state.folder + "\\Startup", common = state.folder + "\\Common Startup";
    const std::string S = user + "\\", C = common + "\\";
    const auto us = [&](const std::string& lines) { return Section("HKEY_CURRENT_USER\\Startup", lines); };
    const auto make = [](const std::wstring& path) {
        CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    };
    const auto exists = [&](const wchar_t* name) {
        return GetFileAttributesW((std::wstring(user.begin(), user.end()) + L"\\" + name).c_str())
            != INVALID_FILE_ATTRIBUTES;
    };
    struct TRow {
        const char* what;
        std::vector<std::string> files; // in the user's folder; "name\" is a folder
        std::string options;
        std::string answers;
        TSaid said;
        std::vector<std::string> after;
        std::string optionsAfter;
        std::function<void()> setUp;
        std::function<bool()> holds;
    } rows[] = {
        {"new, added; the name in lower case", {"Tool.LNK"}, "", "A", {"new: " + S + "tool.lnk"}, {"Tool.LNK"},
         us(S + "tool.lnk=1\r\n")},
        {"new, cancelled stays allowed", {"t.lnk"}, "", "C", {"new: " + S + "t.lnk"}, {"t.lnk"}, us(S + "t.lnk=1\r\n")},
        {"new, removed", {"Tool.LNK"}, "", "R", {"new: " + S + "tool.lnk"}, {}, ""},
        {"desktop.ini is no entry in any case", {"Desktop.INI", "desktop.ini.lnk"}, "", "R",
         {"new: " + S + "desktop.ini.lnk"}, {"Desktop.INI"}, ""},
        {"a folder cannot be deleted", {"sub\\"}, "", "R",
         {"new: " + S + "sub", "warn: Не удалось удалить файл: \"" + S + "sub\"."}, {"sub"}, ""},
        {"a read-only file cannot be deleted", {"r.lnk"}, "", "R",
         {"new: " + S + "r.lnk", "warn: Не удалось удалить файл: \"" + S + "r.lnk\"."}, {"r.lnk"}, "",
         [&] { SetFileAttributesA((S + "r.lnk").c_str(), FILE_ATTRIBUTE_READONLY); }},
        {"allowed files pass, vanished ones drop", {"a.lnk"}, us(S + "a.lnk=1\r\n" + S + "gone.lnk=1\r\n"), "", {},
         {"a.lnk"}, us(S + "a.lnk=1\r\n")},
        {"the user's folder first, then the common one", {"u.lnk"}, "", "AR",
         {"new: " + S + "u.lnk", "new: " + C + "c.lnk"}, {"u.lnk"}, us(S + "u.lnk=1\r\n"),
         [&] { WriteFileBytes(C + "c.lnk", ""); }, [&] { return FolderNames(common).empty(); }},
        {"a missing folder loses its section", {}, us(S + "a.lnk=1\r\n"), "", {}, {}, "",
         [&] { SetShellFolder(HKEY_CURRENT_USER, "Startup", S + "missing"); }},
        {"no folder named keeps the section", {}, us(S + "a.lnk=1\r\n"), "", {}, {}, us(S + "a.lnk=1\r\n"),
         [&] { SetShellFolder(HKEY_CURRENT_USER, "Startup", ""); }},
        {"names with ! and =", {"a!b.lnk", "c=d.lnk"}, "", "AA", {"new: " + S + "a!b.lnk", "new: " + S + "c=d.lnk"},
         {"a!b.lnk", "c=d.lnk"}, us("%" + S + "a%21b.lnk=1\r\n%" + S + "c%3Dd.lnk=1\r\n")},
        {"a name the code page lacks is never another file's", {"cafe.lnk"}, us(S + "cafe.lnk=1\r\n"), "R",
         {"new: " + S + "caf?.lnk"}, {"cafe.lnk"}, us(S + "cafe.lnk=1\r\n"), [&] { make(std::wstring(S.begin(), S.end()) + L"caf\x00E9.lnk"); },
         [&] { return !exists(L"caf\x00E9.lnk"); }},
        {"names that list alike keep their own keys", {}, us(S + "?6587.lnk=1\r\n"), "R", {"new: " + S + "?.lnk"}, {"?.lnk"},
         us(S + "?6587.lnk=1\r\n"), [&] {
             make(std::wstring(S.begin(), S.end()) + L"\x4E2D.lnk");
             make(std::wstring(S.begin(), S.end()) + L"\x6587.lnk");
         },
         [&] { return exists(L"\x6587.lnk") && !exists(L"\x4E2D.lnk"); }},
        {"exit during a question", {"a.lnk", "b.lnk"}, us(S + "x.lnk=1\r\n"), "X", {"new: " + S + "a.lnk"},
         {"a.lnk", "b.lnk"}, us(S + "x.lnk=1\r\n")},
        {"unwritable settings file ends the run after the user's folder", {"a.lnk"}, "", "A",
         {"new: " + S + "a.lnk", "raised: " + state.folder + "\\dir"}, {"a.lnk"}, "", [&] {
             SetSettingsFilePath(Directory("dir"));
             WriteFileBytes(C + "c.lnk", "");
         }},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        QuietAutostart(state.folder);
        SetSettingsFilePath(state.settingsPath);
        for (const std::string& file : row.files) {
            file.back() == '\\' ? void(CreateDirectoryA((S + file).c_str(), nullptr))
                                : void(WriteFileBytes(S + file, ""));
        }
        ASSERT_TRUE(WriteFileBytes(state.settingsPath, row.options));
        if (row.setUp) {
            row.setUp();
        }
        EXPECT_EQ(Run(CheckStartup, row.answers), row.said);
        EXPECT_EQ(FolderNames(user), row.after);
        EXPECT_EQ(Options(), row.optionsAfter);
        EXPECT_TRUE(!row.holds || row.holds());
    }
}

TEST_F(Checkers, WinIniLists)
{
    const auto run = [](const std::string& entry) { return "new: win.ini\\[windows]\\run=" + entry; };
    const auto load = [](const std::string& entry) { return "new: win.ini\\[windows]\\load=" + entry; };
    const auto ini = [](const std::string& lines) { return Section("win.ini", lines); };
    std::string longList, longKept;
    for (int i = 0; longList.size() < 5000; ++i) {
        const std::string item = "C:\\Apps\\tool" + std::to_string(1000 + i) + ".exe";
        longList += item + (i == 100 ? ",D:\\intruder.exe," : ",");
        longKept += (longKept.empty() ? "" : ", ") + item;
    }
    struct TRow {
        const char* what;
        TValue run, load;
        std::string options;
        std::string answers;
        TSaid said;
        TValue runAfter, loadAfter;
        std::string optionsAfter;
        std::function<void()> setUp;
    } rows[] = {
        {"the allowed list comes back normalised", "a.exe,b.exe", {}, ini("run=a.exe b.exe\r\n"), "", {},
         "a.exe, b.exe", {}, ini("run=a.exe, b.exe\r\n")},
        {"blanks and empty elements drop", " \ta.exe \t,,\t b.exe  , \t ,", "\xA0\xC0.exe\xA0",
         ini("run=a.exe b.exe\r\nload=\xA0\xC0.exe\xA0\r\n"), "", {}, "a.exe, b.exe", "\xA0\xC0.exe\xA0",
         ini("run=a.exe, b.exe\r\nload=\xA0\xC0.exe\xA0\r\n")},
        {"no comma, one element", "a.exe b.exe", {}, "", "A", {run("a.exe b.exe")}, "a.exe b.exe", {},
         ini("run=a.exe b.exe\r\n")},
        {"every element removed", "x.exe, y.exe", {}, ini("run=old.exe\r\n"), "RR", {run("x.exe"), run("y.exe")}, "",
         {}, ini("run=\r\n")},
        {"an empty list is skipped", "", {}, ini("run=old.exe\r\n"), "", {}, "", {}, ini("run=old.exe\r\n")},
        {"allowed when it occurs in the allowed value, case counts", "AGENT.EXE,d:\\agent.exe,D:\\AGENT.EXE /m", {},
         ini("run=D:\\AGENT.EXE\r\n"), "CR", {run("d:\\agent.exe"), run("D:\\AGENT.EXE /m")},
         "AGENT.EXE, d:\\agent.exe", {}, ini("run=AGENT.EXE, d:\\agent.exe\r\n")},
        {"run is stored before load is read", "r.exe", "l.exe", "", "AR", {run("r.exe"), load("l.exe")}, "r.exe", "",
         ini("run=r.exe\r\nload=\r\n")},
        {"sections named after the keys are left alone", "a.exe", "b.exe",
         "[run]\r\nhand=1\r\n[win.ini]\r\nrun=a.exe\r\nload=b.exe\r\n", "", {}, "a.exe", "b.exe",
         "[run]\r\nhand=1\r\n[win.ini]\r\nrun=a.exe\r\nload=b.exe\r\n"},
        {"a long list is read and written whole", longList, {}, ini("run=" + longKept + "\r\n"), "R",
         {run("D:\\intruder.exe")}, longKept, {}, ini("run=" + longKept + "\r\n")},
        {"exit during a question", "x.exe,y.exe", "z.exe", ini("run=old.exe\r\n"), "X", {run("x.exe")}, "x.exe,y.exe",
         "z.exe", ini("run=old.exe\r\n")},
        {"unwritable settings file: win.ini written, load not read", "a.exe,x.exe", "b.exe", "", "AC",
         {run("a.exe"), run("x.exe"), "raised: " + state.folder + "\\dir"}, "a.exe, x.exe", "b.exe", "",
         [&] { SetSettingsFilePath(Directory("dir")); }},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        QuietAutostart(state.folder);
        SetSettingsFilePath(state.settingsPath);
        SetList("run", row.run);
        SetList("load", row.load);
        ASSERT_TRUE(WriteFileBytes(state.settingsPath, row.options));
        if (row.setUp) {
            row.setUp();
        }
        EXPECT_EQ(Run(CheckINI, row.answers), row.said);
        EXPECT_EQ(List("run"), row.runAfter);
        EXPECT_EQ(List("load"), row.loadAfter);
        EXPECT_EQ(Options(), row.optionsAfter);
    }
    QuietAutostart(state.folder);
}

TEST_F(Checkers, CheckRunEndsWithTheCompletionUnlessSilentOrFailed)
{
    const std::string done = "info: Проверка завершена";
    // Literals are compiled to code page 1251, as the program's are.
    EXPECT_EQ("\xCF\xF0\xEE\xE2\xE5\xF0\xEA\xE0 \xE7\xE0\xE2\xE5\xF0\xF8\xE5\xED\xE0", done.substr(6));
    TScriptedUser user;
    RunCheck(user, false);
    EXPECT_EQ(user.said, TSaid{done});
    // A run started while a question is open does nothing at all.
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe")});
    TScriptedUser inner;
    TScriptedUser outer("C", [&](std::size_t) { RunCheck(inner, false); });
    RunCheck(outer, false);
    EXPECT_EQ(outer.said, (TSaid{New("a=A.exe"), done}));
    EXPECT_TRUE(inner.said.empty());
    SetSettingsFilePath(Directory("dir"));
    TScriptedUser failed("C");
    RunCheck(failed, false);
    EXPECT_EQ(failed.said, (TSaid{New("a=A.exe"), CannotOpen(state.folder + "\\dir")}));
}
