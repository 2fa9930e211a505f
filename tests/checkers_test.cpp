// The three checkers and the check run, as decision tables answered by the
// scripted user against the real registry, files and win.ini of the prefix.

#include "AllowedList.h"
#include "AutorunRows.h"
#include "Decide.h"
#include "CheckINIUnit.h"
#include "CheckRegistryUnit.h"
#include "CheckServicesUnit.h"
#include "CheckStartupUnit.h"
#include "CheckTasksUnit.h"
#include "MainUnit.h"
#include "Restore.h"
#include "ScopedHandle.h"
#include "TestSupport.h"
#include "registry_profile.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <optional>

namespace {

using TSaid = std::vector<std::string>;
using TStep = std::function<void(std::size_t)>;
using TValue = std::optional<std::string>; // nullopt: no such value

const std::string UR = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string ONCE_EX = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";

std::string Section(const std::string& name, const std::string& lines) { return "[" + name + "]\r\n" + lines; }
std::string U(const std::string& lines) { return Section(UR, lines); }
std::string New(const std::string& entry) { return "new: " + UR + "\\" + entry; }
std::string Changed(const std::string& entry) { return "changed: " + entry; }
void Switches(HKEY root, const char* key, const std::vector<TRegValue>& values) { SetKeyValues(root, std::string(APPROVED) + "\\" + key, values); }

class Checkers : public testing::Test {
protected:
    // One checker's pass: what the user was asked and told, and the settings
    // file that could not be written.
    static TSaid Run(void (*check)(TUser&), const std::string& answers, const TStep& before = nullptr)
    {
        SetRunAborted(false);
        // As a check run starts: the list read afresh.
        AllowedListMayHaveChanged();
        TScriptedUser user(answers, before);
        try {
            check(user);
        } catch (const TINIExcept& e) {
            user.said.push_back("raised: " + Spell(e.FileName));
        }
        EXPECT_TRUE(user.AllAnswered());
        starts = user.starts;
        recorded = user.recorded;
        return user.said;
    }
    // What the entries of the last pass start, question by question, and what it decided.
    static std::vector<std::string> starts;
    static std::vector<std::string> recorded;
    // Each row starts quiet, with these settings, and ends with them checked.
    void Start(const std::string& options)
    {
        QuietAutostart(state.folder);
        RemoveTree(state.folder + "\\Removed");
        SetSettingsFilePath(W(state.settingsPath));
        ASSERT_TRUE(WriteFileBytes(state.settingsPath, options));
    }
    std::string Options() { return WithoutBaselines(ReadFileBytes(state.settingsPath)); }
    // The settings file made unwritable: read-only, as its owner may make it.
    std::string Unwritable()
    {
        SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
        WriteFileBytes(dir, ReadFileBytes(state.settingsPath));
        SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_READONLY);
        SetSettingsFilePath(W(dir));
        return dir;
    }

    TTestState state;
    std::string dir = state.folder + "\\read-only.ini";
};
std::vector<std::string> Checkers::starts;
std::vector<std::string> Checkers::recorded;

// Windows NT keeps win.ini's [windows] in the registry; the lists are set
// and read there, byte for byte.
void SetList(const char* key, const TValue& value)
{
    const TWideString text = value ? W(*value) : TWideString();
    if (value) {
        RegSetKeyValueW(HKEY_CURRENT_USER, W(WINDOWS_KEY).c_str(), W(key).c_str(), REG_SZ, text.c_str(),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    } else {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, W(WINDOWS_KEY).c_str(), W(key).c_str());
    }
}

// removed.reg with the time of its one record blanked; "!" when there is none.
std::string Record(const std::string& folder)
{
    std::string reg = ReadUtf16File(folder + "\\Removed\\removed.reg");
    return reg.size() > 61 ? reg.replace(42, 19, "T") : reg;
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
    const std::string own = "C:\\Prog\\Runwarden.exe", blank = "\"C:\\P F\\Runwarden.exe\"", big(5000, 'L');
    // A long field is shown shortened in the middle: its first 96 and last 63 characters.
    const std::string shownBig = std::string(96, 'L') + "\x85" + std::string(63, 'L');
    const TRegValue a = Sz("a", "A.exe"), b = Sz("b", "B.exe"), c = Sz("c", "C.exe"), d = Sz("d", "D.exe");
    const auto remove = [](std::size_t at, const char* name) {
        return [=](std::size_t i) { i == at ? void(DeleteRegValue(HKEY_CURRENT_USER, W(USER_RUN), W(name))) : void(); };
    };
    const std::string ex = std::string(MACHINE) + "RunOnceEx", run = std::string(MACHINE) + "Run";
    const std::vector<TRegValue> seven = {a, Sz("b", "x"), Sz("c", "x"), Sz("d", "x"), Sz("e", "x"), Sz("f", "x"), Sz("g", "x")};
    const auto anyType = [ex] {
        SetKeyValues(HKEY_LOCAL_MACHINE, ex,
                     {Sz("1", "C:\\s.exe"), {"2", REG_EXPAND_SZ, std::string("%w%\\x\0", 7)}, {"3", REG_MULTI_SZ, std::string("f\0g\0\0", 5)},
                      {"4", REG_DWORD, "AB\0\0"}, {"5", REG_DWORD, std::string(4, '\0')}, {"6", REG_BINARY, "AB"},
                      {"7", REG_NONE, std::string("\0\1\2", 3)}, {"8", REG_EXPAND_SZ, std::string(2, '\0')}});
        SetKeyValues(HKEY_LOCAL_MACHINE, ex + "\\0001", {Sz("Line1", "||C:\\evil.exe"), Sz("Line2", "C:\\ok.exe")});
        SetKeyValues(HKEY_LOCAL_MACHINE, ex + "\\0002", {Sz("gone", "C:\\g.exe")});
        SetKeyValues(HKEY_LOCAL_MACHINE, ex + "\\a\r\nb", {Sz("x", "X.exe")});
    };
    // A machine value the user may not remove; its name is hard to quote.
    const std::string mr = std::string(MACHINE) + "Run", odd = "say \"hi\"\\", M = "HKEY_LOCAL_MACHINE\\" + mr + "\\" + odd;
    const auto denied = [&] { SetKeyValues(HKEY_LOCAL_MACHINE, mr, {Sz(odd, "M.exe")}), DenySetValue(HKEY_LOCAL_MACHINE, mr, true); };
    const auto allow = [&](const char* command) {
        return [=](std::size_t i) { i == 1 ? DenySetValue(HKEY_LOCAL_MACHINE, mr, false), void(command && WriteRegString(HKEY_LOCAL_MACHINE, W(mr), W(odd), W(command))) : void(); };
    };
    const auto machine = [&](const std::vector<TRegValue>& values, const std::string& record) {
        return [=] { return DenySetValue(HKEY_LOCAL_MACHINE, mr, false), KeyValues(HKEY_LOCAL_MACHINE, mr) == values && Record(state.folder) == record; };
    };
    const TSaid offer = {"new: " + M + "=M.exe", "admin: " + M}, cannot = {offer[0], offer[1], "warn: Не удалось удалить ключ: \"" + M + "\"."};
    const std::string removed = "Windows Registry Editor Version 5.00\r\n\r\n; T\r\n[HKEY_LOCAL_MACHINE\\" + mr + "]\r\n\"say \\\"hi\\\"\\\\\"=\"M.exe\"\r\n";
    struct TRow {
        const char* what;
        std::vector<TRegValue> values; // the user's Run key
        std::string options, answers;
        TSaid said;
        std::vector<TRegValue> after;
        std::string optionsAfter;
        std::size_t askedNext; // questions the next run asks
        TStep during;
        std::string own;
        std::function<void()> setUp;
        std::function<bool()> holds;
    } rows[] = {
        {"new, cancelled", {a}, "", "C", {New("a=A.exe")}, {a}, "", 1},
        {"new, added", {Sz("T", "D:\\t.exe /m")}, "", "A", {New("T=D:\\t.exe /m")}, {Sz("T", "D:\\t.exe /m")}, U("T=D:\\t.exe /m\r\n"), 0},
        {"new, removed", {a, b}, U("a=A.exe\r\n"), "R", {New("b=B.exe")}, {a}, U("a=A.exe\r\n"), 0},
        {"changed, cancelled", {a}, U("a=old.exe\r\n"), "C", {Changed("a=A.exe")}, {a}, U("a=old.exe\r\n"), 1},
        {"changed, corrected", {a}, U("a=old.exe\r\n"), "A", {Changed("a=A.exe")}, {a}, U("a=A.exe\r\n"), 0},
        {"changed, removed", {a}, U("a=old.exe\r\n"), "R", {Changed("a=A.exe")}, {}, "", 0},
        {"command in another case", {Sz("T", "D:\\T.EXE")}, U("t=D:\\t.exe\r\n"), "C", {Changed("T=D:\\T.EXE")}, {Sz("T", "D:\\T.EXE")},
         U("T=D:\\t.exe\r\n"), 1},
        {"own value", {Sz("Runwarden", own)}, "", "", {}, {Sz("Runwarden", own)}, U("Runwarden=" + own + "\r\n"), 0, nullptr, own},
        {"own value switched to -once", {Sz("Runwarden", own + " -once")}, U("Runwarden=" + own + "\r\n"), "", {},
         {Sz("Runwarden", own + " -once")}, U("Runwarden=" + own + " -once\r\n"), 0, nullptr, own},
        {"own command, another name", {Sz("x", own)}, "", "C", {New("x=" + own)}, {Sz("x", own)}, "", 1, nullptr, own},
        {"own name, another program", {Sz("Runwarden", "C:\\evil.exe")}, U("Runwarden=" + own + "\r\n"), "C",
         {Changed("Runwarden=C:\\evil.exe")}, {Sz("Runwarden", "C:\\evil.exe")}, U("Runwarden=" + own + "\r\n"), 1, nullptr, own},
        {"quoted own command, blank in the path", {Sz("Runwarden", blank + " -once")}, "", "", {}, {Sz("Runwarden", blank + " -once")},
         U("Runwarden=" + blank + " -once\r\n"), 0, nullptr, "C:\\P F\\Runwarden.exe"},
        {"quoted own command, no blank", {Sz("Runwarden", "\"" + own + "\"")}, "", "C", {New("Runwarden=\"" + own + "\"")},
         {Sz("Runwarden", "\"" + own + "\"")}, "", 1, nullptr, own},
        {"empty value kept", {Sz("e", "")}, "", "N", {"empty: " + UR + "\\e"}, {Sz("e", "")}, "", 1},
        {"empty value deleted", {Sz("e", "")}, "", "Y", {"empty: " + UR + "\\e"}, {}, "", 0},
        {"unnamed value", {Sz("", "C:\\d.exe")}, "", "A", {New("=C:\\d.exe")}, {Sz("", "C:\\d.exe")}, U("%=%C:\\d.exe\r\n"), 0},
        {"entries that need encoding", {Sz("a=b", "x"), Sz("bang!", "y"), Sz("c", "z -go!"), Sz("l", big), Sz("q", "\"C:\\q\"")}, "", "AAAAA",
         {New("a=b=x"), New("bang!=y"), New("c=z -go!"), New("l=" + shownBig), New("q=\"C:\\q\"")},
         {Sz("a=b", "x"), Sz("bang!", "y"), Sz("c", "z -go!"), Sz("l", big), Sz("q", "\"C:\\q\"")},
         U("%a%3Db=%x\r\n%bang%21=%y\r\n%c=%z -go%21\r\nl=" + big + "\r\n%q=%%22C:\\q%22\r\n"), 0},
        {"deletions in a row skip nothing", {a, b, c, d}, "", "RRAR", {New("a=A.exe"), New("b=B.exe"), New("c=C.exe"), New("d=D.exe")}, {c},
         U("c=C.exe\r\n"), 0},
        {"failed deletion warns, the walk goes on", {a, b}, "", "RA",
         {New("a=A.exe"), "warn: Не удалось удалить ключ: \"" + UR + "\\a\".", New("b=B.exe")}, {b}, U("b=B.exe\r\n"), 0, remove(0, "a")},
        {"value that grows during a question is read whole", {a, b}, "", "AA", {New("a=A.exe"), New("b=" + shownBig)}, {a, Sz("b", big)},
         U("a=A.exe\r\nb=" + big + "\r\n"), 0, [&](std::size_t) { WriteRegString(HKEY_CURRENT_USER, W(USER_RUN), L"b", W(big)); }},
        {"key that shrinks during a question ends the walk", {a, b, c}, "", "A", {New("a=A.exe")}, {a}, U("a=A.exe\r\n"), 0,
         [&](std::size_t i) { remove(0, "b")(i), remove(0, "c")(i); }},
        {"value removed before the index is not asked twice", {a, b, c}, "", "AAA", {New("a=A.exe"), New("b=B.exe"), New("c=C.exe")},
         {b, c}, U("a=A.exe\r\nb=B.exe\r\nc=C.exe\r\n"), 0, remove(1, "a")},
        {"exit during a question", {a, b}, U("o=O.exe\r\n"), "X", {New("a=A.exe")}, {a, b}, U("o=O.exe\r\n"), 2},
        {"missing key keeps its section, an empty key loses it", {}, Section(ONCE_EX, "o=O.exe\r\n") + U("g=G.exe\r\n"), "", {}, {},
         Section(ONCE_EX, "o=O.exe\r\n"), 0, nullptr, "",
         [] { DeleteKey(HKEY_LOCAL_MACHINE, std::string(MACHINE) + "RunOnceEx", KEY_WOW64_64KEY); }},
        {"values of any type, then those of the subkeys; only an empty text is empty", {},
         Section(ONCE_EX + "\\0002", "gone=C:\\g.exe\r\nvanished=C:\\v.exe\r\n"), "AAAAAACNRRAA",
         {"new: " + ONCE_EX + "\\1=C:\\s.exe", "new: " + ONCE_EX + "\\2=%w%\\x", "new: " + ONCE_EX + "\\3=f\xAB" "00\xBBg", "new: " + ONCE_EX + "\\4=AB",
          "new: " + ONCE_EX + "\\5=", "new: " + ONCE_EX + "\\6=AB", "new: " + ONCE_EX + "\\7=", "empty: " + ONCE_EX + "\\8",
          "new: " + ONCE_EX + "\\0001\\Line1=||C:\\evil.exe", "new: " + ONCE_EX + "\\0001\\Line2=C:\\ok.exe",
          "new: " + ONCE_EX + "\\0002\\gone2=C:\\g2.exe", "new: " + ONCE_EX + "\\a\xAB" "0D\xBB\xAB" "0A\xBB" "b\\x=X.exe"},
         {}, Section(ONCE_EX, "1=C:\\s.exe\r\n2=%w%\\x\r\n%3=%f%00g\r\n4=AB\r\n5=\r\n6=AB\r\n")
             + Section(ONCE_EX + "\\0002", "gone=C:\\g.exe\r\ngone2=C:\\g2.exe\r\n") + Section(ONCE_EX + "\\%a%0D%0Ab", "x=X.exe\r\n"),
         2, nullptr, "", [&] {
             anyType();
             SetKeyValues(HKEY_LOCAL_MACHINE, ex + "\\0002", {Sz("gone", "C:\\g.exe"), Sz("gone2", "C:\\g2.exe")});
         },
         // Removed values leave their subkey in place.
         [&] {
             TRegKey emptied;
             return RegOpenKeyExA(HKEY_LOCAL_MACHINE, (ex + "\\0001").c_str(), 0, KEY_READ, emptied.Receive()) == ERROR_SUCCESS
                 && KeyValues(HKEY_LOCAL_MACHINE, ex + "\\0001").empty();
         }},
        {"names 1251 lacks: each asked with its exact characters", {Sz("{97F3}{4E50}", "C:\\{97F3}{4E50}\\play.exe"),
         Sz("{6728}{9A6C}", "C:\\{6728}{9A6C}\\play.exe")}, "", "RA",
         {New("{6728}{9A6C}=C:\\{6728}{9A6C}\\play.exe"), New("{97F3}{4E50}=C:\\{97F3}{4E50}\\play.exe")},
         {Sz("{97F3}{4E50}", "C:\\{97F3}{4E50}\\play.exe")}, U("%%u97F3%u4E50=%C:\\%u97F3%u4E50\\play.exe\r\n"), 0},
        {"look-alikes are other entries", {Sz("Legit", "C:\\good.exe"), Sz("L{00E9}git", "C:\\evil.exe")}, U("Legit=C:\\good.exe\r\n"),
         "R", {New("L{00E9}git=C:\\evil.exe")}, {Sz("Legit", "C:\\good.exe")}, U("Legit=C:\\good.exe\r\n"), 0},
        // Names are counted: a NUL hides the rest from Win32's calls, not from the check.
        {"a name with a NUL is its own entry", {Sz("Updater", "C:\\good.exe"), Sz(std::string("Updater\0x", 9), "C:\\evil.exe")},
         U("Updater=C:\\good.exe\r\n"), "R", {New("Updater\xAB" "00\xBBx=C:\\evil.exe")}, {Sz("Updater", "C:\\good.exe")},
         U("Updater=C:\\good.exe\r\n"), 0, nullptr, "", nullptr, [&] {
             return Record(state.folder).find("; name, hex: 55,00,70,00,64,00,61,00,74,00,65,00,72,00,00,00,78,00\r\n") != std::string::npos;
         }},
        {"names that differ in one letter 1251 lacks", {Sz("T{00E4}", "a"), Sz("T{00E9}", "b"), Sz("T{00FC}", "c"), Sz("T{0131}", "d"),
         Sz("T{03BF}", "e"), Sz("T{FF43}", "f")}, "", "RRRRRR",
         {New("T{00E4}=a"), New("T{00E9}=b"), New("T{00FC}=c"), New("T{0131}=d"), New("T{03BF}=e"), New("T{FF43}=f")}, {}, "", 0},
        {"an entry in Cyrillic listed by an earlier version passes", {Sz("\xD1\xF2\xE0\xF0\xFB\xE9", "C:\\\xF1\xF2\xE0\xF0\xFB\xE9.exe")},
         U("\xD1\xF2\xE0\xF0\xFB\xE9=C:\\\xF1\xF2\xE0\xF0\xFB\xE9.exe\r\n"), "", {}, {Sz("\xD1\xF2\xE0\xF0\xFB\xE9", "C:\\\xF1\xF2\xE0\xF0\xFB\xE9.exe")},
         U("\xD1\xF2\xE0\xF0\xFB\xE9=C:\\\xF1\xF2\xE0\xF0\xFB\xE9.exe\r\n"), 0},
        {"only the off form switches off", seven, "", "CCCCCC", {New("b=x"), New("c=x"), New("d=x"), New("e=x"), New("f=x"), New("g=x")}, seven, "", 6,
         nullptr, "", [] { Switches(HKEY_CURRENT_USER, "Run", {Bin("a", SWITCH_OFF), Bin("b", SWITCH_ON), Bin("c", "\x06" + SWITCH_ON.substr(1)),
         Bin("d", "\x03\x11\x22\x33"), Bin("e", "\x02" + SWITCH_OFF.substr(1)), Bin("f", "\x03" + SWITCH_ON.substr(1)), Bin("g", SWITCH_OFF, REG_NONE)}); }},
        {"switched off, listed entries stay listed as they were", {a, b}, U("a=A.exe\r\nb=old.exe\r\n"), "", {}, {a, b},
         U("a=A.exe\r\nb=old.exe\r\n"), 0, nullptr, "", [] { Switches(HKEY_CURRENT_USER, "Run", {Bin("a", SWITCH_OFF), Bin("b", SWITCH_OFF)}); }},
        {"each view and root has its own switches", {a}, "", "CCC", {New("a=A.exe"), "new: HKEY_LOCAL_MACHINE\\" + run + "\\c=C.exe",
         "new: HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run\\b=B.exe"}, {a}, "", 3, nullptr, "", [&] {
             SetKeyValues(HKEY_LOCAL_MACHINE, run, {b, c}), SetKeyValues(HKEY_LOCAL_MACHINE, run, {b, c}, KEY_WOW64_32KEY);
             Switches(HKEY_LOCAL_MACHINE, "Run", {Bin("a", SWITCH_OFF), Bin("b", SWITCH_OFF)});
             Switches(HKEY_LOCAL_MACHINE, "Run32", {Bin("c", SWITCH_OFF)}); }},
        {"unwritable settings file ends the checker at the first key", {a}, "", "A", {New("a=A.exe"), "raised: " + dir}, {a}, "", 2,
         nullptr, "", [&] {
             Unwritable();
             SetKeyValues(HKEY_LOCAL_MACHINE, std::string(MACHINE) + "Run", {Sz("m", "M.exe")});
         }},
        {"machine value, removed as administrator", {}, "", "RY", offer, {}, "", 0, allow(nullptr), ProgramPath(), denied, machine({}, removed)},
        {"machine value changed before the administrator came", {}, "", "RY", {offer[0], offer[1], "warn: Запись \"" + M + "\" изменилась, пока вы отвечали, поэтому она не удалена."},
         {}, "", 1, allow("M2.exe"), ProgramPath(), denied, machine({Sz(odd, "M2.exe")}, "!")},
        {"machine value, not as administrator", {}, "", "RN", cannot, {}, "", 1, nullptr, ProgramPath(), denied, machine({Sz(odd, "M.exe")}, "!")},
        {"machine value the administrator may not remove either", {}, "", "RY", cannot, {}, "", 1, nullptr, ProgramPath(), denied,
         machine({Sz(odd, "M.exe")}, "!")},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        Start(row.options);
        SetOwnCommands(row.own.empty() ? ModulePath() : W(row.own));
        SetKeyValues(HKEY_CURRENT_USER, USER_RUN, row.values);
        row.setUp ? row.setUp() : void();
        EXPECT_EQ(Run(CheckRegistry, row.answers, row.during), row.said);
        EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), row.after);
        EXPECT_EQ(Options(), row.optionsAfter);
        EXPECT_TRUE(!row.holds || row.holds());
        Run(CheckRegistry, std::string(row.askedNext, 'C'));
    }
}

TEST_F(Checkers, EveryDecisionIsToldForTheHistory)
{
    const TRegValue a = Sz("a", "A.exe");
    const std::string failed = "failed " + UR + "|a|A.exe|Не удалось удалить ключ: \"" + UR + "\\a\".";
    const struct {
        std::string options, answers;
        std::string recorded; // first: the places Windows fills take their (empty) baselines after it
        TStep during;
    } rows[] = {
        {"", "C", "kept " + UR + "|a|A.exe|"},
        {"", "A", "added " + UR + "|a|A.exe|"},
        {"", "R", "removed " + UR + "|a|A.exe|removed.reg:0"},
        {U("a=old.exe\r\n"), "C", "kept " + UR + "|a|A.exe|"},
        {U("a=old.exe\r\n"), "A", "corrected " + UR + "|a|A.exe|"},
        {"", "R", failed, [](std::size_t) { DeleteRegValue(HKEY_CURRENT_USER, W(USER_RUN), L"a"); }},
    };
    for (const auto& row : rows) {
        Start(row.options);
        SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {a});
        Run(CheckRegistry, row.answers, row.during);
        EXPECT_EQ(recorded.empty() ? "" : recorded[0], row.recorded) << row.answers;
    }
    // An empty value deleted, or kept.
    for (const auto& [answer, recordedAs] : {std::make_pair("Y", "removed "), std::make_pair("N", "kept ")}) {
        Start("");
        SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("e", "")});
        Run(CheckRegistry, answer);
        EXPECT_EQ(recorded.empty() ? "" : recorded[0], recordedAs + UR + (answer[0] == 'Y' ? "|e||removed.reg:0" : "|e||"));
    }
    // A removal names where its record starts in removed.reg.
    Start("");
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {a, Sz("b", "B.exe")});
    Run(CheckRegistry, "RR");
    ASSERT_GE(recorded.size(), 2u);
    const std::size_t at = std::stoul(recorded[1].substr(recorded[1].rfind(':') + 1));
    const std::string reg = ReadFileBytes(state.folder + "\\Removed\\removed.reg");
    ASSERT_GT(at, 0u);
    EXPECT_EQ(Spell(TWideString(reinterpret_cast<const wchar_t*>(reg.data() + at), 3)), "\r\n;");
}

// The list as an editor, a scanner or an indexer holds it (read, shared
// for reading and writing, not for deleting) is written in place once the
// save has waited for it, and no temporary file is left. Apart from the
// table above: the wait is the same under every code page.
TEST_F(Checkers, AListAnotherProgramHoldsOpenIsWrittenInPlace)
{
    const std::string setup = Section("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Active Setup\\Installed Components", "")
        + Section("HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Active Setup\\Installed Components", "");
    Start(setup);
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe")});
    const TFileHandle held(CreateFileA(state.settingsPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.Valid());
    EXPECT_EQ(Run(CheckRegistry, "A"), TSaid{New("a=A.exe")});
    std::string bytes(4096, '\0');
    DWORD read = 0;
    WIN32_FIND_DATAA found;
    EXPECT_TRUE(ReadFile(held.Get(), &bytes[0], 4096, &read, nullptr));
    EXPECT_EQ(bytes.substr(0, read), setup + U("a=A.exe\r\n"));
    EXPECT_EQ(ReadFileBytes(state.settingsPath), setup + U("a=A.exe\r\n"));
    EXPECT_FALSE(TFindHandle(FindFirstFileA((state.settingsPath + ".rw*").c_str(), &found)).Valid());
}

TEST_F(Checkers, EveryKindOfPlace)
{
    const std::string nt = "Software\\Microsoft\\Windows NT\\CurrentVersion\\", HKLM = "HKEY_LOCAL_MACHINE\\", HKCU = "HKEY_CURRENT_USER\\";
    const std::string policy = std::string(MACHINE) + "Policies\\Explorer\\Run", winlogon = nt + "Winlogon", ifeo = nt + "Image File Execution Options\\sethc.exe";
    const std::string session = "System\\CurrentControlSet\\Control\\Session Manager", cmd = "Software\\Microsoft\\Command Processor";
    const std::string userinit = "C:\\windows\\system32\\userinit.exe,";
    // Windows' folder as the environment says, which a user may set in HKCU\Environment.
    wchar_t systemRoot[MAX_PATH] = {};
    GetEnvironmentVariableW(L"SystemRoot", systemRoot, MAX_PATH);
    const auto elsewhere = [&] { SetEnvironmentVariableW(L"SystemRoot", W(state.folder).c_str()); };
    const TRegValue autocheck = {"BootExecute", REG_MULTI_SZ, std::string("autocheck autochk *\0\0", 21)},
                    another = {"BootExecute", REG_MULTI_SZ, std::string("autocheck autochk *\0evil\0\0", 26)};
    // One value set, the key's others left as they are.
    const auto set = [](HKEY root, const std::string& key, const TRegValue& value, REGSAM view = 0) {
        TRegKey opened;
        RegCreateKeyExW(root, W(key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, opened.Receive(), nullptr);
        const TWideString text = W(value.data);
        EXPECT_TRUE(WriteRegValue(opened.Get(), W(value.name), {value.type, std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2)}));
    };
    const auto is = [](HKEY root, const std::string& key, const std::vector<TRegValue>& values, REGSAM view = 0) {
        return [=] { return KeyValues(root, key, view) == values; };
    };
    const auto has = [](HKEY root, const std::string& key, const TRegValue& value) {
        return [=] { const auto all = KeyValues(root, key); return std::find(all.begin(), all.end(), value) != all.end(); };
    };
    struct TRow {
        const char* what;
        std::function<void()> setUp;
        std::string answers;
        TSaid said;
        std::function<bool()> holds;
        std::string optionsAfter;
        std::vector<std::string> starts; // checked where given
    } rows[] = {
        {"Run by policy: one key for both views", [&] { set(HKEY_CURRENT_USER, policy, Sz("u", "U.exe")), set(HKEY_LOCAL_MACHINE, policy, Sz("p", "P.exe"), KEY_WOW64_32KEY); },
         "AR", {"new: " + HKCU + policy + "\\u=U.exe", "new: " + HKLM + policy + "\\p=P.exe"}, is(HKEY_LOCAL_MACHINE, policy, {}),
         Section(HKCU + policy, "u=U.exe\r\n")},
        {"Windows' own shell is no entry", [&] { set(HKEY_LOCAL_MACHINE, winlogon, Sz("Shell", "Explorer.exe")), set(HKEY_LOCAL_MACHINE, winlogon, Sz("Userinit", "%SystemRoot%\\system32\\USERINIT.exe")); },
         "", {}, nullptr, ""},
        {"Userinit with another program", [&] { set(HKEY_LOCAL_MACHINE, winlogon, Sz("Userinit", userinit + "C:\\x\\u.exe")), set(HKEY_LOCAL_MACHINE, winlogon, Sz("Taskman", "T.exe")); },
         "RA", {"new: " + HKLM + winlogon + "\\Userinit=" + userinit + "C:\\x\\u.exe", "new: " + HKLM + winlogon + "\\Taskman=T.exe"},
         has(HKEY_LOCAL_MACHINE, winlogon, Sz("Userinit", userinit)), Section(HKLM + winlogon, "Taskman=T.exe\r\n"),
         {"C:C:\\windows\\system32\\userinit.exe | C:C:\\x\\u.exe", "C:T.exe"}},
        {"Windows' own Userinit whatever the environment's SystemRoot", [&] { elsewhere(), set(HKEY_LOCAL_MACHINE, winlogon, Sz("Userinit", userinit)); }, "", {}, nullptr, ""},
        {"Userinit set back to the system's folder whatever the environment's SystemRoot", [&] { elsewhere(), set(HKEY_LOCAL_MACHINE, winlogon, Sz("Userinit", userinit + "C:\\x\\u.exe")); },
         "R", {"new: " + HKLM + winlogon + "\\Userinit=" + userinit + "C:\\x\\u.exe"}, has(HKEY_LOCAL_MACHINE, winlogon, Sz("Userinit", userinit)), ""},
        {"a debugger: only the value goes", [&] { SetKeyValues(HKEY_LOCAL_MACHINE, ifeo, {Sz("Debugger", "C:\\x\\cmd.exe"), {"GlobalFlag", REG_DWORD, std::string("\2\0\0\0", 4)}}); },
         "R", {"new: " + HKLM + ifeo + "\\Debugger=C:\\x\\cmd.exe"}, is(HKEY_LOCAL_MACHINE, ifeo, {{"GlobalFlag", REG_DWORD, std::string("\2\0\0\0", 4)}}), "",
         {"C:C:\\x\\cmd.exe"}},
        {"the logon script, not the other variables", [&] { set(HKEY_CURRENT_USER, "Environment", Sz("UserInitMprLogonScript", "C:\\x\\s.cmd")), set(HKEY_CURRENT_USER, "Environment", Sz("TEMP", "C:\\t")); },
         "R", {"new: " + HKCU + "Environment\\UserInitMprLogonScript=C:\\x\\s.cmd"}, has(HKEY_CURRENT_USER, "Environment", Sz("TEMP", "C:\\t")), ""},
        {"cmd's AutoRun in each copy", [&] { set(HKEY_CURRENT_USER, cmd, Sz("AutoRun", "C:\\x\\a.cmd")), set(HKEY_LOCAL_MACHINE, cmd, Sz("AutoRun", "C:\\x\\b.cmd"), KEY_WOW64_32KEY),
                                               set(HKEY_CURRENT_USER, cmd, Sz("CompletionChar", "9")); },
         "AR", {"new: " + HKCU + cmd + "\\AutoRun=C:\\x\\a.cmd", "new: " + HKLM + "Software\\Wow6432Node\\Microsoft\\Command Processor\\AutoRun=C:\\x\\b.cmd"},
         is(HKEY_LOCAL_MACHINE, cmd, {}, KEY_WOW64_32KEY), Section(HKCU + cmd, "AutoRun=C:\\x\\a.cmd\r\n")},
        {"AppInit DLLs empty, then not", [&] { set(HKEY_LOCAL_MACHINE, nt + "Windows", Sz("AppInit_DLLs", "")), set(HKEY_LOCAL_MACHINE, nt + "Windows", Sz("AppInit_DLLs", "C:\\x\\h.dll, g.dll"), KEY_WOW64_32KEY); },
         "R", {"new: " + HKLM + "Software\\Wow6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Windows\\AppInit_DLLs=C:\\x\\h.dll, g.dll"},
         is(HKEY_LOCAL_MACHINE, nt + "Windows", {Sz("AppInit_DLLs", "")}, KEY_WOW64_32KEY), "", {"L:C:\\x\\h.dll | L:g.dll"}},
        {"BootExecute at Windows' value", [&] { set(HKEY_LOCAL_MACHINE, session, autocheck); }, "", {}, nullptr, ""},
        {"BootExecute with another line is set back", [&] { set(HKEY_LOCAL_MACHINE, session, another); }, "R",
         {"new: " + HKLM + session + "\\BootExecute=autocheck autochk *\xAB" "00\xBB" "evil"}, has(HKEY_LOCAL_MACHINE, session, autocheck), "",
         {"C:autochk * | C:evil"}},
        {"a shell beside Windows' is set back (last: its record is imported below)", [&] { set(HKEY_LOCAL_MACHINE, winlogon, Sz("Shell", "explorer.exe, C:\\x\\evil.exe")); }, "R",
         {"new: " + HKLM + winlogon + "\\Shell=explorer.exe, C:\\x\\evil.exe"}, has(HKEY_LOCAL_MACHINE, winlogon, Sz("Shell", "explorer.exe")), ""},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        Start("");
        row.setUp();
        EXPECT_EQ(Run(CheckRegistry, row.answers), row.said);
        EXPECT_TRUE(row.starts.empty() || starts == row.starts);
        EXPECT_TRUE(!row.holds || row.holds());
        EXPECT_EQ(Options(), row.optionsAfter);
        // Decided: the next check asks nothing.
        EXPECT_EQ(Run(CheckRegistry, ""), TSaid{});
        SetEnvironmentVariableW(L"SystemRoot", systemRoot);
    }
    // Where the user's rights cannot set the machine's shell back, the
    // administrator does.
    Start("");
    SetOwnCommands(W(ProgramPath()));
    set(HKEY_LOCAL_MACHINE, winlogon, Sz("Shell", "explorer.exe, C:\\x\\evil.exe"));
    DenySetValue(HKEY_LOCAL_MACHINE, winlogon, true);
    EXPECT_EQ(Run(CheckRegistry, "RY", [&](std::size_t i) { i == 1 ? DenySetValue(HKEY_LOCAL_MACHINE, winlogon, false) : void(); }),
              (TSaid{"new: " + HKLM + winlogon + "\\Shell=explorer.exe, C:\\x\\evil.exe", "admin: " + HKLM + winlogon + "\\Shell"}));
    EXPECT_TRUE(has(HKEY_LOCAL_MACHINE, winlogon, Sz("Shell", "explorer.exe"))());
    SetOwnCommands(ModulePath());
    // What was set back comes back from the record.
    TProcess regedit("C:\\windows\\regedit.exe", "/s \"" + state.folder + "\\Removed\\removed.reg\"");
    EXPECT_EQ(regedit.Wait(20000), 0u);
    EXPECT_TRUE(has(HKEY_LOCAL_MACHINE, winlogon, Sz("Shell", "explorer.exe, C:\\x\\evil.exe"))());
    QuietAutostart(state.folder);
}

TEST_F(Checkers, PlacesWindowsFillsStartFromABaseline)
{
    const std::string services = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services", key = "System\\CurrentControlSet\\Services\\";
    const std::string setup = "Software\\Microsoft\\Active Setup\\Installed Components", component = setup + "\\{rw-component}";
    const auto start = [&](const char* name) {
        TRegKey opened;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, (key + name).c_str(), 0, KEY_READ, opened.Receive());
        DWORD value = 0, size = sizeof(value);
        return RegQueryValueExA(opened.Get(), "Start", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS ? value : 99;
    };
    // The first check takes the prefix's five automatic services as they
    // are, asks nothing, says so once; the sections are there, if empty,
    // the one of a key that is missing too.
    DeleteKey(HKEY_LOCAL_MACHINE, setup, KEY_WOW64_32KEY);
    TScriptedUser first;
    RunCheck(first, true);
    EXPECT_EQ(first.said, TSaid{});
    EXPECT_EQ(std::count(first.recorded.begin(), first.recorded.end(), "baseline " + services + "|||5"), 1);
    EXPECT_EQ(first.balloons, std::vector<std::string>{"Записано как есть: 5 служб. О новых и измененных будет задан вопрос."});
    const std::string options = ReadFileBytes(state.settingsPath);
    for (const char* service : {"Eventlog=", "MountMgr=", "NDIS=", "nsiproxy=", "PlugPlay=C:\\windows\\system32\\plugplay.exe\r\n"}) {
        EXPECT_NE(options.find("\r\n" + services + "\\" + service), std::string::npos) << service;
    }
    EXPECT_NE(options.find("[HKEY_LOCAL_MACHINE\\" + setup + "]\r\n"), std::string::npos) << options;
    EXPECT_NE(options.find("[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Active Setup\\Installed Components]\r\n"),
              std::string::npos) << options;
    TScriptedUser second;
    RunCheck(second, true);
    EXPECT_EQ(second.said, TSaid{});
    EXPECT_EQ(second.balloons, std::vector<std::string>{});
    // Then new and changed entries are asked about; "remove" disables.
    // The record puts back every value of the key as it was, whatever the
    // manager wrote when it disabled the service.
    MakeService("rwauto", SERVICE_AUTO_START, "C:\\x\\auto.exe");
    MakeService("rwdemand", SERVICE_DEMAND_START, "C:\\x\\demand.exe");
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, (key + "rwauto").c_str(), "ImagePath", REG_EXPAND_SZ, "C:\\x\\auto.exe", 14);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, (key + "rwauto").c_str(), "Description", REG_SZ, "d", 2);
    const std::vector<TRegValue> before = KeyValues(HKEY_LOCAL_MACHINE, key + "rwauto");
    EXPECT_EQ(Run(CheckServices, "R"), (TSaid{"new: " + services + "\\rwauto=C:\\x\\auto.exe"}));
    EXPECT_EQ(start("rwauto"), 4u);
    TProcess(std::string("C:\\windows\\regedit.exe"), "/s \"" + state.folder + "\\Removed\\removed.reg\"").Wait(20000);
    EXPECT_EQ(KeyValues(HKEY_LOCAL_MACHINE, key + "rwauto"), before);
    EXPECT_EQ(Run(CheckServices, "A"), (TSaid{"new: " + services + "\\rwauto=C:\\x\\auto.exe"}));
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, (key + "rwauto").c_str(), "ImagePath", REG_EXPAND_SZ, "C:\\x\\other.exe", 16);
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, (key + "rwauto\\Parameters").c_str(), "ServiceDll", REG_EXPAND_SZ, "C:\\x\\s.dll", 11);
    EXPECT_EQ(Run(CheckServices, "A"), (TSaid{"changed: " + services + "\\rwauto=C:\\x\\other.exe; ServiceDll=C:\\x\\s.dll"}));
    EXPECT_EQ(starts, std::vector<std::string>{"C:C:\\x\\other.exe | L:C:\\x\\s.dll"});
    EXPECT_EQ(Run(CheckServices, ""), TSaid{});
    // Start and Type as the manager reads them: any four bytes are a
    // number, a value of another size is asked about; a driver without an
    // image path shows where Windows loads it from.
    const auto dword = [](DWORD n) { return std::string(reinterpret_cast<const char*>(&n), 4); };
    SetKeyValues(HKEY_LOCAL_MACHINE, key + "rwbin1", {Sz("ImagePath", "C:\\x\\b1.exe"), Bin("Start", dword(2)), Bin("Type", dword(16), REG_DWORD)});
    SetKeyValues(HKEY_LOCAL_MACHINE, key + "rwbin2", {Sz("ImagePath", "C:\\x\\b2.exe"), Bin("Start", dword(2), REG_DWORD), Bin("Type", dword(16))});
    SetKeyValues(HKEY_LOCAL_MACHINE, key + "rwbin3", {Sz("ImagePath", "C:\\x\\b3.exe"), Bin("Start", "\x02"), Bin("Type", dword(16), REG_DWORD)});
    SetKeyValues(HKEY_LOCAL_MACHINE, key + "rwbin4", {Sz("ImagePath", "C:\\x\\b4.exe"), Bin("Start", dword(3)), Bin("Type", dword(16))});
    SetKeyValues(HKEY_LOCAL_MACHINE, key + "rwdriver", {Bin("Start", dword(1), REG_DWORD), Bin("Type", dword(1), REG_DWORD)});
    EXPECT_EQ(Run(CheckServices, "AAAA"), (TSaid{"new: " + services + "\\rwbin1=C:\\x\\b1.exe", "new: " + services + "\\rwbin2=C:\\x\\b2.exe",
                                                "new: " + services + "\\rwbin3=C:\\x\\b3.exe", "new: " + services + "\\rwdriver=System32\\drivers\\rwdriver.sys"}));
    EXPECT_EQ(starts.back(), "L:C:\\windows\\System32\\drivers\\rwdriver.sys");
    for (const char* name : {"rwbin1", "rwbin2", "rwbin3", "rwbin4", "rwdriver"}) {
        DeleteKey(HKEY_LOCAL_MACHINE, key + name);
    }
    DeleteService("rwauto"), DeleteService("rwdemand");
    // A component's StubPath after the baseline: asked, removed (the
    // component stays), put back by its record.
    SetKeyValues(HKEY_LOCAL_MACHINE, component, {Sz("StubPath", "C:\\x\\stub.exe"), Sz("Version", "1")});
    RemoveTree(state.folder + "\\Removed");
    EXPECT_EQ(Run(CheckRegistry, "R"), (TSaid{"new: HKEY_LOCAL_MACHINE\\" + component + "\\StubPath=C:\\x\\stub.exe"}));
    EXPECT_EQ(KeyValues(HKEY_LOCAL_MACHINE, component), std::vector<TRegValue>{Sz("Version", "1")});
    TProcess(std::string("C:\\windows\\regedit.exe"), "/s \"" + state.folder + "\\Removed\\removed.reg\"").Wait(20000);
    EXPECT_EQ(Run(CheckRegistry, "A"), (TSaid{"new: HKEY_LOCAL_MACHINE\\" + component + "\\StubPath=C:\\x\\stub.exe"}));
    EXPECT_NE(ReadFileBytes(state.settingsPath).find("[HKEY_LOCAL_MACHINE\\" + setup + "]\r\nHKEY_LOCAL_MACHINE\\" + component + "=C:\\x\\stub.exe\r\n"),
              std::string::npos);
    DeleteKey(HKEY_LOCAL_MACHINE, component);
    // A component where the key was missing at the first check is new.
    SetKeyValues(HKEY_LOCAL_MACHINE, component, {Sz("StubPath", "C:\\x\\stub32.exe")}, KEY_WOW64_32KEY);
    EXPECT_EQ(Run(CheckRegistry, "A"), (TSaid{"new: HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Active Setup\\Installed "
                                              "Components\\{rw-component}\\StubPath=C:\\x\\stub32.exe"}));
    DeleteKey(HKEY_LOCAL_MACHINE, setup, KEY_WOW64_32KEY);
}

TEST_F(Checkers, ScheduledTasks)
{
    const std::string logon = "<LogonTrigger/>", boot = "<BootTrigger><Enabled>true</Enabled></BootTrigger>";
    const std::string often = "<TimeTrigger><StartBoundary>2026-01-01T00:00:00</StartBoundary><Repetition><Interval>PT15M</Interval></Repetition></TimeTrigger>";
    const auto exec = [](const std::string& command, const std::string& more = "") { return "<Exec><Command>" + command + "</Command>" + more + "</Exec>"; };
    const std::string two = exec("C:\\x\\up.exe", "<Arguments>/q</Arguments>") + exec("C:\\x\\two.exe", "<WorkingDirectory>C:\\x</WorkingDirectory>");
    const std::string ask = "new: Task Scheduler\\Vendor\\Updater=C:\\x\\up.exe /q; C:\\x\\two.exe (папка C:\\x) (запуск: при входе в систему; в заданное время, затем каждые 15 мин)";
    const std::string copy = state.folder + "\\Removed\\_Vendor_Updater.xml";
    // The first check takes the one entry there is: no COM handler, no
    // disabled task, no file that is no definition.
    WriteTask("\\Base", TaskXml(logon, exec("C:\\x\\base.exe")));
    WriteTask("\\Off", TaskXml(logon, exec("C:\\x\\off.exe"), "<Enabled>false</Enabled>"));
    WriteTask("\\Com", TaskXml(logon, "<ComHandler><ClassId>{0F87369F-A4E5-4CFC-BD3E-73E6154572DD}</ClassId></ComHandler>"));
    WriteTask("\\Broken", "<Task><Actions><Exec><Command>C:\\x\\bad.exe</Command></Exec></Task>");
    EXPECT_EQ(Run(CheckTasks, ""), TSaid{});
    EXPECT_EQ(Spell(TakeBaselineMessage()), "Записано как есть: 1 задание. О новых и измененных будет задан вопрос.");
    EXPECT_EQ(ReadFileBytes(state.settingsPath), "[Task Scheduler]\r\n\\Base=C:\\x\\base.exe\r\n");
    // New tasks: in a folder, hidden, in UTF-8, two programs, asked in the order of their paths.
    WriteTask("\\Vendor\\Updater", TaskXml(logon + often, two, "<Hidden>true</Hidden>"), false);
    WriteTask("\\Boot", TaskXml(boot, exec("C:\\x\\boot.exe")));
    EXPECT_EQ(Run(CheckTasks, "AR"), (TSaid{"new: Task Scheduler\\Boot=C:\\x\\boot.exe (запуск: при запуске Windows)", ask}));
    EXPECT_EQ(starts, (std::vector<std::string>{"C:C:\\x\\boot.exe", "C:C:\\x\\up.exe /q | C:C:\\x\\two.exe"}));
    // Removed: its definition kept as Windows exports one, the task gone.
    EXPECT_EQ(ReadUtf16File(copy), TaskXml(logon + often, two, "<Hidden>true</Hidden>"));
    EXPECT_EQ(GetFileAttributesA((std::string(TASK_STORE) + "\\Vendor\\Updater").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(Run(CheckTasks, ""), TSaid{});
    // Put back, it is the same task again.
    EXPECT_TRUE(CopyFileA(copy.c_str(), (std::string(TASK_STORE) + "\\Vendor\\Updater").c_str(), TRUE));
    EXPECT_EQ(Run(CheckTasks, "A"), TSaid{ask});
    // A name the list must encode; a command with a line feed and 10,000 more characters, shown
    // visibly and shortened in the middle, and kept whole.
    const std::string hidden = std::string(TASK_STORE) + "\\a=b;%c";
    WriteTask("\\a=b;%c", TaskXml(logon, exec("C:\\x\\long.exe\n" + std::string(10000, 'x'))));
    EXPECT_EQ(Run(CheckTasks, "A"), (TSaid{"new: Task Scheduler\\a=b;%c=C:\\x\\long.exe«0A»" + std::string(79, 'x') + "…"
                                           + std::string(63, 'x') + " (запуск: при входе в систему)"}));
    EXPECT_EQ(Run(CheckTasks, ""), TSaid{});
    DeleteFileA(hidden.c_str());
    // In UTF-16 big-endian with its mark, in windows-1251, with a Documentation 40 deep: read, and removed, kept
    // as Windows exports a task. 300 deep, or with a DTD (which the scheduler refuses): no definition.
    const std::string cyrillic = TaskXml(logon, exec("C:\\Программы\\пуск.exe")), plain = TaskXml(logon, exec("C:\\x\\t.exe"));
    std::string bytes = "\xFE\xFF" + Utf16Bytes(W(plain)), deep;
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
        std::swap(bytes[i], bytes[i + 1]);
    }
    for (std::size_t levels = 1; levels <= 300; ++levels) {
        deep.insert(3 * levels - 3, "<a></a>");
        if (levels == 40 || levels == 300) {
            WriteTask("\\Enc\\Doc" + std::to_string(levels), std::string(plain).insert(plain.find("  <Triggers>"),
                                                                  "<RegistrationInfo><Documentation>" + deep + "</Documentation></RegistrationInfo>"));
        }
    }
    WriteFileBytes(std::string(TASK_STORE) + "\\Enc\\Be", bytes);
    WriteFileBytes(std::string(TASK_STORE) + "\\Enc\\Cyr", std::string(cyrillic).replace(cyrillic.find("UTF-16"), 6, "windows-1251"));
    WriteTask("\\Enc\\Dtd", std::string(plain).insert(plain.find("<Task"), "<!DOCTYPE Task>\r\n"));
    EXPECT_EQ(Run(CheckTasks, "RRA"), (TSaid{"new: Task Scheduler\\Enc\\Be=C:\\x\\t.exe (запуск: при входе в систему)",
                                             "new: Task Scheduler\\Enc\\Cyr=C:\\Программы\\пуск.exe (запуск: при входе в систему)",
                                             "new: Task Scheduler\\Enc\\Doc40=C:\\x\\t.exe (запуск: при входе в систему)"}));
    EXPECT_EQ(ReadUtf16File(state.folder + "\\Removed\\_Enc_Be.xml"), plain);
    EXPECT_EQ(ReadUtf16File(state.folder + "\\Removed\\_Enc_Cyr.xml"), cyrillic);
    RemoveTree(std::string(TASK_STORE) + "\\Enc");
    // An action written inside the documentation runs nothing: only the task's own actions are shown.
    TWideString shown;
    EXPECT_TRUE(IsTaskEntry(std::string(plain).insert(plain.find("  <Triggers>"), "<RegistrationInfo><Documentation><Actions><Exec>"
                                                          "<Command>C:\\x\\fake.exe</Command></Exec></Actions></Documentation></RegistrationInfo>"),
                            shown));
    EXPECT_EQ(Spell(shown), "C:\\x\\t.exe (запуск: при входе в систему)");
    // A new trigger is no change, a new command is; switched off, it is no
    // entry; switched on again, it is new.
    WriteTask("\\Boot", TaskXml(logon, exec("C:\\x\\boot.exe")));
    EXPECT_EQ(Run(CheckTasks, ""), TSaid{});
    WriteTask("\\Boot", TaskXml(boot, exec("C:\\x\\evil.exe")));
    EXPECT_EQ(Run(CheckTasks, "A"), (TSaid{"changed: Task Scheduler\\Boot=C:\\x\\evil.exe (запуск: при запуске Windows)"}));
    WriteTask("\\Boot", TaskXml(boot, exec("C:\\x\\evil.exe"), "<Enabled>false</Enabled>"));
    EXPECT_EQ(Run(CheckTasks, ""), TSaid{});
    WriteTask("\\Boot", TaskXml(boot, exec("C:\\x\\evil.exe")));
    EXPECT_EQ(Run(CheckTasks, "A"), (TSaid{"new: Task Scheduler\\Boot=C:\\x\\evil.exe (запуск: при запуске Windows)"}));
    EXPECT_EQ(ReadFileBytes(state.settingsPath),
              "[Task Scheduler]\r\n\\Base=C:\\x\\base.exe\r\n\\Boot=C:\\x\\evil.exe\r\n"
              "\\Vendor\\Updater=C:\\x\\up.exe /q; C:\\x\\two.exe (папка C:\\x)\r\n");
    // Where the definition cannot be kept, the task stays; where the task
    // cannot be deleted, no copy is left.
    RemoveTree(state.folder + "\\Removed");
    WriteFileBytes(state.folder + "\\Removed", "");
    WriteTask("\\Boot", TaskXml(logon, exec("C:\\x\\b.exe")));
    EXPECT_EQ(Run(CheckTasks, "R"),
              (TSaid{"changed: Task Scheduler\\Boot=C:\\x\\b.exe (запуск: при входе в систему)",
                     "warn: Не удалось сохранить задание \"Task Scheduler\\Boot\" в папку удаленных, поэтому оно не удалено."}));
    DeleteFileA((state.folder + "\\Removed").c_str());
    EXPECT_NE(GetFileAttributesA((std::string(TASK_STORE) + "\\Boot").c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(SetImmutable(std::string(TASK_STORE) + "\\Boot", true));
    EXPECT_EQ(Run(CheckTasks, "R"), (TSaid{"new: Task Scheduler\\Boot=C:\\x\\b.exe (запуск: при входе в систему)",
                                            "warn: Не удалось удалить задание: \"Task Scheduler\\Boot\"."}));
    SetImmutable(std::string(TASK_STORE) + "\\Boot", false);
    EXPECT_EQ(Run(CheckTasks, "R", [&](std::size_t) { WriteTask("\\Boot", TaskXml(boot, exec("C:\\x\\b.exe"))); }),
              (TSaid{"new: Task Scheduler\\Boot=C:\\x\\b.exe (запуск: при входе в систему)",
                     "warn: Запись \"Task Scheduler\\Boot\" изменилась, пока вы отвечали, поэтому она не удалена."}));
    EXPECT_EQ(FolderNames(state.folder + "\\Removed"), std::vector<std::string>{});
    // A name a Win32 path spells as another task's: the task named is the
    // one kept and deleted, the other stays.
    WriteTask("\\Victim", TaskXml(logon, exec("C:\\good\\victim.exe")));
    EXPECT_EQ(Run(CheckTasks, "AA"), (TSaid{"new: Task Scheduler\\Boot=C:\\x\\b.exe (запуск: при запуске Windows)",
                                            "new: Task Scheduler\\Victim=C:\\good\\victim.exe (запуск: при входе в систему)"}));
    WriteTask("\\Victim.", TaskXml(logon, exec("C:\\evil\\dot.exe")));
    EXPECT_EQ(Run(CheckTasks, "R"), (TSaid{"new: Task Scheduler\\Victim.=C:\\evil\\dot.exe (запуск: при входе в систему)"}));
    EXPECT_EQ(ReadUtf16File(state.folder + "\\Removed\\_Victim..xml"), TaskXml(logon, exec("C:\\evil\\dot.exe")));
    EXPECT_EQ(FolderNames(TASK_STORE), (std::vector<std::string>{"Base", "Boot", "Broken", "Com", "Off", "Vendor", "Victim"}));
    // One that cannot be read is not decided about: it keeps its record.
    const std::string options = ReadFileBytes(state.settingsPath);
    WriteTask("\\Victim", TaskXml(logon, exec("C:\\evil\\held.exe")));
    {
        const TFileHandle held(CreateFileA((std::string(TASK_STORE) + "\\Victim").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.Valid());
        EXPECT_EQ(Run(CheckTasks, ""), TSaid{});
        EXPECT_EQ(ReadFileBytes(state.settingsPath), options);
    }
    EXPECT_EQ(Run(CheckTasks, "A"), (TSaid{"changed: Task Scheduler\\Victim=C:\\evil\\held.exe (запуск: при входе в систему)"}));
}

TEST_F(Checkers, BothViewsOfTheMachineKeys)
{
    const std::string run = std::string(MACHINE) + "Run", native = "HKEY_LOCAL_MACHINE\\" + run;
    const std::string wow = "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\";
    const std::string startup = state.folder + "\\Startup\\s.lnk";
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("u", "U.exe")});
    SetKeyValues(HKEY_LOCAL_MACHINE, run, {Sz("T", "C:\\64.exe"), Sz("a", "A.exe")}, KEY_WOW64_64KEY);
    SetKeyValues(HKEY_LOCAL_MACHINE, run, {Sz("T", "C:\\32.exe"), Sz("b", "B.exe")}, KEY_WOW64_32KEY);
    DeleteKey(HKEY_LOCAL_MACHINE, std::string(MACHINE) + "RunOnce", KEY_WOW64_32KEY);
    SetKeyValues(HKEY_LOCAL_MACHINE, std::string(MACHINE) + "RunOnceEx\\0001", {Sz("v", "V.exe")}, KEY_WOW64_32KEY);
    WriteFileBytes(startup, "");
    WriteFileBytes(state.settingsPath, Section(wow + "RunOnce", "o=O.exe\r\n"));
    // The seven keys, then the five of the 32-bit view, then the Startup folders.
    TScriptedUser user("AAAARRA");
    RunCheck(user, true);
    EXPECT_EQ(user.said, (TSaid{New("u=U.exe"), "new: " + native + "\\a=A.exe", "new: " + native + "\\T=C:\\64.exe",
                                "new: " + wow + "Run\\b=B.exe", "new: " + wow + "Run\\T=C:\\32.exe",
                                "new: " + wow + "RunOnceEx\\0001\\v=V.exe", "new: " + startup}));
    EXPECT_TRUE(KeyValues(HKEY_LOCAL_MACHINE, std::string(MACHINE) + "RunOnceEx\\0001", KEY_WOW64_32KEY).empty());
    EXPECT_EQ(KeyValues(HKEY_LOCAL_MACHINE, run, KEY_WOW64_64KEY), (std::vector<TRegValue>{Sz("T", "C:\\64.exe"), Sz("a", "A.exe")}));
    EXPECT_EQ(KeyValues(HKEY_LOCAL_MACHINE, run, KEY_WOW64_32KEY), std::vector<TRegValue>{Sz("b", "B.exe")});
    EXPECT_EQ(Options(), Section(wow + "RunOnce", "o=O.exe\r\n") + U("u=U.exe\r\n") + Section(native, "a=A.exe\r\nT=C:\\64.exe\r\n") +
                             Section(wow + "Run", "b=B.exe\r\n") + Section("HKEY_CURRENT_USER\\Startup", startup + "=1\r\n"));
    TScriptedUser next;
    RunCheck(next, true);
    EXPECT_TRUE(next.said.empty());
}

TEST_F(Checkers, RemovalsCanBeUndone)
{
    const std::string run = std::string(MACHINE) + "Run";
    const std::vector<TRegValue> values = {Sz("", "C:\\d.exe"), {"e", REG_EXPAND_SZ, std::string("%w%\\x.exe\0", 10)},
        {"m", REG_MULTI_SZ, std::string("a\0b c\0\0", 7)}, {"n", REG_DWORD, std::string("\x01\x02\x00\x80", 4)},
        {"o", REG_BINARY, std::string("\0\xFF\r\n", 4)}, Sz("q", "\"C:\\P F\\q.exe\" -a \\x "), Sz("s", "line\r\nbreak"),
        Sz("y{D800}", "C:\\y.exe"), {"z", REG_SZ, std::string("zero\0inside\0", 12)}, Sz("{97F3}", "C:\\{03A9}\\{03C9}.exe"), Sz("{D83D}{DE00}", "x{D800}"),
        Sz("Имя", "C:\\Программа.exe")};
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, values);
    SetKeyValues(HKEY_LOCAL_MACHINE, run, {Sz("w", "C:\\32.exe")}, KEY_WOW64_32KEY);
    SetList("run", "a.exe, b.exe");
    const std::string file = std::string(8, '\0') + "\xFFlink";
    WriteFileBytes(state.folder + "\\Startup\\t.lnk", file);
    WriteFileBytes(state.folder + "\\Common Startup\\t.lnk", "common");
    // The values come by name.
    TScriptedUser user("RRRRRRRRRRRR" "R" "RR" "CR");
    RunCheck(user, true);
    EXPECT_TRUE(user.AllAnswered());
    EXPECT_TRUE(KeyValues(HKEY_CURRENT_USER, USER_RUN).empty());
    EXPECT_TRUE(KeyValues(HKEY_LOCAL_MACHINE, run, KEY_WOW64_32KEY).empty());
    EXPECT_EQ(List("run"), "a.exe");
    EXPECT_EQ(FolderNames(state.folder + "\\Removed"), (std::vector<std::string>{"removed.reg", "t (2).lnk", "t.lnk", "undo.log"}));
    EXPECT_EQ(ReadFileBytes(state.folder + "\\Removed\\t.lnk"), file);
    EXPECT_EQ(ReadFileBytes(state.folder + "\\Removed\\t (2).lnk"), "common");
    const std::string reg = ReadUtf16File(state.folder + "\\Removed\\removed.reg");
    EXPECT_EQ(reg.substr(0, 40), "Windows Registry Editor Version 5.00\r\n\r\n");
    EXPECT_NE(reg.find("\r\n[" + UR + "]\r\n\"q\"=\"\\\"C:\\\\P F\\\\q.exe\\\" -a \\\\x \"\r\n"), std::string::npos);
    EXPECT_NE(reg.find("\r\n[" + UR + "]\r\n\"{97F3}\"=\"C:\\\\{03A9}\\\\{03C9}.exe\"\r\n"), std::string::npos);
    TProcess regedit("C:\\windows\\regedit.exe", "/s \"" + state.folder + "\\Removed\\removed.reg\"");
    EXPECT_EQ(regedit.Wait(20000), 0u);
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), values);
    EXPECT_EQ(KeyValues(HKEY_LOCAL_MACHINE, run, KEY_WOW64_32KEY), std::vector<TRegValue>{Sz("w", "C:\\32.exe")});
    EXPECT_EQ(List("run"), "a.exe, b.exe");
    SetList("run", {});
}

// Each removal, made by a check, put back by RestoreRemoval from its line
// in undo.log alone: the place exactly as it was, the entry allowed.
TEST_F(Checkers, RemovalsArePutBackExactly)
{
    const std::string run = std::string(MACHINE) + "Run", winlogon = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    const std::string lnk = state.folder + "\\Startup\\t.lnk", bytes = std::string(4, '\0') + "\xFFlink", task = std::string(TASK_STORE) + "\\V\\Up";
    const std::string services = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services", key = "System\\CurrentControlSet\\Services\\rwback";
    const TRegValue expand = {"e", REG_EXPAND_SZ, std::string("%w%\\x.exe\0", 10)}, multi = {"m", REG_MULTI_SZ, std::string("a\0b c\0\0", 7)};
    const TRegValue nul = Sz(std::string("Updater\0x", 9), "C:\\evil.exe"), good = Sz("Updater", "C:\\good.exe"), evil = Sz("Shell", "explorer.exe, C:\\x\\evil.exe");
    const auto user = [](const std::vector<TRegValue>& values) { return [=] { SetKeyValues(HKEY_CURRENT_USER, USER_RUN, values); }; };
    const auto is = [](HKEY root, const std::string& path, const std::vector<TRegValue>& values, REGSAM view = 0) {
        return [=] { return KeyValues(root, path, view) == values; };
    };
    const std::string xml = TaskXml("<LogonTrigger/>", "<Exec><Command>C:\\x\\up.exe</Command><Arguments>/q</Arguments></Exec>");
    // Lines that are not records: a byte that is no hex, a kind there is none of, no UTF-8.
    const std::string junk = "2026-12-07 16:45:31\tremoved\tvalue\tS\tn\tc\tp\tw\ti\t0\t1\t0g\t\n"
                             "2026-12-07 16:45:31\tremoved\tkey\tS\tn\tc\tq\tw\ti\t0\t1\t00\t\n\xFF\n";
    const auto dword = [](DWORD n) { return std::string(reinterpret_cast<const char*>(&n), 4); };
    const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        const std::size_t at = text.find(from);
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    struct TRow {
        const char* what;
        std::function<void()> setUp;
        void (*check)(TUser&);
        std::function<bool()> holds;
        std::function<void()> between; // after the removal
        TSaid said;                    // by the restore
    } rows[] = {
        {"REG_SZ", user({Sz("a", "A.exe")}), CheckRegistry, [&] { return is(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe")})() && Options() == U("a=A.exe\r\n"); }},
        {"REG_EXPAND_SZ; lines that are no records are passed over", user({expand}), CheckRegistry, is(HKEY_CURRENT_USER, USER_RUN, {expand}),
         [&] { WriteFileBytes(state.folder + "\\Removed\\undo.log", ReadFileBytes(state.folder + "\\Removed\\undo.log") + junk); }},
        {"REG_MULTI_SZ", user({multi}), CheckRegistry, is(HKEY_CURRENT_USER, USER_RUN, {multi})},
        {"a name with a NUL", [&] { user({good, nul})(), WriteFileBytes(state.settingsPath, U("Updater=C:\\good.exe\r\n")); }, CheckRegistry,
         is(HKEY_CURRENT_USER, USER_RUN, {good, nul})},
        {"the 32-bit view", [&] { SetKeyValues(HKEY_LOCAL_MACHINE, run, {Sz("w", "C:\\32.exe")}, KEY_WOW64_32KEY); }, CheckRegistry,
         [&] { return is(HKEY_LOCAL_MACHINE, run, {Sz("w", "C:\\32.exe")}, KEY_WOW64_32KEY)() && is(HKEY_LOCAL_MACHINE, run, {}, KEY_WOW64_64KEY)(); }},
        {"Windows' own shell is written over", [&] { SetKeyValues(HKEY_LOCAL_MACHINE, winlogon, {evil}); }, CheckRegistry, is(HKEY_LOCAL_MACHINE, winlogon, {evil})},
        {"a Startup file", [&] { WriteFileBytes(lnk, bytes); }, CheckStartup,
         [&] { return ReadFileBytes(lnk) == bytes && FolderNames(state.folder + "\\Removed") == std::vector<std::string>{"undo.log"}; }},
        {"a task", [&] { WriteFileBytes(state.settingsPath, "[Task Scheduler]\r\n"), WriteTask("\\V\\Up", xml); }, CheckTasks,
         [&] { return ReadUtf16File(task) == xml; }},
        {"a service", [&] { Run(CheckServices, ""), MakeService("rwback", SERVICE_AUTO_START, "C:\\x\\back.exe"); }, CheckServices, [&] {
             const auto values = KeyValues(HKEY_LOCAL_MACHINE, key);
             return std::find(values.begin(), values.end(), Bin("Start", dword(SERVICE_AUTO_START), REG_DWORD)) != values.end(); }},
        {"a win.ini element", [&] { SetList("run", "a.exe, b.exe"), WriteFileBytes(state.settingsPath, Section("win.ini", "run=a.exe\r\n")); }, CheckINI,
         [&] { return List("run") == "a.exe, b.exe" && Options() == Section("win.ini", "run=a.exe, b.exe\r\n"); }},
        {"a name that holds another value now", user({Sz("a", "A.exe")}), CheckRegistry, is(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "B.exe")}),
         [] { WriteRegString(HKEY_CURRENT_USER, W(USER_RUN), L"a", L"B.exe"); },
         {"warn: Запись \"" + UR + "\\a\" не восстановлена: под этим именем уже записано другое."}},
        {"a record changed to start another program", user({Sz("a", "A.exe")}), CheckRegistry, is(HKEY_CURRENT_USER, USER_RUN, {}),
         [&] { const std::string log = state.folder + "\\Removed\\undo.log"; WriteFileBytes(log, replaced(ReadFileBytes(log), "41002e00", "45002e00")); },
         {"warn: Запись \"" + UR + "\\a\" не восстановлена: сохраненное для ее восстановления не совпадает с удаленной командой."}},
        {"a kept definition changed to start another program", [&] { WriteFileBytes(state.settingsPath, "[Task Scheduler]\r\n"), WriteTask("\\V\\Up", xml); },
         CheckTasks, [&] { return GetFileAttributesA(task.c_str()) == INVALID_FILE_ATTRIBUTES; },
         [&] {
             const std::string copy = state.folder + "\\Removed\\" + Spell(RemovalsNotBack()[0].copy);
             WriteFileBytes(copy, replaced(ReadFileBytes(copy), std::string("u\0p\0.\0", 6), std::string("e\0v\0.\0", 6)));
         },
         {"warn: Запись \"Task Scheduler\\V\\Up\" не восстановлена: сохраненное для ее восстановления не совпадает с удаленной командой."}},
    };
    // Wine's scheduler sets itself to start with Windows once a task is registered through it.
    const char* schedule = "System\\CurrentControlSet\\Services\\Schedule";
    DWORD scheduleStart = 0, size = sizeof(scheduleStart);
    RegGetValueA(HKEY_LOCAL_MACHINE, schedule, "Start", RRF_RT_REG_DWORD, nullptr, &scheduleStart, &size);
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        Start("");
        row.setUp();
        Run(row.check, "R");
        const std::vector<TUndo> removals = RemovalsNotBack();
        ASSERT_EQ(removals.size(), 1u);
        row.between ? row.between() : void();
        TScriptedUser restoring;
        EXPECT_EQ(RestoreRemoval(restoring, removals[0].place), row.said.empty());
        EXPECT_EQ(restoring.said, row.said);
        EXPECT_TRUE(row.holds());
        EXPECT_EQ(RemovalsNotBack().size(), row.said.empty() ? 0u : 1u);
        if (row.said.empty()) {
            const TUndo& back = removals[0];
            EXPECT_EQ(restoring.recorded, std::vector<std::string>{Spell(L"restored " + back.section + L"|" + back.name + L"|" + back.command + L"|" + back.place)});
            EXPECT_EQ(Run(row.check, ""), TSaid{});
        }
    }
    DeleteService("rwback");
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, schedule, "Start", REG_DWORD, &scheduleStart, sizeof(scheduleStart));
    // Two elements removed in one pass have places of their own: one comes back alone.
    Start("");
    SetList("run", "a.exe, b.exe");
    Run(CheckINI, "RR");
    ASSERT_EQ(RemovalsNotBack().size(), 2u);
    TScriptedUser one;
    EXPECT_TRUE(RestoreRemoval(one, RemovalsNotBack()[1].place));
    EXPECT_EQ(List("run"), "a.exe");
    SetList("run", {});
    // Forgotten, it is asked about again; a list that cannot be written forgets nothing.
    Start(U("a=A.exe\r\n"));
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe")});
    TScriptedUser forgetting;
    EXPECT_TRUE(ForgetEntry(forgetting, W(UR), L"a", L"A.exe"));
    EXPECT_EQ(forgetting.recorded, std::vector<std::string>{"forgotten " + UR + "|a|A.exe|"});
    EXPECT_EQ(Run(CheckRegistry, "A"), TSaid{New("a=A.exe")});
    Unwritable();
    EXPECT_FALSE(ForgetEntry(forgetting, W(UR), L"a", L"A.exe"));
    EXPECT_EQ(forgetting.said, TSaid{"warn: Не удалось открыть файл \"" + dir + "\" - убедитесь, что у вас есть необходимые права доступа."});
    EXPECT_EQ(WithoutBaselines(ReadFileBytes(dir)), U("a=A.exe\r\n"));
}

TEST_F(Checkers, NamesARecordCannotCarryAreKeptAsCommentsOnly)
{
    const std::string ex = std::string(MACHINE) + "RunOnceEx", planted = "\r\n[HKEY_CURRENT_USER]\r\n@=dword:00000007\r\n";
    const TRegValue kept = Sz("k", "K.exe");
    RegDeleteValueA(HKEY_CURRENT_USER, "");
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN,
                 {kept, Sz("Updater\r\n@=hex(1):43,3a,5c,70,2e,65,78,65,00\r\n;", "C:\\upd.exe"), Sz("x" + planted, "C:\\x.exe")});
    SetKeyValues(HKEY_LOCAL_MACHINE, ex + "\\s" + planted, {Sz("v", "V.exe")});
    // An earlier version's REGEDIT4 record is kept beside the new one.
    const std::string removed = state.folder + "\\Removed\\", old = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\x]\r\n\"\xC8\"=\"1\"\r\n";
    CreateDirectoryA(removed.c_str(), nullptr);
    WriteFileBytes(removed + "removed.reg", old);
    TScriptedUser user("ARRR");
    RunCheck(user, true);
    EXPECT_TRUE(user.AllAnswered());
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), std::vector<TRegValue>{kept});
    EXPECT_EQ(FolderNames(removed), (std::vector<std::string>{"removed (2).reg", "removed.reg", "undo.log"}));
    EXPECT_EQ(ReadFileBytes(removed + "removed (2).reg"), old);
    const std::string reg = ReadUtf16File(removed + "removed.reg");
    EXPECT_NE(reg.find("; type: 1\r\n; data, hex: 43,00,3a,00,5c,00,75,00,70,00,64,00,2e,00,65,00,78,00,65,00,00,00\r\n"),
              std::string::npos) << reg;
    EXPECT_EQ(reg.find("\n@="), std::string::npos) << reg;
    // Importing the record plants nothing and changes nothing.
    TProcess regedit("C:\\windows\\regedit.exe", "/s \"" + state.folder + "\\Removed\\removed.reg\"");
    EXPECT_EQ(regedit.Wait(20000), 0u);
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), std::vector<TRegValue>{kept});
    EXPECT_TRUE(KeyValues(HKEY_LOCAL_MACHINE, ex + "\\s" + planted).empty());
    EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
}

TEST_F(Checkers, StartupFolders)
{
    const std::string user = state.folder + "\\Startup", S = user + "\\", C = state.folder + "\\Common Startup\\";
    const std::wstring wide(S.begin(), S.end());
    const auto us = [](const std::string& lines) { return Section("HKEY_CURRENT_USER\\Startup", lines); };
    const auto make = [&](const wchar_t* name) {
        CloseHandle(CreateFileW((wide + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    };
    const auto exists = [&](const wchar_t* name) { return GetFileAttributesW((wide + name).c_str()) != INVALID_FILE_ATTRIBUTES; };
    const auto cannotDelete = [&](const std::string& name) { return "warn: Не удалось удалить файл: \"" + S + name + "\"."; };
    struct TRow {
        const char* what;
        std::vector<std::string> files; // in the user's folder; "name\" is a folder
        std::string options, answers;
        TSaid said;
        std::vector<std::string> after;
        std::string optionsAfter;
        std::function<void()> setUp;
        std::function<bool()> holds;
        TStep during;
    } rows[] = {
        {"new, added; the name in lower case", {"Tool.LNK"}, "", "A", {"new: " + S + "tool.lnk"}, {"Tool.LNK"}, us(S + "tool.lnk=1\r\n")},
        {"new, cancelled stays allowed", {"t.lnk"}, "", "C", {"new: " + S + "t.lnk"}, {"t.lnk"}, us(S + "t.lnk=1\r\n")},
        {"new, removed", {"Tool.LNK"}, "", "R", {"new: " + S + "tool.lnk"}, {}, ""},
        {"desktop.ini is no entry", {"Desktop.INI", "desktop.ini.lnk"}, "", "R", {"new: " + S + "desktop.ini.lnk"}, {"Desktop.INI"}, ""},
        {"a folder cannot be deleted", {"sub\\"}, "", "R", {"new: " + S + "sub", cannotDelete("sub")}, {"sub"}, ""},
        {"nothing is removed where it cannot be kept", {"r.lnk"}, "", "R", {"new: " + S + "r.lnk", cannotDelete("r.lnk")}, {"r.lnk"}, "",
         [&] { WriteFileBytes(state.folder + "\\Removed", ""); }},
        {"allowed files pass, vanished ones drop", {"a.lnk"}, us(S + "a.lnk=1\r\n" + S + "gone.lnk=1\r\n"), "", {}, {"a.lnk"},
         us(S + "a.lnk=1\r\n")},
        {"the user's folder first, then the common one", {"u.lnk"}, "", "AR", {"new: " + S + "u.lnk", "new: " + C + "c.lnk"}, {"u.lnk"},
         us(S + "u.lnk=1\r\n"), [&] { WriteFileBytes(C + "c.lnk", ""); }, [&] { return FolderNames(C).empty(); }},
        {"a missing folder loses its section", {}, us(S + "a.lnk=1\r\n"), "", {}, {}, "",
         [&] { SetShellFolder(HKEY_CURRENT_USER, "Startup", S + "missing"); }},
        {"no folder named keeps the section", {}, us(S + "a.lnk=1\r\n"), "", {}, {}, us(S + "a.lnk=1\r\n"),
         [&] { SetShellFolder(HKEY_CURRENT_USER, "Startup", ""); }},
        {"names with ! and =", {"a!b.lnk", "c=d.lnk"}, "", "AA", {"new: " + S + "a!b.lnk", "new: " + S + "c=d.lnk"}, {"a!b.lnk", "c=d.lnk"},
         us("%" + S + "a%21b.lnk=1\r\n%" + S + "c%3Dd.lnk=1\r\n")},
        {"a name the code page lacks is never another file's", {"cafe.lnk"}, us(S + "cafe.lnk=1\r\n"), "R", {"new: " + S + "caf{00E9}.lnk"},
         {"cafe.lnk"}, us(S + "cafe.lnk=1\r\n"), [&] { make(L"caf\x00E9.lnk"); }, [&] { return !exists(L"caf\x00E9.lnk"); }},
        {"names 1251 lacks keep their own keys", {}, us("%" + S + "%u6587.lnk=1\r\n"), "R", {"new: " + S + "{4E2D}.lnk"}, {"{6587}.lnk"},
         us("%" + S + "%u6587.lnk=1\r\n"), [&] { make(L"\x4E2D.lnk"), make(L"\x6587.lnk"); },
         [&] { return exists(L"\x6587.lnk") && !exists(L"\x4E2D.lnk"); }},
        {"switched off by its name in its folder's root", {"T.lnk", "t.pif"}, "", "C", {"new: " + S + "t.pif"}, {"T.lnk", "t.pif"},
         us(S + "t.pif=1\r\n"), [&] { Switches(HKEY_CURRENT_USER, "StartupFolder", {Bin("T.lnk", SWITCH_OFF)}), WriteFileBytes(C + "c.lnk", "");
             Switches(HKEY_LOCAL_MACHINE, "StartupFolder", {Bin("c.lnk", SWITCH_OFF)}); }},
        {"a trailing dot is a file of its own", {"a.lnk"}, us(S + "a.lnk=1\r\n"), "R", {"new: " + S + "a.lnk."}, {"a.lnk"},
         us(S + "a.lnk=1\r\n"), [&] { WriteFileBytes("\\\\?\\" + S + "a.lnk.", "dot"); },
         [&] { return ReadFileBytes(state.folder + "\\Removed\\a.lnk") == "dot"; }},
        {"exit during a question", {"a.lnk", "b.lnk"}, us(S + "x.lnk=1\r\n"), "X", {"new: " + S + "a.lnk"}, {"a.lnk", "b.lnk"},
         us(S + "x.lnk=1\r\n")},
        {"unwritable settings file ends the checker after the user's folder", {"a.lnk"}, "", "A", {"new: " + S + "a.lnk", "raised: " + dir},
         {"a.lnk"}, "", [&] { Unwritable(), WriteFileBytes(C + "c.lnk", ""); }},
        {"a common file no one may move is moved as administrator once it may", {}, "", "RY", {"new: " + C + "c.lnk", "admin: " + C + "c.lnk"}, {}, "",
         [&] { SetOwnCommands(W(ProgramPath())), WriteFileBytes(C + "c.lnk", "c");
             EXPECT_TRUE(SetImmutable(C + "c.lnk", true)); },
         [&] { return FolderNames(C).empty() ? ReadFileBytes(state.folder + "\\Removed\\c.lnk") == "c" : SetImmutable(C + "c.lnk", false) && false; },
         [&](std::size_t i) { i == 1 && SetImmutable(C + "c.lnk", false); }},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        Start(row.options);
        for (const std::string& file : row.files) {
            file.back() == '\\' ? void(CreateDirectoryA((S + file).c_str(), nullptr)) : void(WriteFileBytes(S + file, ""));
        }
        row.setUp ? row.setUp() : void();
        EXPECT_EQ(Run(CheckStartup, row.answers, row.during), row.said);
        EXPECT_EQ(FolderNames(user), row.after);
        EXPECT_EQ(Options(), row.optionsAfter);
        EXPECT_TRUE(!row.holds || row.holds());
    }
    // What a file starts is the file itself, by its exact path where a Win32 path would name another.
    Start("");
    WriteFileBytes(S + "Tool.LNK", ""), WriteFileBytes("\\\\?\\" + S + "t.lnk.", "");
    Run(CheckStartup, "AA");
    EXPECT_EQ(starts, (std::vector<std::string>{"F:\\\\?\\" + S + "t.lnk.", "F:" + S + "Tool.LNK"}));
    // Told for the history: a cancel, and a removal that failed with its warning; one that succeeded names its copy.
    Start("");
    WriteFileBytes(S + "a.lnk", ""), WriteFileBytes(S + "b.lnk", ""), WriteFileBytes(state.folder + "\\Removed", "");
    Run(CheckStartup, "CR");
    const std::string US = "HKEY_CURRENT_USER\\Startup|" + S;
    EXPECT_EQ(recorded, (std::vector<std::string>{"kept " + US + "a.lnk|" + S + "a.lnk|", "failed " + US + "b.lnk|" + S + "b.lnk|" + cannotDelete("b.lnk").substr(6)}));
    DeleteFileA((state.folder + "\\Removed").c_str());
    Run(CheckStartup, "R");
    EXPECT_EQ(recorded.back(), "removed " + US + "b.lnk|" + S + "b.lnk|b.lnk");
}

TEST_F(Checkers, WinIniLists)
{
    const auto run = [](const std::string& entry) { return "new: win.ini\\[windows]\\run=" + entry; };
    const auto ini = [](const std::string& lines) { return Section("win.ini", lines); };
    std::string longList, longKept;
    for (int i = 1000; longList.size() < 5000; ++i) {
        const std::string item = "C:\\Apps\\tool" + std::to_string(i) + ".exe";
        longList += item + (i == 1100 ? ",D:\\intruder.exe," : ",");
        longKept += (longKept.empty() ? "" : ", ") + item;
    }
    struct TRow {
        const char* what;
        TValue run, load;
        std::string options, answers;
        TSaid said;
        TValue runAfter, loadAfter;
        std::string optionsAfter;
        std::function<void()> setUp;
        std::size_t askedNext;
    } rows[] = {
        {"the allowed list comes back normalised", "a.exe,b.exe", {}, ini("run=b.exe,a.exe\r\n"), "", {}, "a.exe, b.exe", {},
         ini("run=a.exe, b.exe\r\n")},
        {"blanks and empty elements drop", " \ta.exe \t,,\t b.exe  , \t ,", "\xA0\xC0.exe\xA0", ini("run=a.exe ,b.exe\r\nload=\xA0\xC0.exe\xA0\r\n"),
         "", {}, "a.exe, b.exe", "\xA0\xC0.exe\xA0", ini("run=a.exe, b.exe\r\nload=\xA0\xC0.exe\xA0\r\n")},
        {"no comma, one element", "a.exe b.exe", {}, "", "A", {run("a.exe b.exe")}, "a.exe b.exe", {}, ini("run=a.exe b.exe\r\n")},
        {"every element removed", "x.exe, y.exe", {}, ini("run=old.exe\r\n"), "RR", {run("x.exe"), run("y.exe")}, "", {}, ini("run=\r\n")},
        {"an empty list is skipped", "", {}, ini("run=old.exe\r\n"), "", {}, "", {}, ini("run=old.exe\r\n")},
        {"only a whole element of the allowed value allows, case counts", "C:\\Program,l.exe,o,C:\\Program Files\\T\\t.exe,c:\\program files\\t\\t.exe",
         {}, ini("run=C:\\Program Files\\T\\t.exe\r\n"), "CRCR", {run("C:\\Program"), run("l.exe"), run("o"), run("c:\\program files\\t\\t.exe")},
         "C:\\Program, o, C:\\Program Files\\T\\t.exe", {}, ini("run=C:\\Program, o, C:\\Program Files\\T\\t.exe\r\n")},
        {"run is decided before load", "r.exe", "l.exe", "", "AR", {run("r.exe"), "new: win.ini\\[windows]\\load=l.exe"}, "r.exe", "",
         ini("run=r.exe\r\n")},
        {"sections named after the keys are left alone", "a.exe", "b.exe", "[run]\r\nh=1\r\n" + ini("run=a.exe\r\nload=b.exe\r\n"), "", {},
         "a.exe", "b.exe", "[run]\r\nh=1\r\n" + ini("run=a.exe\r\nload=b.exe\r\n")},
        {"a long list is read and written whole", longList, {}, ini("run=" + longKept + "\r\n"), "R", {run("D:\\intruder.exe")}, longKept,
         {}, ini("run=" + longKept + "\r\n")},
        {"exit during a question", "x.exe,y.exe", "z.exe", ini("run=old.exe\r\n"), "X", {run("x.exe")}, "x.exe,y.exe", "z.exe",
         ini("run=old.exe\r\n"), nullptr, 3},
        {"unwritable settings file: win.ini written, load not read", "a.exe,x.exe", "b.exe", "", "AC",
         {run("a.exe"), run("x.exe"), "raised: " + dir}, "a.exe, x.exe", "b.exe", "", [&] { Unwritable(); }, 2},
        {"an element with line breaks cannot write lines", "x\r\n[S]\r\nC:\\e.lnk=1", {}, "", "A", {run("x\xAB" "0D\xBB\xAB" "0A\xBB[S]\xAB" "0D\xBB\xAB" "0A\xBB" "C:\\e.lnk=1")},
         "x\r\n[S]\r\nC:\\e.lnk=1", {}, ini("%run=%x%0D%0A[S]%0D%0AC:\\e.lnk%3D1\r\n")},
        {"quoted elements stay accepted", "\"C:\\P F\\a.exe\",\"C:\\b.exe\"", {}, ini("run=\"C:\\b.exe\"\r\n"), "A",
         {run("\"C:\\P F\\a.exe\"")}, "\"C:\\P F\\a.exe\", \"C:\\b.exe\"", {}, ini("%run=%%22C:\\P F\\a.exe\", \"C:\\b.exe%22\r\n")},
        {"a single quoted element stays accepted", "\"C:\\P F\\t.exe\"", {}, "", "A", {run("\"C:\\P F\\t.exe\"")},
         "\"C:\\P F\\t.exe\"", {}, ini("%run=%%22C:\\P F\\t.exe%22\r\n")},
        {"a look-alike element is another element", {}, "C:\\Legit.exe,C:\\L{00E9}git.exe", ini("load=C:\\Legit.exe\r\n"), "A",
         {"new: win.ini\\[windows]\\load=C:\\L{00E9}git.exe"}, {}, "C:\\Legit.exe, C:\\L{00E9}git.exe",
         ini("%load=%C:\\Legit.exe, C:\\L%u00E9git.exe\r\n")},
        {"a plain value by hand still counts, left as it is", "a.exe", {}, ini("run=a.exe \r\n"), "", {}, "a.exe", {},
         ini("run=a.exe \r\n")},
    };
    const std::string winIni = ReadFileBytes("C:\\windows\\win.ini");
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.what);
        Start(row.options);
        SetList("run", row.run);
        SetList("load", row.load);
        row.setUp ? row.setUp() : void();
        EXPECT_EQ(Run(CheckINI, row.answers), row.said);
        EXPECT_EQ(List("run"), row.runAfter);
        EXPECT_EQ(List("load"), row.loadAfter);
        EXPECT_EQ(Options(), row.optionsAfter);
        Run(CheckINI, std::string(row.askedNext, 'C'));
    }
    // Told for the history; a removed element once the list is written.
    Start("");
    SetList("run", "a.exe,b.exe,c.exe");
    Run(CheckINI, "RAC");
    EXPECT_EQ(recorded, (std::vector<std::string>{"added win.ini|run|b.exe|", "kept win.ini|run|c.exe|", "removed win.ini|run|a.exe|removed.reg:0"}));
    // Windows NT maps the section to the registry: the file itself is left alone.
    EXPECT_EQ(ReadFileBytes("C:\\windows\\win.ini"), winIni);
    QuietAutostart(state.folder);
}

TEST_F(Checkers, AcceptedListElementsAllowNothingElse)
{
    const std::string file = state.folder + "\\Startup\\evil.lnk";
    const std::string element = "x.exe\r\n[HKEY_CURRENT_USER\\Startup]\r\n" + file + "=1";
    const std::string lineBreak = "\xAB" "0D\xBB\xAB" "0A\xBB";
    SetList("run", element);
    EXPECT_EQ(Run(CheckINI, "A"), TSaid{"new: win.ini\\[windows]\\run=x.exe" + lineBreak + "[HKEY_CURRENT_USER\\Startup]" + lineBreak + file + "=1"});
    WriteFileBytes(file, "");
    TScriptedUser user("C");
    RunCheck(user, true);
    EXPECT_EQ(user.said, TSaid{"new: " + file});
    SetList("run", {});
}

// Every place has its kind in the window; none falls among the others.
TEST_F(Checkers, EveryPlaceHasItsKindInTheWindow)
{
    for (const TKeyLocation& location : KeyLocations(true)) {
        EXPECT_NE(Spell(GroupTitle(GroupOf(location.section))), "Другие места") << Spell(location.section);
    }
    const std::string nt = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\";
    const std::pair<std::string, std::string> rows[] = {
        {UR, "Разделы Run"},
        {ONCE_EX + "\\0001", "Разделы Run"},
        {nt + "Terminal Server\\Install\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Разделы Run"},
        {"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run", "Run по групповой политике"},
        {nt + "Winlogon", "Вход в систему"},
        {"HKEY_CURRENT_USER\\Environment", "Вход в систему"},
        {nt + "Windows", "Библиотеки, загружаемые в программы"},
        {"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager\\AppCertDlls", "Библиотеки, загружаемые в программы"},
        {"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager", "Загрузка Windows"},
        {nt + "Image File Execution Options\\sethc.exe", "Отладчики программ"},
        {"HKEY_LOCAL_MACHINE\\Common Startup", "Папки автозагрузки"},
        {"win.ini", "win.ini"},
        {Spell(SERVICES_SECTION), "Службы и драйверы"},
        {"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Active Setup\\Installed Components", "Active Setup"},
        {Spell(TASKS_SECTION), "Назначенные задания"},
        {"Window", "Другие места"},
    };
    for (const auto& [section, kind] : rows) {
        EXPECT_EQ(Spell(GroupTitle(GroupOf(W(section)))), kind) << section;
    }
}

// The window's walks: a survey tells every entry as it stands and changes
// nothing; a removal removes exactly the entries it names, allowed or not,
// with the command the window showed, and asks about and records nothing else.
TEST_F(Checkers, TheWindowsWalksLookOrRemoveOnlyWhatTheyName)
{
    const std::string options = U("a=A.exe\r\ngone=G.exe\r\n");
    Start(options);
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe"), Sz("b", "B.exe"), Sz("c", "C.exe"), Sz("d", "D.exe")});
    Switches(HKEY_CURRENT_USER, "Run", {{"c", REG_BINARY, std::string("\3\0\0\0\1\0\0\0\0\0\0\0", 12)}});
    SetList("run", "w.exe, v.exe");
    ASSERT_TRUE(WriteFileBytes(state.folder + "\\Startup\\s.bat", "x"));
    std::vector<std::string> seen;
    std::vector<TEntryKey> targets;
    for (const TAutorunRow& row : SurveyRows(WalkPlaces)) {
        if (row.key.section.find(L"HKEY_CURRENT_USER") == 0 || row.key.section == L"win.ini") {
            seen.push_back(Spell(GroupTitle(row.group) + (L": " + ColumnText(row, ColEntry)) + L"=" + ColumnText(row, ColCommand)
                                 + L" " + StateText(row.state)));
        }
        if (row.key.name == L"a" || row.key.name == L"b" || row.key.command == L"w.exe" || row.key.name.find(L"s.bat") != TWideString::npos) {
            targets.push_back(row.key);
        }
    }
    const std::string startup = state.folder + "\\Startup\\s.bat";
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "Разделы Run: a=A.exe Разрешена", "Разделы Run: b=B.exe Не решено: будет задан вопрос",
                        "Разделы Run: c=C.exe Выключена в диспетчере задач", "Разделы Run: d=D.exe Не решено: будет задан вопрос",
                        "Разделы Run: gone=G.exe Разрешена, но ее больше нет",
                        "Папки автозагрузки: " + startup + "=" + state.folder + "\\Startup\\s.bat Не решено: будет задан вопрос",
                        "win.ini: run=w.exe Не решено: будет задан вопрос", "win.ini: run=v.exe Не решено: будет задан вопрос"}));
    EXPECT_EQ(ReadFileBytes(state.settingsPath), options);
    // The window showed another command under "d" than the key holds now.
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe"), Sz("b", "B.exe"), Sz("c", "C.exe"), Sz("d", "D2.exe")});
    targets.push_back({W(UR), L"d", L"D.exe"});
    TScriptedUser remover;
    RemoveEntries(remover, targets);
    EXPECT_EQ(remover.said, TSaid{"warn: Запись \"" + UR + "\\d=D.exe\" изменилась или исчезла после того, как окно ее показало, и не удалена."});
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), (std::vector<TRegValue>{Sz("c", "C.exe"), Sz("d", "D2.exe")}));
    EXPECT_EQ(List("run"), TValue("v.exe"));
    EXPECT_EQ(GetFileAttributesA((state.folder + "\\Startup\\s.bat").c_str()), INVALID_FILE_ATTRIBUTES);
    std::vector<std::string> removed;
    for (const std::string& line : remover.recorded) {
        removed.push_back(line.substr(0, line.rfind('|')));
    }
    EXPECT_EQ(removed, (std::vector<std::string>{"removed " + UR + "|a|A.exe", "removed " + UR + "|b|B.exe",
                                                 "removed HKEY_CURRENT_USER\\Startup|" + startup + "|" + state.folder + "\\Startup\\s.bat",
                                                 "removed win.ini|run|w.exe"}));
    EXPECT_EQ(Options(), "");
    // Two components' empty StubPath: each is named by its component, and
    // the one chosen goes alone.
    const std::string setup = "Software\\Microsoft\\Active Setup\\Installed Components\\";
    for (const char* component : {"{rw-a}", "{rw-b}"}) {
        SetKeyValues(HKEY_LOCAL_MACHINE, setup + component, {Sz("StubPath", "")});
    }
    std::vector<TEntryKey> empty;
    for (const TAutorunRow& row : SurveyRows(WalkPlaces)) {
        if (row.key.command.empty() && row.key.name.find(L"{rw-") != TWideString::npos) {
            empty.push_back(row.key);
        }
    }
    ASSERT_EQ(empty.size(), 2u);
    TScriptedUser one;
    RemoveEntries(one, {empty[0]});
    EXPECT_EQ(one.said, TSaid{});
    EXPECT_EQ(KeyValues(HKEY_LOCAL_MACHINE, setup + "{rw-a}").size() + KeyValues(HKEY_LOCAL_MACHINE, setup + "{rw-b}").size(), 1u);
    for (const char* component : {"{rw-a}", "{rw-b}"}) {
        DeleteKey(HKEY_LOCAL_MACHINE, setup + component);
    }
}

TEST_F(Checkers, CheckRunEndsWithTheCompletionUnlessSilentOrFailed)
{
    const std::string done = "info: Проверка завершена";
    // Literals are compiled to code page 1251, as the program's are.
    EXPECT_EQ("\xCF\xF0\xEE\xE2\xE5\xF0\xEA\xE0 \xE7\xE0\xE2\xE5\xF0\xF8\xE5\xED\xE0", done.substr(6));
    TScriptedUser quiet;
    RunCheck(quiet, true);
    EXPECT_TRUE(quiet.said.empty());
    // A run started while a question is open does nothing at all.
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe")});
    TScriptedUser inner;
    TScriptedUser outer("C", [&](std::size_t) { RunCheck(inner, false); });
    RunCheck(outer, false);
    EXPECT_EQ(outer.said, (TSaid{New("a=A.exe"), done}));
    EXPECT_TRUE(inner.said.empty());
    // A list that cannot be read decides nothing: no question, no removal,
    // no write; one warning; the next run reads it again.
    const std::string listed = U("a=A.exe\r\n");
    WriteFileBytes(state.settingsPath, listed);
    {
        const TFileHandle held(CreateFileA(state.settingsPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe"), Sz("b", "B.exe")});
        TScriptedUser blind;
        RunCheck(blind, false);
        EXPECT_EQ(blind.said, TSaid{"warn: Не удалось открыть файл \"" + state.settingsPath +
                                    "\" - убедитесь, что у вас есть необходимые права доступа."});
    }
    EXPECT_EQ(Options(), listed);
    // A run that has nothing to change writes nothing: another program may
    // hold the file against writing.
    {
        TScriptedUser asked("A");
        RunCheck(asked, true);
        EXPECT_EQ(asked.said, TSaid{New("b=B.exe")});
        const TFileHandle held(CreateFileA(state.settingsPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        TScriptedUser nothing;
        RunCheck(nothing, true);
        EXPECT_EQ(nothing.said, TSaid{});
    }
    EXPECT_EQ(KeyValues(HKEY_CURRENT_USER, USER_RUN), (std::vector<TRegValue>{Sz("a", "A.exe"), Sz("b", "B.exe")}));
    SetKeyValues(HKEY_CURRENT_USER, USER_RUN, {Sz("a", "A.exe")});
    WriteFileBytes(state.settingsPath, "");
    TScriptedUser failed("A");
    Unwritable();
    RunCheck(failed, true);
    EXPECT_EQ(failed.said, (TSaid{New("a=A.exe"), "warn: Не удалось открыть файл \"" + dir +
                                                      "\" - убедитесь, что у вас есть необходимые права доступа."}));
}
