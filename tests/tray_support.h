#pragma once

// Shared by the tests of the tray icon, its menu and the startup mode: the
// program's hidden window made in the test's own process, the program started
// as a process and driven through its hidden window, and the windows that
// other programs open for it.

#include "TestSupport.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

constexpr DWORD PROGRAM_START_MS = 15000;
constexpr DWORD PROGRAM_END_MS = 15000;

// The items among 104 to 106 that carry the radio mark, in command order.
std::vector<UINT> MarkedStartupItems(HMENU menu);

// The program's hidden window, created in this process exactly as the program
// creates it (so its WM_CREATE builds the menu and selects the mode), and
// destroyed again when the test leaves.
class TMainWindowHere {
public:
    TMainWindowHere();
    ~TMainWindowHere();
    TMainWindowHere(const TMainWindowHere&) = delete;
    TMainWindowHere& operator=(const TMainWindowHere&) = delete;

    HWND Wnd() const { return wnd_; }
    HMENU Menu() const;
    // Sends a menu command as the menu sends it.
    void Command(UINT command, WORD notification = 0) const;

private:
    HWND wnd_ = nullptr;
};

// The program as a process of its own, driven through its hidden window.
// The constructor returns once the start-up check is over (or has opened a
// box).
class TProgram {
public:
    explicit TProgram(const std::string& exe, const std::string& arguments = std::string());
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    HWND Wnd() const { return wnd_; }
    DWORD Id() const { return process_.Id(); }
    bool Running() const { return process_.Running(); }
    // Returns once the program has handled the command; false when it did
    // not within the time limit.
    bool Command(UINT command, WORD notification = 0) const;
    // For commands that open a modal box and return only when it is closed.
    void PostCommand(UINT command) const;
    void PostTray(UINT mouseMessage) const;
    // The exit code, or STILL_ACTIVE when the program did not end in time.
    DWORD Wait(DWORD timeoutMs = PROGRAM_END_MS) { return process_.Wait(timeoutMs); }
    // The command Exit, then the exit code.
    DWORD Exit();

private:
    TProcess process_;
    HWND wnd_ = nullptr;
};

// Whether the shell holds the program's tray icon (window Wnd, identifier 1).
bool HasTrayIcon(HWND wnd);

// Visible top-level windows of one process (or of every process, for
// ProcessId 0) that match, in z order.
std::vector<HWND> VisibleWindows(DWORD processId, const std::function<bool(HWND)>& match);
// The first one, waited for (bounded); null on timeout.
HWND WaitForVisibleWindow(DWORD processId, const std::function<bool(HWND)>& match, DWORD timeoutMs);
bool HasClass(HWND wnd, const char* className);
// The program's message boxes: class #32770.
bool IsMessageBox(HWND wnd);
// A popup menu that is open: class #32768.
bool IsPopupMenu(HWND wnd);

// Whether the message box shows the system icon Id (IDI_ASTERISK, ...). Icon
// handles do not cross processes, so the icon is compared pixel by pixel with
// the same icon drawn here on the box's background.
bool BoxShowsIcon(HWND box, LPCSTR id);

// Copies the file into Folder (created with its parents); the copy's path,
// or "" on failure.
std::string CopyInto(const std::string& file, const std::string& folder);

// A window that another program opened for the test (an editor, a help
// window): closed with WM_CLOSE when the test leaves; if it stays, its
// process is ended by its id, so no window outlives the test.
class TForeignWindow {
public:
    explicit TForeignWindow(HWND wnd) : wnd_(wnd) {}
    ~TForeignWindow();
    TForeignWindow(const TForeignWindow&) = delete;
    TForeignWindow& operator=(const TForeignWindow&) = delete;

    // Posts WM_CLOSE and waits (bounded) until the window is gone.
    bool Close();

private:
    HWND wnd_;
};
