#include "dlgSelectUnit.h"

#include "AllowedList.h"
#include "Dpi.h"
#include "MainState.h"
#include "ScopedHandle.h"

#include <climits>

namespace {

// At BASE_DPI; every size is scaled to the DPI of the box's screen.
constexpr int OPTION_GAP = 3;
constexpr int ROW_EXTRA = 10; // the gap above, between and below the two options
constexpr int CHECK_TEXT_GAP = 8; // between a radio button's circle and its caption

struct TDialogState {
    TChoice LastChoice = ChoiceAddToList;
    bool IsChangedEntry = false;
    HWND BoxWnd = nullptr;
    HWND OptionWnd2 = nullptr;
    HWND OptionWnd1 = nullptr;
    HHOOK HookHandle = nullptr;
    WNDPROC BoxProc = nullptr; // the box's own window procedure
    bool ChoiceRead = false;   // the box itself was destroyed with its options
    UINT Dpi = BASE_DPI;
    TFontHandle Font; // the message font at Dpi, for the options
};

TDialogState dialogState;

// Widen: how much the box must grow so that the longer caption fits on one
// line. A short entry makes a narrow box, in which wrapped captions would
// reach into the buttons below.
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

bool CalcOptionRect(RECT& r, int& h, int& widen)
{
    const HWND box = dialogState.BoxWnd;
    const HWND first = FindWindowExW(box, nullptr, L"STATIC", nullptr);
    RECT a = {};
    if (first == nullptr || !GetWindowRect(first, &a)) {
        return false;
    }
    r.left = a.left;
    r.top = a.bottom;
    const HWND second = FindWindowExW(box, first, L"STATIC", nullptr);
    if (second == nullptr || !GetWindowRect(second, &a)) {
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
        const int needed = check + ScaleForDpi(CHECK_TEXT_GAP, dialogState.Dpi) + line.right;
        widen = needed > r.right - r.left ? needed - (r.right - r.left) : 0;
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

void ShiftBoxButtons(int dx, int dy)
{
    const HWND box = dialogState.BoxWnd;
    for (HWND child = FindWindowExW(box, nullptr, L"BUTTON", nullptr); child != nullptr;
         child = FindWindowExW(box, child, L"BUTTON", nullptr)) {
        RECT a = {};
        GetWindowRect(child, &a);
        MapWindowPoints(HWND_DESKTOP, box, reinterpret_cast<POINT*>(&a), 2);
        SetWindowPos(child, nullptr, a.left + dx, a.top + dy, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
    }
}

HWND CreateOption(const wchar_t* caption, const RECT& r, int y)
{
    const HWND box = dialogState.BoxWnd;
    const HWND option = CreateWindowExW(
        WS_EX_NOPARENTNOTIFY, L"BUTTON", caption,
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_LEFT | BS_AUTORADIOBUTTON, r.left, y,
        r.right - r.left, r.bottom - r.top, box, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (option != nullptr) {
        SendMessageW(option, WM_SETFONT, reinterpret_cast<WPARAM>(OptionFont()), 0);
    }
    return option;
}

void AddOptionButtons()
{
    RECT r = {};
    int h = 0;
    int widen = 0;
    UseFontForDpi(WindowDpi(dialogState.BoxWnd));
    if (!CalcOptionRect(r, h, widen)) {
        return;
    }
    const int gap = ScaleForDpi(OPTION_GAP, dialogState.Dpi);
    const int growth = 2 * h + ScaleForDpi(ROW_EXTRA, dialogState.Dpi);
    ShiftBoxButtons(widen / 2, growth);
    const bool changed = dialogState.IsChangedEntry;
    dialogState.OptionWnd1 =
        CreateOption(changed ? OPTION_REMOVE_CHANGED : OPTION_REMOVE_NEW, r, r.top + gap);
    if (dialogState.OptionWnd1 != nullptr) {
        SendMessageW(dialogState.OptionWnd1, BM_SETCHECK, BST_CHECKED, 0);
        // Told straight to the button; the keyboard focus stays where the box put it.
        SendMessageW(dialogState.OptionWnd1, WM_ACTIVATE, WA_ACTIVE, 0);
        SendMessageW(dialogState.OptionWnd1, WM_SETFOCUS, 0, 0);
    }
    dialogState.OptionWnd2 =
        CreateOption(changed ? OPTION_CORRECT : OPTION_ADD, r, r.top + h + 2 * gap);
    RECT box = {};
    if (GetWindowRect(dialogState.BoxWnd, &box)) {
        SetWindowPos(dialogState.BoxWnd, nullptr, 0, 0, box.right - box.left + widen,
                     box.bottom - box.top + growth,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
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
    for (const HWND option : {dialogState.OptionWnd1, dialogState.OptionWnd2}) {
        if (option != nullptr) {
            SendMessageW(option, WM_SETFONT, reinterpret_cast<WPARAM>(OptionFont()), TRUE);
        }
    }
}

// Some message boxes lay out their controls inside WM_INITDIALOG, after the
// box's first activation; the options are therefore added once the box's own
// WM_INITDIALOG has run, when its geometry is final everywhere.
LRESULT CALLBACK BoxWndProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    const LRESULT result = CallWindowProcW(dialogState.BoxProc, wnd, message, wParam, lParam);
    if (message == WM_INITDIALOG && wnd == dialogState.BoxWnd && !OptionsShown()) {
        AddOptionButtons();
    }
    if (message == WM_DPICHANGED && wnd == dialogState.BoxWnd) {
        MoveToDpi(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
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

} // namespace

bool ShowChoiceDialog(HWND owner, bool isChanged, const TWideString& entryText, TChoice& choice)
{
    dialogState.BoxWnd = nullptr;
    dialogState.BoxProc = nullptr;
    dialogState.OptionWnd2 = nullptr;
    dialogState.OptionWnd1 = nullptr;
    dialogState.ChoiceRead = false;
    dialogState.IsChangedEntry = isChanged;
    int result = IDCANCEL;
    {
        const THookHandle hook(SetWindowsHookExW(WH_CBT, ChoiceHookProc, GetModuleHandleW(nullptr),
                                                 GetCurrentThreadId()));
        if (!hook.Valid()) {
            return false;
        }
        dialogState.HookHandle = hook.Get();
        const TWideString message =
            FormatMsg(isChanged ? MSG_CHANGED_ENTRY : MSG_NEW_ENTRY, {entryText});
        result = MessageBoxW(owner, message.c_str(), APP_CAPTION,
                             MB_OKCANCEL | MB_ICONQUESTION | MB_SYSTEMMODAL);
        if (dialogState.LastChoice == ChoiceAddToList && isChanged) {
            dialogState.LastChoice = ChoiceCorrectList;
        }
        dialogState.HookHandle = nullptr;
    }
    // The options are gone with the box; their font goes now.
    dialogState.Font.Reset();
    choice = dialogState.LastChoice;
    return result == IDOK && dialogState.ChoiceRead;
}
