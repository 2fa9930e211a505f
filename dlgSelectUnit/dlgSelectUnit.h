#pragma once

// The question about one autostart entry: a standard OK/Cancel message box
// to which a CBT hook adds two radio options.

#include "User.h"

#include <windows.h>

#include <string>

constexpr char MSG_NEW_ENTRY[] =
    "Обнаружена новая запись:\n\r\n\r\"%s\".\n\r\n\rЧто будем с ней делать?";
constexpr char MSG_CHANGED_ENTRY[] =
    "Параметр:\n\r\n\r\"%s\"\n\r\n\r - есть в списке, но имеет другое значение.\n\r\n\r"
    "Что будем с ним делать?";
constexpr char OPTION_REMOVE_NEW[] = "Удалить из автозагрузки";
constexpr char OPTION_ADD[] = "Добавить в список разрешенных";
constexpr char OPTION_REMOVE_CHANGED[] = "Удалить из исписка";
constexpr char OPTION_CORRECT[] = "Внести исправления в список";

// True when the user pressed OK on a box that showed both options; Choice
// then holds the selected option. Cancel, Esc, the close box, and a box whose
// options could not be shown all give false: no caller acts on an option the
// user did not see.
bool ShowChoiceDialog(HWND owner, bool isChanged, const std::string& entryText, TChoice& choice);
