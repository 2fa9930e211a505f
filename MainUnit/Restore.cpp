#include "Restore.h"

#include "AllowedList.h"
#include "CheckINIUnit.h"
#include "CheckServicesUnit.h"
#include "CheckTasksUnit.h"
#include "Places.h"
#include "Removed.h"
#include "ScopedHandle.h"
#include "TaskScheduler.h"

#include <algorithm>

namespace {

// The entry as the questions named it.
TWideString Shown(const TUndo& undo)
{
    switch (undo.kind) {
    case TUndoKind::Value:
        return EntryText({undo.where, L"\\", undo.item}).shown;
    case TUndoKind::Task:
        return EntryText({TASKS_SECTION, undo.where}).shown;
    case TUndoKind::IniElement:
        return EntryText({undo.section + L"\\[" + undo.where + L"]\\" + undo.name + L"=", undo.item}).shown;
    case TUndoKind::File:
    case TUndoKind::Service:
        break;
    }
    return EntryText({undo.name}).shown;
}

// Windows' own value, which "remove" wrote over the entry, is written over
// in turn; any other value under the name is someone's.
TPutBack PutBackValue(const TUndo& undo)
{
    TKeyLocation location;
    TRegKey key;
    if (!FindKey(undo.where, location) || location.view != undo.view
        || RegCreateKeyExW(location.root, location.path.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE | location.view,
                           nullptr, key.Receive(), nullptr)
            != ERROR_SUCCESS) {
        return TPutBack::Failed;
    }
    TRegData now;
    if (ReadRegValue(key.Get(), undo.item, now)) {
        if (now.type == undo.data.type && now.bytes == undo.data.bytes) {
            return TPutBack::Done;
        }
        if (!IsWindowsValue(location, undo.item, now.type, RegDataText(now))) {
            return TPutBack::Taken;
        }
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return TPutBack::Failed;
    }
    return WriteRegValue(key.Get(), undo.item, undo.data) ? TPutBack::Done : TPutBack::Failed;
}

// The copy as it was written: through a Win32 path, which may have dropped
// a trailing dot of the name.
TWideString CopyPath(const TUndo& undo) { return RemovedFolder() + L"\\" + undo.copy; }

bool HasCopy(const TUndo& undo)
{
    const DWORD attributes = GetFileAttributesW(CopyPath(undo).c_str());
    return !undo.copy.empty() && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Moved back by its exact path; a name taken since is not replaced.
TPutBack PutBackFile(const TUndo& undo)
{
    const TWideString target = undo.where + L"\\" + undo.item;
    if (!HasCopy(undo)) {
        return TPutBack::NoCopy;
    }
    if (MoveFileExW(CopyPath(undo).c_str(), target.c_str(), MOVEFILE_COPY_ALLOWED)) {
        return TPutBack::Done;
    }
    const DWORD error = GetLastError();
    std::string kept;
    std::string there;
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
        return TPutBack::Failed;
    }
    return ReadFileBytes(CopyPath(undo), kept) && ReadFileBytes(target, there) && kept == there ? TPutBack::Done
                                                                                                : TPutBack::Taken;
}

TPutBack PutBackTask(const TUndo& undo)
{
    std::string definition;
    if (!HasCopy(undo)) {
        return TPutBack::NoCopy;
    }
    const TPutBack back = ReadFileBytes(CopyPath(undo), definition) ? PutBackScheduledTask(undo.where, definition)
                                                                    : TPutBack::Failed;
    if (back == TPutBack::Done) {
        DeleteFileW(CopyPath(undo).c_str());
    }
    return back;
}

// A restore writes what the window showed of the removal, its command.
// undo.log and the copies in Removed are the user's files, which any
// program of the user can change: a record whose value or kept definition
// starts something else is not put back. (A Startup file's command is its
// name; what it holds was never part of it.)
bool StartsWhatWasShown(const TUndo& undo)
{
    std::string definition;
    TWideString command;
    switch (undo.kind) {
    case TUndoKind::Value:
        return RegDataText(undo.data) == undo.command;
    case TUndoKind::Task:
        return !HasCopy(undo)
            || (ReadFileBytes(CopyPath(undo), definition) && TaskEntryCommand(definition, command) && command == undo.command);
    case TUndoKind::IniElement:
        return undo.item == undo.command;
    case TUndoKind::File:
    case TUndoKind::Service:
        break;
    }
    return true;
}

TPutBack PutBack(const TUndo& undo)
{
    switch (undo.kind) {
    case TUndoKind::Value:
        return PutBackValue(undo);
    case TUndoKind::File:
        return PutBackFile(undo);
    case TUndoKind::Task:
        return PutBackTask(undo);
    case TUndoKind::Service:
        return PutBackServiceStart(undo.where, undo.data);
    case TUndoKind::IniElement:
        break;
    }
    return PutBackINIItem(undo.section, undo.where, undo.name, undo.item) ? TPutBack::Done : TPutBack::Failed;
}

// Adds the entry to the allowed list as the checker lists it (a Startup
// file by its name alone), or takes it out; false, and the user warned,
// when the list cannot be written.
bool ChangeAllowed(TUser& user, const TWideString& section, const TWideString& name, const TWideString& command, bool allow,
                   bool bare = false)
{
    try {
        if (SamePath(section, WIN_INI)) {
            AllowINIItem(section, name, command, allow);
            return true;
        }
        TWideString record;
        if (allow && bare) {
            AppendBareRecord(record, name);
        } else if (allow) {
            AppendRecord(record, name, command);
        }
        SetAllowedEntry(section, name, record);
        return true;
    } catch (const TINIExcept& e) {
        user.Warn(FormatMsg(MSG_CANNOT_OPEN_FILE, {Visible(e.FileName)}));
        return false;
    }
}

} // namespace

bool RestoreRemoval(TUser& user, const TWideString& place)
{
    const std::vector<TUndo> removals = RemovalsNotBack();
    const auto found = std::find_if(removals.begin(), removals.end(), [&](const TUndo& undo) { return undo.place == place; });
    if (found == removals.end()) {
        user.Warn(FormatMsg(MSG_CANNOT_RESTORE, {Visible(place)}));
        return false;
    }
    const TUndo& undo = *found;
    if (!StartsWhatWasShown(undo)) {
        user.Warn(FormatMsg(MSG_RESTORE_MISMATCH, {Shown(undo)}));
        return false;
    }
    switch (PutBack(undo)) {
    case TPutBack::Done:
        break;
    case TPutBack::Taken:
        user.Warn(FormatMsg(MSG_RESTORE_TAKEN, {Shown(undo)}));
        return false;
    case TPutBack::NoCopy:
        user.Warn(FormatMsg(MSG_NO_COPY, {Shown(undo)}));
        return false;
    case TPutBack::Failed:
        user.Warn(FormatMsg(MSG_CANNOT_RESTORE, {Shown(undo)}));
        return false;
    }
    WriteUndo(undo, true);
    user.Record({THistoryKind::Restored, undo.section, undo.name, undo.command, undo.place});
    return ChangeAllowed(user, undo.section, undo.name, undo.command, true, undo.kind == TUndoKind::File);
}

bool ForgetEntry(TUser& user, const TWideString& section, const TWideString& name, const TWideString& command)
{
    if (!ChangeAllowed(user, section, name, command, false)) {
        return false;
    }
    user.Record({THistoryKind::Forgotten, section, name, command, TWideString()});
    return true;
}
