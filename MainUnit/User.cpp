#include "User.h"

#include "AllowedList.h"
#include "MainState.h"

#include <windows.h>

#include <utility>

bool SameEntry(const TEntryKey& a, const TEntryKey& b)
{
    return a.section == b.section && a.command == b.command && UpperCase(a.name) == UpperCase(b.name);
}

bool TUser::AskChoice(const TEntryKey& key, bool isChanged, const TEntryText& entry, TChoice& choice)
{
    if (Surveys()) {
        See(key, entry, TEntryState::Undecided);
        return false;
    }
    if (Removing()) {
        choice = ChoiceRemove;
        return Reach(key);
    }
    const bool answered = OnAskChoice(isChanged, entry, choice);
    AllowedListMayHaveChanged();
    return answered;
}

bool TUser::AskDeleteEmpty(const TEntryKey& key, const TEntryText& path)
{
    if (Surveys()) {
        See(key, path, TEntryState::Undecided);
        return false;
    }
    if (Removing()) {
        return Reach(key);
    }
    const bool yes = OnAskDeleteEmpty(path);
    AllowedListMayHaveChanged();
    return yes;
}

bool TUser::AskElevate(const TEntryText& entry)
{
    const bool yes = OnAskElevate(entry);
    AllowedListMayHaveChanged();
    return yes;
}

void TUser::Warn(const TWideString& text)
{
    if (Surveys()) {
        return;
    }
    OnWarn(text);
    AllowedListMayHaveChanged();
}

void TUser::Inform(const TWideString& text)
{
    if (Surveys()) {
        return;
    }
    OnInform(text);
    AllowedListMayHaveChanged();
}

void TUser::Notify(const TWideString& text)
{
    if (!Surveys()) {
        OnNotify(text);
    }
}

void TUser::WarnFailed(const TWideString& text)
{
    NoteFailure(text);
    Warn(text);
}

void TUser::NoteFailure(const TWideString& text) { failure_ = text; }

void TUser::NoteUndo(const TUndo& undo) { undo_ = undo; }

TUndo TUser::TakeUndo()
{
    TUndo undo;
    std::swap(undo, undo_);
    return undo;
}

void TUser::Record(const THistoryEvent& event)
{
    // A removal from the window passes by every other entry unasked: that
    // is no decision about them.
    if (Surveys() || (Removing() && !Targets({event.section, event.name, event.command}))) {
        return;
    }
    OnRecord(event);
}

void TUser::See(const TEntryKey& key, const TEntryText& text, TEntryState state) { OnSee(key, text, state); }

void TUser::SetTargets(std::vector<TEntryKey> targets)
{
    targets_ = std::move(targets);
    reached_.assign(targets_.size(), false);
}

bool TUser::Reach(const TEntryKey& key)
{
    bool reached = false;
    for (std::size_t i = 0; i < targets_.size(); ++i) {
        if (SameEntry(targets_[i], key)) {
            reached_[i] = true;
            reached = true;
        }
    }
    return reached;
}

std::vector<TEntryKey> TUser::UnreachedTargets() const
{
    std::vector<TEntryKey> unreached;
    for (std::size_t i = 0; i < targets_.size(); ++i) {
        if (!reached_[i]) {
            unreached.push_back(targets_[i]);
        }
    }
    return unreached;
}

bool TUser::Targets(const TEntryKey& key) const
{
    for (const TEntryKey& target : targets_) {
        if (SameEntry(target, key)) {
            return true;
        }
    }
    return false;
}

TWideString TUser::TakeFailure()
{
    TWideString failure;
    failure.swap(failure_);
    return failure;
}

void ShowWarning(const TWideString& text)
{
    MessageBoxW(MainWnd(), text.c_str(), APP_CAPTION, MB_OK | MB_ICONEXCLAMATION);
}
