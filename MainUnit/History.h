#pragma once

// The history of decisions: every decision of a check run is one line of
// history.log beside the settings file, in UTF-8, its fields apart by tabs.
// Each field is written through Visible, so that no name or command can
// break a line or add a field. Past HISTORY_LIMIT bytes the log is renamed
// history.1.log (one such file is kept) and a new one begun.

#include "registry_profile.h"

#include <initializer_list>
#include <vector>

enum class THistoryKind : unsigned char { Removed, Added, Kept, Corrected, Baseline, Failed, Restored, Forgotten };

// What happened to an entry of Section (for a baseline: how many entries
// it took, in Detail). Detail: for a failed removal the warning's text, for
// a removal where its record is kept (empty where unknown).
struct THistoryEvent {
    THistoryKind kind;
    TWideString section;
    TWideString name;
    TWideString command;
    TWideString detail;
};

// One line as it was read back: its fields as the file holds them
// (escaped); What is the event's keyword.
struct THistoryLine {
    TWideString time;
    TWideString what;
    TWideString section;
    TWideString name;
    TWideString command;
    TWideString detail;
};

constexpr LONGLONG HISTORY_LIMIT = 1048576;

// The logs beside the settings file (the history, Removed\undo.log) share
// one line form: the local time, then each field through Visible, apart by
// tabs, in UTF-8. The line of Fields now, its line feed included.
std::string LogLineBytes(std::initializer_list<TWideString> fields);
// Appends the line at once; false when it could not be written whole.
bool AppendLogBytes(const TWideString& path, const std::string& bytes);
// The lines of the file that have Count fields, the time first, oldest
// first, each field as the file holds it (through Visible); the others are
// skipped.
void ReadLogFile(const TWideString& path, std::size_t count, std::vector<std::vector<TWideString>>& lines);

const wchar_t* HistoryKeyword(THistoryKind kind);
// Best effort: a history that cannot be written never stops a check.
void WriteHistory(const THistoryEvent& event) noexcept;
// Newest first; a line that cannot be read is skipped.
std::vector<THistoryLine> ReadHistory();
