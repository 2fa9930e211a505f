#pragma once

// The question about one autostart entry: a standard OK/Cancel message box
// to which a CBT hook adds two radio options; and the program's other boxes
// that name an entry. Every one of them keeps within the work area of its
// screen, however long the entry's words; an entry shown shortened is also
// shown whole, in a read-only field that scrolls.

#include "User.h"

#include <windows.h>

constexpr wchar_t MSG_NEW_ENTRY[] =
    L"Обнаружена новая запись:\n\r\n\r\"%s\".\n\r\n\rЧто будем с ней делать?";
constexpr wchar_t MSG_CHANGED_ENTRY[] =
    L"Параметр:\n\r\n\r\"%s\"\n\r\n\r - есть в списке, но имеет другое значение.\n\r\n\r"
    L"Что будем с ним делать?";
constexpr wchar_t OPTION_REMOVE_NEW[] = L"Удалить из автозагрузки";
constexpr wchar_t OPTION_ADD[] = L"Добавить в список разрешенных";
constexpr wchar_t OPTION_REMOVE_CHANGED[] = L"Удалить из исписка";
constexpr wchar_t OPTION_CORRECT[] = L"Внести исправления в список";
// The field that shows a shortened entry whole holds this many lines.
constexpr int FULL_TEXT_LINES = 4;

// True when the user pressed OK on a box that showed both options; Choice
// then holds the selected option. Cancel, Esc, the close box, and a box whose
// options could not be shown all give false: no caller acts on an option the
// user did not see.
bool ShowChoiceDialog(HWND owner, bool isChanged, const TEntryText& entry, TChoice& choice);
// A system-modal Yes/No question about one entry, which Template names by
// its "%s"; true for Yes.
bool AskAboutEntry(HWND owner, const wchar_t* templ, const TEntryText& entry);
// The window's text, whole.
TWideString WindowText(HWND wnd);
// A message box with the program's caption that keeps within its screen.
int ShowFittedBox(HWND owner, const TWideString& text, UINT style);
