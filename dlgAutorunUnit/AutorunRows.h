#pragma once

// What the window of everything guarded lists: every entry of every place
// as a survey finds it now, every removal not put back, and every entry the
// list allows that is gone; and the history of decisions. Rows are texts
// for a list view, found by any of their columns.

#include "FileFacts.h"
#include "History.h"
#include "User.h"

#include <functional>
#include <map>
#include <set>
#include <vector>

// The kind of place is a column too: a list view draws no groups on older
// systems (and under Wine), and the search finds a kind by its name.
enum TListColumn : int { ColEntry, ColCommand, ColDescription, ColCompany, ColState, ColDecided, ColPlace, LIST_COLUMNS };
enum THistoryColumn : int { ColTime, ColWhat, ColSection, ColName, ColHistoryCommand, ColDetail, HISTORY_COLUMNS };

struct TAutorunRow {
    TEntryKey key;
    TEntryText text; // the question's text, and what the entry starts
    TEntryState state;
    std::size_t group;
    TWideString decided; // the time of the last decision about it, as the history has it
    TWideString place;   // a removal's: where its record is
    TVersionFacts facts; // filled in as they are read
    TWideString haystack; // every column upper-cased, for the search
};

std::size_t GroupCount();
const wchar_t* GroupTitle(std::size_t group);
// The kind of place the list's Section belongs to.
std::size_t GroupOf(const TWideString& section);
const wchar_t* StateText(TEntryState state);
const wchar_t* ColumnTitle(int column);
const wchar_t* HistoryColumnTitle(int column);
TWideString ColumnText(const TAutorunRow& row, int column);
TWideString HistoryColumnText(const THistoryLine& line, int column);

// Every place walked by Walk with a user that only looks (see
// TUser::Surveys), then the removals not put back and the entries the list
// allows that are gone, in the order of the groups. Raises TINIExcept
// where the allowed list cannot be read.
// FirstRows, if given, is shown the first FIRST_ROWS rows as soon as the
// walk has found them (in the walk's order, the Run keys first): a window
// shows its first page while the walk goes on.
constexpr std::size_t FIRST_ROWS = 64;
std::vector<TAutorunRow> SurveyRows(const std::function<void(TUser&)>& walk,
                                    const std::function<void(const std::vector<TAutorunRow>&)>& firstRows = nullptr);
// Where a row stands in the history: its section and name as the history
// writes them, upper-cased.
TWideString DecisionKey(const TWideString& section, const TWideString& name);
// What the history adds to a survey's rows: the time of each entry's last
// decision, and the entries it last added, corrected or put back that are
// gone (Known: the rows' keys). Made on a thread of its own: it reads every
// line.
struct THistoryFacts {
    std::map<TWideString, TWideString> decided;
    std::vector<TAutorunRow> gone;
};
THistoryFacts ReadHistoryFacts(const std::vector<THistoryLine>& history, const std::set<TWideString>& known);
// The rows with the history's facts; the gone ones are appended (the
// window shows rows by their groups).
void ApplyHistoryFacts(std::vector<TAutorunRow>& rows, THistoryFacts& facts);
// The row's haystack, made when the search first needs it.
void IndexRow(TAutorunRow& row);

// Every column of a history line upper-cased, for the search.
TWideString HistoryHaystack(const THistoryLine& line);
// Whether a haystack holds Needle, both upper-cased (UpperCase).
bool Matches(const TWideString& haystack, const TWideString& upperNeedle);

// The rows as text, a line each, their columns apart by tabs, the titles first.
TWideString RowsText(const std::vector<const TAutorunRow*>& rows);
TWideString HistoryText(const std::vector<const THistoryLine*>& lines);
