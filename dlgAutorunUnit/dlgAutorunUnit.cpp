#include "dlgAutorunUnit.h"

#include "AllowedList.h"
#include "AutorunRows.h"
#include "Dpi.h"
#include "Identity.h"
#include "MainState.h"
#include "ScopedHandle.h"
#include "dlgSelectUnit.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>

namespace {

constexpr UINT WM_FACTS = WM_APP + 2;  // wParam: rows read so far; lParam: the survey they belong to
constexpr UINT WM_SELECTION = WM_APP + 3; // the selection changed: the actions follow it once
constexpr UINT WM_HISTORY_READ = WM_APP + 4; // lParam: the survey the history was read for
constexpr UINT DPI_CHANGED = 0x02E0;   // WM_DPICHANGED, Windows 8.1
constexpr int IDC_TABS = 100;
constexpr int IDC_SEARCH = 101;
constexpr int IDC_LIST = 102;
constexpr int IDC_HISTORY = 103;
constexpr int IDC_FIRST_ACTION = 110;
constexpr int IDM_FIND = 120;
constexpr int IDM_CHECK_NOW = 121;
constexpr int ACTIONS = 5;
constexpr int ACTION_REMOVE_ID = IDC_FIRST_ACTION, ACTION_RESTORE_ID = IDC_FIRST_ACTION + 1,
              ACTION_FORGET_ID = IDC_FIRST_ACTION + 2, ACTION_OPEN_ID = IDC_FIRST_ACTION + 3,
              ACTION_COPY_ID = IDC_FIRST_ACTION + 4;
const wchar_t* const ACTION_TEXTS[ACTIONS] = {ACTION_REMOVE, ACTION_RESTORE, ACTION_FORGET, ACTION_OPEN_FOLDER, ACTION_COPY};
// Sizes at 96 DPI.
constexpr int MARGIN = 8;
constexpr int GAP = 6;
constexpr int BUTTON_PADDING = 24;
constexpr int DEFAULT_WIDTH = 980;
constexpr int DEFAULT_HEIGHT = 560;
constexpr int MIN_WIDTH = 480;
constexpr int MIN_HEIGHT = 300;
constexpr int MAX_EXTENT = 16384; // of a size or a place the settings file keeps
const int DEFAULT_COLUMNS[LIST_COLUMNS] = {180, 270, 150, 140, 200, 120, 160};
const int DEFAULT_HISTORY_COLUMNS[HISTORY_COLUMNS] = {130, 130, 260, 200, 260, 150};
// Facts are posted after every so many rows: each post repaints the list.
constexpr std::size_t FACTS_BATCH = 64;

// The descriptions and companies of one survey's rows, read on a thread of
// their own. The thread holds the job as long as it runs; a new survey
// stops the old job and forgets it without waiting.
struct TFactsJob {
    std::vector<std::vector<TStartItem>> starts;
    std::vector<TVersionFacts> facts;
    std::atomic<bool> stop{false};
    HWND window = nullptr;
    LPARAM survey = 0;
};

// The history, read on a thread of its own once a survey is shown: every
// line, and what it adds to the survey's rows.
struct THistoryJob {
    std::set<TWideString> known;
    std::vector<THistoryLine> lines;
    THistoryFacts facts;
    HWND window = nullptr;
    LPARAM survey = 0;
};

struct TWindowState {
    HWND window = nullptr;
    HWND tabs = nullptr;
    HWND search = nullptr;
    HWND list = nullptr;
    HWND history = nullptr;
    HWND actions[ACTIONS] = {};
    TFontHandle font;
    TAcceleratorHandle keys;
    UINT dpi = BASE_DPI;
    TAutorunHost host = {};
    std::vector<TAutorunRow> rows;
    std::vector<std::size_t> shown; // rows in the list, in its order
    std::vector<THistoryLine> lines;
    std::vector<TWideString> lineKeys; // each line's columns upper-cased, made when the search first needs them
    std::vector<std::size_t> shownLines;
    bool historyStale = true; // refilled when its tab is shown
    bool selectionPosted = false;
    std::shared_ptr<TFactsJob> facts;
    std::shared_ptr<THistoryJob> historyJob;
    std::size_t factsApplied = 0;
    LPARAM survey = 0;
    int columns[LIST_COLUMNS] = {};
    int historyColumns[HISTORY_COLUMNS] = {};
};

TWindowState state;

int Scaled(int size) { return ScaleForDpi(size, state.dpi); }

int Unscaled(int size) { return MulDiv(size, BASE_DPI, static_cast<int>(state.dpi)); }

bool OnHistoryTab() { return TabCtrl_GetCurSel(state.tabs) == 1; }

HWND CurrentList() { return OnHistoryTab() ? state.history : state.list; }

// --- What the settings file keeps of the window ---

// What the settings file keeps for the window under Name; empty when it
// keeps nothing, or cannot be read (the window then opens as it would the
// first time).
TWideString Setting(const wchar_t* name)
{
    try {
        return LookupAllowed(WINDOW_SECTION, name).value_or(TWideString());
    } catch (const TINIExcept&) {
        return TWideString();
    }
}

// A number kept for the window, within Low and High (a hand edit may hold
// anything); nothing when none is kept.
std::optional<int> SettingNumber(const wchar_t* name, int low, int high)
{
    const TWideString value = Setting(name);
    if (value.empty()) {
        return std::nullopt;
    }
    return std::max(low, std::min(high, _wtoi(value.c_str())));
}

void ReadColumns(const wchar_t* name, int* widths, const int* defaults, int count)
{
    const TWideString value = Setting(name);
    const wchar_t* at = value.c_str();
    for (int column = 0; column < count; ++column) {
        const int width = *at != L'\0' ? _wtoi(at) : 0;
        widths[column] = width > 0 && width < MAX_EXTENT ? width : defaults[column];
        while (*at != L'\0' && *at != L',') {
            ++at;
        }
        at += *at == L',' ? 1 : 0;
    }
}

TWideString Number(int number)
{
    wchar_t text[16];
    wsprintfW(text, L"%d", number);
    return text;
}

TWideString ColumnsSetting(HWND list, int count)
{
    TWideString value;
    for (int column = 0; column < count; ++column) {
        value += (column == 0 ? L"" : L",") + Number(Unscaled(ListView_GetColumnWidth(list, column)));
    }
    return value;
}

// The place in pixels at the window's DPI, the columns at 96 DPI.
void SaveWindowSettings()
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    GetWindowPlacement(state.window, &placement);
    const RECT& r = placement.rcNormalPosition;
    TWideString records;
    AppendRecord(records, L"Left", Number(r.left));
    AppendRecord(records, L"Top", Number(r.top));
    AppendRecord(records, L"Width", Number(Unscaled(r.right - r.left)));
    AppendRecord(records, L"Height", Number(Unscaled(r.bottom - r.top)));
    AppendRecord(records, L"Columns", ColumnsSetting(state.list, LIST_COLUMNS));
    AppendRecord(records, L"HistoryColumns", ColumnsSetting(state.history, HISTORY_COLUMNS));
    try {
        SaveAllowedSection(records, WINDOW_SECTION);
    } catch (const TINIExcept&) {
        // The window opens where it did last time: nothing else is lost.
    }
}

// --- The lists ---

void AddColumns(HWND list, int count, const wchar_t* (*title)(int), const int* widths)
{
    for (int column = 0; column < count; ++column) {
        LVCOLUMNW info = {};
        info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        info.pszText = const_cast<wchar_t*>(title(column));
        info.cx = Scaled(widths[column]);
        info.iSubItem = column;
        ListView_InsertColumn(list, column, &info);
    }
}

// The entries' list holds its rows, in groups; the history's, long as it
// grows, holds none: it asks for each line it shows (LVS_OWNERDATA).
HWND MakeList(HINSTANCE instance, int id, int count, const wchar_t* (*title)(int), const int* widths, bool groups)
{
    const DWORD style = WS_CHILD | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | (groups ? 0 : LVS_OWNERDATA);
    HWND list = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", style, 0, 0, 0, 0, state.window,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_LABELTIP);
    AddColumns(list, count, title, widths);
    if (groups) {
        ListView_EnableGroupView(list, TRUE);
    }
    return list;
}

void AddGroup(HWND list, std::size_t group)
{
    LVGROUP info = {};
    info.cbSize = sizeof(info);
    info.mask = LVGF_HEADER | LVGF_GROUPID;
    info.pszHeader = const_cast<wchar_t*>(GroupTitle(group));
    info.iGroupId = static_cast<int>(group);
    ListView_InsertGroup(list, -1, &info);
}

void InsertItem(HWND list, int index, std::size_t source, int group)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM | (group >= 0 ? LVIF_GROUPID : 0);
    item.iItem = index;
    item.pszText = LPSTR_TEXTCALLBACKW;
    item.lParam = static_cast<LPARAM>(source);
    item.iGroupId = group;
    ListView_InsertItem(list, &item);
}

std::vector<std::size_t> Selected(HWND list, const std::vector<std::size_t>& shown)
{
    std::vector<std::size_t> selected;
    for (int item = ListView_GetNextItem(list, -1, LVNI_SELECTED); item >= 0;
         item = ListView_GetNextItem(list, item, LVNI_SELECTED)) {
        if (static_cast<std::size_t>(item) < shown.size()) {
            selected.push_back(shown[static_cast<std::size_t>(item)]);
        }
    }
    return selected;
}

bool Removable(TEntryState s) { return s == TEntryState::Allowed || s == TEntryState::Undecided || s == TEntryState::SwitchedOff; }

bool Restorable(TEntryState s) { return s == TEntryState::Removed || s == TEntryState::Disabled; }

bool Forgettable(TEntryState s) { return s == TEntryState::Allowed || s == TEntryState::Gone; }

// The selected entries in a state Fits takes (every one without it),
// copied: a refresh (after a check, or while an action's box is open)
// replaces the rows.
std::vector<TAutorunRow> SelectedCopies(bool (*fits)(TEntryState) = nullptr)
{
    std::vector<TAutorunRow> rows;
    for (const std::size_t i : Selected(state.list, state.shown)) {
        if (fits == nullptr || fits(state.rows[i].state)) {
            rows.push_back(state.rows[i]);
        }
    }
    return rows;
}

bool SameRow(const TAutorunRow& a, const TAutorunRow& b) { return a.state == b.state && SameEntry(a.key, b.key); }

// Refills the entries' list from the rows the search matches, group by
// group; the rows that were selected stay selected.
void FillEntries(const std::vector<TAutorunRow>& selectedBefore)
{
    const TWideString needle = UpperCase(WindowText(state.search));
    SendMessageW(state.list, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(state.list);
    ListView_RemoveAllGroups(state.list);
    state.shown.clear();
    for (std::size_t i = 0; i < state.rows.size(); ++i) {
        TAutorunRow& row = state.rows[i];
        if (!needle.empty() && row.haystack.empty()) {
            IndexRow(row);
        }
        if (Matches(row.haystack, needle)) {
            state.shown.push_back(i);
        }
    }
    std::stable_sort(state.shown.begin(), state.shown.end(),
                     [](std::size_t a, std::size_t b) { return state.rows[a].group < state.rows[b].group; });
    ListView_SetItemCount(state.list, static_cast<int>(state.shown.size()));
    std::vector<bool> grouped(GroupCount());
    for (std::size_t at = 0; at < state.shown.size(); ++at) {
        const TAutorunRow& row = state.rows[state.shown[at]];
        if (!grouped[row.group]) {
            AddGroup(state.list, row.group);
            grouped[row.group] = true;
        }
        InsertItem(state.list, static_cast<int>(at), state.shown[at], static_cast<int>(row.group));
        for (const TAutorunRow& before : selectedBefore) {
            if (SameRow(before, row)) {
                ListView_SetItemState(state.list, static_cast<int>(at), LVIS_SELECTED, LVIS_SELECTED);
            }
        }
    }
    SendMessageW(state.list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(state.list, nullptr, TRUE);
}

void FillHistory()
{
    state.historyStale = false;
    const TWideString needle = UpperCase(WindowText(state.search));
    state.shownLines.clear();
    if (!needle.empty() && state.lineKeys.size() != state.lines.size()) {
        state.lineKeys.clear();
        for (const THistoryLine& line : state.lines) {
            state.lineKeys.push_back(HistoryHaystack(line));
        }
    }
    for (std::size_t i = 0; i < state.lines.size(); ++i) {
        if (needle.empty() || Matches(state.lineKeys[i], needle)) {
            state.shownLines.push_back(i);
        }
    }
    ListView_SetItemCountEx(state.history, static_cast<int>(state.shownLines.size()), 0);
    InvalidateRect(state.history, nullptr, TRUE);
}

void UpdateActions();

// The history, long as it grows, is filled only when its tab is shown.
void FillShownHistory()
{
    state.historyStale = true;
    if (OnHistoryTab()) {
        FillHistory();
    }
}

// --- Descriptions and companies, as they come ---

DWORD WINAPI ReadFactsThread(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<TFactsJob>> holder(static_cast<std::shared_ptr<TFactsJob>*>(parameter));
    TFactsJob& job = **holder;
    for (std::size_t i = 0; i < job.starts.size() && !job.stop; ++i) {
        for (const TProgramFile& file : ProgramFiles(job.starts[i])) {
            if (file.found && !file.remote && ReadVersionFacts(file.path, job.facts[i])) {
                break;
            }
        }
        if ((i + 1) % FACTS_BATCH == 0 || i + 1 == job.starts.size()) {
            PostMessageW(job.window, WM_FACTS, i + 1, job.survey);
        }
    }
    return 0;
}

void StartReadingFacts()
{
    if (state.facts) {
        state.facts->stop = true;
    }
    state.facts = std::make_shared<TFactsJob>();
    state.factsApplied = 0;
    state.facts->window = state.window;
    state.facts->survey = state.survey;
    for (const TAutorunRow& row : state.rows) {
        state.facts->starts.push_back(row.text.starts);
    }
    state.facts->facts.resize(state.rows.size());
    auto* holder = new std::shared_ptr<TFactsJob>(state.facts);
    const TKernelHandle thread(CreateThread(nullptr, 0, ReadFactsThread, holder, 0, nullptr));
    if (!thread.Valid()) {
        delete holder;
    }
}

void ApplyFacts(std::size_t done, LPARAM survey)
{
    if (survey != state.survey || !state.facts || done > state.rows.size()) {
        return;
    }
    for (; state.factsApplied < done; ++state.factsApplied) {
        TAutorunRow& row = state.rows[state.factsApplied];
        row.facts = state.facts->facts[state.factsApplied];
        row.haystack.clear();
    }
    // A search may match the rows' new texts: the list is refilled once, at the end.
    if (done == state.rows.size() && GetWindowTextLengthW(state.search) > 0) {
        FillEntries(SelectedCopies());
    } else {
        InvalidateRect(state.list, nullptr, FALSE);
    }
}

// --- The history, read while the rows are shown ---

DWORD WINAPI ReadHistoryThread(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<THistoryJob>> holder(static_cast<std::shared_ptr<THistoryJob>*>(parameter));
    THistoryJob& job = **holder;
    try {
        job.lines = ReadHistory();
        job.facts = ReadHistoryFacts(job.lines, job.known);
    } catch (...) {
        // Out of memory: the window goes without its history.
        return 0;
    }
    PostMessageW(job.window, WM_HISTORY_READ, 0, job.survey);
    return 0;
}

void StartReadingHistory()
{
    state.historyJob = std::make_shared<THistoryJob>();
    state.historyJob->window = state.window;
    state.historyJob->survey = state.survey;
    for (const TAutorunRow& row : state.rows) {
        state.historyJob->known.insert(DecisionKey(row.key.section, row.key.name));
    }
    auto* holder = new std::shared_ptr<THistoryJob>(state.historyJob);
    const TKernelHandle thread(CreateThread(nullptr, 0, ReadHistoryThread, holder, 0, nullptr));
    if (!thread.Valid()) {
        delete holder;
    }
}

void ApplyHistory(LPARAM survey)
{
    if (survey != state.survey || !state.historyJob) {
        return;
    }
    const std::shared_ptr<THistoryJob> job = std::move(state.historyJob);
    state.lines = std::move(job->lines);
    state.lineKeys.clear();
    const std::vector<TAutorunRow> selected = SelectedCopies();
    ApplyHistoryFacts(state.rows, job->facts);
    FillEntries(selected);
    FillShownHistory();
    UpdateActions();
}

// --- What is there now ---

void Refresh()
{
    // A survey only reads: it may walk while a check's question is open.
    const std::vector<TAutorunRow> selected = SelectedCopies();
    AllowedListMayHaveChanged();
    try {
        // An opening window shows its first page before the walk is done;
        // a window that shows rows keeps them until the new ones are all there.
        const bool opening = state.rows.empty();
        state.rows = SurveyRows(state.host.walk, [&](const std::vector<TAutorunRow>& first) {
            if (opening) {
                state.rows = first;
                FillEntries({});
                UpdateWindow(state.window);
            }
        });
    } catch (const TINIExcept& e) {
        state.rows.clear();
        ShowFittedBox(state.window, FormatMsg(MSG_CANNOT_OPEN_FILE, {Visible(e.FileName)}), MB_OK | MB_ICONEXCLAMATION);
    }
    ++state.survey;
    FillEntries(selected);
    StartReadingFacts();
    StartReadingHistory();
    UpdateActions();
}

// --- Acting on the selected rows ---

std::vector<const TAutorunRow*> SelectedRows()
{
    std::vector<const TAutorunRow*> rows;
    for (const std::size_t i : Selected(state.list, state.shown)) {
        rows.push_back(&state.rows[i]);
    }
    return rows;
}

// The removals the selected history lines tell of that can be put back.
std::vector<TWideString> SelectedHistoryRemovals()
{
    std::vector<TWideString> places;
    for (const std::size_t i : Selected(state.history, state.shownLines)) {
        const THistoryLine& line = state.lines[i];
        for (const TAutorunRow& row : state.rows) {
            if (Restorable(row.state) && Visible(row.place) == line.detail && Visible(row.key.name) == line.name
                && line.what == HistoryKeyword(THistoryKind::Removed)) {
                places.push_back(row.place);
            }
        }
    }
    return places;
}

// The first file of the entry that is on this computer.
bool LocalFile(const TAutorunRow& row, TWideString& path)
{
    for (const TProgramFile& file : ProgramFiles(row.text.starts)) {
        if (file.found && !file.remote) {
            path = file.path;
            return true;
        }
    }
    return false;
}

void UpdateActions()
{
    bool remove = false, restore = false, forget = false, open = false;
    const std::vector<const TAutorunRow*> rows = SelectedRows();
    if (OnHistoryTab()) {
        restore = !SelectedHistoryRemovals().empty();
    } else {
        for (const TAutorunRow* row : rows) {
            remove = remove || Removable(row->state);
            restore = restore || Restorable(row->state);
            forget = forget || Forgettable(row->state);
        }
        open = rows.size() == 1;
    }
    const bool copy = ListView_GetSelectedCount(CurrentList()) > 0;
    const bool enabled[ACTIONS] = {remove, restore, forget, open, copy};
    for (int action = 0; action < ACTIONS; ++action) {
        EnableWindow(state.actions[action], enabled[action]);
    }
}

void RemoveSelected()
{
    std::vector<TEntryKey> targets;
    for (const TAutorunRow& row : SelectedCopies(Removable)) {
        targets.push_back(row.key);
    }
    // The check's end refreshes the window.
    if (!targets.empty() && !state.host.busy()) {
        state.host.remove(targets);
    }
}

void RestoreSelected()
{
    if (state.host.busy()) {
        return;
    }
    std::vector<TWideString> places;
    if (OnHistoryTab()) {
        places = SelectedHistoryRemovals();
    } else {
        for (const TAutorunRow& row : SelectedCopies(Restorable)) {
            places.push_back(row.place);
        }
    }
    for (const TWideString& place : places) {
        state.host.restore(place);
    }
    // The user may have closed the window while a warning was open.
    RefreshAutorunWindow();
}

void ForgetSelected()
{
    if (state.host.busy()) {
        return;
    }
    for (const TAutorunRow& row : SelectedCopies(Forgettable)) {
        state.host.forget(row.key);
    }
    RefreshAutorunWindow();
}

void OpenFolder()
{
    const std::vector<const TAutorunRow*> rows = SelectedRows();
    TWideString path;
    if (rows.size() != 1 || !LocalFile(*rows[0], path)) {
        MessageBeep(MB_ICONWARNING);
        return;
    }
    const TWideString parameters = L"/select,\"" + path + L"\"";
    ShellExecuteW(state.window, nullptr, L"explorer.exe", parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

void CopySelected()
{
    TWideString text;
    if (OnHistoryTab()) {
        std::vector<const THistoryLine*> lines;
        for (const std::size_t i : Selected(state.history, state.shownLines)) {
            lines.push_back(&state.lines[i]);
        }
        text = HistoryText(lines);
    } else {
        text = RowsText(SelectedRows());
    }
    const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory == nullptr) {
        return;
    }
    void* at = GlobalLock(memory);
    CopyMemory(at, text.c_str(), bytes);
    GlobalUnlock(memory);
    if (!OpenClipboard(state.window)) {
        GlobalFree(memory);
        return;
    }
    // The clipboard owns the memory once it is set.
    if (!EmptyClipboard() || SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
        GlobalFree(memory);
    }
    CloseClipboard();
}

// The question's whole text, and what the program is, read-only.
void ShowDetails()
{
    const std::vector<const TAutorunRow*> rows = SelectedRows();
    if (OnHistoryTab() || rows.empty()) {
        return;
    }
    const TAutorunRow& row = *rows[0];
    constexpr DWORD SIGNATURE_WAIT_MS = 300;
    const TWideString identity = IdentityText(row.text.starts, SIGNATURE_WAIT_MS);
    ShowFittedBox(state.window,
                  row.text.full + L"\n\r\n\r" + StateText(row.state) + (identity.empty() ? L"" : L"\n\r\n\r") + identity,
                  MB_OK | MB_ICONINFORMATION);
}

// The actions as the buttons offer them, at the pointer (or, from the
// keyboard, at the list's corner).
void ShowActionMenu(POINT at)
{
    // The click that brought the menu has just changed the selection.
    UpdateActions();
    const TMenuHandle menu(CreatePopupMenu());
    for (int action = 0; action < ACTIONS; ++action) {
        const UINT enabled = IsWindowEnabled(state.actions[action]) ? MF_ENABLED : MF_GRAYED;
        AppendMenuW(menu.Get(), MF_STRING | enabled, static_cast<UINT_PTR>(IDC_FIRST_ACTION + action), ACTION_TEXTS[action]);
    }
    if (at.x == -1 && at.y == -1) {
        at = {0, 0};
        ClientToScreen(CurrentList(), &at);
    }
    const int chosen = TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, state.window, nullptr);
    if (chosen != 0) {
        PostMessageW(state.window, WM_COMMAND, static_cast<WPARAM>(chosen), 0);
    }
}

void RunAction(int id)
{
    switch (id) {
    case ACTION_REMOVE_ID:
        RemoveSelected();
        break;
    case ACTION_RESTORE_ID:
        RestoreSelected();
        break;
    case ACTION_FORGET_ID:
        ForgetSelected();
        break;
    case ACTION_OPEN_ID:
        OpenFolder();
        break;
    case ACTION_COPY_ID:
        CopySelected();
        break;
    default:
        break;
    }
}

// --- Layout and DPI ---

void SetFonts()
{
    LOGFONTW logFont;
    // The children let go of the old font before it is deleted.
    TFontHandle font(MessageFontForDpi(state.dpi, logFont) ? CreateFontIndirectW(&logFont) : nullptr);
    for (HWND child = GetWindow(state.window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
    }
    state.font.Reset(font.Release());
}

int TextWidth(const wchar_t* text)
{
    const TWindowDC dc(state.window);
    const HGDIOBJ old = SelectObject(dc.Get(), state.font.Get());
    SIZE size = {};
    GetTextExtentPoint32W(dc.Get(), text, lstrlenW(text), &size);
    SelectObject(dc.Get(), old);
    return size.cx;
}

int FontHeight()
{
    LOGFONTW logFont;
    return MessageFontForDpi(state.dpi, logFont) ? std::abs(static_cast<int>(logFont.lfHeight)) : Scaled(12);
}

// The tabs and the search share the top row; the list is under them, the
// actions at the bottom. The tab control is no taller than its tabs: its
// body would be painted under the list for nothing.
void Layout()
{
    RECT client;
    GetClientRect(state.window, &client);
    const int margin = Scaled(MARGIN);
    const int gap = Scaled(GAP);
    const int rowHeight = FontHeight() + Scaled(12);
    const int buttonsTop = client.bottom - margin - rowHeight;
    RECT tab = {};
    TabCtrl_GetItemRect(state.tabs, 1, &tab);
    const int tabsWidth = tab.right > 0 ? tab.right + Scaled(2) : Scaled(200);
    const int tabsHeight = tab.bottom > 0 ? tab.bottom + Scaled(2) : rowHeight;
    MoveWindow(state.tabs, margin, margin, tabsWidth, tabsHeight, TRUE);
    const int searchLeft = margin + tabsWidth + gap;
    const int searchHeight = FontHeight() + Scaled(10);
    MoveWindow(state.search, searchLeft, margin + tabsHeight - searchHeight - Scaled(2),
               std::max(0, static_cast<int>(client.right) - margin - searchLeft), searchHeight, TRUE);
    const int listTop = margin + tabsHeight;
    for (HWND list : {state.list, state.history}) {
        MoveWindow(list, margin, listTop, client.right - 2 * margin, buttonsTop - gap - listTop, TRUE);
    }
    int x = margin;
    for (int action = 0; action < ACTIONS; ++action) {
        const int width = TextWidth(ACTION_TEXTS[action]) + Scaled(BUTTON_PADDING);
        MoveWindow(state.actions[action], x, buttonsTop, width, rowHeight, TRUE);
        x += width + gap;
    }
}

void ChangeDpi(UINT dpi, const RECT* suggested)
{
    for (int column = 0; column < LIST_COLUMNS; ++column) {
        state.columns[column] = Unscaled(ListView_GetColumnWidth(state.list, column));
    }
    for (int column = 0; column < HISTORY_COLUMNS; ++column) {
        state.historyColumns[column] = Unscaled(ListView_GetColumnWidth(state.history, column));
    }
    state.dpi = dpi;
    SetFonts();
    for (int column = 0; column < LIST_COLUMNS; ++column) {
        ListView_SetColumnWidth(state.list, column, Scaled(state.columns[column]));
    }
    for (int column = 0; column < HISTORY_COLUMNS; ++column) {
        ListView_SetColumnWidth(state.history, column, Scaled(state.historyColumns[column]));
    }
    SetWindowPos(state.window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    Layout();
}

void ShowTab()
{
    const bool history = OnHistoryTab();
    if (history && state.historyStale) {
        FillHistory();
    }
    ShowWindow(state.list, history ? SW_HIDE : SW_SHOW);
    ShowWindow(state.history, history ? SW_SHOW : SW_HIDE);
    UpdateActions();
}

// --- The window ---

void CreateChildren(HINSTANCE instance)
{
    state.tabs = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, 0, 0, 0, 0,
                                 state.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TABS)), instance, nullptr);
    const wchar_t* const tabTitles[] = {TAB_ENTRIES, TAB_HISTORY};
    for (int tab = 0; tab < 2; ++tab) {
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(tabTitles[tab]);
        TabCtrl_InsertItem(state.tabs, tab, &item);
    }
    state.search = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                                   0, 0, 0, 0, state.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_SEARCH)),
                                   instance, nullptr);
    SendMessageW(state.search, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(SEARCH_CUE));
    ReadColumns(L"Columns", state.columns, DEFAULT_COLUMNS, LIST_COLUMNS);
    ReadColumns(L"HistoryColumns", state.historyColumns, DEFAULT_HISTORY_COLUMNS, HISTORY_COLUMNS);
    state.list = MakeList(instance, IDC_LIST, LIST_COLUMNS, ColumnTitle, state.columns, true);
    state.history = MakeList(instance, IDC_HISTORY, HISTORY_COLUMNS, HistoryColumnTitle, state.historyColumns, false);
    for (int action = 0; action < ACTIONS; ++action) {
        state.actions[action] =
            CreateWindowExW(0, L"BUTTON", ACTION_TEXTS[action], WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0,
                            0, 0, state.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_FIRST_ACTION + action)),
                            instance, nullptr);
    }
    SetFonts();
    ShowTab();
}

void HandleCreate(HWND wnd, const CREATESTRUCTW* create)
{
    state.window = wnd;
    state.dpi = WindowDpi(wnd);
    CreateChildren(create->hInstance);
    Layout();
}

void HandleDestroy()
{
    SaveWindowSettings();
    if (state.facts) {
        state.facts->stop = true;
    }
    state.facts.reset();
    state.historyJob.reset();
    state.font.Reset();
    state.keys.Reset();
    state.window = state.tabs = state.search = state.list = state.history = nullptr;
    // Swapped out, not cleared: a cleared vector keeps its memory.
    std::vector<TAutorunRow>().swap(state.rows);
    std::vector<std::size_t>().swap(state.shown);
    std::vector<THistoryLine>().swap(state.lines);
    std::vector<TWideString>().swap(state.lineKeys);
    std::vector<std::size_t>().swap(state.shownLines);
    // What the window took (its rows, the list views' items, the facts
    // read) goes back to the system: a resident program stays small.
    HeapCompact(GetProcessHeap(), 0);
    SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

LRESULT HandleNotify(const NMHDR* header)
{
    const bool entries = header->idFrom == IDC_LIST;
    switch (header->code) {
    case LVN_GETDISPINFOW: {
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(header));
        const std::size_t item = static_cast<std::size_t>(info->item.iItem);
        const std::size_t source = entries ? static_cast<std::size_t>(info->item.lParam)
                                           : (item < state.shownLines.size() ? state.shownLines[item] : state.lines.size());
        if ((info->item.mask & LVIF_TEXT) != 0 && info->item.cchTextMax > 0) {
            const TWideString text = entries ? (source < state.rows.size() ? ColumnText(state.rows[source], info->item.iSubItem) : TWideString())
                                             : (source < state.lines.size() ? HistoryColumnText(state.lines[source], info->item.iSubItem) : TWideString());
            lstrcpynW(info->item.pszText, text.c_str(), info->item.cchTextMax);
        }
        return 0;
    }
    case LVN_ITEMCHANGED:
        // A selection of every row changes every row: the actions follow once.
        if (!state.selectionPosted) {
            state.selectionPosted = PostMessageW(state.window, WM_SELECTION, 0, 0) != FALSE;
        }
        return 0;
    case LVN_KEYDOWN:
        if (reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey == VK_DELETE && entries) {
            RemoveSelected();
        }
        return 0;
    case NM_DBLCLK:
        ShowDetails();
        return 0;
    case TCN_SELCHANGE:
        ShowTab();
        return 0;
    default:
        return 0;
    }
}

void HandleCommand(WPARAM wParam)
{
    const int id = LOWORD(wParam);
    if (id == IDC_SEARCH && HIWORD(wParam) == EN_CHANGE) {
        FillEntries({});
        FillShownHistory();
        UpdateActions();
    } else if (id == IDM_FIND) {
        SetFocus(state.search);
        SendMessageW(state.search, EM_SETSEL, 0, -1);
    } else if (id == IDM_CHECK_NOW) {
        state.host.check();
    } else if (id == IDOK) {
        if (GetFocus() == state.list) {
            ShowDetails();
        } else if (GetFocus() == state.search) {
            SetFocus(CurrentList());
        }
    } else if (id == IDCANCEL) {
        DestroyWindow(state.window);
    } else if (id >= IDC_FIRST_ACTION && id < IDC_FIRST_ACTION + ACTIONS) {
        RunAction(id);
    }
}

void HandleGetMinMaxInfo(MINMAXINFO* info)
{
    info->ptMinTrackSize.x = Scaled(MIN_WIDTH);
    info->ptMinTrackSize.y = Scaled(MIN_HEIGHT);
}

LRESULT CALLBACK AutorunWndProc(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        HandleCreate(wnd, reinterpret_cast<const CREATESTRUCTW*>(lParam));
        return 0;
    case WM_SIZE:
        Layout();
        return 0;
    case WM_GETMINMAXINFO:
        HandleGetMinMaxInfo(reinterpret_cast<MINMAXINFO*>(lParam));
        return 0;
    case DPI_CHANGED:
        ChangeDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_NOTIFY:
        return HandleNotify(reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND:
        HandleCommand(wParam);
        return 0;
    case WM_FACTS:
        ApplyFacts(static_cast<std::size_t>(wParam), lParam);
        return 0;
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) == CurrentList()) {
            ShowActionMenu({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            return 0;
        }
        return DefWindowProcW(wnd, message, wParam, lParam);
    case WM_HISTORY_READ:
        ApplyHistory(lParam);
        return 0;
    case WM_SELECTION:
        state.selectionPosted = false;
        UpdateActions();
        return 0;
    case WM_DESTROY:
        HandleDestroy();
        return 0;
    default:
        return DefWindowProcW(wnd, message, wParam, lParam);
    }
}

void RegisterAutorunClass(HINSTANCE instance)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = AutorunWndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, L"TRAYICON");
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = AUTORUN_CLASS_NAME;
    RegisterClassExW(&wc);
}

HACCEL MakeKeys()
{
    ACCEL keys[] = {{FVIRTKEY | FCONTROL, 'F', IDM_FIND}, {FVIRTKEY, VK_F5, IDM_CHECK_NOW}};
    return CreateAcceleratorTableW(keys, ARRAYSIZE(keys));
}

// Where the window was last, kept on a screen that is there now.
RECT StartingRect()
{
    const int width = Scaled(SettingNumber(L"Width", MIN_WIDTH, MAX_EXTENT).value_or(DEFAULT_WIDTH));
    const int height = Scaled(SettingNumber(L"Height", MIN_HEIGHT, MAX_EXTENT).value_or(DEFAULT_HEIGHT));
    const std::optional<int> left = SettingNumber(L"Left", -MAX_EXTENT, MAX_EXTENT);
    const std::optional<int> top = SettingNumber(L"Top", -MAX_EXTENT, MAX_EXTENT);
    RECT rect = {};
    if (left && top) {
        rect.left = *left;
        rect.top = *top;
    } else {
        POINT cursor = {};
        GetCursorPos(&cursor);
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof(monitor);
        GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY), &monitor);
        rect.left = (monitor.rcWork.left + monitor.rcWork.right - width) / 2;
        rect.top = (monitor.rcWork.top + monitor.rcWork.bottom - height) / 2;
    }
    rect.right = rect.left + width;
    rect.bottom = rect.top + height;
    // Kept on a screen that is there now, and no larger than its work area.
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const LONG w = std::min(rect.right - rect.left, work.right - work.left);
    const LONG h = std::min(rect.bottom - rect.top, work.bottom - work.top);
    rect.left = std::max(work.left, std::min(rect.left, work.right - w));
    rect.top = std::max(work.top, std::min(rect.top, work.bottom - h));
    rect.right = rect.left + w;
    rect.bottom = rect.top + h;
    return rect;
}

} // namespace

void ShowAutorunWindow(HINSTANCE instance, const TAutorunHost& host)
{
    if (state.window != nullptr) {
        if (IsIconic(state.window)) {
            ShowWindow(state.window, SW_RESTORE);
        }
        SetForegroundWindow(state.window);
        return;
    }
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterAutorunClass(instance);
    state.host = host;
    // The saved size is at 96 DPI; the window's DPI is known only once it is on a screen.
    state.dpi = WindowDpi(nullptr);
    const RECT rect = StartingRect();
    HWND wnd = CreateWindowExW(WS_EX_CONTROLPARENT | WS_EX_APPWINDOW, AUTORUN_CLASS_NAME, AUTORUN_TITLE,
                               WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, rect.left, rect.top, rect.right - rect.left,
                               rect.bottom - rect.top, nullptr, nullptr, instance, nullptr);
    if (wnd == nullptr) {
        return;
    }
    state.keys.Reset(MakeKeys());
    ShowWindow(wnd, SW_SHOWNORMAL);
    // The first page is painted as soon as the walk has found it; the rest
    // once the walk is done.
    Refresh();
    UpdateWindow(wnd);
    SetFocus(state.list);
    SetForegroundWindow(wnd);
}

void RefreshAutorunWindow()
{
    if (state.window != nullptr) {
        Refresh();
    }
}

bool AutorunWindowMessage(MSG& msg)
{
    if (state.window == nullptr || (msg.hwnd != state.window && !IsChild(state.window, msg.hwnd))) {
        return false;
    }
    return (state.keys.Valid() && TranslateAcceleratorW(state.window, state.keys.Get(), &msg))
        || IsDialogMessageW(state.window, &msg);
}

HWND AutorunWindow() { return state.window; }
