#include "CheckTasksUnit.h"

#include "AllowedList.h"
#include "Decide.h"
#include "Elevation.h"
#include "MainState.h"
#include "Removed.h"
#include "TaskDefinition.h"
#include "TaskScheduler.h"

#include <algorithm>
#include <vector>

namespace {

constexpr wchar_t RUNS_START[] = L" (запуск: ";
constexpr wchar_t RUNS_END[] = L")";
constexpr wchar_t DEFINITION_EXTENSION[] = L".xml";

struct TTask {
    TWideString path;
    TWideString file; // in the store; empty when the API gave it
    std::string definition; // as it was read, and shown
    TTaskDefinition read;
};

bool ReadTask(const TTaskFile& file, TTask& task)
{
    task.path = file.path;
    task.file = file.file;
    task.definition = file.definition;
    return ReadTaskDefinition(file.definition, task.read) && task.read.enabled && task.read.programs > 0;
}

TEntryText TaskName(const TTask& task) { return EntryText({TASKS_SECTION, task.path}); }

// What the question shows beyond the task's name: its command and when it runs.
TWideString Shown(const TTaskDefinition& read) { return read.command + RUNS_START + read.triggers + RUNS_END; }

// Where "remove" leaves the definition: the path with "\" as "_", as a
// file Task Scheduler imports.
bool KeepDefinition(const TTask& task, TWideString& copy)
{
    TWideString name = task.path;
    std::replace(name.begin(), name.end(), L'\\', L'_');
    return KeepRemovedFile(name + DEFINITION_EXTENSION, ExportedDefinition(task.definition), copy);
}

TUndo TaskUndo(const TTask& task, const TWideString& copy)
{
    TUndo undo;
    undo.kind = TUndoKind::Task;
    undo.place = RecordPlace(copy);
    undo.where = task.path;
    undo.copy = RecordPlace(copy);
    return undo;
}

// The helper deletes the task only while it shows as it was shown. Not its
// definition's bytes: the user's side may have them from the scheduler's
// API (the store is closed to it), the helper from the store.
void OfferToAdministrator(TUser& user, const TTask& task)
{
    TWideString copy;
    OfferElevatedRemoval(
        user, TaskName(task), MSG_CANNOT_DELETE_TASK,
        [&](TWideString& removalSwitch) {
            TWideString hash;
            if (!TextHash(Shown(task.read), hash) || !KeepDefinition(task, copy)) {
                return false;
            }
            user.NoteUndo(TaskUndo(task, copy));
            removalSwitch = RemovalSwitch(DELETE_TASK_SWITCH, {task.path, hash});
            return true;
        },
        [&] { DeleteFileW(copy.c_str()); });
}

// The store's files as the check saw them, those that deleting Task could
// reach copied.
std::vector<TSeenFile> SeenFiles(const std::vector<TTaskFile>& files, const TWideString& task)
{
    std::vector<TSeenFile> seen;
    for (const TTaskFile& file : files) {
        if (!file.file.empty()) {
            seen.push_back({file.file, EntryText({TASKS_SECTION, file.path}).shown, std::string(), false});
        }
    }
    PrepareForRemoval(seen, task);
    return seen;
}

void DeleteKept(TUser& user, const TTask& task)
{
    TWideString copy;
    if (!KeepDefinition(task, copy)) {
        user.WarnFailed(FormatMsg(MSG_CANNOT_SAVE_TASK, {TaskName(task).shown}));
        return;
    }
    user.NoteUndo(TaskUndo(task, copy));
    HRESULT result = S_OK;
    if (DeleteScheduledTask(task.path, result)) {
        return;
    }
    DeleteFileW(copy.c_str());
    if (result == E_ACCESSDENIED) {
        OfferToAdministrator(user, task);
    } else {
        user.WarnFailed(FormatMsg(MSG_CANNOT_DELETE_TASK, {TaskName(task).shown}));
    }
}

// Kept first; a task whose definition changed since the question is left
// alone. Whatever the deletion did, the other tasks the check saw are
// still there afterwards.
void Delete(TUser& user, const TTask& task, const std::vector<TTaskFile>& files)
{
    std::string now;
    if (!ReadOneTask(task.path, now) || now != task.definition) {
        user.WarnFailed(FormatMsg(MSG_CHANGED_MEANWHILE, {TaskName(task).shown}));
        return;
    }
    const std::vector<TSeenFile> seen = SeenFiles(files, task.file);
    DeleteKept(user, task);
    PutBackVanished(user, seen, task.file);
}

void CheckTask(TUser& user, TWideString& records, const TTask& task, const std::vector<TTaskFile>& files)
{
    const std::optional<TWideString> listed = LookupAllowed(TASKS_SECTION, task.path);
    const auto makeText = [&] {
        std::vector<TStartItem> starts;
        for (const TWideString& commandLine : task.read.commandLines) {
            starts.push_back({TStartKind::CommandLine, commandLine});
        }
        return EntryText({TASKS_SECTION, task.path, L"=", task.read.command, RUNS_START, task.read.triggers, RUNS_END},
                         starts);
    };
    if (listed == task.read.command
        && PassesSilently(user, TASKS_SECTION, task.path, task.read.command, TEntryState::Allowed, makeText)) {
        AppendRecord(records, task.path, task.read.command);
        return;
    }
    const TEntryText text = makeText();
    DecideEntry(user, records, TASKS_SECTION, task.path, task.read.command, listed, text, text,
                [&] { Delete(user, task, files); });
}

} // namespace

bool IsTaskEntry(const std::string& definition, TWideString& shown)
{
    TTask task;
    if (!ReadTask({TWideString(), definition, TWideString()}, task)) {
        return false;
    }
    shown = Shown(task.read);
    return true;
}

bool TaskEntryCommand(const std::string& definition, TWideString& command)
{
    TTask task;
    if (!ReadTask({TWideString(), definition, TWideString()}, task)) {
        return false;
    }
    command = task.read.command;
    return true;
}

void CheckTasks(TUser& user)
{
    std::vector<TTaskFile> files;
    if (!ReadAllTasks(files)) {
        return;
    }
    TRecords walk = StartRecords(TASKS_SECTION, TBaselineKind::Tasks);
    TTask task;
    for (const TTaskFile& file : files) {
        if (!file.readable) {
            KeepUnreadable(user, walk, TASKS_SECTION, file.path);
        }
        if (!ReadTask(file, task) || TakeIntoBaseline(user, walk, task.path, task.read.command)) {
            continue;
        }
        CheckTask(user, walk.records, task, files);
        if (RunAborted()) {
            return;
        }
    }
    SaveRecords(user, walk, TASKS_SECTION, TBaselineKind::Tasks);
}
