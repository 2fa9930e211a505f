// The program's message boxes as the user meets them: the choice dialog
// with its two options, and the other questions and warnings.

#include "MainUnit.h"
#include "Settings.h"
#include "ScopedHandle.h"
#include "TestSupport.h"
#include "UserRobot.h"
#include "dlgSelectUnit.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const std::string ENTRY = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\x=C:\\x.exe";
const std::string NEW_ENTRY = "Обнаружена новая запись:\n\r\n\r\"" + ENTRY + "\".\n\r\n\rЧто будем с ней делать?";
const std::string CHANGED_ENTRY = "Параметр:\n\r\n\r\"" + ENTRY + "\"\n\r\n\r - есть в списке, но имеет другое значение."
                                  "\n\r\n\rЧто будем с ним делать?";

// The box the robot saw, after checking that it saw exactly one.
TBoxInfo OneBox(TUserRobot& robot)
{
    robot.Finish();
    EXPECT_EQ(robot.Problems(), std::vector<std::string>{});
    const std::vector<TBoxInfo> boxes = robot.Boxes();
    EXPECT_EQ(boxes.size(), 1u);
    return boxes.empty() ? TBoxInfo() : boxes[0];
}

bool Inside(const RECT& inner, const RECT& outer)
{
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top
        && inner.bottom <= outer.bottom;
}

} // namespace

TEST(Dialog, AnswersOptionsAndLayout)
{
    TTestState state;
    // 96 unless dpi-run.sh runs the test on a screen of another DPI.
    const char* dpi = std::getenv("RUNWARDEN_TEST_DPI");
    const TWindowDC screen(nullptr);
    ASSERT_EQ(GetDeviceCaps(screen.Get(), LOGPIXELSY), dpi ? std::atoi(dpi) : 96);
    struct TRow {
        bool changed;
        TAnswer answer;
        bool answered;
        TChoice choice;
        std::string entry = ENTRY;
    } rows[] = {
        {false, {0, TPress::Ok}, true, ChoiceRemove},      {false, {2, TPress::Ok}, true, ChoiceAddToList},
        {true, {0, TPress::Ok}, true, ChoiceRemove},       {true, {2, TPress::Ok}, true, ChoiceCorrectList},
        {true, {1, TPress::Ok}, true, ChoiceRemove},       {false, {2, TPress::Cancel}, false, ChoiceAddToList},
        {false, {0, TPress::Escape}, false, ChoiceRemove}, {false, {0, TPress::CloseBox}, false, ChoiceRemove},
        // A short entry makes a narrow box: the options must still end above the buttons.
        {false, {2, TPress::Ok}, true, ChoiceAddToList, "win.ini\\[windows]\\run=a"},
    };
    for (const TRow& row : rows) {
        TUserRobot robot({row.answer});
        TChoice choice = ChoiceCorrectList;
        EXPECT_EQ(ProgramUser().AskChoice({}, row.changed, EntryText({W(row.entry)}), choice), row.answered);
        const TBoxInfo box = OneBox(robot);
        if (row.answered) {
            EXPECT_EQ(choice, row.choice);
        }
        EXPECT_EQ(box.caption, "Runwarden");
        EXPECT_EQ(box.text, row.entry != ENTRY ? "Обнаружена новая запись:\n\r\n\r\"" + row.entry + "\".\n\r\n\rЧто будем с ней делать?"
                            : row.changed                 ? CHANGED_ENTRY
                                                          : NEW_ENTRY);
        const std::vector<std::string> changedOptions = {"Удалить из исписка", "Внести исправления в список"};
        const std::vector<std::string> newOptions = {"Удалить из автозагрузки", "Добавить в список разрешенных"};
        EXPECT_EQ(box.options, row.changed ? changedOptions : newOptions);
        EXPECT_TRUE(box.firstChecked);
        EXPECT_EQ(box.buttons, (std::vector<int>{IDOK, IDCANCEL}));
        EXPECT_EQ(box.icon, LoadIconW(nullptr, IDI_QUESTION));
        EXPECT_EQ(box.owner, state.owner);
        EXPECT_TRUE(box.topmost);
        ASSERT_EQ(box.optionRects.size(), 2u);
        // Under the text and the icon, one above the other, above the buttons,
        // inside the box.
        const RECT first = box.optionRects[0], second = box.optionRects[1];
        EXPECT_GE(first.top, std::max(box.textRect.bottom, box.iconRect.bottom));
        EXPECT_GE(second.top, first.bottom);
        EXPECT_LE(second.bottom, box.buttonRect.top);
        EXPECT_TRUE(Inside(first, box.client) && Inside(second, box.client));
        EXPECT_TRUE(Inside(box.buttonRect, box.client));
        // The options speak in the message font of the screen's DPI, as the box does.
        NONCLIENTMETRICSW metrics = {sizeof(metrics)};
        ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
        EXPECT_EQ(box.optionFontHeight, metrics.lfMessageFont.lfHeight);
        EXPECT_EQ(box.optionFontHeight, box.textFontHeight);
    }
}

std::string Repeat(const std::string& text, int times)
{
    std::string repeated;
    while (times-- > 0) {
        repeated += text;
    }
    return repeated;
}

TEST(Dialog, NoEntryTakesTheBoxOffItsScreenOrHidesWhatRuns)
{
    TTestState state;
    // Line feeds are shown, never made; a field too long is shortened in the
    // middle (its first 96 and last 63 characters stay) and shown whole in
    // the field; an unbroken text breaks within the screen.
    const std::string key = "HKEY_CURRENT_USER\\" + std::string(USER_RUN) + "\\", lf = "\xAB" "0A\xBB", run = "C:\\x.exe";
    const std::string letters(1000, 'W'), args = " " + std::string(2000, 'a') + " /end", unbroken = std::string(150, 'W');
    struct TRow {
        std::string name, command, shown, field;
        std::string identity = "Программа: C:\\x.exe \x97 файл не найден"; // how it starts
    } rows[] = {
        {"x" + std::string(60, '\n') + "y", run, key + "x" + Repeat(lf, 23) + "\x85" + Repeat(lf, 15) + "y=" + run,
         key + "x" + Repeat(lf, 60) + "y=" + run},
        {letters, run, key + std::string(96, 'W') + "\x85" + std::string(63, 'W') + "=" + run, key + letters + "=" + run},
        {"n", run + args, key + "n=" + run + " " + std::string(87, 'a') + "\x85" + std::string(58, 'a') + " /end", key + "n=" + run + args},
        {unbroken, run, key + unbroken + "=" + run, ""},
        {"n", "notepad", key + "n=notepad", "", "Программа: C:\\windows\\system32\\notepad.exe\r\n"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.shown.substr(0, 100));
        TUserRobot robot({{2, TPress::Ok}});
        TChoice choice = ChoiceRemove;
        EXPECT_TRUE(ProgramUser().AskChoice(
            {}, false, EntryText({W(key), W(row.name), L"=", W(row.command)}, {{TStartKind::CommandLine, W(row.command)}}), choice));
        EXPECT_EQ(choice, ChoiceAddToList);
        const TBoxInfo box = OneBox(robot);
        EXPECT_EQ(box.text, "Обнаружена новая запись:\n\r\n\r\"" + row.shown + "\".\n\r\n\rЧто будем с ней делать?");
        EXPECT_EQ(box.field, row.field);
        EXPECT_EQ(box.identity.substr(0, row.identity.size()), row.identity);
        // The account of the program lies under the question, above the field and the options.
        EXPECT_GE(box.identityRect.top, box.textRect.bottom);
        EXPECT_LE(box.identityRect.bottom, box.optionRects.empty() ? box.buttonRect.top : box.optionRects[0].top);
        EXPECT_TRUE(Inside(box.window, box.work));
        ASSERT_EQ(box.optionRects.size(), 2u);
        EXPECT_GE(box.optionRects[0].top, box.textRect.bottom);
        EXPECT_LE(box.optionRects[1].bottom, box.buttonRect.top);
        EXPECT_TRUE(Inside(box.optionRects[1], box.client) && Inside(box.buttonRect, box.client));
    }
}

TEST(Dialog, TheTrayIconIsTheSmallIconOfTheScreen)
{
    TTestState state;
    const TIconHandle icon(LoadTrayIcon(GetModuleHandleW(nullptr)));
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon.Get(), &info));
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
    DeleteObject(info.hbmColor), DeleteObject(info.hbmMask);
    EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXSMICON));
    EXPECT_EQ(bitmap.bmHeight, GetSystemMetrics(SM_CYSMICON));
}

// A hook of the test's own vetoes the creation of the second option: OK on
// that box is no answer, since the user never saw the choice.
HHOOK vetoHook = nullptr;
LRESULT CALLBACK VetoSecondOption(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const wchar_t* name = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs->lpszName;
        if (name != nullptr && !IS_INTRESOURCE(name) && TWideString(name) == W("Добавить в список разрешенных")) {
            return 1;
        }
    }
    return CallNextHookEx(vetoHook, code, wParam, lParam);
}

TEST(Dialog, OkOnABoxWithoutBothOptionsIsNoAnswer)
{
    TTestState state;
    THookHandle hook(SetWindowsHookExW(WH_CBT, VetoSecondOption, nullptr, GetCurrentThreadId()));
    vetoHook = hook.Get();
    TUserRobot robot({{0, TPress::Ok}});
    TChoice choice = ChoiceAddToList;
    EXPECT_FALSE(ShowChoiceDialog(state.owner, false, EntryText({L"C:\\x.exe"}), choice));
    EXPECT_EQ(OneBox(robot).options.size(), 1u);
}

TEST(Dialog, ProgramBoxesAndTheSettingsFileWarning)
{
    TTestState state;
    const std::string cannotOpen = " - убедитесь, что у вас есть необходимые права доступа.";
    struct TRow {
        std::function<bool()> show;
        TPress press;
        bool result;
        std::string text;
        std::vector<int> buttons;
        LPCWSTR icon;
        bool owned, topmost;
    } rows[] = {
        {[] { return ProgramUser().AskDeleteEmpty({}, EntryText({L"HKEY\\e"})); }, TPress::Yes, true,
         "В реестре обнаружен \"пустой\" параметр:\n\r\n\r\"HKEY\\e\".\n\r\n\rУдалить его?", {IDYES, IDNO}, IDI_QUESTION,
         true, true},
        {[] { return ProgramUser().AskDeleteEmpty({}, EntryText({L"HKEY\\e"})); }, TPress::No, false,
         "В реестре обнаружен \"пустой\" параметр:\n\r\n\r\"HKEY\\e\".\n\r\n\rУдалить его?", {IDYES, IDNO}, IDI_QUESTION,
         true, true},
        {[] { return ProgramUser().AskElevate(EntryText({L"HKEY\\e"})); }, TPress::Yes, true,
         "Для удаления \"HKEY\\e\" нужны права администратора.\n\r\n\rУдалить от имени администратора?", {IDYES, IDNO}, IDI_QUESTION, true, true},
        {[] { return ProgramUser().Warn(L"w"), false; }, TPress::Ok, false, "w", {IDOK}, IDI_EXCLAMATION, true, false},
        {[] { return ProgramUser().Inform(L"i"), false; }, TPress::Ok, false, "i", {IDOK}, IDI_ASTERISK, true, false},
        // Before the hidden window exists: a file where the folder should be.
        {[&] {
             SetMainWnd(nullptr);
             WriteFileBytes(state.folder + "\\Runwarden", "");
             SetShellFolder(HKEY_CURRENT_USER, "AppData", state.folder);
             return GetSettingsPath() == W(state.folder + "\\Runwarden\\options.ini");
         },
         TPress::Ok, true, "Не удалось открыть файл \"" + state.folder + "\\Runwarden\\options.ini\"" + cannotOpen,
         {IDOK}, IDI_EXCLAMATION, false, false},
    };
    for (const TRow& row : rows) {
        TUserRobot robot({{0, row.press}});
        EXPECT_EQ(row.show(), row.result);
        const TBoxInfo box = OneBox(robot);
        EXPECT_EQ(box.caption, "Runwarden");
        EXPECT_EQ(box.text, row.text);
        EXPECT_EQ(box.buttons, row.buttons);
        EXPECT_EQ(box.icon, LoadIconW(nullptr, row.icon));
        EXPECT_EQ(box.owner, row.owned ? state.owner : nullptr);
        EXPECT_EQ(box.topmost, row.topmost);
    }
}
