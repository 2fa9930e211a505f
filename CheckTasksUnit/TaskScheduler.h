#pragma once

// Where the tasks are read from, and what only the Task Scheduler can do to
// them. Windows keeps each task's definition as a file in the store folder
// (System32\Tasks, a folder for each task folder); administrators can read
// it, and Wine keeps its tasks there too. Where the store can be read, the
// tasks are read from it, without the scheduler's service: the check of a
// hundred tasks then costs about what reading their files costs. Where it
// cannot (a standard user on Windows), the scheduler's API lists them,
// every folder and hidden tasks included, with their definitions. The API
// also deletes a task. The API (COM: ole32 and oleaut32) is loaded from the
// system folder when first needed.

#include "Undo.h"
#include "registry_profile.h"

#include <vector>

struct TTaskFile {
    TWideString path;       // the task's path: \Vendor\Updater
    std::string definition; // its XML text, as it was read
    TWideString file;       // its file in the store, as a "\\?\" path; empty when the API gave it
    bool readable = true;   // false: the task is there, its definition could not be read
};

// A path names a task: "\", then names that are not empty, "." nor "..".
bool IsTaskPath(const TWideString& path);
// The store folder, which a Windows without tasks yet (Wine) may lack.
enum class TStore { Readable, Missing, Closed };
TStore TaskStore(TWideString& folder);
// Every task; false when neither the store nor the API could be read.
bool ReadAllTasks(std::vector<TTaskFile>& tasks);
// One task's definition, read as ReadAllTasks reads it; false when there is
// no such task (or no way to read it).
bool ReadOneTask(const TWideString& path, std::string& definition);
// Deletes the task; Result holds the failure. The scheduler deletes through
// a Win32 path, which drops a trailing dot or blank and takes CON for the
// console: it would delete another task than the one named. Such a task's
// file is deleted from the store by its exact name instead.
bool DeleteScheduledTask(const TWideString& path, HRESULT& result);

// The task registered anew from Definition (as KeepDefinition kept it, as
// Windows exports one) through the scheduler, as a new task. Where the
// scheduler cannot, or keeps another command than the definition has
// (Wine's drops the actions), the definition is written as the task's file
// into the store, where the checker reads it. Done also where the task is
// there already with the same command; Taken where it has another.
TPutBack PutBackScheduledTask(const TWideString& path, const std::string& definition);
