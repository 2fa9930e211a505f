#pragma once

// The question about one autostart entry: a standard OK/Cancel message box
// to which a CBT hook adds two radio options.

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

// True when the user pressed OK on a box that showed both options; Choice
// then holds the selected option. Cancel, Esc, the close box, and a box whose
// options could not be shown all give false: no caller acts on an option the
// user did not see.
bool ShowChoiceDialog(HWND owner, bool isChanged, const TWideString& entryText, TChoice& choice);
