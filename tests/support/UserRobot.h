#pragma once

// The user robot: answers the message boxes that the code under test shows,
// from a thread of its own, in this process or in another one, and records
// what each box looked like.

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TBoxInfo {
    std::string caption;
    std::string text;         // the message, exact bytes
    std::string field;        // the read-only field that shows a shortened entry whole; empty when none
    std::string identity;     // the account of the program the entry starts; empty when none
    RECT identityRect = {};
    std::vector<int> buttons; // command ids of the push buttons, in window order
    std::vector<std::string> options; // the radio options' captions, in window order
    std::vector<RECT> optionRects;    // in the box's client coordinates, as the rest
    LONG optionFontHeight = 0, textFontHeight = 0; // the fonts' lfHeight; a box of this process only
    bool firstChecked = false;
    RECT textRect = {}, iconRect = {}, buttonRect = {}, client = {};
    RECT window = {}, work = {}; // the box and its screen's work area, in screen coordinates
    HICON icon = nullptr; // compare with LoadIcon(nullptr, IDI_...) in this process only
    HWND owner = nullptr;
    std::string ownerClass;
    bool topmost = false;
};

enum class TPress { Ok, Cancel, Yes, No, Escape, CloseBox };

struct TAnswer {
    int option = 0; // 1 or 2 selects that option first; 0 leaves them
    TPress press = TPress::Ok;
    std::function<void(const TBoxInfo&)> before; // runs on the robot's thread
};

class TUserRobot {
public:
    // Starts watching at once. ProcessId 0 means this process.
    explicit TUserRobot(std::vector<TAnswer> answers, DWORD processId = 0);
    ~TUserRobot() { Finish(); }
    TUserRobot(const TUserRobot&) = delete;
    TUserRobot& operator=(const TUserRobot&) = delete;

    // Stops watching; call it once the code under test has returned. A box
    // beyond the script is cancelled and reported as a problem.
    void Finish();
    std::vector<TBoxInfo> Boxes();
    std::vector<std::string> Problems();

private:
    void Run();
    void Act(HWND box, const TAnswer& answer);
    void Problem(const std::string& text);

    std::vector<TAnswer> answers_;
    DWORD processId_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<TBoxInfo> boxes_;
    std::vector<std::string> problems_;
    std::thread thread_;
};

// The texts of one column of a report list view, item by item, read as a
// user's tool reads them from another process: LVM_GETITEMTEXT with its
// record in that process's memory. Code page 1251, as the tests' literals.
std::vector<std::string> ListViewColumn(HWND list, int column);
// Selects the item alone, as a click would (LVM_SETITEMSTATE with its
// record in the list's process).
void SelectListViewItem(HWND list, int item);
