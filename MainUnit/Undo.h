#pragma once

// What it takes to put a removal back exactly, kept apart from removed.reg
// (which regedit users import, and which a user may edit or delete): one
// line of Removed\undo.log per removal that succeeded, in the history's line
// form (History.h), and one more line when it is put back.

#include "registry_profile.h"

#include <vector>

enum class TUndoKind : unsigned char { Value, File, Task, Service, IniElement };

struct TUndo {
    TUndoKind kind = TUndoKind::Value;
    TWideString time; // as the line was written, as the history writes it
    // The entry as the history names it, and as the allowed list lists it.
    TWideString section;
    TWideString name;
    TWideString command;
    // Where the removal kept what it removed (RecordPlace): the history
    // line's detail.
    TWideString place;
    // A value: its key, root included, as removed.reg names it (the 32-bit
    // view's under Software\Wow6432Node). A file: its folder's exact ("\\?\")
    // path. A task: its path. A service: its name. A win.ini element: the
    // profile section of its list (whose key is Name).
    TWideString where;
    // A value: its name. A file: its name in the folder. A win.ini element:
    // the element.
    TWideString item;
    REGSAM view = 0; // a value: the view its key was opened in
    // A value: its type and bytes. A service: its Start value as it was.
    TRegData data;
    TWideString copy; // a file or a task: the copy's name in Removed
};

// What putting one removal back came to: done (or it was back already),
// refused (its place holds something else under its name), refused for
// want of its copy in Removed, or failed.
enum class TPutBack { Done, Taken, NoCopy, Failed };

// Appends the line of a removal that succeeded (time given now), or the
// line that marks it put back. Best effort: a removal that happened is not
// undone because its line could not be written.
void WriteUndo(const TUndo& undo, bool restored = false);
// Every removal not put back since, newest first; a line that cannot be
// read is skipped.
std::vector<TUndo> RemovalsNotBack();
