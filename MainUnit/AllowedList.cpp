#include "AllowedList.h"

#include "MainState.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

constexpr wchar_t RECORD_END = L'!';
constexpr wchar_t NAME_END = L'=';
constexpr wchar_t ESCAPE = L'%';
// After ESCAPE: a UTF-16 unit in four hex digits follows. Not a hex digit,
// so "%u" never begins the escape of a byte.
constexpr wchar_t UNIT_MARK = L'u';
constexpr wchar_t LINE_END[] = L"\r\n";
constexpr wchar_t BARE_VALUE = L'1'; // the value of a key whose record names it alone
constexpr char UTF8_BOM[] = "\xEF\xBB\xBF";
constexpr std::size_t UTF8_BOM_SIZE = sizeof(UTF8_BOM) - 1;

bool IsBlank(wchar_t c) { return c <= 0x20; }
bool IsQuote(wchar_t c) { return c == L'"' || c == L'\''; }

// Whether a line of the file carries the character at I as it is, where
// Field puts the text. Every field: no line holds a control character, and
// the file's code page may lack a character. A key: the record list splits
// at "!" and "=", a read trims blanks, ";" or "[" first makes a comment or a
// header, "%" first marks the encoded form; quotes at the ends are kept
// apart from a value's. A value: the record list splits at "!", a read trims
// blanks (enclosing quotes are a matter of the whole value). A section's
// part: "%" marks the encoded form there, so that two names never meet in
// one section.
bool Survives(const TWideString& text, std::size_t i, TField field)
{
    const wchar_t c = text[i];
    if (IsControl(c) || !Fits1251(c)) {
        return false;
    }
    const bool first = i == 0;
    const bool atEnd = first || i + 1 == text.size();
    switch (field) {
    case TField::Key:
        return c != RECORD_END && c != NAME_END && !(atEnd && (IsBlank(c) || IsQuote(c)))
            && !(first && (c == L';' || c == L'[' || c == ESCAPE));
    case TField::Value:
        return c != RECORD_END && !(atEnd && IsBlank(c));
    case TField::Section:
        return c != ESCAPE;
    }
    return false;
}

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    return -1;
}

// The number in Digits hex digits at At, or -1.
long HexNumber(const TWideString& text, std::size_t at, std::size_t digits)
{
    if (at + digits > text.size()) {
        return -1;
    }
    long number = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        const int digit = HexValue(text[i]);
        if (digit < 0) {
            return -1;
        }
        number = number * 16 + digit;
    }
    return number;
}

// [First, Last) of a text.
struct TRange {
    std::size_t first;
    std::size_t last;
};

std::size_t Length(TRange range) { return range.last - range.first; }

// The range without the characters 0 to 32 at either end.
TRange Trimmed(const TWideString& text, TRange range)
{
    while (range.first < range.last && IsBlank(text[range.first])) {
        ++range.first;
    }
    while (range.last > range.first && IsBlank(text[range.last - 1])) {
        --range.last;
    }
    return range;
}

TWideString Slice(const TWideString& text, TRange range) { return text.substr(range.first, Length(range)); }

// Where C first stands in the range, or the range's end.
std::size_t FindIn(const TWideString& text, wchar_t c, TRange range)
{
    return static_cast<std::size_t>(std::find(text.data() + range.first, text.data() + range.last, c) - text.data());
}

void UpperCaseInPlace(wchar_t* text, std::size_t length)
{
    // ASCII letters map alike under every locale and are mapped here; any
    // other character leaves the whole text to the system.
    for (std::size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (c >= 0x80) {
            CharUpperBuffW(text, static_cast<DWORD>(length));
            return;
        }
        if (c >= L'a' && c <= L'z') {
            text[i] = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
}

// Names numbered in the order they were first added, found regardless of
// letter case (as UpperCase compares them). A section can hold thousands of
// keys: the upper-cased names share one text and the table holds numbers,
// so the index costs a few allocations in all instead of several per name.
class TNameIndex {
public:
    static constexpr std::size_t NONE = static_cast<std::size_t>(-1);

    // The name's number; a new name is added (Added tells).
    std::size_t Add(const wchar_t* name, std::size_t length, bool& added)
    {
        std::size_t hash = 0;
        const std::size_t found = Stage(name, length, hash);
        added = found == NONE;
        if (!added) {
            upper_.resize(upper_.size() - length);
            return found;
        }
        names_.push_back({upper_.size() - length, upper_.size()});
        hashes_.push_back(hash);
        if (names_.size() * 2 > slots_.size()) {
            Rebuild(std::max<std::size_t>(MIN_SLOTS, slots_.size() * 2));
        } else {
            Place(names_.size() - 1);
        }
        return names_.size() - 1;
    }

    // The name's number, or NONE.
    std::size_t Find(const TWideString& name)
    {
        std::size_t hash = 0;
        const std::size_t found = Stage(name.data(), name.size(), hash);
        upper_.resize(upper_.size() - name.size());
        return found;
    }

    void Clear()
    {
        upper_.clear();
        names_.clear();
        hashes_.clear();
        slots_.clear();
    }

private:
    static constexpr std::size_t MIN_SLOTS = 16; // a power of two, as every size is

    // Upper-cases the name onto the end of the shared text (where the
    // caller takes it off again or keeps it) and looks for it there.
    std::size_t Stage(const wchar_t* name, std::size_t length, std::size_t& hash)
    {
        const std::size_t at = upper_.size();
        upper_.append(name, length);
        UpperCaseInPlace(&upper_[0] + at, length);
        hash = HashOf(upper_.data() + at, length);
        if (slots_.empty()) {
            return NONE;
        }
        for (std::size_t slot = hash & (slots_.size() - 1); slots_[slot] != 0; slot = (slot + 1) & (slots_.size() - 1)) {
            const std::size_t number = slots_[slot] - 1;
            const TRange stored = names_[number];
            if (hashes_[number] == hash && Length(stored) == length
                && std::equal(upper_.data() + stored.first, upper_.data() + stored.last, upper_.data() + at)) {
                return number;
            }
        }
        return NONE;
    }

    // Slots hold a name's number plus one; 0 is a free slot.
    void Place(std::size_t number)
    {
        std::size_t slot = hashes_[number] & (slots_.size() - 1);
        while (slots_[slot] != 0) {
            slot = (slot + 1) & (slots_.size() - 1);
        }
        slots_[slot] = number + 1;
    }

    void Rebuild(std::size_t size)
    {
        slots_.assign(size, 0);
        for (std::size_t number = 0; number < names_.size(); ++number) {
            Place(number);
        }
    }

    TWideString upper_;
    std::vector<TRange> names_; // in upper_
    std::vector<std::size_t> hashes_;
    std::vector<std::size_t> slots_;
};

// One line of the file's text: [begin, end) without its line break; the
// next line starts at Next.
struct TLine {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t next = 0;
};

bool LineAt(const TWideString& text, std::size_t at, TLine& line)
{
    if (at >= text.size()) {
        return false;
    }
    line.begin = at;
    // A plain loop: the library's search for either of two characters
    // makes a call per character, and the file's index passes over every line.
    line.end = at;
    while (line.end < text.size() && text[line.end] != L'\r' && text[line.end] != L'\n') {
        ++line.end;
    }
    line.next = line.end;
    if (line.next < text.size() && text[line.next] == L'\r') {
        ++line.next;
    }
    if (line.next < text.size() && text[line.next] == L'\n') {
        ++line.next;
    }
    return true;
}

// The section a header line names, upper-cased; false for any other line.
bool HeaderName(const TWideString& text, const TLine& line, TWideString& name)
{
    std::size_t first = line.begin;
    while (first < line.end && IsBlank(text[first])) {
        ++first;
    }
    if (first == line.end || text[first] != L'[') {
        return false;
    }
    const std::size_t close = text.rfind(L']', line.end - 1);
    const std::size_t stop = close == TWideString::npos || close <= first ? line.end : close;
    name = UpperCase(text.substr(first + 1, stop - first - 1));
    return true;
}

// Where a section stands: its header line, its first line after the header
// and the start of the next section (or the file's end).
struct TSpan {
    std::size_t begin;
    std::size_t body;
    std::size_t end;
};

// A section's header, upper-cased, and where the section stands.
struct TSectionHead {
    TWideString name;
    TSpan span;
};

using TSectionIndex = std::vector<TSectionHead>;

// Every section of the file, in file order: one pass over all its lines.
TSectionIndex IndexSections(const TWideString& text)
{
    TSectionIndex heads;
    TLine line;
    for (std::size_t at = 0; LineAt(text, at, line); at = line.next) {
        TWideString name;
        if (!HeaderName(text, line, name)) {
            continue;
        }
        if (!heads.empty()) {
            heads.back().span.end = line.begin;
        }
        heads.push_back({name, {line.begin, line.next, text.size()}});
    }
    return heads;
}

// Every section of that name, in file order (letter case does not count).
std::vector<TSpan> SectionSpans(const TSectionIndex& heads, const TWideString& section)
{
    const TWideString wanted = UpperCase(section);
    std::vector<TSpan> spans;
    for (const TSectionHead& head : heads) {
        if (head.name == wanted) {
            spans.push_back(head.span);
        }
    }
    return spans;
}

// A line of a section as the profile functions read it: name and value
// trimmed, one pair of enclosing quotes dropped from the value. False for a
// blank line and a ";" comment. Ranges, not copies: a large section has
// many lines.
bool SplitKeyLine(const TWideString& text, TRange line, TRange& key, TRange& value)
{
    const TRange all = Trimmed(text, line);
    if (all.first == all.last || text[all.first] == L';') {
        return false;
    }
    const std::size_t equals = FindIn(text, NAME_END, all);
    key = Trimmed(text, {all.first, equals});
    value = equals == all.last ? TRange{all.last, all.last} : Trimmed(text, {equals + 1, all.last});
    if (Length(value) >= 2 && IsQuote(text[value.first]) && text[value.last - 1] == text[value.first]) {
        ++value.first;
        --value.last;
    }
    return true;
}

// How the file's text is stored. Editors save UTF-8 today (with a
// byte-order mark or without); the program's own lists are in 1251. A file
// keeps the encoding it has, so that it never holds two.
enum class TEncoding { Cp1251, Utf8, Utf8WithMark };

// A file with UTF-8's byte-order mark, or without one whose bytes are valid
// UTF-8 and hold at least one character beyond ASCII, is UTF-8; any other
// is 1251, whose every byte is a character.
TEncoding DecodeSettings(const std::string& bytes, TWideString& text)
{
    if (bytes.compare(0, UTF8_BOM_SIZE, UTF8_BOM) == 0
        && DecodeUtf8(bytes.data() + UTF8_BOM_SIZE, bytes.size() - UTF8_BOM_SIZE, text)) {
        return TEncoding::Utf8WithMark;
    }
    const bool beyondAscii = std::any_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) != 0; });
    if (beyondAscii && DecodeUtf8(bytes.data(), bytes.size(), text)) {
        return TEncoding::Utf8;
    }
    text = Decode1251(bytes);
    return TEncoding::Cp1251;
}

// The text in the encoding; false when 1251 lacks one of its characters.
bool EncodeSettings(const TWideString& text, TEncoding encoding, std::string& bytes)
{
    bytes.clear();
    if (encoding == TEncoding::Cp1251) {
        return Append1251(text.data(), text.size(), bytes);
    }
    if (encoding == TEncoding::Utf8WithMark) {
        bytes = UTF8_BOM;
    }
    return AppendUtf8(text, bytes);
}

// The settings file as read or written last, and the section parsed last.
// A check walks a whole location with one lookup per entry; the file is
// neither read nor even looked at again for each of them.
struct TSnapshot {
    bool valid = false;
    bool mayHaveChanged = true;
    TWideString path;
    std::string bytes; // as read, to tell an unchanged file by
    // What the file is read into to be compared with Bytes. Kept, so that
    // every location's read fills the same memory: a fresh buffer the size
    // of a large list costs more to take from the system than the read.
    std::string fresh;
    TEncoding encoding = TEncoding::Cp1251;
    TWideString text; // the bytes decoded whole
    // Where the sections of Text stand, found once for each content the
    // file has had: every location's save looks for its section.
    bool indexed = false;
    TSectionIndex heads;
    // The section parsed last: its keys and the ranges of their values in Text.
    bool parsed = false;
    TWideString section;
    TNameIndex keys;
    std::vector<TRange> values;
};

TSnapshot snapshot;

// Reads the file again. Its time stamp cannot tell: two writes within the
// same tick (or two seconds, on FAT) look alike. False when the file exists
// but cannot be read: nothing may then be written over it, nor any entry
// decided by it.
bool RefreshSnapshot()
{
    const TWideString& path = SettingsFilePath();
    const bool read = ReadFileBytes(path, snapshot.fresh);
    snapshot.mayHaveChanged = false;
    if (snapshot.valid && read && snapshot.path == path && snapshot.bytes == snapshot.fresh) {
        return true;
    }
    snapshot.parsed = false;
    snapshot.indexed = false;
    snapshot.path = path;
    snapshot.bytes.swap(snapshot.fresh);
    snapshot.valid = read;
    snapshot.encoding = read ? DecodeSettings(snapshot.bytes, snapshot.text) : TEncoding::Cp1251;
    if (!read) {
        snapshot.text.clear();
    }
    return read;
}

std::vector<TSpan> SnapshotSpans(const TWideString& section)
{
    if (!snapshot.indexed) {
        snapshot.heads = IndexSections(snapshot.text);
        snapshot.indexed = true;
    }
    return SectionSpans(snapshot.heads, section);
}

// Makes the snapshot's keys and values those of the section. Raises
// TINIExcept when the file cannot be read: an entry is never judged by a
// list that could not be read.
void ParseSection(const TWideString& section)
{
    // Compared once: a check looks up every entry of a key.
    const bool sameSection = snapshot.section == section;
    if ((snapshot.mayHaveChanged || !snapshot.valid || snapshot.path != SettingsFilePath()) && !RefreshSnapshot()) {
        throw TINIExcept(SettingsFilePath());
    }
    if (snapshot.parsed && sameSection) {
        return;
    }
    snapshot.keys.Clear();
    snapshot.values.clear();
    snapshot.section = section;
    snapshot.parsed = true;
    const std::vector<TSpan> spans = SnapshotSpans(section);
    if (spans.empty()) {
        return;
    }
    const TSpan& span = spans[0];
    TLine line;
    for (std::size_t at = span.body; at < span.end && LineAt(snapshot.text, at, line); at = line.next) {
        TRange key;
        TRange value;
        bool added = false;
        if (SplitKeyLine(snapshot.text, {line.begin, line.end}, key, value)) {
            snapshot.keys.Add(snapshot.text.data() + key.first, Length(key), added);
        }
        if (added) {
            snapshot.values.push_back(value);
        }
    }
}

std::optional<TWideString> ListedValue(const TWideString& section, const TWideString& key)
{
    ParseSection(section);
    const std::size_t number = snapshot.keys.Find(key);
    if (number == TNameIndex::NONE) {
        return std::nullopt;
    }
    return Slice(snapshot.text, snapshot.values[number]);
}

// The file's text now; raises TINIExcept when it cannot be read.
const TWideString& CurrentText()
{
    if (!RefreshSnapshot()) {
        throw TINIExcept(SettingsFilePath());
    }
    return snapshot.text;
}

// Writes the text in the encoding the file has.
void WriteSettings(const TWideString& text)
{
    const TWideString& path = SettingsFilePath();
    std::string bytes;
    snapshot.valid = false;
    if (!EncodeSettings(text, snapshot.encoding, bytes) || !ReplaceFileBytes(path, bytes)) {
        throw TINIExcept(path);
    }
    snapshot.bytes.swap(bytes);
    snapshot.text = text;
    snapshot.parsed = false;
    snapshot.indexed = false;
    snapshot.path = path;
    snapshot.valid = true;
}

// Text with a line break at the end, so that a line can follow.
TWideString Terminated(TWideString text)
{
    if (!text.empty() && text.back() != L'\n' && text.back() != L'\r') {
        text += LINE_END;
    }
    return text;
}

// Whether the section's lines that are not empty, each with a line break,
// are Body; compared in place, a large section is not copied.
bool HoldsBody(const TWideString& text, const TSpan& span, const TWideString& body)
{
    constexpr std::size_t breakSize = sizeof(LINE_END) / sizeof(wchar_t) - 1;
    std::size_t matched = 0;
    TLine line;
    for (std::size_t at = span.body; at < span.end && LineAt(text, at, line); at = line.next) {
        const std::size_t length = line.end - line.begin;
        if (length == 0) {
            continue;
        }
        if (matched + length + breakSize > body.size() || body.compare(matched, length, text, line.begin, length) != 0
            || body.compare(matched + length, breakSize, LINE_END) != 0) {
            return false;
        }
        matched += length + breakSize;
    }
    return matched == body.size();
}

// One key's line as the record walk leaves it: name and value as ranges of
// the record list; a bare record's value is BARE_VALUE.
struct TRecordLine {
    TRange name;
    TRange value;
    bool bare;
};

// The section's lines for a record list, each with a line break: one key
// per record, in list order; a later record with the same key (in any
// letter case) replaces the value in place. The records are split in
// place: a large key's are many.
TWideString SectionBody(const TWideString& records)
{
    TNameIndex keys;
    std::vector<TRecordLine> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = records.find(RECORD_END, start);
        if (end == TWideString::npos) {
            break; // text after the last "!" is no record
        }
        // Only within the record: bare records hold no "=" at all.
        const std::size_t equals = FindIn(records, NAME_END, {start, end});
        TRecordLine line = equals < end ? TRecordLine{{start, equals}, {equals + 1, end}, false}
                                        : TRecordLine{{start, start}, {start, end}, false};
        if (Length(line.name) == 0) {
            line = {line.value, {end, end}, true};
        }
        start = end + 1;
        bool added = false;
        const std::size_t number = keys.Add(records.data() + line.name.first, Length(line.name), added);
        if (added) {
            lines.push_back(line);
        } else {
            lines[number] = line;
        }
    }
    TWideString body;
    for (const TRecordLine& line : lines) {
        body.append(records, line.name.first, Length(line.name));
        body += NAME_END;
        if (line.bare) {
            body += BARE_VALUE;
        } else {
            body.append(records, line.value.first, Length(line.value));
        }
        body += LINE_END;
    }
    return body;
}

// Key's line in the section set to Value, or removed when Value is null: the
// first line of that name is replaced, others of that name are dropped; a
// new line goes after the section's last line, a new section at the end.
TWideString WithKey(const TWideString& text, const TWideString& section, const TWideString& key,
                    const TWideString* value)
{
    const std::vector<TSpan> spans = SectionSpans(IndexSections(text), section);
    const TWideString line = value == nullptr ? TWideString() : key + NAME_END + *value + LINE_END;
    if (spans.empty()) {
        return value == nullptr ? text : Terminated(text) + L"[" + section + L"]" + LINE_END + line;
    }
    const TWideString wanted = UpperCase(key);
    TWideString body;
    std::size_t lastLine = 0; // in Body, after the last line that is not blank
    bool written = false;
    TLine current;
    for (std::size_t at = spans[0].body; at < spans[0].end && LineAt(text, at, current); at = current.next) {
        TRange name;
        TRange listed;
        if (SplitKeyLine(text, {current.begin, current.end}, name, listed) && UpperCase(Slice(text, name)) == wanted) {
            body += written ? TWideString() : line;
            lastLine = written ? lastLine : body.size();
            written = true;
            continue;
        }
        body.append(text, current.begin, current.next - current.begin);
        if (Length(Trimmed(text, {current.begin, current.end})) != 0) {
            lastLine = body.size();
        }
    }
    if (!written) {
        body = Terminated(body.substr(0, lastLine)) + line + body.substr(lastLine);
    }
    return Terminated(text.substr(0, spans[0].body)) + body + text.substr(spans[0].end);
}

// Text with every character escaped that Keep says a line does not carry,
// and every ESCAPE; marked as encoded by an ESCAPE in front.
template <typename TKeep>
TWideString Escaped(const TWideString& text, TKeep keep)
{
    TWideString field(1, ESCAPE);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c != ESCAPE && keep(i)) {
            field += c;
            continue;
        }
        field += ESCAPE;
        // Everything but a character 1251 lacks is ASCII here.
        if (c >= 0x80) {
            field += UNIT_MARK;
            AppendHex(field, c, 4);
        } else {
            AppendHex(field, c, 2);
        }
    }
    return field;
}

} // namespace

TWideString TrimBlanks(const TWideString& text) { return Slice(text, Trimmed(text, {0, text.size()})); }

TWideString UpperCase(const TWideString& text)
{
    TWideString upper = text;
    UpperCaseInPlace(&upper[0], upper.size());
    return upper;
}

void AllowedListMayHaveChanged() { snapshot.mayHaveChanged = true; }

void SaveAllowedSection(const TWideString& records, const TWideString& section, bool keepEmpty)
{
    // Most places hold nothing: where the list as last read has no section
    // for one, there is nothing to erase, and the file is not read again.
    if (records.empty() && !keepEmpty && snapshot.valid && !snapshot.mayHaveChanged && snapshot.path == SettingsFilePath()
        && SnapshotSpans(section).empty()) {
        return;
    }
    const TWideString body = SectionBody(records);
    const TWideString& text = CurrentText();
    const std::vector<TSpan> spans = SnapshotSpans(section);
    const bool gone = body.empty() && !keepEmpty;
    // A check that changes nothing writes nothing.
    if (spans.empty() ? gone : spans.size() == 1 && !gone && HoldsBody(text, spans[0], body)) {
        return;
    }
    TWideString rest;
    std::size_t kept = 0;
    for (const TSpan& span : spans) {
        rest.append(text, kept, span.begin - kept);
        kept = span.end;
    }
    rest.append(text, kept, TWideString::npos);
    WriteSettings(gone ? rest : Terminated(rest) + L"[" + section + L"]" + LINE_END + body);
}

std::vector<TWideString> ListedSections()
{
    const TWideString& text = CurrentText();
    std::vector<TWideString> sections;
    TLine line;
    for (std::size_t at = 0; LineAt(text, at, line); at = line.next) {
        TWideString upper;
        if (HeaderName(text, line, upper)) {
            const std::size_t open = text.find(L'[', line.begin);
            sections.push_back(text.substr(open + 1, upper.size()));
        }
    }
    return sections;
}

std::vector<TListedEntry> ListedEntries(const TWideString& section)
{
    const TWideString& text = CurrentText();
    std::vector<TListedEntry> entries;
    const std::vector<TSpan> spans = SnapshotSpans(section);
    TLine line;
    for (std::size_t at = spans.empty() ? text.size() : spans[0].body; !spans.empty() && at < spans[0].end && LineAt(text, at, line);
         at = line.next) {
        TRange key;
        TRange value;
        if (SplitKeyLine(text, {line.begin, line.end}, key, value)) {
            const TWideString name = Slice(text, key);
            const bool encoded = !name.empty() && name[0] == ESCAPE;
            entries.push_back({encoded ? DecodeField(name) : name, encoded ? DecodeField(Slice(text, value)) : Slice(text, value)});
        }
    }
    return entries;
}

bool HasSection(const TWideString& section)
{
    ParseSection(section);
    return !SnapshotSpans(section).empty();
}

TWideString EncodeField(const TWideString& text)
{
    return Escaped(text, [&](std::size_t i) { return Survives(text, i, TField::Key); });
}

TWideString DecodeField(const TWideString& field)
{
    TWideString text;
    for (std::size_t i = 1; i < field.size(); ++i) {
        const bool escape = field[i] == ESCAPE;
        const bool unit = escape && i + 1 < field.size() && (field[i + 1] == UNIT_MARK || field[i + 1] == L'U');
        const long unitValue = unit ? HexNumber(field, i + 2, 4) : -1;
        const long byteValue = escape ? HexNumber(field, i + 1, 2) : -1;
        if (unitValue >= 0) {
            text += static_cast<wchar_t>(unitValue);
            i += 5;
        } else if (byteValue >= 0) {
            text += Decode1251(std::string(1, static_cast<char>(byteValue)));
            i += 2;
        } else {
            text += field[i];
        }
    }
    return text;
}

bool IsPlain(const TWideString& text, TField field)
{
    if (text.empty()) {
        return field != TField::Key;
    }
    // A read drops a pair of quotes that encloses a whole value.
    if (field == TField::Value && IsQuote(text.front()) && text.back() == text.front()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!Survives(text, i, field)) {
            return false;
        }
    }
    return true;
}

void AppendRecord(TWideString& records, const TWideString& name, const TWideString& command)
{
    // Appended piece by piece: no temporary texts for each of a large key's entries.
    if (IsPlain(name, TField::Key) && IsPlain(command, TField::Value)) {
        records += name;
        records += NAME_END;
        records += command;
    } else {
        records += EncodeField(name);
        records += NAME_END;
        records += EncodeField(command);
    }
    records += RECORD_END;
}

void AppendBareRecord(TWideString& records, const TWideString& name)
{
    records += (IsPlain(name, TField::Key) ? name : EncodeField(name)) + RECORD_END;
}

std::optional<TWideString> LookupAllowed(const TWideString& section, const TWideString& name)
{
    if (IsPlain(name, TField::Key)) {
        const std::optional<TWideString> listed = ListedValue(section, name);
        if (listed) {
            return listed;
        }
    }
    const std::optional<TWideString> encoded = ListedValue(section, EncodeField(name));
    if (!encoded || encoded->empty() || encoded->front() != ESCAPE) {
        return encoded;
    }
    return DecodeField(*encoded);
}

TWideString ReadAllowedValue(const TWideString& section, const TWideString& key)
{
    const TWideString encoded = ListedValue(section, ESCAPE + key).value_or(TWideString());
    const TWideString plain = ListedValue(section, key).value_or(TWideString());
    if (encoded.empty() || encoded[0] != ESCAPE) {
        return plain;
    }
    return plain + L'\0' + DecodeField(encoded);
}

void WriteAllowedValue(const TWideString& section, const TWideString& key, const TWideString& value)
{
    const bool plain = IsPlain(value, TField::Value);
    const TWideString stored = plain ? value : EncodeField(value);
    const TWideString used = plain ? key : ESCAPE + key;
    const TWideString other = plain ? ESCAPE + key : key;
    if (ListedValue(section, used).value_or(TWideString()) != stored
        || !ListedValue(section, other).value_or(TWideString()).empty()) {
        TWideString record;
        AppendRecord(record, key, value);
        SetAllowedEntry(section, key, record);
    }
    // The next location's walk starts from the file as it is then.
    AllowedListMayHaveChanged();
}

void SetAllowedEntry(const TWideString& section, const TWideString& name, const TWideString& record)
{
    // The key and value the record's line has, as a save writes it.
    const TWideString line = SectionBody(record);
    const std::size_t equals = line.find(NAME_END);
    const TWideString key = line.substr(0, equals);
    const TWideString value = equals == TWideString::npos ? TWideString() : line.substr(equals + 1, line.size() - equals - 3);
    const TWideString plainKey = IsPlain(name, TField::Key) ? name : TWideString();
    const TWideString encodedKey = EncodeField(name);
    // Set in place where it was listed; the other form is taken out.
    const TWideString original = CurrentText();
    TWideString text = original;
    if (!line.empty()) {
        text = WithKey(text, section, key, &value);
    }
    for (const TWideString& form : {plainKey, encodedKey}) {
        if (!form.empty() && (line.empty() || form != key)) {
            text = WithKey(text, section, form, nullptr);
        }
    }
    if (text != original) {
        WriteSettings(text);
    }
    AllowedListMayHaveChanged();
}

TWideString SubkeySection(const TWideString& section, const TWideString& subkey)
{
    return section + L"\\" + (IsPlain(subkey, TField::Section) ? subkey : EncodeField(subkey));
}
