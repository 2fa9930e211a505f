#include "CheckINIUnit.h"

#include "AllowedList.h"
#include "Decide.h"
#include "MainState.h"
#include "Removed.h"
#include "registry_profile.h"

#include <windows.h>

#include <vector>

namespace {

constexpr wchar_t WINDOWS_SECTION[] = L"windows";
constexpr wchar_t ITEM_SEPARATOR = L',';
constexpr wchar_t KEPT_SEPARATOR[] = L", ";

const wchar_t* const WATCHED_KEYS[] = {L"run", L"load"};

// The elements between the separators; one at the end adds none.
std::vector<TWideString> SplitItems(const TWideString& value, const TWideString& separators)
{
    std::vector<TWideString> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = value.find_first_of(separators, start);
        if (comma == TWideString::npos) {
            break;
        }
        items.push_back(value.substr(start, comma - start));
        start = comma + 1;
    }
    if (start < value.size()) {
        items.push_back(value.substr(start));
    }
    return items;
}

TEntryText ItemText(const TWideString& fileName, const TWideString& section, const TWideString& key,
                    const TWideString& entry)
{
    return EntryText({fileName + L"\\[" + section + L"]\\" + key + L"=", entry}, {{TStartKind::CommandLine, entry}});
}

// Whether the element equals a whole element of the allowed value (the
// plain and the encoded form are joined by a zero). A part of an allowed
// path is a program Windows may start too: "C:\Program" of "C:\Program
// Files\...". A quoted element also counts by its inside: plain values
// stored by earlier versions came back from the profile read without their
// enclosing quotes.
bool IsAllowedItem(const TWideString& allowed, const TWideString& entry)
{
    const bool quoted = entry.size() >= 2 && entry.front() == L'"' && entry.back() == L'"';
    for (const TWideString& item : SplitItems(allowed, TWideString(L",\0", 2))) {
        const TWideString element = TrimBlanks(item);
        if (element == entry || (quoted && element == entry.substr(1, entry.size() - 2))) {
            return true;
        }
    }
    return false;
}

// False when the user chose to remove the element, or ended the program;
// Event's kind tells the answer.
bool KeepsItem(TUser& user, const TEntryText& entryText, THistoryEvent& event)
{
    TChoice choice = ChoiceAddToList;
    const bool answered = user.AskChoice({event.section, event.name, event.command}, false, entryText, choice);
    event.kind = !answered ? THistoryKind::Kept : choice == ChoiceRemove ? THistoryKind::Removed : THistoryKind::Added;
    return !RunAborted() && !(answered && choice == ChoiceRemove);
}

} // namespace

void CheckINI(TUser& user)
{
    for (const wchar_t* key : WATCHED_KEYS) {
        const TWideString value = ReadINIString(WIN_INI, WINDOWS_SECTION, key, L"");
        if (value.empty()) {
            continue;
        }
        CheckINIKey(user, WIN_INI, WINDOWS_SECTION, key, value);
        if (RunAborted()) {
            return;
        }
    }
}

void CheckINIKey(TUser& user, const TWideString& fileName, const TWideString& section, const TWideString& key,
                 const TWideString& value)
{
    TWideString kept;
    std::vector<TWideString> removed;
    for (const TWideString& item : SplitItems(value, TWideString(1, ITEM_SEPARATOR))) {
        CheckINIItem(user, kept, removed, item, key, fileName, section);
        if (RunAborted()) {
            return;
        }
    }
    // An unchanged list is not written back: every write would wake the
    // watch on win.ini again. A list that loses elements is recorded first,
    // whole, where Windows NT keeps it, so that it can be put back: once for
    // each element it loses, so that each removal has a place of its own.
    // A survey writes nothing; a removal from the window leaves the allowed
    // value as it was, for it decided nothing about the elements it kept.
    if (user.Surveys()) {
        return;
    }
    TWideString failure;
    std::vector<TRecordMark> marks(removed.size());
    bool recorded = true;
    for (TRecordMark& mark : marks) {
        recorded = recorded && RecordRemovedString(TWideString(L"HKEY_CURRENT_USER\\") + WIN_INI_KEY, key, value, &mark);
    }
    if (kept != value && (!recorded || !WriteINIString(fileName, section, key, kept))) {
        failure = FormatMsg(MSG_CANNOT_OPEN_FILE, {Visible(fileName)});
        user.Warn(failure);
    }
    for (std::size_t i = 0; i < removed.size(); ++i) {
        const THistoryEvent event{failure.empty() ? THistoryKind::Removed : THistoryKind::Failed, fileName, key, removed[i],
                                  failure.empty() ? RecordPlace(marks[i]) : failure};
        user.Record(event);
        if (failure.empty()) {
            TUndo undo;
            undo.kind = TUndoKind::IniElement;
            undo.section = fileName;
            undo.name = key;
            undo.command = removed[i];
            undo.place = event.detail;
            undo.where = section;
            undo.item = removed[i];
            WriteUndo(undo);
        }
    }
    if (!user.Removing()) {
        WriteAllowedValue(fileName, key, kept);
    }
}

bool CheckINIItem(TUser& user, TWideString& kept, std::vector<TWideString>& removed, const TWideString& item,
                  const TWideString& key, const TWideString& fileName, const TWideString& section)
{
    const TWideString allowed = ReadAllowedValue(fileName, key);
    const TWideString entry = TrimBlanks(item.substr(0, item.find(ITEM_SEPARATOR)));
    if (entry.empty()) {
        return true;
    }
    const auto text = [&] { return ItemText(fileName, section, key, entry); };
    if (!IsAllowedItem(allowed, entry) || !PassesSilently(user, fileName, key, entry, TEntryState::Allowed, text)) {
        THistoryEvent event{THistoryKind::Kept, fileName, key, entry, TWideString()};
        if (!KeepsItem(user, text(), event)) {
            removed.push_back(entry);
            return false;
        }
        user.Record(event);
    }
    if (!kept.empty()) {
        kept += KEPT_SEPARATOR;
    }
    kept += entry;
    return true;
}

bool PutBackINIItem(const TWideString& fileName, const TWideString& section, const TWideString& key, const TWideString& entry)
{
    const TWideString value = ReadINIString(fileName, section, key, L"");
    for (const TWideString& item : SplitItems(value, TWideString(1, ITEM_SEPARATOR))) {
        if (TrimBlanks(item) == entry) {
            return true;
        }
    }
    const TWideString trimmed = TrimBlanks(value);
    return WriteINIString(fileName, section, key, trimmed.empty() ? entry : trimmed + KEPT_SEPARATOR + entry);
}

void AllowINIItem(const TWideString& fileName, const TWideString& key, const TWideString& entry, bool allow)
{
    // Both forms the list may hold, as one list; the element taken out, or
    // added at its end.
    TWideString allowed;
    for (const TWideString& item : SplitItems(ReadAllowedValue(fileName, key), TWideString(L",\0", 2))) {
        const TWideString element = TrimBlanks(item);
        if (!element.empty() && element != entry) {
            allowed += (allowed.empty() ? L"" : KEPT_SEPARATOR) + element;
        }
    }
    if (allow) {
        allowed += (allowed.empty() ? L"" : KEPT_SEPARATOR) + entry;
    }
    WriteAllowedValue(fileName, key, allowed);
}
