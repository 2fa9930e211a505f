#include "UserRobot.h"

#include <chrono>

namespace {

constexpr DWORD POLL_MS = 20;
constexpr DWORD SEND_TIMEOUT_MS = 5000;
constexpr char DIALOG_CLASS[] = "#32770";

void Pause(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

struct TFindBox {
    DWORD processId;
    const std::vector<HWND>* skip;
    const std::function<bool(HWND)>* match;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND wnd, LPARAM param)
{
    auto* find = reinterpret_cast<TFindBox*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid != find->processId || !IsWindowVisible(wnd)) {
        return TRUE;
    }
    if (find->skip != nullptr) {
        for (HWND seen : *find->skip) {
            if (seen == wnd) {
                return TRUE;
            }
        }
    }
    if ((*find->match)(wnd)) {
        find->found = wnd;
        return FALSE;
    }
    return TRUE;
}

HWND FindVisible(DWORD processId, const std::vector<HWND>* skip, const std::function<bool(HWND)>& match)
{
    TFindBox find = {processId, skip, &match, nullptr};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

bool IsDialog(HWND wnd) { return WindowClass(wnd) == DIALOG_CLASS; }

LPCSTR IdentifyIcon(HICON icon)
{
    static const LPCSTR known[] = {IDI_QUESTION, IDI_EXCLAMATION, IDI_ASTERISK, IDI_HAND};
    for (LPCSTR id : known) {
        if (icon != nullptr && icon == LoadIconA(nullptr, id)) {
            return id;
        }
    }
    return nullptr;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param)
{
    auto* info = reinterpret_cast<TBoxInfo*>(param);
    if (GetParent(child) != info->wnd) {
        return TRUE;
    }
    TControlInfo control;
    control.className = WindowClass(child);
    control.text = WindowText(child);
    control.id = GetDlgCtrlID(child);
    control.style = static_cast<LONG>(GetWindowLongPtrA(child, GWL_STYLE));
    GetWindowRect(child, &control.rect);
    MapWindowPoints(HWND_DESKTOP, info->wnd, reinterpret_cast<POINT*>(&control.rect), 2);
    const LONG type = control.style & BS_TYPEMASK;
    if (control.className == "Button" || control.className == "BUTTON") {
        control.className = "Button";
        if (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON) {
            DWORD_PTR state = 0;
            SendMessageTimeoutA(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &state);
            control.checked = state == BST_CHECKED;
        } else {
            info->buttons.push_back(control.id);
        }
    }
    if ((control.className == "Static" || control.className == "STATIC")
        && (control.style & SS_TYPEMASK) == SS_ICON) {
        DWORD_PTR icon = 0;
        SendMessageTimeoutA(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &icon);
        info->icon = IdentifyIcon(reinterpret_cast<HICON>(icon));
    }
    info->controls.push_back(control);
    return TRUE;
}

int PressedId(TPress press)
{
    switch (press) {
    case TPress::Ok:
        return IDOK;
    case TPress::Cancel:
        return IDCANCEL;
    case TPress::Yes:
        return IDYES;
    case TPress::No:
        return IDNO;
    default:
        return 0;
    }
}

} // namespace

std::string WindowClass(HWND wnd)
{
    char name[256] = {};
    GetClassNameA(wnd, name, static_cast<int>(sizeof(name)));
    return name;
}

std::string WindowText(HWND wnd)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &length)) {
        return std::string();
    }
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(wnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]),
                        SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &copied);
    text.resize(copied);
    return text;
}

HWND WaitForWindow(DWORD processId, const std::function<bool(HWND)>& match, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND found = FindVisible(processId, nullptr, match)) {
            return found;
        }
        if (GetTickCount() - start > timeoutMs) {
            return nullptr;
        }
        Pause(POLL_MS);
    }
}

bool WaitWindowGone(HWND wnd, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (IsWindow(wnd)) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Pause(POLL_MS);
    }
    return true;
}

std::vector<TControlInfo> TBoxInfo::Options() const
{
    std::vector<TControlInfo> options;
    for (const TControlInfo& control : controls) {
        const LONG type = control.style & BS_TYPEMASK;
        if (control.className == "Button" && (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON)) {
            options.push_back(control);
        }
    }
    return options;
}

const TControlInfo* TBoxInfo::Button(int id) const
{
    for (const TControlInfo& control : controls) {
        if (control.className == "Button" && control.id == id) {
            return &control;
        }
    }
    return nullptr;
}

const TControlInfo* TBoxInfo::MessageText() const
{
    for (const TControlInfo& control : controls) {
        if (control.className == "Static" && (control.style & SS_TYPEMASK) != SS_ICON) {
            return &control;
        }
    }
    return nullptr;
}

TBoxInfo TUserRobot::Describe(HWND box)
{
    TBoxInfo info;
    info.wnd = box;
    info.caption = WindowText(box);
    info.owner = GetWindow(box, GW_OWNER);
    info.ownerClass = info.owner != nullptr ? WindowClass(info.owner) : std::string();
    info.topmost = (GetWindowLongPtrA(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    GetWindowRect(box, &info.windowRect);
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&info));
    for (TControlInfo& control : info.controls) {
        if (control.className == "STATIC") {
            control.className = "Static";
        }
    }
    if (const TControlInfo* text = info.MessageText()) {
        info.text = text->text;
    }
    return info;
}

TUserRobot::TUserRobot(std::vector<TAnswer> answers, DWORD processId, DWORD timeoutMs)
    : answers_(std::move(answers)),
      processId_(processId != 0 ? processId : GetCurrentProcessId()),
      timeoutMs_(timeoutMs),
      thread_(&TUserRobot::Run, this)
{
}

TUserRobot::~TUserRobot()
{
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

HWND TUserRobot::WaitForBox(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        HWND box = FindVisible(processId_, &handled_, IsDialog);
        if (box != nullptr) {
            // The box shows itself after its controls exist; give the
            // code under test a moment to finish its own additions.
            Pause(100);
            return box;
        }
        // Once the test has finished, no further box will come.
        if (stop_ || GetTickCount() - start > timeoutMs) {
            return nullptr;
        }
        Pause(POLL_MS);
    }
}

void TUserRobot::Act(HWND box, const TAnswer& answer)
{
    TBoxInfo info = Describe(box);
    if (answer.before) {
        answer.before(info);
    }
    if (answer.option > 0) {
        // The options share the control id 0: take them by position.
        HWND option = nullptr;
        int index = 0;
        for (HWND child = FindWindowExA(box, nullptr, "BUTTON", nullptr); child != nullptr;
             child = FindWindowExA(box, child, "BUTTON", nullptr)) {
            const LONG type = static_cast<LONG>(GetWindowLongPtrA(child, GWL_STYLE)) & BS_TYPEMASK;
            if (type == BS_AUTORADIOBUTTON && ++index == answer.option) {
                option = child;
            }
        }
        if (option != nullptr) {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(option, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &ignored);
        } else {
            std::lock_guard<std::mutex> lock(mutex_);
            problems_.push_back("box without option " + std::to_string(answer.option) + ": " + info.text);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        boxes_.push_back(info);
    }
    switch (answer.press) {
    case TPress::Escape:
        PostMessageA(box, WM_KEYDOWN, VK_ESCAPE, 0);
        break;
    case TPress::CloseBox:
        PostMessageA(box, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    default: {
        const HWND button = GetDlgItem(box, PressedId(answer.press));
        if (button == nullptr) {
            std::lock_guard<std::mutex> lock(mutex_);
            problems_.push_back("box without the button to press: " + info.text);
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(PressedId(answer.press), BN_CLICKED), 0);
        } else {
            PostMessageA(button, BM_CLICK, 0, 0);
        }
        break;
    }
    }
    if (!WaitWindowGone(box, timeoutMs_)) {
        std::lock_guard<std::mutex> lock(mutex_);
        problems_.push_back("box stayed open after the answer: " + info.text);
    }
}

void TUserRobot::Run()
{
    for (const TAnswer& answer : answers_) {
        HWND box = WaitForBox(timeoutMs_);
        if (box == nullptr) {
            std::lock_guard<std::mutex> lock(mutex_);
            problems_.push_back("no box came for answer " + std::to_string(boxes_.size() + 1));
            break;
        }
        handled_.push_back(box);
        Act(box, answer);
    }
    // Whatever comes beyond the script is a fault of the code under test; it
    // is closed so that the test ends instead of hanging.
    while (!stop_) {
        HWND box = FindVisible(processId_, &handled_, IsDialog);
        if (box == nullptr) {
            Pause(POLL_MS);
            continue;
        }
        Pause(100);
        handled_.push_back(box);
        const TBoxInfo info = Describe(box);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            boxes_.push_back(info);
            problems_.push_back("unexpected box: " + info.text);
        }
        for (int id : {IDCANCEL, IDNO, IDOK}) {
            if (const HWND button = GetDlgItem(box, id)) {
                PostMessageA(button, BM_CLICK, 0, 0);
                break;
            }
        }
        WaitWindowGone(box, timeoutMs_);
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
