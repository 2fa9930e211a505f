#include "dlgSelectUnit.h"

#include "Dpi.h"
#include "Identity.h"
#include "MainState.h"
#include "ScopedHandle.h"

#include <algorithm>
#include <climits>

namespace {

// At BASE_DPI; every size is scaled to the DPI of the box's screen.
constexpr int OPTION_GAP = 3;
constexpr int ROW_EXTRA = 10; // the gap above, between and below the two options
constexpr int CHECK_TEXT_GAP = 8; // between a radio button's circle and its caption
constexpr int MIN_TEXT_WIDTH = 200;
constexpr UINT MEASURE_TEXT = DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS;
// A signature check that ends while the box is open is told by this message.
constexpr UINT WM_IDENTITY_CHECKED = WM_APP + 1;
// How long the box waits for the signatures before it shows "being checked".
constexpr DWORD IDENTITY_WAIT_MS = 300;
// The account of the program holds this many lines at most; more scroll.
constexpr int IDENTITY_LINES = 12;

struct TDialogState {
    TChoice LastChoice = ChoiceAddToList;
    bool IsChangedEntry = false;
    bool WithOptions = false;
    const TWideString* FullText = nullptr; // the entry whole, when the text shows it shortened
    const std::vector<TStartItem>* Starts = nullptr; // what the entry starts, for the account of the program
    TWideString Identity;                            // that account as it is now
    HWND BoxWnd = nullptr;
    HWND OptionWnd2 = nullptr;
    HWND OptionWnd1 = nullptr;
    HWND FieldWnd = nullptr;
    HWND IdentityWnd = nullptr;
    HHOOK HookHandle = nullptr;
    WNDPROC BoxProc = nullptr; // the box's own window procedure
    bool ChoiceRead = false;   // the box itself was destroyed with its options
    UINT Dpi = BASE_DPI;
    TFontHandle Font; // the message font at Dpi, for the options and the field
};

TDialogState dialogState;

// The options' font follows the box to a screen of another DPI.
void UseFontForDpi(UINT dpi)
{
    LOGFONTW font = {};
    dialogState.Dpi = dpi;
    dialogState.Font.Reset(MessageFontForDpi(dpi, font) ? CreateFontIndirectW(&font) : nullptr);
}

HFONT OptionFont()
{
    return dialogState.Font.Valid() ? dialogState.Font.Get()
                                    : reinterpret_cast<HFONT>(SendMessageW(dialogState.BoxWnd, WM_GETFONT, 0, 0));
}

int Scaled(int size) { return ScaleForDpi(size, dialogState.Dpi); }

RECT WorkArea(HWND wnd)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    RECT work = {};
    if (GetMonitorInfoW(MonitorFromWindow(wnd, MONITOR_DEFAULTTONEAREST), &monitor)) {
        work = monitor.rcWork;
    } else {
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    }
    return work;
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

// The box's two static controls: the icon, then the message.
bool FindStatics(HWND& icon, HWND& text)
{
    icon = FindWindowExW(dialogState.BoxWnd, nullptr, L"STATIC", nullptr);
    text = icon == nullptr ? nullptr : FindWindowExW(dialogState.BoxWnd, icon, L"STATIC", nullptr);
    return text != nullptr;
}

void ShiftBoxButtons(int dx, int dy)
{
    const HWND box = dialogState.BoxWnd;
    for (HWND child = FindWindowExW(box, nullptr, L"BUTTON", nullptr); child != nullptr;
         child = FindWindowExW(box, child, L"BUTTON", nullptr)) {
        if (child == dialogState.OptionWnd1 || child == dialogState.OptionWnd2) {
            continue;
        }
        RECT a = {};
        GetWindowRect(child, &a);
        MapWindowPoints(HWND_DESKTOP, box, reinterpret_cast<POINT*>(&a), 2);
        SetWindowPos(child, nullptr, a.left + dx, a.top + dy, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
    }
}

void ResizeBox(int dx, int dy)
{
    RECT box = {};
    if (GetWindowRect(dialogState.BoxWnd, &box)) {
        SetWindowPos(dialogState.BoxWnd, nullptr, 0, 0, Width(box) + dx, Height(box) + dy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
    }
}

// The system makes the box as wide as the message's longest word, and a
// name or a path has no blanks to break at: a box wider than its screen
// gets a narrower message that breaks within words, and grows in height
// instead.
void FitTextToWorkArea()
{
    HWND icon = nullptr;
    HWND text = nullptr;
    RECT box = {};
    RECT current = {};
    if (!FindStatics(icon, text) || !GetWindowRect(dialogState.BoxWnd, &box) || !GetWindowRect(text, &current)) {
        return;
    }
    const int excess = Width(box) - Width(WorkArea(dialogState.BoxWnd));
    if (excess <= 0) {
        return;
    }
    const int width = std::max(Width(current) - excess, Scaled(MIN_TEXT_WIDTH));
    const TWideString message = WindowText(text);
    RECT needed = {0, 0, width, 0};
    {
        const TWindowDC dc(text);
        if (dc.Get() == nullptr) {
            return;
        }
        const HGDIOBJ oldFont = SelectObject(dc.Get(), reinterpret_cast<HFONT>(SendMessageW(text, WM_GETFONT, 0, 0)));
        DrawTextW(dc.Get(), message.c_str(), -1, &needed, MEASURE_TEXT);
        SelectObject(dc.Get(), oldFont);
    }
    SetWindowLongPtrW(text, GWL_STYLE, GetWindowLongPtrW(text, GWL_STYLE) | SS_EDITCONTROL);
    SetWindowPos(text, nullptr, 0, 0, width, Height(needed), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const int narrower = Width(current) - width;
    const int taller = std::max(0, Height(needed) - Height(current));
    ShiftBoxButtons(-narrower / 2, taller);
    ResizeBox(-narrower, taller);
}

// Moves the box, where it must, to lie within its screen's work area.
void KeepInWorkArea()
{
    RECT box = {};
    if (!GetWindowRect(dialogState.BoxWnd, &box)) {
        return;
    }
    const RECT work = WorkArea(dialogState.BoxWnd);
    const int x = std::max(work.left, std::min(box.left, work.right - Width(box)));
    const int y = std::max(work.top, std::min(box.top, work.bottom - Height(box)));
    if (x != box.left || y != box.top) {
        SetWindowPos(dialogState.BoxWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// Where the added controls go: from the icon's left edge to the message's
// right edge, starting half an option's height under the lower of the two;
// H is one option's height. Widen: how much the box must grow so that the
// longer caption fits on one line. A short entry makes a narrow box, in
// which wrapped captions would reach into the buttons below.
bool CalcOptionRect(RECT& r, int& h, int& widen)
{
    const HWND box = dialogState.BoxWnd;
    HWND first = nullptr;
    HWND second = nullptr;
    RECT a = {};
    if (!FindStatics(first, second) || !GetWindowRect(first, &a)) {
        return false;
    }
    r.left = a.left;
    r.top = a.bottom;
    if (!GetWindowRect(second, &a)) {
        return false;
    }
    r.right = a.right;
    if (r.top < a.bottom) {
        r.top = a.bottom;
    }
    {
        const TWindowDC dc(box);
        if (dc.Get() == nullptr) {
            return false;
        }
        // Measured in the options' font and always with the longer new-entry
        // caption, so both caption sets get the same height.
        const HGDIOBJ oldFont = SelectObject(dc.Get(), OptionFont());
        const int check = SystemMetricForDpi(SM_CXMENUCHECK, dialogState.Dpi);
        RECT line = {};
        DrawTextW(dc.Get(), OPTION_ADD, -1, &line, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        const int needed = check + Scaled(CHECK_TEXT_GAP) + line.right;
        widen = dialogState.WithOptions && needed > r.right - r.left ? needed - (r.right - r.left) : 0;
        r.right += widen;
        RECT m = {check, 0, r.right - r.left, SHRT_MAX};
        DrawTextW(dc.Get(), OPTION_ADD, -1, &m, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        h = m.bottom;
        SelectObject(dc.Get(), oldFont);
    }
    r.bottom = r.top + h + h / 2;
    r.top = r.top + h / 2;
    // A zero result is also the answer for a zero offset; only the error
    // code tells a failure.
    SetLastError(ERROR_SUCCESS);
    return MapWindowPoints(HWND_DESKTOP, box, reinterpret_cast<POINT*>(&r), 2) != 0
        || GetLastError() == ERROR_SUCCESS;
}

// Lines lines of the options' font, fewer where the screen has no room for
// them (never less than one).
int FieldHeight(int lines, int growthBesides)
{
    TEXTMETRICW metrics = {};
    {
        const TWindowDC dc(dialogState.BoxWnd);
        const HGDIOBJ oldFont = dc.Get() == nullptr ? nullptr : SelectObject(dc.Get(), OptionFont());
        if (dc.Get() == nullptr || !GetTextMetricsW(dc.Get(), &metrics)) {
            metrics.tmHeight = Scaled(16);
        }
        if (dc.Get() != nullptr) {
            SelectObject(dc.Get(), oldFont);
        }
    }
    const int border = 2 * SystemMetricForDpi(SM_CYEDGE, dialogState.Dpi) + Scaled(2);
    RECT box = {};
    GetWindowRect(dialogState.BoxWnd, &box);
    const int room = Height(WorkArea(dialogState.BoxWnd)) - Height(box) - growthBesides;
    const int height = static_cast<int>(metrics.tmHeight);
    return std::max(height + border, std::min(lines * height + border, room));
}

HWND CreateChild(const wchar_t* className, const wchar_t* text, DWORD exStyle, DWORD style, int x, int y, int width,
                 int height)
{
    const HWND child = CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, x, y, width,
                                       height, dialogState.BoxWnd, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (child != nullptr) {
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(OptionFont()), 0);
    }
    return child;
}

HWND CreateOption(const wchar_t* caption, const RECT& r, int y)
{
    return CreateChild(L"BUTTON", caption, WS_EX_NOPARENTNOTIFY, BS_LEFT | BS_AUTORADIOBUTTON, r.left, y,
                       r.right - r.left, r.bottom - r.top);
}

void AddOptions(const RECT& r, int top, int h)
{
    const int gap = Scaled(OPTION_GAP);
    const bool changed = dialogState.IsChangedEntry;
    dialogState.OptionWnd1 = CreateOption(changed ? OPTION_REMOVE_CHANGED : OPTION_REMOVE_NEW, r, top + gap);
    if (dialogState.OptionWnd1 != nullptr) {
        SendMessageW(dialogState.OptionWnd1, BM_SETCHECK, BST_CHECKED, 0);
        // Told straight to the button; the keyboard focus stays where the box put it.
        SendMessageW(dialogState.OptionWnd1, WM_ACTIVATE, WA_ACTIVE, 0);
        SendMessageW(dialogState.OptionWnd1, WM_SETFOCUS, 0, 0);
    }
    dialogState.OptionWnd2 = CreateOption(changed ? OPTION_CORRECT : OPTION_ADD, r, top + h + 2 * gap);
}

// The lines the account of the program takes at Width, wrapped as its
// field wraps them.
int IdentityLines(int width)
{
    RECT needed = {0, 0, width, 0};
    TEXTMETRICW metrics = {};
    const TWindowDC dc(dialogState.BoxWnd);
    if (dc.Get() == nullptr) {
        return IDENTITY_LINES;
    }
    const HGDIOBJ oldFont = SelectObject(dc.Get(), OptionFont());
    DrawTextW(dc.Get(), dialogState.Identity.c_str(), -1, &needed, MEASURE_TEXT);
    GetTextMetricsW(dc.Get(), &metrics);
    SelectObject(dc.Get(), oldFont);
    const int height = std::max<int>(1, static_cast<int>(metrics.tmHeight));
    return std::min(IDENTITY_LINES, std::max(1, (Height(needed) + height - 1) / height));
}

// The box as the system laid it out, fitted to its screen, with the
// account of the program the entry starts, the field that shows the entry
// whole and the options under its message.
void AddControls()
{
    UseFontForDpi(WindowDpi(dialogState.BoxWnd));
    FitTextToWorkArea();
    RECT r = {};
    int h = 0;
    int widen = 0;
    const bool identity = !dialogState.Identity.empty();
    if ((dialogState.WithOptions || dialogState.FullText != nullptr || identity) && CalcOptionRect(r, h, widen)) {
        const int optionsHeight = dialogState.WithOptions ? 2 * h + Scaled(ROW_EXTRA) : 0;
        const int identityHeight = identity ? FieldHeight(IdentityLines(r.right - r.left - SystemMetricForDpi(SM_CXVSCROLL, dialogState.Dpi) - Scaled(8)), optionsHeight + h) : 0;
        const int identityBlock = identity ? identityHeight + h / 2 : 0;
        const int fieldHeight = dialogState.FullText != nullptr ? FieldHeight(FULL_TEXT_LINES, optionsHeight + identityBlock + h / 2) : 0;
        const int fieldBlock = dialogState.FullText != nullptr ? fieldHeight + h / 2 : 0;
        ShiftBoxButtons(widen / 2, identityBlock + fieldBlock + optionsHeight);
        if (identity) {
            dialogState.IdentityWnd = CreateChild(L"EDIT", dialogState.Identity.c_str(), 0,
                                                  WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, r.left, r.top,
                                                  r.right - r.left, identityHeight);
            // Told as soon as a signature still being checked is known.
            NotifyWhenChecked(dialogState.BoxWnd, WM_IDENTITY_CHECKED);
            PostMessageW(dialogState.BoxWnd, WM_IDENTITY_CHECKED, 0, 0);
        }
        if (dialogState.FullText != nullptr) {
            dialogState.FieldWnd =
                CreateChild(L"EDIT", dialogState.FullText->c_str(), WS_EX_CLIENTEDGE,
                            WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, r.left, r.top + identityBlock,
                            r.right - r.left, fieldHeight);
        }
        if (dialogState.WithOptions) {
            AddOptions(r, r.top + identityBlock + fieldBlock, h);
        }
        ResizeBox(widen, identityBlock + fieldBlock + optionsHeight);
    }
    KeepInWorkArea();
}

// A signature check ended: the account shows what is known now.
void RefreshIdentity()
{
    if (dialogState.IdentityWnd == nullptr || dialogState.Starts == nullptr) {
        return;
    }
    const TWideString now = IdentityText(*dialogState.Starts, 0);
    if (now != dialogState.Identity) {
        dialogState.Identity = now;
        SetWindowTextW(dialogState.IdentityWnd, now.c_str());
    }
}

bool OptionsShown() { return dialogState.OptionWnd1 != nullptr && dialogState.OptionWnd2 != nullptr; }

// The box moved to a screen of another DPI: it takes the rectangle Windows
// suggests, and the options the font of that DPI (the box scales the
// controls of its own template itself).
void MoveToDpi(UINT dpi, const RECT& suggested)
{
    SetWindowPos(dialogState.BoxWnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    TFontHandle oldFont(dialogState.Font.Release());
    UseFontForDpi(dpi);
    for (const HWND added : {dialogState.OptionWnd1, dialogState.OptionWnd2, dialogState.FieldWnd, dialogState.IdentityWnd}) {
        if (added != nullptr) {
            SendMessageW(added, WM_SETFONT, reinterpret_cast<WPARAM>(OptionFont()), TRUE);
        }
    }
}

// Some message boxes lay out their controls inside WM_INITDIALOG, after the
// box's first activation; the controls are therefore added once the box's
// own WM_INITDIALOG has run, when its geometry is final everywhere.
LRESULT CALLBACK BoxWndProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const LRESULT result = CallWindowProcW(dialogState.BoxProc, wnd, message, wParam, lParam);
    if (message == WM_INITDIALOG && wnd == dialogState.BoxWnd && !OptionsShown()) {
        AddControls();
    }
    if (message == WM_DPICHANGED && wnd == dialogState.BoxWnd) {
        MoveToDpi(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
    }
    if (message == WM_IDENTITY_CHECKED && wnd == dialogState.BoxWnd) {
        RefreshIdentity();
    }
    return result;
}

LRESULT CALLBACK ChoiceHookProc(int code, WPARAM wParam, LPARAM lParam)
{
    const HWND wnd = reinterpret_cast<HWND>(wParam);
    switch (code) {
    case HCBT_CREATEWND:
        // The first window the thread creates after the hook is set is the box.
        if (dialogState.BoxWnd == nullptr) {
            dialogState.BoxWnd = wnd;
            dialogState.BoxProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
                wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BoxWndProc)));
        }
        break;
    case HCBT_DESTROYWND:
        // Only the box's own end counts: its options still exist at this point.
        if (wnd == dialogState.BoxWnd && OptionsShown()) {
            const bool second =
                SendMessageW(dialogState.OptionWnd2, BM_GETCHECK, 0, 0) == BST_CHECKED;
            dialogState.LastChoice = second ? ChoiceAddToList : ChoiceRemove;
            dialogState.ChoiceRead = true;
        }
        break;
    default:
        break;
    }
    return CallNextHookEx(dialogState.HookHandle, code, wParam, lParam);
}

// The message box, with what the hook adds to it; IDCANCEL when the hook
// cannot be set.
int ShowHookedBox(HWND owner, const TWideString& text, UINT style, const TEntryText* entry, bool withOptions)
{
    dialogState.BoxWnd = nullptr;
    dialogState.BoxProc = nullptr;
    dialogState.OptionWnd2 = nullptr;
    dialogState.OptionWnd1 = nullptr;
    dialogState.FieldWnd = nullptr;
    dialogState.IdentityWnd = nullptr;
    dialogState.ChoiceRead = false;
    dialogState.WithOptions = withOptions;
    dialogState.FullText = entry != nullptr && entry->Shortened() ? &entry->full : nullptr;
    int result = IDCANCEL;
    {
        const THookHandle hook(SetWindowsHookExW(WH_CBT, ChoiceHookProc, GetModuleHandleW(nullptr),
                                                 GetCurrentThreadId()));
        if (!hook.Valid()) {
            return result;
        }
        dialogState.HookHandle = hook.Get();
        result = MessageBoxW(owner, text.c_str(), APP_CAPTION, style);
        dialogState.HookHandle = nullptr;
    }
    NotifyWhenChecked(nullptr, 0);
    dialogState.Starts = nullptr;
    dialogState.Identity.clear();
    // The controls are gone with the box; their font goes now.
    dialogState.Font.Reset();
    dialogState.FullText = nullptr;
    return result;
}

} // namespace

bool ShowChoiceDialog(HWND owner, bool isChanged, const TEntryText& entry, TChoice& choice)
{
    dialogState.IsChangedEntry = isChanged;
    dialogState.Starts = &entry.starts;
    dialogState.Identity = IdentityText(entry.starts, IDENTITY_WAIT_MS);
    const int result = ShowHookedBox(owner, FormatMsg(isChanged ? MSG_CHANGED_ENTRY : MSG_NEW_ENTRY, {entry.shown}),
                                     MB_OKCANCEL | MB_ICONQUESTION | MB_SYSTEMMODAL, &entry, true);
    if (dialogState.LastChoice == ChoiceAddToList && isChanged) {
        dialogState.LastChoice = ChoiceCorrectList;
    }
    choice = dialogState.LastChoice;
    return result == IDOK && dialogState.ChoiceRead;
}

bool AskAboutEntry(HWND owner, const wchar_t* templ, const TEntryText& entry)
{
    return ShowHookedBox(owner, FormatMsg(templ, {entry.shown}), MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL, &entry,
                         false)
        == IDYES;
}

int ShowFittedBox(HWND owner, const TWideString& text, UINT style)
{
    return ShowHookedBox(owner, text, style, nullptr, false);
}

TWideString WindowText(HWND wnd)
{
    TWideString text(static_cast<std::size_t>(GetWindowTextLengthW(wnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(wnd, &text[0], static_cast<int>(text.size()))));
    return text;
}
