#pragma once

// What every checker does with an entry, once its own rules have not
// settled it: the question, and what the answer does to the entry and to
// the allowed list. And the baseline of the places Windows fills by itself.

#include "User.h"

#include <functional>
#include <optional>

// Asks about an entry that the list does not hold with its command
// (Listed: what the list holds under its name, if anything): new, or
// changed. Cancel keeps what the list held; "add" and "correct" record the
// entry; "remove" runs Remove, which tells of its own failures (through
// WarnFailed) and records nothing. NewText and ChangedText show the entry in
// the two questions. The user is told what was decided about the entry of
// Section.
void DecideEntry(TUser& user, TWideString& records, const TWideString& section, const TWideString& name,
                   const TWideString& command, const std::optional<TWideString>& listed, const TEntryText& newText,
                   const TEntryText& changedText, const std::function<void()>& remove);

// An entry that passes without a question (the list allows it, or Windows
// will not start it: State) is told to a survey, its text made only then.
// False where a removal from the window names it: the caller then decides
// it as an entry the list does not hold, and so removes it.
bool PassesSilentlyInWalk(TUser& user, const TEntryKey& key, TEntryState state,
                          const std::function<TEntryText()>& text);
template <typename TMakeText>
bool PassesSilently(TUser& user, const TWideString& section, const TWideString& name, const TWideString& command,
                    TEntryState state, const TMakeText& text)
{
    // A check passes a hundred thousand such entries: nothing is made for it.
    if (!user.Surveys() && !user.Removing()) {
        return true;
    }
    return PassesSilentlyInWalk(user, {section, name, command}, state, text);
}

// Runs Remove, which tells of its own failures and notes what it kept and
// how to put it back (TUser::NoteUndo), and records the outcome for the
// history: Event removed (with the place of what was kept), or failed with
// the failure's text. A removal that succeeded gets its line in undo.log.
void RemoveAndRecord(TUser& user, THistoryEvent event, const std::function<void()>& remove);

// A place Windows fills by itself (a hundred services, a dozen Active
// Setup components, dozens of tasks) has no section in the list until its
// first check, which takes every entry present as allowed, writes the
// section (its header at least) and asks nothing. From then on it is asked
// about as any place is.
enum class TBaselineKind { None, Services, ActiveSetup, Tasks };

// The records of one section as a walk gathers them; Baseline: the place's
// first check, which takes every entry as it is (Taken counts them).
struct TRecords {
    TWideString section;
    TWideString records;
    bool baseline = false;
    std::size_t taken = 0;
};
// The walk of Section, a place of Kind (None: one without a baseline).
TRecords StartRecords(const TWideString& section, TBaselineKind kind);
// Takes the entry as it is when the walk is a baseline; false: it is to be
// checked.
bool TakeIntoBaseline(TUser& user, TRecords& walk, const TWideString& name, const TWideString& command);
// An entry that is there but cannot be read is not decided about: the
// list keeps what it held under Name, if anything.
void KeepUnreadable(TUser& user, TRecords& walk, const TWideString& section, const TWideString& name);
// Saves the section, whose header stays where the place has a baseline
// (found empty, the baseline is taken), and notes a baseline taken (and
// tells the user).
void SaveRecords(TUser& user, const TRecords& walk, const TWideString& section, TBaselineKind kind);
// SaveAllowedSection, for every walk but a survey.
void SaveSection(TUser& user, const TWideString& records, const TWideString& section, bool keepEmpty = false);

// A check took Kind's baseline, Count entries.
void NoteBaseline(TBaselineKind kind, std::size_t count);
// What the check run took as it was, as the balloon tells it (empty when it
// took nothing); forgets it.
TWideString TakeBaselineMessage();
