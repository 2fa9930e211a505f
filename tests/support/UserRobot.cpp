#include "UserRobot.h"

#include "ScopedHandle.h"
#include "TestSupport.h"

#include <commctrl.h>

#include <algorithm>

namespace {

constexpr DWORD BOX_MS = 20000;

// Wide: WM_GETTEXT then reads the exact characters.
DWORD_PTR Send(HWND wnd, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(wnd, message, wParam, lParam, SMTO_ABORTIFHUNG, BOX_MS, &result);
    return result;
}

// A sent WM_GETTEXT reads controls of other processes too.
std::string Text(HWND wnd)
{
    TWideString text(Send(wnd, WM_GETTEXTLENGTH) + 1, L'\0');
    text.resize(Send(wnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0])));
    return Spell(text);
}

std::string ClassOf(HWND wnd)
{
    char name[32] = {};
    GetClassNameA(wnd, name, static_cast<int>(sizeof(name)));
    return name;
}

bool IsOption(HWND wnd)
{
    return lstrcmpiA(ClassOf(wnd).c_str(), "Button") == 0
        && (GetWindowLongPtrA(wnd, GWL_STYLE) & BS_TYPEMASK) == BS_AUTORADIOBUTTON;
}

LONG FontHeight(HWND wnd)
{
    LOGFONTW font = {};
    return GetObjectW(reinterpret_cast<HFONT>(Send(wnd, WM_GETFONT)), sizeof(font), &font) ? font.lfHeight : 0;
}

RECT ClientRect(HWND box, HWND child)
{
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, box, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TBoxInfo Describe(HWND box)
{
    TBoxInfo info;
    info.caption = Text(box);
    info.owner = GetWindow(box, GW_OWNER);
    info.ownerClass = ClassOf(info.owner);
    info.topmost = (GetWindowLongPtrA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    GetClientRect(box, &info.client);
    GetWindowRect(box, &info.window);
    MONITORINFO monitor = {sizeof(monitor)};
    GetMonitorInfoA(MonitorFromWindow(box, MONITOR_DEFAULTTONEAREST), &monitor);
    info.work = monitor.rcWork;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        const bool icon = (GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
        if (IsOption(child)) {
            info.firstChecked = info.firstChecked || (info.options.empty() && Send(child, BM_GETCHECK) == BST_CHECKED);
            info.options.push_back(Text(child));
            info.optionFontHeight = FontHeight(child);
            info.optionRects.push_back(ClientRect(box, child));
        } else if (lstrcmpiA(ClassOf(child).c_str(), "Button") == 0) {
            info.buttonRect = info.buttons.empty() ? ClientRect(box, child) : info.buttonRect;
            info.buttons.push_back(GetDlgCtrlID(child));
        } else if (lstrcmpiA(ClassOf(child).c_str(), "Edit") == 0) {
            // The field with an edge shows the entry whole; the one without, the program.
            const bool edged = (GetWindowLongPtrA(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0;
            (edged ? info.field : info.identity) = Text(child);
            info.identityRect = edged ? info.identityRect : ClientRect(box, child);
        } else if (icon) {
            info.icon = reinterpret_cast<HICON>(Send(child, STM_GETICON));
            info.iconRect = ClientRect(box, child);
        } else {
            info.text = Text(child);
            info.textFontHeight = FontHeight(child);
            info.textRect = ClientRect(box, child);
        }
    }
    return info;
}

} // namespace

TUserRobot::TUserRobot(std::vector<TAnswer> answers, DWORD processId)
    : answers_(std::move(answers)), processId_(processId != 0 ? processId : GetCurrentProcessId()),
      thread_(&TUserRobot::Run, this)
{
}

void TUserRobot::Problem(const std::string& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    problems_.push_back(text);
}

void TUserRobot::Act(HWND box, const TAnswer& answer)
{
    const TBoxInfo info = Describe(box);
    if (answer.before) {
        answer.before(info);
    }
    int index = 0;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (IsOption(child) && ++index == answer.option) {
            Send(child, BM_CLICK);
        }
    }
    if (answer.option > index) {
        Problem("box without option " + std::to_string(answer.option) + ": " + info.text);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(info);
    }
    const int ids[] = {IDOK, IDCANCEL, IDYES, IDNO};
    const int id = ids[std::min(static_cast<int>(answer.press), 3)];
    if (answer.press == TPress::Escape) {
        PostMessageA(box, WM_KEYDOWN, VK_ESCAPE, 0);
    } else if (answer.press == TPress::CloseBox) {
        PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else if (GetDlgItem(box, id) != nullptr) {
        PostMessageA(GetDlgItem(box, id), BM_CLICK, 0, 0);
    } else {
        Problem("box without the button to press: " + info.text);
        PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
    }
    if (!WaitFor(BOX_MS, [box] { return !IsWindow(box); })) {
        Problem("box stayed open after the answer: " + info.text);
    }
}

void TUserRobot::Run()
{
    std::vector<HWND> handled;
    for (std::size_t next = 0;; ++next) {
        HWND box = nullptr;
        // A scripted box is waited for (bounded); beyond the script the robot
        // watches until the test finishes.
        const bool came = WaitFor(next < answers_.size() ? BOX_MS : INFINITE, [&] {
            for (box = FindWindowExA(nullptr, nullptr, "#32770", nullptr); box != nullptr;
                 box = FindWindowExA(nullptr, box, "#32770", nullptr)) {
                DWORD pid = 0;
                GetWindowThreadProcessId(box, &pid);
                if (pid == processId_ && IsWindowVisible(box)
                    && std::find(handled.begin(), handled.end(), box) == handled.end()) {
                    return true;
                }
            }
            return stop_ && next >= answers_.size();
        });
        if (box == nullptr) {
            if (!came || next < answers_.size()) {
                Problem("no box came for answer " + std::to_string(next + 1));
            }
            return;
        }
        handled.push_back(box);
        if (next >= answers_.size()) {
            // A box beyond the script is a fault of the code under test;
            // cancelling it lets the test end instead of hanging.
            Problem("unexpected box: " + Describe(box).text);
            Act(box, {0, GetDlgItem(box, IDCANCEL) ? TPress::Cancel : GetDlgItem(box, IDNO) ? TPress::No : TPress::Ok});
        } else {
            Act(box, answers_[next]);
        }
    }
}

void TUserRobot::Finish()
{
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::vector<TBoxInfo> TUserRobot::Boxes()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
}

std::vector<std::string> TUserRobot::Problems()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return problems_;
}

std::vector<std::string> ListViewColumn(HWND list, int column)
{
    constexpr int TEXT_CHARS = 1024;
    std::vector<std::string> texts;
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    const TKernelHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
    const SIZE_T size = sizeof(LVITEMW) + TEXT_CHARS * sizeof(wchar_t);
    auto* remote = static_cast<char*>(VirtualAllocEx(process.Get(), nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    if (remote == nullptr) {
        return texts;
    }
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int item = 0; item < count; ++item) {
        LVITEMW request = {};
        request.iSubItem = column;
        request.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
        request.cchTextMax = TEXT_CHARS;
        WriteProcessMemory(process.Get(), remote, &request, sizeof(request), nullptr);
        const int length = static_cast<int>(SendMessageW(list, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(remote)));
        std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
        ReadProcessMemory(process.Get(), remote + sizeof(LVITEMW), text.data(), static_cast<SIZE_T>(length) * sizeof(wchar_t), nullptr);
        texts.push_back(Spell(TWideString(text.data(), static_cast<std::size_t>(length))));
    }
    VirtualFreeEx(process.Get(), remote, 0, MEM_RELEASE);
    return texts;
}

void SelectListViewItem(HWND list, int item)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    const TKernelHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId));
    void* remote = VirtualAllocEx(process.Get(), nullptr, sizeof(LVITEMW), MEM_COMMIT, PAGE_READWRITE);
    if (remote == nullptr) {
        return;
    }
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    WriteProcessMemory(process.Get(), remote, &state, sizeof(state), nullptr);
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(remote));
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    WriteProcessMemory(process.Get(), remote, &state, sizeof(state), nullptr);
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(remote));
    VirtualFreeEx(process.Get(), remote, 0, MEM_RELEASE);
}
