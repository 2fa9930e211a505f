#include "AutorunRows.h"

#include "AllowedList.h"
#include "Removed.h"
#include "Undo.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace {

// In the order the window shows them.
const wchar_t* const GROUP_TITLES[] = {
    L"Разделы Run",
    L"Run по групповой политике",
    L"Вход в систему",
    L"Командная строка",
    L"Библиотеки, загружаемые в программы",
    L"Загрузка Windows",
    L"Отладчики программ",
    L"Папки автозагрузки",
    L"win.ini",
    L"Службы и драйверы",
    L"Active Setup",
    L"Назначенные задания",
    L"Другие места",
};
constexpr std::size_t GROUP_RUN = 0, GROUP_POLICY = 1, GROUP_LOGON = 2, GROUP_COMMAND = 3, GROUP_LIBRARIES = 4,
                      GROUP_BOOT = 5, GROUP_DEBUGGERS = 6, GROUP_STARTUP = 7, GROUP_WIN_INI = 8, GROUP_SERVICES = 9,
                      GROUP_ACTIVE_SETUP = 10, GROUP_TASKS = 11, GROUP_OTHER = 12;

// A mark in a section's name (upper-cased) and the group it puts the
// section in: the first mark found counts, so the narrower come first.
struct TGroupMark {
    const wchar_t* mark;
    std::size_t group;
};
const TGroupMark GROUP_MARKS[] = {
    {L"TASK SCHEDULER", GROUP_TASKS},
    {L"\\CURRENTCONTROLSET\\SERVICES", GROUP_SERVICES},
    {L"WIN.INI", GROUP_WIN_INI},
    {L"\\STARTUP", GROUP_STARTUP},
    {L"\\COMMON STARTUP", GROUP_STARTUP},
    {L"\\ACTIVE SETUP\\", GROUP_ACTIVE_SETUP},
    {L"\\POLICIES\\EXPLORER\\RUN", GROUP_POLICY},
    {L"\\IMAGE FILE EXECUTION OPTIONS", GROUP_DEBUGGERS},
    {L"\\SILENTPROCESSEXIT", GROUP_DEBUGGERS},
    {L"\\APPCERTDLLS", GROUP_LIBRARIES},
    {L"NT\\CURRENTVERSION\\WINDOWS", GROUP_LIBRARIES},
    {L"\\SESSION MANAGER", GROUP_BOOT},
    {L"\\COMMAND PROCESSOR", GROUP_COMMAND},
    {L"\\WINLOGON", GROUP_LOGON},
    {L"\\POLICIES\\SYSTEM", GROUP_LOGON},
    {L"\\ENVIRONMENT", GROUP_LOGON},
    {L"\\RUN", GROUP_RUN},
};

const wchar_t* const STATE_TEXTS[] = {
    L"Разрешена",
    L"Не решено: будет задан вопрос",
    L"Выключена в диспетчере задач",
    L"Удалена, можно восстановить",
    L"Отключена, можно восстановить",
    L"Разрешена, но ее больше нет",
};

const wchar_t* const COLUMN_TITLES[] = {L"Запись",    L"Команда", L"Описание", L"Производитель",
                                        L"Состояние", L"Решение", L"Место"};
const wchar_t* const HISTORY_TITLES[] = {L"Время", L"Событие", L"Место", L"Запись", L"Команда", L"Подробности"};

// The history's keywords as the window shows them, in THistoryKind's order.
const wchar_t* const HISTORY_WHAT[] = {L"удалена",       L"добавлена в список", L"оставлена без решения",
                                       L"исправлена в списке", L"записано как есть",  L"удалить не удалось",
                                       L"восстановлена", L"забыта"};
constexpr std::size_t HISTORY_KINDS = sizeof(HISTORY_WHAT) / sizeof(HISTORY_WHAT[0]);

constexpr wchar_t COLUMN_SEPARATOR = L'\t';
constexpr wchar_t ROW_END[] = L"\r\n";

// The user a survey walks with: it only looks, and keeps what it sees.
class TSurveyUser : public TUser {
public:
    explicit TSurveyUser(const std::function<void(const std::vector<TAutorunRow>&)>& firstRows) : firstRows_(firstRows) {}
    std::vector<TAutorunRow> rows;
    bool Surveys() const override { return true; }

protected:
    bool OnAskChoice(bool, const TEntryText&, TChoice&) override { return false; }
    bool OnAskDeleteEmpty(const TEntryText&) override { return false; }
    bool OnAskElevate(const TEntryText&) override { return false; }
    void OnWarn(const TWideString&) override {}
    void OnInform(const TWideString&) override {}
    void OnNotify(const TWideString&) override {}
    void OnRecord(const THistoryEvent&) override {}
    void OnSee(const TEntryKey& key, const TEntryText& text, TEntryState state) override
    {
        // A place's entries come one after another, under one section.
        if (key.section != lastSection_ || rows.empty()) {
            lastSection_ = key.section;
            lastGroup_ = GroupOf(key.section);
        }
        rows.push_back({key, text, state, lastGroup_, TWideString(), TWideString(), {}, TWideString()});
        if (rows.size() == FIRST_ROWS && firstRows_) {
            firstRows_(rows);
        }
    }

private:
    const std::function<void(const std::vector<TAutorunRow>&)>& firstRows_;
    TWideString lastSection_;
    std::size_t lastGroup_ = 0;
};

// Where an allowed entry can be gone: a place whose list names its entries
// one by one (not win.ini's, one value for a whole list), and no section of
// the settings file that is no place.
bool NamesEntriesOneByOne(std::size_t group) { return group != GROUP_OTHER && group != GROUP_WIN_INI; }

TAutorunRow GoneRow(const TWideString& section, const TWideString& name, const TWideString& command, std::size_t group)
{
    return {{section, name, command}, EntryText({section, L"\\", name, L"=", command}), TEntryState::Gone, group,
            TWideString(), TWideString(), {}, TWideString()};
}

void SortByGroup(std::vector<TAutorunRow>& rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const TAutorunRow& a, const TAutorunRow& b) { return a.group < b.group; });
}

// Every removal not put back: a service the program disabled, any other
// entry it removed.
void AddRemovals(std::vector<TAutorunRow>& rows)
{
    for (const TUndo& undo : RemovalsNotBack()) {
        const bool file = undo.kind == TUndoKind::File;
        const TStartItem starts = {file ? TStartKind::EntryFile : TStartKind::CommandLine,
                                   file ? RemovedFolder() + L"\\" + undo.copy : undo.command};
        const TEntryText text = EntryText({undo.section, L"\\", undo.name, L"=", undo.command}, {starts});
        const TEntryState state = undo.kind == TUndoKind::Service ? TEntryState::Disabled : TEntryState::Removed;
        rows.push_back({{undo.section, undo.name, undo.command}, text, state, GroupOf(undo.section), undo.time,
                        undo.place, {}, TWideString()});
    }
}

// The allowed entries no survey saw that the list still holds (a check
// drops them from it), but for win.ini, whose list is one value.
void AddListedGone(std::vector<TAutorunRow>& rows)
{
    std::set<TWideString> known;
    for (const TAutorunRow& row : rows) {
        known.insert(DecisionKey(row.key.section, row.key.name));
    }
    for (const TWideString& section : ListedSections()) {
        const std::size_t group = GroupOf(section);
        if (!NamesEntriesOneByOne(group)) {
            continue;
        }
        for (const TListedEntry& entry : ListedEntries(section)) {
            if (known.insert(DecisionKey(section, entry.name)).second) {
                rows.push_back(GoneRow(section, entry.name, entry.command, group));
            }
        }
    }
}

template <typename TItem>
TWideString LinesText(const std::vector<const TItem*>& items, int columns, const wchar_t* (*title)(int),
                      TWideString (*text)(const TItem&, int))
{
    TWideString all;
    for (int column = 0; column < columns; ++column) {
        all += (column == 0 ? L"" : TWideString(1, COLUMN_SEPARATOR)) + title(column);
    }
    all += ROW_END;
    for (const TItem* item : items) {
        for (int column = 0; column < columns; ++column) {
            all += (column == 0 ? L"" : TWideString(1, COLUMN_SEPARATOR)) + text(*item, column);
        }
        all += ROW_END;
    }
    return all;
}

} // namespace

std::size_t GroupCount() { return sizeof(GROUP_TITLES) / sizeof(GROUP_TITLES[0]); }

const wchar_t* GroupTitle(std::size_t group) { return GROUP_TITLES[std::min(group, GROUP_OTHER)]; }

std::size_t GroupOf(const TWideString& section)
{
    const TWideString upper = UpperCase(section);
    for (const TGroupMark& mark : GROUP_MARKS) {
        if (upper.find(mark.mark) != TWideString::npos) {
            return mark.group;
        }
    }
    return GROUP_OTHER;
}

const wchar_t* StateText(TEntryState state) { return STATE_TEXTS[static_cast<std::size_t>(state)]; }

const wchar_t* ColumnTitle(int column) { return COLUMN_TITLES[column]; }

const wchar_t* HistoryColumnTitle(int column) { return HISTORY_TITLES[column]; }

TWideString ColumnText(const TAutorunRow& row, int column)
{
    switch (column) {
    case ColEntry:
        // A service is named by its key's path; the kind of place says the rest.
        if (row.key.name.size() > row.key.section.size() + 1 && row.key.name[row.key.section.size()] == L'\\'
            && SamePath(row.key.name.substr(0, row.key.section.size()), row.key.section)) {
            return Visible(row.key.name.substr(row.key.section.size() + 1));
        }
        return Visible(row.key.name);
    case ColCommand:
        return Visible(row.key.command);
    case ColDescription:
        return Visible(row.facts.description);
    case ColCompany:
        return Visible(row.facts.company);
    case ColState:
        return StateText(row.state);
    case ColDecided:
        return row.decided;
    default:
        return GroupTitle(row.group);
    }
}

TWideString HistoryColumnText(const THistoryLine& line, int column)
{
    switch (column) {
    case ColTime:
        return line.time;
    case ColWhat:
        for (std::size_t kind = 0; kind < HISTORY_KINDS; ++kind) {
            if (line.what == HistoryKeyword(static_cast<THistoryKind>(kind))) {
                return HISTORY_WHAT[kind];
            }
        }
        return line.what;
    case ColSection:
        return line.section;
    case ColName:
        return line.name;
    case ColHistoryCommand:
        return line.command;
    default:
        return line.detail;
    }
}

void IndexRow(TAutorunRow& row)
{
    row.haystack.clear();
    for (int column = 0; column < LIST_COLUMNS; ++column) {
        row.haystack += ColumnText(row, column) + L'\n';
    }
    row.haystack = UpperCase(row.haystack);
}

TWideString DecisionKey(const TWideString& section, const TWideString& name)
{
    return UpperCase(section) + L'\n' + UpperCase(name);
}

std::vector<TAutorunRow> SurveyRows(const std::function<void(TUser&)>& walk,
                                    const std::function<void(const std::vector<TAutorunRow>&)>& firstRows)
{
    TSurveyUser surveyor(firstRows);
    walk(surveyor);
    std::vector<TAutorunRow> rows = std::move(surveyor.rows);
    AddRemovals(rows);
    AddListedGone(rows);
    SortByGroup(rows);
    return rows;
}

THistoryFacts ReadHistoryFacts(const std::vector<THistoryLine>& history, const std::set<TWideString>& known)
{
    THistoryFacts facts;
    // Newest first: an entry's first line is its last decision.
    for (const THistoryLine& line : history) {
        TWideString section, name, command;
        if (!FromVisible(line.section, section) || !FromVisible(line.name, name)) {
            continue;
        }
        const TWideString key = DecisionKey(section, name);
        if (!facts.decided.emplace(key, line.time).second) {
            continue;
        }
        const bool kept = line.what == HistoryKeyword(THistoryKind::Added) || line.what == HistoryKeyword(THistoryKind::Corrected)
            || line.what == HistoryKeyword(THistoryKind::Restored);
        if (!kept || known.count(key) != 0 || !FromVisible(line.command, command)) {
            continue;
        }
        const std::size_t group = GroupOf(section);
        if (NamesEntriesOneByOne(group)) {
            facts.gone.push_back(GoneRow(section, name, command, group));
        }
    }
    return facts;
}

void ApplyHistoryFacts(std::vector<TAutorunRow>& rows, THistoryFacts& facts)
{
    for (TAutorunRow& row : rows) {
        const auto found = facts.decided.find(DecisionKey(row.key.section, row.key.name));
        // A removal's own time is its last decision.
        if (row.decided.empty() && found != facts.decided.end()) {
            row.decided = found->second;
            row.haystack.clear();
        }
    }
    for (TAutorunRow& row : facts.gone) {
        const auto found = facts.decided.find(DecisionKey(row.key.section, row.key.name));
        row.decided = found == facts.decided.end() ? TWideString() : found->second;
        rows.push_back(std::move(row));
    }
    facts.gone.clear();
}

TWideString HistoryHaystack(const THistoryLine& line)
{
    TWideString haystack;
    for (int column = 0; column < HISTORY_COLUMNS; ++column) {
        haystack += HistoryColumnText(line, column) + L'\n';
    }
    return UpperCase(haystack);
}

bool Matches(const TWideString& haystack, const TWideString& upperNeedle)
{
    return upperNeedle.empty() || haystack.find(upperNeedle) != TWideString::npos;
}

TWideString RowsText(const std::vector<const TAutorunRow*>& rows)
{
    return LinesText<TAutorunRow>(rows, LIST_COLUMNS, ColumnTitle, ColumnText);
}

TWideString HistoryText(const std::vector<const THistoryLine*>& lines)
{
    return LinesText<THistoryLine>(lines, HISTORY_COLUMNS, HistoryColumnTitle, HistoryColumnText);
}
