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

struct TControlInfo {
    std::string className;
    std::string text;
    int id = 0;
    LONG style = 0;
    RECT rect = {}; // in the box's client coordinates
    bool checked = false;
};

struct TBoxInfo {
    HWND wnd = nullptr;
    std::string caption;
    std::string text; // the message, exact bytes
    std::vector<int> buttons; // command ids of the push buttons, in window order
    LPCSTR icon = nullptr;    // IDI_QUESTION, IDI_EXCLAMATION, ... when known
    HWND owner = nullptr;
    std::string ownerClass;
    bool topmost = false;
    RECT windowRect = {};
    std::vector<TControlInfo> controls;

    // The radio options, in window order.
    std::vector<TControlInfo> Options() const;
    const TControlInfo* Button(int id) const;
    const TControlInfo* MessageText() const;
};

enum class TPress { Ok, Cancel, Yes, No, Escape, CloseBox };

struct TAnswer {
    int option = 0;                // 1 or 2 selects that option first; 0 leaves them
    TPress press = TPress::Ok;
    std::function<void(const TBoxInfo&)> before; // runs on the robot's thread
};

class TUserRobot {
public:
    // Starts watching at once. ProcessId 0 means this process.
    explicit TUserRobot(std::vector<TAnswer> answers, DWORD processId = 0,
                        DWORD timeoutMs = 20000);
    ~TUserRobot();
    TUserRobot(const TUserRobot&) = delete;
    TUserRobot& operator=(const TUserRobot&) = delete;

    // Stops watching; call it once the code under test has returned (or the
    // program under test has ended). Boxes beyond the script were cancelled
    // and are reported by Problems.
    void Finish();

    std::vector<TBoxInfo> Boxes();
    // Empty when every scripted box came in time and no other box appeared.
    std::vector<std::string> Problems();
    static TBoxInfo Describe(HWND box);

private:
    void Run();
    HWND WaitForBox(DWORD timeoutMs);
    void Act(HWND box, const TAnswer& answer);

    std::vector<TAnswer> answers_;
    DWORD processId_;
    DWORD timeoutMs_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<TBoxInfo> boxes_;
    std::vector<std::string> problems_;
    std::vector<HWND> handled_;
    std::thread thread_;
};

// Waits (bounded) for a visible top-level window of the process that
// matches; returns null on timeout.
HWND WaitForWindow(DWORD processId, const std::function<bool(HWND)>& match, DWORD timeoutMs);
bool WaitWindowGone(HWND wnd, DWORD timeoutMs);
std::string WindowClass(HWND wnd);
std::string WindowText(HWND wnd);
