// The window of everything guarded with 2,000 entries, each figure against
// a floor of the same list view work done bare:
//
// 1. The open: from ShowAutorunWindow being called until the entries' list
//    holds its rows and has painted (ShowAutorunWindow fills the list and
//    returns; the window is then updated). Floor: a fresh process that
//    creates a bare report list view with the same six columns, fills it
//    with the same rows' texts (from a survey made beforehand, read from a
//    file before its clock starts) and updates it.
// 2. The search: WM_SETTEXT of a text that matches the Run values, about
//    half the rows, to the search edit (EN_CHANGE refills the list), until
//    painted. Floor: the bare list's refill (delete all items, insert the
//    matching rows), until painted. This and the tab below are timed once
//    the window's thread has read the descriptions and companies: on the
//    one core that thread would otherwise take its share of the step.
// 3. The history of 10,000 lines (history.log beside the settings file):
//    what it adds to the open (the same open with and without it: read,
//    joined to the rows' decisions, filled in) plus the switch to its tab
//    (a click on the tab, TCN_SELCHANGE, until painted). Floor: the file
//    read and split into its fields.
// 4. The working set of Runwarden.exe, resident: after it asked a question
//    (answered "remove"), before the window was opened, and once the window
//    was opened (IDM_AUTORUN to its hidden window), filled, closed again
//    (WM_CLOSE) and its reading thread had ended.
//
// The places: 1,000 Run values, 300 automatic services, 30 Active Setup
// components, 150 tasks in the task store, 100 files in the Startup
// folders, 420 values in four other Run keys. The Run section of the list
// is written as the program writes it, the rest by a check run in this
// process first (the baselines of services, components and tasks; every
// other entry answered "add to the list"); a survey then finds every row
// allowed. Every timed run is a process of its own (this program started
// again with "measure KIND COUNT", the time in microseconds its exit
// code); each figure is the median of RUNS runs, the kinds taken in turn.
//
// "bench_window.exe -memory" prints the working set's table alone.
// "bench_window.exe -show" fills the same places and opens the window
// over them in this process, with the history, for screenshots; it returns
// when the window is closed.

#include "AllowedList.h"
#include "AutorunRows.h"
#include "BenchSupport.h"
#include "MainState.h"
#include "MainUnit.h"
#include "Restore.h"
#include "ScopedHandle.h"
#include "Settings.h"
#include "TestSupport.h"
#include "Texts.h"
#include "dlgAutorunUnit.h"
#include "resource.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

namespace {

constexpr int RUNS = 9;
constexpr int RUN_VALUES = 1000;
constexpr int USER_STARTUP_FILES = 60;
constexpr int COMMON_STARTUP_FILES = 40;
constexpr int HISTORY_LINES = 10000;
constexpr int HISTORY_MINUTES_APART = 37;
constexpr DWORD RUN_MS = 120000;
constexpr DWORD BOX_MS = 20000;
constexpr DWORD POLL_MS = 10;
// The silent check after the program's own removal comes a second later.
constexpr DWORD AFTER_REMOVAL_MS = 3000;
constexpr int IDC_TABS = 100;
constexpr int IDC_SEARCH = 101;
constexpr int IDC_LIST = 102;
constexpr int IDC_HISTORY = 103;
constexpr int HISTORY_TAB = 1;
constexpr wchar_t NEEDLE[] = L"Entry";
constexpr char SHOW_SWITCH[] = "-show";
constexpr char MEMORY_SWITCH[] = "-memory"; // the working set's table alone
constexpr char MEASURE_SWITCH[] = "measure";
// A measured run's exit code when its result was not what it should be (a
// run never takes no time at all).
constexpr DWORD MEASURE_FAILED = 0;
constexpr wchar_t FLOOR_CLASS[] = L"RunwardenBenchFloor";
// The floor's window: the window's default size and columns at 96 DPI.
constexpr int FLOOR_WIDTH = 980;
constexpr int FLOOR_HEIGHT = 560;
const int FLOOR_COLUMNS[LIST_COLUMNS] = {220, 300, 170, 140, 190, 130};

// Keys whose every value is an entry, beside the user's Run key.
struct TOtherKey {
    HKEY root;
    const char* path;
    REGSAM view;
    int count;
};
const TOtherKey OTHER_KEYS[] = {
    {HKEY_LOCAL_MACHINE, USER_RUN, KEY_WOW64_64KEY, 200},
    {HKEY_LOCAL_MACHINE, USER_RUN, KEY_WOW64_32KEY, 120},
    {HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run", 0, 50},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run", 0, 50},
};

// What each measured run is.
enum class TKind { Open, FirstRows, OpenWithHistory, Search, SearchWithHistory, Tab, ReadHistory, FloorOpen, FloorSearch, FloorHistory, KINDS };
const char* const KIND_NAMES[] = {"open", "first-rows", "open-history", "search", "search-history", "tab", "read-history",
                                  "floor-open", "floor-search", "floor-history"};
constexpr std::size_t KINDS = static_cast<std::size_t>(TKind::KINDS);

std::string Folder() { return Spell(BenchFolder(L"window")); }
// The settings the program finds (AppData\Runwarden), the history beside them.
std::string SettingsWithHistory() { return Folder() + "\\Runwarden\\options.ini"; }
// The same list without a history.
std::string SettingsAlone() { return Folder() + "\\Alone\\options.ini"; }
std::string HistoryFile() { return Folder() + "\\Runwarden\\history.log"; }
// The rows' texts as the window shows them: UTF-16, columns apart by tabs,
// a row a line.
std::string TextsFile() { return Folder() + "\\texts.txt"; }

TWideString OtherName(int i)
{
    wchar_t name[32];
    wsprintfW(name, L"Tool%05d", i);
    return name;
}

// The first check of a place Windows fills by itself takes its baseline;
// every other entry is added to the list.
class TAddingUser : public TUser {
public:
    int asked = 0;

protected:
    bool OnAskChoice(bool, const TEntryText&, TChoice& choice) override
    {
        ++asked;
        choice = ChoiceAddToList;
        return true;
    }
    bool OnAskDeleteEmpty(const TEntryText&) override { return ++asked, false; }
    bool OnAskElevate(const TEntryText&) override { return ++asked, false; }
    void OnWarn(const TWideString&) override { ++asked; }
    void OnInform(const TWideString&) override {}
    void OnNotify(const TWideString&) override {}
    void OnRecord(const THistoryEvent&) override {}
};

// The process state as the program sets it, with the settings at Path.
void UseSettings(const std::string& path)
{
    SetMainWnd(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
    SetOwnCommands(ModulePath());
    SetSettingsFilePath(W(path));
    SetRunAborted(false);
}

void FillPlaces(const std::string& folder)
{
    QuietAutostart(folder);
    // What the last run's removal left (its record, the history it rotated) goes too.
    for (const char* settings : {"\\Runwarden", "\\Alone"}) {
        RemoveTree(folder + settings);
        CreateDirectoryA((folder + settings).c_str(), nullptr);
    }
    FillRunKey(RUN_VALUES, SettingsWithHistory());
    FillServicesAndComponents(true);
    FillTasks(true);
    int next = 0;
    for (const TOtherKey& key : OTHER_KEYS) {
        std::vector<TRegValue> values;
        for (int i = 0; i < key.count; ++i, ++next) {
            values.push_back(Sz(Spell(OtherName(next)), Spell(Command(RUN_VALUES + next))));
        }
        SetKeyValues(key.root, key.path, values, key.view);
    }
    for (int i = 0; i < USER_STARTUP_FILES + COMMON_STARTUP_FILES; ++i, ++next) {
        const char* startup = i < USER_STARTUP_FILES ? "\\Startup\\" : "\\Common Startup\\";
        WriteFileBytes(folder + startup + Spell(OtherName(next)) + ".cmd", "@start \"\" \"" + Spell(Command(RUN_VALUES + next)) + "\"\r\n");
    }
}

// The list made complete by a check; false (told) when a survey then finds
// a row that is not allowed.
bool AllowEverything(std::vector<TAutorunRow>& rows)
{
    UseSettings(SettingsWithHistory());
    TAddingUser user;
    RunCheck(user, true);
    WriteFileBytes(SettingsAlone(), ReadFileBytes(SettingsWithHistory()));
    SetSettingsFilePath(W(SettingsAlone()));
    AllowedListMayHaveChanged();
    rows = SurveyRows(WalkPlaces);
    for (const TAutorunRow& row : rows) {
        if (row.state != TEntryState::Allowed) {
            std::printf("not allowed after the first check: %s\n", Spell(row.key.section + L"\\" + row.key.name).c_str());
            return false;
        }
    }
    return true;
}

void WriteTexts(const std::vector<TAutorunRow>& rows)
{
    TWideString texts;
    for (const TAutorunRow& row : rows) {
        for (int column = 0; column < LIST_COLUMNS; ++column) {
            texts += (column == 0 ? L"" : L"\t") + ColumnText(row, column);
        }
        texts += L'\n';
    }
    WriteFileBytes(TextsFile(), std::string(reinterpret_cast<const char*>(texts.data()), texts.size() * sizeof(wchar_t)));
}

// Decisions about the rows' entries, oldest first, some minutes apart, as
// the program writes them.
void WriteHistoryFile(const std::vector<TAutorunRow>& rows)
{
    const THistoryKind kinds[] = {THistoryKind::Added, THistoryKind::Kept, THistoryKind::Removed, THistoryKind::Restored,
                                  THistoryKind::Corrected};
    SYSTEMTIME first = {2024, 1, 0, 1, 0, 0, 0, 0};
    FILETIME firstTime;
    SystemTimeToFileTime(&first, &firstTime);
    const ULONGLONG start = (static_cast<ULONGLONG>(firstTime.dwHighDateTime) << 32) | firstTime.dwLowDateTime;
    constexpr ULONGLONG TICKS_A_MINUTE = 600000000;
    std::string bytes;
    for (int line = 0; line < HISTORY_LINES; ++line) {
        const TAutorunRow& row = rows[static_cast<std::size_t>(line) % rows.size()];
        const ULONGLONG at = start + static_cast<ULONGLONG>(line) * HISTORY_MINUTES_APART * TICKS_A_MINUTE;
        const FILETIME atTime = {static_cast<DWORD>(at), static_cast<DWORD>(at >> 32)};
        SYSTEMTIME time;
        FileTimeToSystemTime(&atTime, &time);
        wchar_t stamp[32];
        wsprintfW(stamp, L"%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
                  time.wSecond);
        const THistoryKind kind = kinds[static_cast<std::size_t>(line / static_cast<int>(rows.size())) % ARRAYSIZE(kinds)];
        const TWideString detail = kind == THistoryKind::Removed ? L"Removed\\undo.log" : L"";
        AppendUtf8(TWideString(stamp) + L"\t" + HistoryKeyword(kind) + L"\t" + Visible(row.key.section) + L"\t"
                       + Visible(row.key.name) + L"\t" + Visible(row.key.command) + L"\t" + detail + L"\n",
                   bytes);
    }
    WriteFileBytes(HistoryFile(), bytes);
}

// --- The window, in this process ---

TAutorunHost ProgramHost()
{
    return {WalkPlaces,
            [] { RunCheck(false); },
            [](const std::vector<TEntryKey>& entries) { RemoveEntries(ProgramUser(), entries); },
            [](const TWideString& place) { RestoreRemoval(ProgramUser(), place); },
            [](const TEntryKey& entry) { ForgetEntry(ProgramUser(), entry.section, entry.name, entry.command); },
            CheckRunning};
}

int ThreadCount(DWORD processId)
{
    const TKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry)) {
        count += entry.th32OwnerProcessID == processId ? 1 : 0;
    }
    return count;
}

// When the entries' list was first painted with rows in it: the window
// shows its first page while its walk goes on.
double firstRowsAt = 0;

LRESULT CALLBACK WatchFirstRows(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && firstRowsAt == 0 && message->message == WM_PAINT
        && GetDlgCtrlID(message->hwnd) == IDC_LIST && SendMessageW(message->hwnd, LVM_GETITEMCOUNT, 0, 0) > 0) {
        firstRowsAt = Seconds();
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Opens the window and paints it whole.
void OpenWindow()
{
    ShowAutorunWindow(GetModuleHandleW(nullptr), ProgramHost());
    UpdateWindow(AutorunWindow());
}

// The window open, and done with the descriptions and companies: their
// thread has ended and its every message been handled. Timed after it, a
// step is not shared with that thread's work on the one core.
bool OpenWindowAndSettle()
{
    const int threads = ThreadCount(GetCurrentProcessId());
    OpenWindow();
    for (const double start = Seconds(); Seconds() - start < RUN_MS / 1e3;) {
        const bool ended = ThreadCount(GetCurrentProcessId()) <= threads;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
        if (ended) {
            UpdateWindow(AutorunWindow());
            return true;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, POLL_MS, QS_ALLINPUT);
    }
    return false;
}

int ItemCount(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

bool Holds(int id, long count) { return ItemCount(GetDlgItem(AutorunWindow(), id)) == count; }

// Clicks the history's tab as the user does: the tab control tells the
// window (TCN_SELCHANGE).
void ClickHistoryTab()
{
    const HWND tabs = GetDlgItem(AutorunWindow(), IDC_TABS);
    RECT item = {};
    SendMessageW(tabs, TCM_GETITEMRECT, HISTORY_TAB, reinterpret_cast<LPARAM>(&item));
    const LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    SendMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(tabs, WM_LBUTTONUP, 0, at);
    UpdateWindow(AutorunWindow());
}

// --- The floor ---

struct TTexts {
    std::vector<std::vector<TWideString>> rows;
    std::vector<TWideString> haystacks; // a row's columns upper-cased
};

TTexts ReadTexts()
{
    TTexts texts;
    const std::string bytes = ReadFileBytes(TextsFile());
    const TWideString all(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    for (std::size_t start = 0, end = 0; (end = all.find(L'\n', start)) != TWideString::npos; start = end + 1) {
        const TWideString line = all.substr(start, end - start);
        std::vector<TWideString> columns;
        for (std::size_t from = 0, tab = 0;; from = tab + 1) {
            tab = line.find(L'\t', from);
            columns.push_back(line.substr(from, tab == TWideString::npos ? TWideString::npos : tab - from));
            if (tab == TWideString::npos) {
                break;
            }
        }
        texts.rows.push_back(columns);
        texts.haystacks.push_back(UpperCase(line));
    }
    return texts;
}

void InsertRow(HWND list, int index, const std::vector<TWideString>& columns)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(columns[0].c_str());
    const int at = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    for (std::size_t column = 1; column < columns.size(); ++column) {
        item.iSubItem = static_cast<int>(column);
        item.pszText = const_cast<wchar_t*>(columns[column].c_str());
        SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(at), reinterpret_cast<LPARAM>(&item));
    }
}

// A window with a bare report list view of the six columns, filled and painted.
HWND FloorList(const TTexts& texts)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = FLOOR_CLASS;
    RegisterClassExW(&wc);
    const HWND window = CreateWindowExW(0, FLOOR_CLASS, L"", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, FLOOR_WIDTH,
                                        FLOOR_HEIGHT, nullptr, nullptr, wc.hInstance, nullptr);
    RECT client;
    GetClientRect(window, &client);
    const HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, client.right, client.bottom,
                                      window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_LIST)), wc.hInstance, nullptr);
    for (int column = 0; column < LIST_COLUMNS; ++column) {
        LVCOLUMNW info = {};
        info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        info.pszText = const_cast<wchar_t*>(ColumnTitle(column));
        info.cx = FLOOR_COLUMNS[column];
        info.iSubItem = column;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&info));
    }
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LVM_SETITEMCOUNT, texts.rows.size(), 0);
    for (std::size_t row = 0; row < texts.rows.size(); ++row) {
        InsertRow(list, static_cast<int>(row), texts.rows[row]);
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    return list;
}

// The list refilled with the rows that hold Needle, and painted.
void FloorSearch(HWND list, const TTexts& texts, const TWideString& needle)
{
    const TWideString upper = UpperCase(needle);
    // Without this every insertion scrolls and repaints the list at once.
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    int shown = 0;
    for (std::size_t row = 0; row < texts.rows.size(); ++row) {
        if (texts.haystacks[row].find(upper) != TWideString::npos) {
            InsertRow(list, shown++, texts.rows[row]);
        }
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    UpdateWindow(GetParent(list));
}

// The history file read and split into lines of fields; how many lines.
long FloorHistory()
{
    std::string bytes;
    if (!ReadFileBytes(W(HistoryFile()), bytes)) {
        return -1;
    }
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    TWideString all(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &all[0], length);
    std::vector<std::vector<TWideString>> lines;
    for (std::size_t start = 0, end = 0; (end = all.find(L'\n', start)) != TWideString::npos; start = end + 1) {
        std::vector<TWideString> fields;
        for (std::size_t from = start, tab = 0;; from = tab + 1) {
            tab = all.find(L'\t', from);
            if (tab == TWideString::npos || tab > end) {
                fields.push_back(all.substr(from, end - from));
                break;
            }
            fields.push_back(all.substr(from, tab - from));
        }
        lines.push_back(std::move(fields));
    }
    return lines.size() == HISTORY_LINES && lines.back().size() == HISTORY_COLUMNS ? static_cast<long>(lines.size()) : -1;
}

// --- One measured run, in a process of its own ---

DWORD Microseconds(double seconds) { return static_cast<DWORD>(seconds * 1e6); }

// The time of the run's kind in microseconds; MEASURE_FAILED when what it
// left is not what it should be (Count: the rows, or the matching rows).
DWORD Measure(TKind kind, long count)
{
    const bool history = kind == TKind::OpenWithHistory || kind == TKind::SearchWithHistory || kind == TKind::Tab
        || kind == TKind::ReadHistory;
    UseSettings(history ? SettingsWithHistory() : SettingsAlone());
    double start = 0;
    bool right = false;
    switch (kind) {
    case TKind::Open:
    case TKind::OpenWithHistory:
        start = Seconds();
        OpenWindow();
        right = Holds(IDC_LIST, count);
        break;
    case TKind::FirstRows: {
        const THookHandle hook(SetWindowsHookExW(WH_CALLWNDPROCRET, WatchFirstRows, nullptr, GetCurrentThreadId()));
        start = Seconds();
        OpenWindow();
        right = Holds(IDC_LIST, count) && firstRowsAt > 0;
        return right ? Microseconds(firstRowsAt - start) : MEASURE_FAILED;
    }
    case TKind::Search:
    case TKind::SearchWithHistory:
        if (!OpenWindowAndSettle()) {
            break;
        }
        start = Seconds();
        SendMessageW(GetDlgItem(AutorunWindow(), IDC_SEARCH), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(NEEDLE));
        UpdateWindow(AutorunWindow());
        right = Holds(IDC_LIST, count);
        break;
    case TKind::Tab:
        if (!OpenWindowAndSettle()) {
            break;
        }
        start = Seconds();
        ClickHistoryTab();
        right = IsWindowVisible(GetDlgItem(AutorunWindow(), IDC_HISTORY)) && Holds(IDC_HISTORY, HISTORY_LINES);
        break;
    case TKind::ReadHistory: {
        // What the window's history thread does, here on the measuring thread.
        // The rows the history is joined to, as the window has them.
        std::set<TWideString> known;
        for (const TAutorunRow& row : SurveyRows(WalkPlaces)) {
            known.insert(DecisionKey(row.key.section, row.key.name));
        }
        start = Seconds();
        const std::vector<THistoryLine> lines = ReadHistory();
        const THistoryFacts facts = ReadHistoryFacts(lines, known);
        right = static_cast<long>(lines.size()) == count && !facts.decided.empty();
        break;
    }
    case TKind::FloorOpen: {
        const TTexts texts = ReadTexts();
        start = Seconds();
        right = ItemCount(FloorList(texts)) == count;
        break;
    }
    case TKind::FloorSearch: {
        const TTexts texts = ReadTexts();
        const HWND list = FloorList(texts);
        start = Seconds();
        FloorSearch(list, texts, NEEDLE);
        right = ItemCount(list) == count;
        break;
    }
    default:
        start = Seconds();
        right = FloorHistory() == HISTORY_LINES;
        break;
    }
    const double elapsed = Seconds() - start;
    if (!right) {
        std::printf("the run %s did not leave what it should\n", KIND_NAMES[static_cast<std::size_t>(kind)]);
        return MEASURE_FAILED;
    }
    return Microseconds(elapsed);
}

// --- The resident program's working set ---

struct TWorkingSet {
    double before = 0; // KiB, after the question
    double open = 0;   // the window open and filled
    double after = 0;  // the window closed again
    double again = 0;  // opened and closed a second time
};

// False (told) when a step did not come.
bool MeasureWorkingSet(long rows, TWorkingSet& kib)
{
    TProcess program(ProgramPath(), "");
    const HWND main = program.MainWindow(BOX_MS);
    if (main == nullptr
        || AskedAfter(HKEY_CURRENT_USER, USER_RUN, "Question", "C:\\new\\question.exe /run", program.Id(), BOX_MS) < 0) {
        std::printf("the program did not start, or did not ask\n");
        return false;
    }
    WaitFor(AFTER_REMOVAL_MS, [&] { return FindBox(program.Id()) != nullptr; });
    const int threads = ThreadCount(program.Id());
    kib.before = WorkingSetKiB(program.Id());
    PostMessageW(main, WM_COMMAND, IDM_AUTORUN, 0);
    const HWND window = WaitForWindow(program.Id(), "RunwardenAutorun", BOX_MS);
    const HWND list = GetDlgItem(window, IDC_LIST);
    // The removal is a row more: put back.
    if (window == nullptr || !WaitFor(BOX_MS, [&] { return ItemCount(list) > rows && ThreadCount(program.Id()) == threads; })) {
        std::printf("the window did not open, fill and read its facts\n");
        return false;
    }
    kib.open = WorkingSetKiB(program.Id());
    // Opened and closed twice: what the first opening leaves (libraries
    // loaded, caches begun) is not left again.
    for (double* after : {&kib.after, &kib.again}) {
        const HWND shown = after == &kib.after ? window : WaitForWindow(program.Id(), "RunwardenAutorun", BOX_MS);
        const HWND shownList = GetDlgItem(shown, IDC_LIST);
        if (shown == nullptr
            || !WaitFor(BOX_MS, [&] { return ItemCount(shownList) > rows && ThreadCount(program.Id()) == threads; })) {
            std::printf("the window did not open again\n");
            return false;
        }
        PostMessageW(shown, WM_CLOSE, 0, 0);
        if (!WaitFor(BOX_MS, [&] { return !IsWindow(shown) && ThreadCount(program.Id()) == threads; })) {
            std::printf("the window did not close\n");
            return false;
        }
        *after = WorkingSetKiB(program.Id());
        if (after == &kib.after) {
            PostMessageW(main, WM_COMMAND, IDM_AUTORUN, 0);
        }
    }
    PostMessageW(main, WM_CLOSE, 0, 0);
    program.Wait(BOX_MS);
    return true;
}

// --- The table ---


double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void PrintRow(const char* what, double ours, double floor, double bound)
{
    const double ratio = ours / floor;
    std::printf("%-44s | %9.1f | %9.1f | %5.2f | %5.2f%s\n", what, ours, floor, ratio, bound, ratio > bound ? "  missed" : "");
}

void PrintWorkingSet(const TWorkingSet& kib)
{
    std::printf("\n%-44s | %9s | %9s | %5s | %5s\n", "working set of Runwarden.exe", "KiB", "before", "ratio", "bound");
    std::printf("---------------------------------------------+-----------+-----------+-------+------\n");
    std::printf("%-44s | %9.0f |\n", "before the window (after a question)", kib.before);
    std::printf("%-44s | %9.0f |\n", "the window open and filled", kib.open);
    PrintRow("the window closed again", kib.after, kib.before, 1.1);
    PrintRow("opened and closed a second time", kib.again, kib.after, 1.1);
}

int Show()
{
    UseSettings(SettingsWithHistory());
    ShowAutorunWindow(GetModuleHandleW(nullptr), ProgramHost());
    MSG msg;
    while (AutorunWindow() != nullptr && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!AutorunWindowMessage(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return 0;
}

} // namespace

namespace {

// The table, over the places filled.
int Report(int argc, char** argv)
{
    std::vector<TAutorunRow> rows;
    if (!AllowEverything(rows)) {
        return 1;
    }
    WriteTexts(rows);
    WriteHistoryFile(rows);
    if (argc == 2 && std::strcmp(argv[1], SHOW_SWITCH) == 0) {
        return Show();
    }
    const bool memoryOnly = argc == 2 && std::strcmp(argv[1], MEMORY_SWITCH) == 0;
    const long matching = static_cast<long>(std::count_if(
        rows.begin(), rows.end(), [](TAutorunRow row) {
            IndexRow(row);
            return Matches(row.haystack, UpperCase(NEEDLE));
        }));
    const long counts[KINDS] = {static_cast<long>(rows.size()), static_cast<long>(rows.size()), static_cast<long>(rows.size()), matching, matching, 0, HISTORY_LINES,
                                static_cast<long>(rows.size()), matching, HISTORY_LINES};
    std::vector<double> ms[KINDS];
    for (int run = 0; run < (memoryOnly ? 0 : RUNS); ++run) {
        for (std::size_t kind = 0; kind < KINDS; ++kind) {
            TProcess measured(Spell(ModulePath()), std::string(MEASURE_SWITCH) + " " + KIND_NAMES[kind] + " " + std::to_string(counts[kind]));
            const DWORD code = measured.Wait(RUN_MS);
            if (code == MEASURE_FAILED || code == STILL_ACTIVE) {
                std::printf("the run %s failed (exit code %lu)\n", KIND_NAMES[kind], code);
                return 1;
            }
            ms[kind].push_back(code / 1e3);
        }
    }
    TWorkingSet kib;
    if (!MeasureWorkingSet(static_cast<long>(rows.size()), kib)) {
        return 1;
    }
    if (memoryOnly) {
        PrintWorkingSet(kib);
        return 0;
    }
    auto median = [&](TKind kind) { return Median(ms[static_cast<std::size_t>(kind)]); };
    const double historyShare = median(TKind::OpenWithHistory) - median(TKind::Open);
    char what[64];
    std::printf("%-44s | %9s | %9s | %5s | %5s\n", "median of 9 runs", "ours, ms", "floor, ms", "ratio", "bound");
    std::printf("---------------------------------------------+-----------+-----------+-------+------\n");
    std::snprintf(what, sizeof(what), "open: the first rows shown, of %zu", rows.size());
    PrintRow(what, median(TKind::FirstRows), median(TKind::FloorOpen), 2);
    std::snprintf(what, sizeof(what), "open: all %zu rows shown", rows.size());
    PrintRow(what, median(TKind::Open), median(TKind::FloorOpen), 2);
    std::snprintf(what, sizeof(what), "search, %ld of %zu rows", matching, rows.size());
    PrintRow(what, median(TKind::Search), median(TKind::FloorSearch), 2);
    std::snprintf(what, sizeof(what), "history of %d lines: read + tab", HISTORY_LINES);
    PrintRow(what, median(TKind::ReadHistory) + median(TKind::Tab), median(TKind::FloorHistory), 2);
    std::printf("%-44s | %9.1f |\n", "  read (the window's thread)", median(TKind::ReadHistory));
    std::printf("%-44s | %9.1f |\n", "  the tab, once read", median(TKind::Tab));
    std::printf("%-44s | %9.1f |\n", "  open with the history", median(TKind::OpenWithHistory));
    std::printf("%-44s | %9.1f |\n", "  the open's share", historyShare);
    std::printf("%-44s | %9.1f |\n", "  search with the history", median(TKind::SearchWithHistory));
    PrintWorkingSet(kib);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], MEASURE_SWITCH) == 0) {
        for (std::size_t kind = 0; kind < KINDS; ++kind) {
            if (std::strcmp(argv[2], KIND_NAMES[kind]) == 0) {
                return static_cast<int>(Measure(static_cast<TKind>(kind), std::atol(argv[3])));
            }
        }
        return static_cast<int>(MEASURE_FAILED);
    }
    FillPlaces(Folder());
    const int code = Report(argc, argv);
    // The suite's prefix is this benchmark's too: nothing it filled stays.
    FillServicesAndComponents(false);
    FillTasks(false);
    QuietAutostart(Folder());
    return code;
}
