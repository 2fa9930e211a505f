#pragma once

// The window of everything guarded: every entry of every place with its
// state, what can be done to it (remove, put back, forget, show its file,
// copy), and the history of decisions. One at a time; a second open brings
// it to the front.

#include "User.h"

#include <windows.h>

#include <vector>

constexpr wchar_t AUTORUN_CLASS_NAME[] = L"RunwardenAutorun";
constexpr wchar_t AUTORUN_TITLE[] = L"Автозагрузка \x2014 Runwarden";
constexpr wchar_t TAB_ENTRIES[] = L"Автозагрузка";
constexpr wchar_t TAB_HISTORY[] = L"История";
constexpr wchar_t ACTION_REMOVE[] = L"Удалить из автозагрузки";
constexpr wchar_t ACTION_RESTORE[] = L"Восстановить";
constexpr wchar_t ACTION_FORGET[] = L"Забыть";
constexpr wchar_t ACTION_OPEN_FOLDER[] = L"Открыть папку";
constexpr wchar_t ACTION_COPY[] = L"Копировать";
constexpr wchar_t SEARCH_CUE[] = L"Поиск";
// The section of the settings file that keeps the window's place and
// columns; no check reads it.
constexpr wchar_t WINDOW_SECTION[] = L"Window";

// What the window asks of the program: the walk of every place (a survey
// walks it), a check as the tray starts it, a removal of the entries named,
// putting back a removal (by where its record is) and forgetting an entry,
// and whether a check is open (its question on screen) now.
struct TAutorunHost {
    void (*walk)(TUser& user);
    void (*check)();
    void (*remove)(const std::vector<TEntryKey>& entries);
    void (*restore)(const TWideString& place);
    void (*forget)(const TEntryKey& entry);
    bool (*busy)();
};

void ShowAutorunWindow(HINSTANCE instance, const TAutorunHost& host);
// A check run ended: an open window lists what is there now.
void RefreshAutorunWindow();
// The window's keys (F5, Ctrl+F, Tab, Enter, Esc) before the message is
// dispatched; true when it was taken.
bool AutorunWindowMessage(MSG& msg);
HWND AutorunWindow();
