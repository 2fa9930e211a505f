#pragma once

// The user as the check run sees it: the questions it asks and the warnings
// it gives. The program's user answers through message boxes owned by the
// hidden window; a check run takes whichever user it is given.

#include "History.h"
#include "Texts.h"
#include "Undo.h"

#include <vector>

enum TChoice : unsigned char {
    ChoiceAddToList = 0,   // new entry, second option
    ChoiceRemove = 1,      // first option, new or changed entry
    ChoiceCorrectList = 2, // changed entry, second option
};

// An entry as the allowed list and the history name it: its list's
// section, its name there, and its command (for a win.ini element: the
// file, the key and the element).
struct TEntryKey {
    TWideString section;
    TWideString name;
    TWideString command;
};
bool SameEntry(const TEntryKey& a, const TEntryKey& b);

// What a walk of the places found an entry to be.
enum class TEntryState : unsigned char {
    Allowed,     // the list holds it (or the place's first check will take it)
    Undecided,   // the next check asks about it
    SwitchedOff, // Task Manager has switched it off
    Removed,     // removed by the program, and can be put back
    Disabled,    // a service the program disabled
    Gone,        // the list allows it, but it is no longer there
};

class TUser {
public:
    virtual ~TUser() = default;
    // The question about one entry (Key). True when the user answered (OK
    // with an option selected); Choice then holds the option.
    bool AskChoice(const TEntryKey& key, bool isChanged, const TEntryText& entry, TChoice& choice);
    // Whether to delete a registry value that holds no command; Path names it.
    bool AskDeleteEmpty(const TEntryKey& key, const TEntryText& path);
    // Whether to remove, as administrator, an entry that the user's rights
    // could not remove; Entry names it.
    bool AskElevate(const TEntryText& entry);
    void Warn(const TWideString& text);
    // The end of a check run that the user started.
    void Inform(const TWideString& text);
    // A word that needs no answer and keeps no window open (the tray icon's
    // balloon).
    void Notify(const TWideString& text);
    // A removal that failed: the warning, and the failure's text for the
    // decision that asked for the removal (see DecideEntry).
    void WarnFailed(const TWideString& text);
    // A removal that did not happen and that the user need not be told of
    // (the user declined the administrator's prompt): its text, for the
    // decision, without a box.
    void NoteFailure(const TWideString& text);
    // What a check decided, for the history.
    void Record(const THistoryEvent& event);
    // The failure warned of since the last call, if any; forgets it.
    TWideString TakeFailure();
    // What a removal kept and how to put it back (its place: RecordPlace in
    // Removed.h), for the decision's history and undo.log; Take forgets it.
    void NoteUndo(const TUndo& undo);
    TUndo TakeUndo();

    // A survey walks every place to list what is there: the checkers tell
    // it of every entry (See), ask nothing and write nothing.
    virtual bool Surveys() const { return false; }
    void See(const TEntryKey& key, const TEntryText& text, TEntryState state);
    // A removal from the window: the next walk removes exactly the entries
    // named (allowed or not, as the question's "remove" does) and asks
    // about, records and says nothing of any other. Empty: a check.
    void SetTargets(std::vector<TEntryKey> targets);
    bool Targets(const TEntryKey& key) const;
    bool Removing() const { return !targets_.empty(); }
    // The targets the walk did not come to (gone, or changed since they
    // were shown): nothing was removed of them.
    std::vector<TEntryKey> UnreachedTargets() const;

protected:
    // The ways a user answers. Whatever they show, the allowed list may
    // have been edited meanwhile; the calls above tell the list so.
    virtual bool OnAskChoice(bool isChanged, const TEntryText& entry, TChoice& choice) = 0;
    virtual bool OnAskDeleteEmpty(const TEntryText& path) = 0;
    virtual bool OnAskElevate(const TEntryText& entry) = 0;
    virtual void OnWarn(const TWideString& text) = 0;
    virtual void OnInform(const TWideString& text) = 0;
    virtual void OnNotify(const TWideString& text) = 0;
    virtual void OnRecord(const THistoryEvent& event) = 0;
    virtual void OnSee(const TEntryKey&, const TEntryText&, TEntryState) {}

private:
    // Whether the walk came to a target and removed it (or tried).
    bool Reach(const TEntryKey& key);
    std::vector<TEntryKey> targets_;
    std::vector<bool> reached_;
    TWideString failure_;
    TUndo undo_;
};

// The warning box: owned by the hidden window (none while it is being made).
void ShowWarning(const TWideString& text);
