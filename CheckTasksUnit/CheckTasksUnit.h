#pragma once

// The tasks checker: scheduled tasks that start a program. Most programs
// that start themselves today do it from a task (at logon, at boot, every
// few minutes), and Windows brings dozens of its own, so the place starts
// from a baseline (Decide.h).
//
// An entry is an enabled task with at least one action that starts a
// program; its name is the task's path, its command every such action's
// command line, in order. Its triggers are shown, but a changed trigger
// alone is no change: what it starts is.

#include "User.h"

#include <windows.h>

// The section of the allowed list; an entry is named by its task's path.
constexpr wchar_t TASKS_SECTION[] = L"Task Scheduler";
constexpr wchar_t MSG_CANNOT_DELETE_TASK[] = L"Не удалось удалить задание: \"%s\".";
constexpr wchar_t MSG_CANNOT_SAVE_TASK[] =
    L"Не удалось сохранить задание \"%s\" в папку удаленных, поэтому оно не удалено.";

// The task's definition is an entry: well-formed, enabled, starting a
// program. Shown is what the question shows of it beyond its name: its
// command and when it runs.
bool IsTaskEntry(const std::string& definition, TWideString& shown);
// The definition is an entry, and Command is what it starts, as its
// question names it.
bool TaskEntryCommand(const std::string& definition, TWideString& command);

// Every task; raises TINIExcept when the settings file cannot be read or written.
void CheckTasks(TUser& user);
