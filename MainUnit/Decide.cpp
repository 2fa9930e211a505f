#include "Decide.h"

#include "AllowedList.h"
#include "MainState.h"

namespace {

constexpr std::size_t BASELINE_KINDS = 4;
constexpr wchar_t MSG_BASELINE_START[] = L"Записано как есть: ";
constexpr wchar_t MSG_BASELINE_END[] = L". О новых и измененных будет задан вопрос.";

// A noun's three Russian forms, for 1, for 2 to 4, and for 5 and more (and
// 11 to 14), each with what follows it.
struct TCounted {
    const wchar_t* one;
    const wchar_t* few;
    const wchar_t* many;
};

const TCounted NOUNS[BASELINE_KINDS] = {
    {L"", L"", L""},
    {L"служба", L"службы", L"служб"},
    {L"компонент Active Setup", L"компонента Active Setup", L"компонентов Active Setup"},
    {L"задание", L"задания", L"заданий"},
};

// Of the check run now open: how many entries each kind's baseline took.
std::size_t taken[BASELINE_KINDS] = {};

TWideString Counted(std::size_t count, const TCounted& noun)
{
    const std::size_t tens = count % 100;
    const std::size_t units = count % 10;
    const wchar_t* form = units == 1 && tens != 11                              ? noun.one
        : units >= 2 && units <= 4 && (tens < 12 || tens > 14) ? noun.few
                                                                : noun.many;
    wchar_t number[24];
    wsprintfW(number, L"%lu ", static_cast<unsigned long>(count));
    return number + TWideString(form);
}

} // namespace

void DecideEntry(TUser& user, TWideString& records, const TWideString& section, const TWideString& name,
                   const TWideString& command, const std::optional<TWideString>& listed, const TEntryText& newText,
                   const TEntryText& changedText, const std::function<void()>& remove)
{
    const bool changed = listed.has_value();
    TChoice choice = ChoiceRemove;
    const bool answered = user.AskChoice({section, name, command}, changed, changed ? changedText : newText, choice);
    if (RunAborted()) {
        return;
    }
    THistoryEvent event{THistoryKind::Kept, section, name, command, TWideString()};
    if (!answered) {
        if (listed) {
            AppendRecord(records, name, *listed);
        }
    } else if (choice == ChoiceRemove) {
        RemoveAndRecord(user, event, remove);
        return;
    } else {
        AppendRecord(records, name, command);
        event.kind = changed ? THistoryKind::Corrected : THistoryKind::Added;
    }
    if (!RunAborted()) {
        user.Record(event);
    }
}

bool PassesSilentlyInWalk(TUser& user, const TEntryKey& key, TEntryState state,
                          const std::function<TEntryText()>& text)
{
    if (user.Surveys()) {
        user.See(key, text(), state);
    }
    return !user.Targets(key);
}

void RemoveAndRecord(TUser& user, THistoryEvent event, const std::function<void()>& remove)
{
    user.TakeFailure();
    user.TakeUndo();
    remove();
    const TWideString failure = user.TakeFailure();
    TUndo undo = user.TakeUndo();
    event.kind = failure.empty() ? THistoryKind::Removed : THistoryKind::Failed;
    event.detail = failure.empty() ? undo.place : failure;
    // Whether or not the run goes on, what was removed can be put back.
    if (failure.empty() && !undo.place.empty()) {
        undo.section = event.section;
        undo.name = event.name;
        undo.command = event.command;
        WriteUndo(undo);
    }
    if (!RunAborted()) {
        user.Record(event);
    }
}

TRecords StartRecords(const TWideString& section, TBaselineKind kind)
{
    TRecords walk;
    walk.section = section;
    walk.baseline = kind != TBaselineKind::None && !HasSection(section);
    return walk;
}

bool TakeIntoBaseline(TUser& user, TRecords& walk, const TWideString& name, const TWideString& command)
{
    if (walk.baseline && user.Surveys()) {
        user.See({walk.section, name, command}, EntryText({name, L"=", command}), TEntryState::Allowed);
    }
    if (walk.baseline) {
        AppendRecord(walk.records, name, command);
        ++walk.taken;
    }
    return walk.baseline;
}

void KeepUnreadable(TUser& user, TRecords& walk, const TWideString& section, const TWideString& name)
{
    const std::optional<TWideString> listed = LookupAllowed(section, name);
    if (listed) {
        AppendRecord(walk.records, name, *listed);
        PassesSilently(user, section, name, *listed, TEntryState::Allowed, [&] { return EntryText({name}); });
    }
}

void SaveSection(TUser& user, const TWideString& records, const TWideString& section, bool keepEmpty)
{
    if (!user.Surveys()) {
        SaveAllowedSection(records, section, keepEmpty);
    }
}

void SaveRecords(TUser& user, const TRecords& walk, const TWideString& section, TBaselineKind kind)
{
    if (user.Surveys()) {
        return;
    }
    SaveAllowedSection(walk.records, section, kind != TBaselineKind::None);
    if (walk.baseline) {
        NoteBaseline(kind, walk.taken);
        wchar_t count[24];
        wsprintfW(count, L"%lu", static_cast<unsigned long>(walk.taken));
        user.Record({THistoryKind::Baseline, section, TWideString(), TWideString(), count});
    }
}

void NoteBaseline(TBaselineKind kind, std::size_t count) { taken[static_cast<std::size_t>(kind)] += count; }

TWideString TakeBaselineMessage()
{
    TWideString list;
    for (std::size_t kind = 1; kind < BASELINE_KINDS; ++kind) {
        if (taken[kind] > 0) {
            list += (list.empty() ? L"" : L", ") + Counted(taken[kind], NOUNS[kind]);
        }
        taken[kind] = 0;
    }
    return list.empty() ? TWideString() : MSG_BASELINE_START + list + MSG_BASELINE_END;
}
