#include "User.h"

#include "AllowedList.h"
#include "MainState.h"

#include <windows.h>

#include <utility>

bool TUser::AskChoice(bool isChanged, const TEntryText& entry, TChoice& choice)
{
    const bool answered = OnAskChoice(isChanged, entry, choice);
    AllowedListMayHaveChanged();
    return answered;
}

bool TUser::AskDeleteEmpty(const TEntryText& path)
{
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
    OnWarn(text);
    AllowedListMayHaveChanged();
}

void TUser::Inform(const TWideString& text)
{
    OnInform(text);
    AllowedListMayHaveChanged();
}

void TUser::Notify(const TWideString& text) { OnNotify(text); }

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

void TUser::Record(const THistoryEvent& event) { OnRecord(event); }

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
