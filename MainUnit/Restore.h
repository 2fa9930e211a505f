#pragma once

// What the window of removals does: "Восстановить" puts one removal back
// from its undo record (Undo.h), "Забыть" takes an entry out of the allowed
// list. Neither overwrites anything: what cannot be done whole is not done,
// and the user is told.

#include "Undo.h"
#include "User.h"

constexpr wchar_t MSG_RESTORE_TAKEN[] = L"Запись \"%s\" не восстановлена: под этим именем уже записано другое.";
constexpr wchar_t MSG_CANNOT_RESTORE[] = L"Не удалось восстановить запись \"%s\".";
constexpr wchar_t MSG_RESTORE_MISMATCH[] =
    L"Запись \"%s\" не восстановлена: сохраненное для ее восстановления не совпадает с удаленной командой.";
constexpr wchar_t MSG_NO_COPY[] = L"Не удалось восстановить запись \"%s\": ее копии нет в папке удаленных.";

// Puts back the removal kept under Place (as its record names it): exactly
// what was recorded. A place that now holds something else under that name
// is not overwritten: the user is warned, and false. On success the entry
// is added to the allowed list (its section, name and command as the
// checker lists it, so the next check does not ask), undo.log marks it
// back, and history gets a "restored" line.
bool RestoreRemoval(TUser& user, const TWideString& place);
// Takes Name out of Section of the allowed list, so that the next check
// asks; history gets a "forgotten" line. False (and the user warned) when
// the list cannot be written.
bool ForgetEntry(TUser& user, const TWideString& section, const TWideString& name, const TWideString& command);
