#include "AllowedList.h"
#include "TestSupport.h"
#include "UserRobot.h"
#include "dlgSelectUnit.h"

#include <gtest/gtest.h>

namespace {

constexpr char ENTRY[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Tool=D:\\Tools\\tool.exe";


struct TShown {
    bool result = false;
    TChoice choice = ChoiceAddToList;
    TBoxInfo box;
    std::vector<std::string> problems;
};

TShown Ask(bool changed, const std::string& entry, const TAnswer& answer)
{
    TTestState state;
    TUserRobot robot({answer});
    TShown shown;
    shown.result = ShowChoiceDialog(state.owner, changed, entry, shown.choice);
    robot.Finish();
    shown.problems = robot.Problems();
    const std::vector<TBoxInfo> boxes = robot.Boxes();
    if (!boxes.empty()) {
        shown.box = boxes.front();
    }
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(shown.problems.empty()) << shown.problems.front();
    EXPECT_EQ(shown.box.owner, state.owner);
    return shown;
}

// The same box as the system lays it out, without the options.
TBoxInfo PlainBox(const std::string& text)
{
    TTestState state;
    TUserRobot robot({{0, TPress::Cancel, nullptr}});
    MessageBoxA(state.owner, text.c_str(), APP_CAPTION, MB_OKCANCEL | MB_ICONQUESTION | MB_SYSTEMMODAL);
    robot.Finish();
    const std::vector<TBoxInfo> boxes = robot.Boxes();
    return boxes.empty() ? TBoxInfo() : boxes.front();
}

int Height(const RECT& r) { return r.bottom - r.top; }

void ExpectLayout(const TBoxInfo& plain, const TBoxInfo& box)
{
    const std::vector<TControlInfo> options = box.Options();
    ASSERT_EQ(options.size(), 2u);
    const int h = Height(options[0].rect);
    EXPECT_GT(h, 0);
    EXPECT_EQ(Height(options[1].rect), h);
    const int growth = 2 * h + 10;
    // Push buttons and the box's bottom edge moved down by exactly 2H + 10.
    for (int id : {IDOK, IDCANCEL}) {
        ASSERT_NE(plain.Button(id), nullptr);
        ASSERT_NE(box.Button(id), nullptr);
        EXPECT_EQ(box.Button(id)->rect.top, plain.Button(id)->rect.top + growth);
        EXPECT_EQ(box.Button(id)->rect.left, plain.Button(id)->rect.left);
    }
    EXPECT_EQ(Height(box.windowRect), Height(plain.windowRect) + growth);
    EXPECT_EQ(box.windowRect.right - box.windowRect.left, plain.windowRect.right - plain.windowRect.left);
    // Under the lower of icon and text, from the icon's left to the text's right.
    const TControlInfo* icon = nullptr;
    for (const TControlInfo& control : box.controls) {
        if (control.className == "Static" && (control.style & SS_TYPEMASK) == SS_ICON) {
            icon = &control;
        }
    }
    ASSERT_NE(icon, nullptr);
    ASSERT_NE(box.MessageText(), nullptr);
    const int t = std::max(icon->rect.bottom, box.MessageText()->rect.bottom);
    EXPECT_EQ(options[0].rect.left, icon->rect.left);
    EXPECT_EQ(options[0].rect.right, box.MessageText()->rect.right);
    EXPECT_EQ(options[0].rect.top, t + h / 2 + 3);
    EXPECT_EQ(options[1].rect.top, t + h / 2 + h + 6);
    // Readable: the options end above the push buttons, inside the box.
    EXPECT_LT(options[1].rect.bottom, box.Button(IDOK)->rect.top);
}

} // namespace

TEST(ChoiceDialog, NewEntryOkUntouchedRemoves)
{
    const TShown shown = Ask(false, ENTRY, {0, TPress::Ok, nullptr});
    EXPECT_TRUE(shown.result);
    EXPECT_EQ(shown.choice, ChoiceRemove);
    EXPECT_EQ(shown.box.caption, "Runwarden");
    EXPECT_EQ(shown.box.text, NewEntryMessage(ENTRY));
    EXPECT_EQ(shown.box.icon, IDI_QUESTION);
    EXPECT_TRUE(shown.box.topmost);
    EXPECT_EQ(shown.box.buttons, (std::vector<int>{IDOK, IDCANCEL}));
    const std::vector<TControlInfo> options = shown.box.Options();
    ASSERT_EQ(options.size(), 2u);
    // "Удалить из автозагрузки", "Добавить в список разрешенных"
    EXPECT_EQ(options[0].text, Bytes("D3 E4 E0 EB E8 F2 FC 20 E8 E7 20 E0 E2 F2 EE E7 E0 E3 F0 F3 E7 EA E8"));
    EXPECT_EQ(options[1].text,
              Bytes("C4 EE E1 E0 E2 E8 F2 FC 20 E2 20 F1 EF E8 F1 EE EA 20 F0 E0 E7 F0 E5 F8 E5 ED ED FB F5"));
    EXPECT_TRUE(options[0].checked);
    EXPECT_FALSE(options[1].checked);
}

TEST(ChoiceDialog, NewEntrySecondOptionAddsToList)
{
    const TShown shown = Ask(false, ENTRY, {2, TPress::Ok, nullptr});
    EXPECT_TRUE(shown.result);
    EXPECT_EQ(shown.choice, ChoiceAddToList);
}

TEST(ChoiceDialog, ChangedEntryBothWays)
{
    const TShown second = Ask(true, "Tool=D:\\new.exe", {2, TPress::Ok, nullptr});
    EXPECT_TRUE(second.result);
    EXPECT_EQ(second.choice, ChoiceCorrectList);
    EXPECT_EQ(second.box.text, ChangedEntryMessage("Tool=D:\\new.exe"));
    const std::vector<TControlInfo> options = second.box.Options();
    ASSERT_EQ(options.size(), 2u);
    // "Удалить из исписка", "Внести исправления в список"
    EXPECT_EQ(options[0].text, Bytes("D3 E4 E0 EB E8 F2 FC 20 E8 E7 20 E8 F1 EF E8 F1 EA E0"));
    EXPECT_EQ(options[1].text, Bytes("C2 ED E5 F1 F2 E8 20 E8 F1 EF F0 E0 E2 EB E5 ED E8 FF 20 E2 20 F1 EF E8 F1 EE EA"));

    const TShown first = Ask(true, "Tool=D:\\new.exe", {1, TPress::Ok, nullptr});
    EXPECT_TRUE(first.result);
    EXPECT_EQ(first.choice, ChoiceRemove);
}

TEST(ChoiceDialog, CancelEscapeAndCloseBoxDecline)
{
    for (const TPress press : {TPress::Cancel, TPress::Escape, TPress::CloseBox}) {
        const TShown shown = Ask(false, ENTRY, {2, press, nullptr});
        EXPECT_FALSE(shown.result) << static_cast<int>(press);
    }
}

TEST(ChoiceDialog, OptionsSitBetweenTextAndButtons)
{
    const TShown shown = Ask(false, ENTRY, {0, TPress::Cancel, nullptr});
    ExpectLayout(PlainBox(NewEntryMessage(ENTRY)), shown.box);
}

TEST(ChoiceDialog, ChangedCaptionsGetTheSameLayout)
{
    const TShown shown = Ask(true, "Tool=D:\\new.exe", {0, TPress::Cancel, nullptr});
    ExpectLayout(PlainBox(ChangedEntryMessage("Tool=D:\\new.exe")), shown.box);
}

TEST(ChoiceDialog, LongEntryMakesATallerBoxWithTheSameRule)
{
    std::string entry = "C:\\";
    for (int i = 0; i < 40; ++i) {
        entry += "folder" + std::to_string(i) + " ";
    }
    const TShown shown = Ask(false, entry, {0, TPress::Cancel, nullptr});
    const TBoxInfo plain = PlainBox(NewEntryMessage(entry));
    ExpectLayout(plain, shown.box);
    EXPECT_GT(Height(shown.box.MessageText()->rect), Height(PlainBox(NewEntryMessage("x")).MessageText()->rect));
}

TEST(ChoiceDialog, MessageIsCutAt1024Bytes)
{
    const std::string entry(2000, 'x');
    const TShown shown = Ask(false, entry, {0, TPress::Cancel, nullptr});
    const std::string full = NewEntryMessage(entry);
    EXPECT_EQ(shown.box.text.size(), 1023u);
    EXPECT_TRUE(shown.box.text == full.substr(0, 1023));
}

namespace {

HHOOK vetoHook = nullptr;

// A hook of the test's own, called after the dialog's: it refuses to let the
// second option be created, a real way for an option to be missing.
LRESULT CALLBACK VetoSecondOption(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        if (create->lpszName != nullptr && !IS_INTRESOURCE(create->lpszName)
            && std::string(create->lpszName) == OPTION_ADD) {
            return 1;
        }
    }
    return CallNextHookEx(vetoHook, code, wParam, lParam);
}

} // namespace

TEST(ChoiceDialog, OkOnABoxWithoutBothOptionsIsNoAnswer)
{
    TTestState state;
    vetoHook = SetWindowsHookExA(WH_CBT, VetoSecondOption, nullptr, GetCurrentThreadId());
    ASSERT_NE(vetoHook, nullptr);
    TUserRobot robot({{0, TPress::Ok, nullptr}});
    TChoice choice = ChoiceAddToList;
    const bool ok = ShowChoiceDialog(state.owner, false, ENTRY, choice);
    robot.Finish();
    UnhookWindowsHookEx(vetoHook);
    const std::vector<TBoxInfo> boxes = robot.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    ASSERT_EQ(boxes[0].Options().size(), 1u);
    // The user saw no choice between the two: nothing may be removed.
    EXPECT_FALSE(ok);
}

TEST(ChoiceDialog, ScreenshotsOfBothForms)
{
    std::string newShot;
    std::string changedShot;
    Ask(false, ENTRY, {0, TPress::Cancel, [&](const TBoxInfo& box) { newShot = SaveWindowShot(box.wnd, "choice-new"); }});
    Ask(true, "Tool=D:\\Tools\\tool.exe /min",
        {2, TPress::Cancel, [&](const TBoxInfo& box) { changedShot = SaveWindowShot(box.wnd, "choice-changed"); }});
    EXPECT_FALSE(newShot.empty());
    EXPECT_FALSE(changedShot.empty());
}
