#include "Undo.h"

#include "History.h"
#include "Removed.h"
#include "Texts.h"

#include <cwchar>
#include <string>

namespace {

constexpr wchar_t UNDO_FILE[] = L"\\undo.log";
// Time, what, kind, section, name, command, place, where, item, view, type,
// data, copy.
constexpr std::size_t UNDO_FIELDS = 13;
const wchar_t* const KINDS[] = {L"value", L"file", L"task", L"service", L"ini"};

TWideString Number(unsigned long number)
{
    const std::wstring digits = std::to_wstring(number);
    return TWideString(digits.begin(), digits.end());
}

bool ReadNumber(const TWideString& text, unsigned long& number)
{
    wchar_t* end = nullptr;
    number = std::wcstoul(text.c_str(), &end, 10);
    return !text.empty() && text.find_first_not_of(L"0123456789") == TWideString::npos && end == text.c_str() + text.size();
}

TWideString HexBytes(const std::string& bytes)
{
    TWideString hex;
    for (const char c : bytes) {
        AppendHex(hex, static_cast<unsigned char>(c), 2, true);
    }
    return hex;
}

bool ReadHexBytes(const TWideString& hex, std::string& bytes)
{
    constexpr wchar_t DIGITS[] = L"0123456789abcdef";
    bytes.clear();
    if (hex.size() % 2 != 0 || hex.find_first_not_of(DIGITS) != TWideString::npos) {
        return false;
    }
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        bytes += static_cast<char>((std::wcschr(DIGITS, hex[i]) - DIGITS) * 16 + (std::wcschr(DIGITS, hex[i + 1]) - DIGITS));
    }
    return true;
}

// The record of one line; false when a field is not what the line form
// writes.
bool ReadUndo(const std::vector<TWideString>& fields, TUndo& undo, bool& restored)
{
    std::vector<TWideString> text(UNDO_FIELDS);
    for (std::size_t i = 0; i < UNDO_FIELDS; ++i) {
        if (!FromVisible(fields[i], text[i])) {
            return false;
        }
    }
    restored = text[1] == HistoryKeyword(THistoryKind::Restored);
    std::size_t kind = 0;
    while (kind < ARRAYSIZE(KINDS) && text[2] != KINDS[kind]) {
        ++kind;
    }
    unsigned long view = 0;
    unsigned long type = 0;
    if ((!restored && text[1] != HistoryKeyword(THistoryKind::Removed)) || kind == ARRAYSIZE(KINDS)
        || !ReadNumber(text[9], view) || !ReadNumber(text[10], type) || !ReadHexBytes(text[11], undo.data.bytes)
        || text[6].empty()) {
        return false;
    }
    undo.kind = static_cast<TUndoKind>(kind);
    undo.time = text[0];
    undo.section = text[3];
    undo.name = text[4];
    undo.command = text[5];
    undo.place = text[6];
    undo.where = text[7];
    undo.item = text[8];
    undo.view = static_cast<REGSAM>(view);
    undo.data.type = type;
    undo.copy = text[12];
    return true;
}

TWideString UndoPath() { return RemovedFolder() + UNDO_FILE; }

} // namespace

void WriteUndo(const TUndo& undo, bool restored)
{
    try {
        const THistoryKind what = restored ? THistoryKind::Restored : THistoryKind::Removed;
        if (MakeRemovedFolder()) {
            AppendLogBytes(UndoPath(), LogLineBytes({HistoryKeyword(what), KINDS[static_cast<std::size_t>(undo.kind)],
                                                     undo.section, undo.name, undo.command, undo.place, undo.where, undo.item,
                                                     Number(undo.view), Number(undo.data.type), HexBytes(undo.data.bytes),
                                                     undo.copy}));
        }
    } catch (...) {
        // Out of memory: the line is lost, the removal stands.
    }
}

std::vector<TUndo> RemovalsNotBack()
{
    std::vector<std::vector<TWideString>> lines;
    ReadLogFile(UndoPath(), UNDO_FIELDS, lines);
    std::vector<TUndo> removals;
    for (const std::vector<TWideString>& fields : lines) {
        TUndo undo;
        bool restored = false;
        if (!ReadUndo(fields, undo, restored)) {
            continue;
        }
        if (!restored) {
            removals.insert(removals.begin(), undo);
            continue;
        }
        // A place is named again once what it kept is back (a copy's name
        // in Removed is free again): a line marks the newest removal there.
        for (auto removal = removals.begin(); removal != removals.end(); ++removal) {
            if (removal->place == undo.place) {
                removals.erase(removal);
                break;
            }
        }
    }
    return removals;
}
