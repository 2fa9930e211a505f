#pragma once

// What the question says of the program an entry starts: its file, maker,
// signature and where it lives. Everything learnt of a file is kept for the
// life of the process, by its path, size and last write time; a signature
// is checked on a thread of its own, since a catalogue search may take long.

#include "ProgramPath.h"
#include "Texts.h"

#include <windows.h>

constexpr wchar_t MSG_PROGRAM[] = L"Программа: %s";
constexpr wchar_t MSG_FILE_NOT_FOUND[] = L"Программа: %s \x2014 файл не найден";
constexpr wchar_t MSG_REMOTE_FILE[] = L"Программа: %s \x2014 на другом компьютере, не проверялась";
constexpr wchar_t MSG_DESCRIPTION[] = L"Описание: %s";
constexpr wchar_t MSG_COMPANY[] = L"Производитель: %s";
constexpr wchar_t MSG_VERSION[] = L"Версия: %s";
constexpr wchar_t MSG_SIGNATURE_CHECKING[] = L"Подпись: проверяется...";
constexpr wchar_t MSG_SIGNATURE_NONE[] = L"Подпись: нет";
constexpr wchar_t MSG_SIGNATURE_TRUSTED[] = L"Подпись: действительна, подписал %s";
constexpr wchar_t MSG_SIGNATURE_UNTRUSTED[] = L"Подпись: недействительна (%s)";
constexpr wchar_t MSG_SIGNER[] = L", подписал %s";
constexpr wchar_t MSG_SIGNATURE_UNCHECKED[] = L"Подпись: проверить не удалось";
constexpr wchar_t WHY_UNTRUSTED_ROOT[] = L"корневой сертификат не является доверенным";
constexpr wchar_t WHY_EXPIRED[] = L"срок действия сертификата истек";
constexpr wchar_t WHY_CHANGED[] = L"файл изменен после подписания";
constexpr wchar_t WHY_OTHER[] = L"подпись не прошла проверку";
constexpr wchar_t MSG_USER_WRITABLE[] =
    L"Внимание: программы пользователя могут изменить или подменить этот файл без прав администратора.";

// The lines that tell of every file Starts names, a block for each, apart
// by an empty line; empty when it names none. A signature not yet checked
// shows as being checked: WaitMs is how long to wait for the signatures
// first (INFINITE: until every one is checked).
TWideString IdentityText(const std::vector<TStartItem>& starts, DWORD waitMs);
// The window that is posted Message whenever a signature check ends (null:
// none); ask IdentityText again for the new text.
void NotifyWhenChecked(HWND window, UINT message);

// The files Starts names (the first few), each once.
std::vector<TProgramFile> ProgramFiles(const std::vector<TStartItem>& starts);
