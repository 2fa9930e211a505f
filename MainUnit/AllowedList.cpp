#include "AllowedList.h"

#include "MainState.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <vector>

namespace {

constexpr wchar_t RECORD_END = L'!';
constexpr wchar_t NAME_END = L'=';
constexpr wchar_t ESCAPE = L'%';
// After ESCAPE: a UTF-16 unit in four hex digits follows. Not a hex digit,
// so "%u" never begins the escape of a byte.
constexpr wchar_t UNIT_MARK = L'u';
constexpr wchar_t HEX_DIGITS[] = L"0123456789ABCDEF";
constexpr int FORMAT_BUFFER = 1024; // the most wvsprintfW ever writes
constexpr char LINE_END[] = "\r\n";
constexpr char BARE_VALUE = '1'; // the value of a key whose record names it alone

bool IsBlank(wchar_t c) { return c <= 0x20; }
bool IsQuote(wchar_t c) { return c == L'"' || c == L'\''; }

// Characters the record list, the file's lines or the encoding itself would
// misread. Blanks and quotes only matter at the ends (a read trims blanks
// and drops enclosing quotes), ";" and "[" only at the start of a key.
bool NeedsEscape(const TWideString& text, std::size_t i)
{
    const wchar_t c = text[i];
    if (c == ESCAPE || c == RECORD_END || c == NAME_END || IsControl(c) || !Fits1251(c)) {
        return true;
    }
    const bool atEnd = i == 0 || i + 1 == text.size();
    if (atEnd && (IsBlank(c) || IsQuote(c))) {
        return true;
    }
    return i == 0 && (c == L';' || c == L'[');
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

// One line of the file's bytes: [begin, end) without its line break; the
// next line starts at Next.
struct TLine {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::size_t next = 0;
};

bool LineAt(const std::string& bytes, std::size_t at, TLine& line)
{
    if (at >= bytes.size()) {
        return false;
    }
    line.begin = at;
    // A plain loop: the library's search for either of two characters
    // makes a call per byte, and the file's index passes over every line.
    line.end = at;
    while (line.end < bytes.size() && bytes[line.end] != '\r' && bytes[line.end] != '\n') {
        ++line.end;
    }
    line.next = line.end;
    if (line.next < bytes.size() && bytes[line.next] == '\r') {
        ++line.next;
    }
    if (line.next < bytes.size() && bytes[line.next] == '\n') {
        ++line.next;
    }
    return true;
}

TWideString LineText(const std::string& bytes, const TLine& line)
{
    return Decode1251(bytes.data() + line.begin, line.end - line.begin);
}

// The section a header line names, upper-cased; false for any other line.
bool HeaderName(const std::string& bytes, const TLine& line, TWideString& name)
{
    std::size_t first = line.begin;
    while (first < line.end && IsBlank(static_cast<unsigned char>(bytes[first]))) {
        ++first;
    }
    if (first == line.end || bytes[first] != '[') {
        return false;
    }
    const std::size_t close = bytes.rfind(']', line.end - 1);
    const std::size_t stop = close == std::string::npos || close <= first ? line.end : close;
    name = UpperCase(Decode1251(bytes.substr(first + 1, stop - first - 1)));
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
TSectionIndex IndexSections(const std::string& bytes)
{
    TSectionIndex heads;
    TLine line;
    for (std::size_t at = 0; LineAt(bytes, at, line); at = line.next) {
        TWideString name;
        if (!HeaderName(bytes, line, name)) {
            continue;
        }
        if (!heads.empty()) {
            heads.back().span.end = line.begin;
        }
        heads.push_back({name, {line.begin, line.next, bytes.size()}});
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

// The settings file as read or written last, and the section parsed last.
// A check walks a whole location with one lookup per entry; the file is
// neither read nor even looked at again for each of them.
struct TSnapshot {
    bool valid = false;
    bool mayHaveChanged = true;
    TWideString path;
    std::string bytes;
    // What the file is read into to be compared with Bytes. Kept, so that
    // every location's read fills the same memory: a fresh buffer the size
    // of a large list costs more to take from the system than the read.
    std::string fresh;
    // Where the sections of Bytes stand, found once for each content the
    // file has had: every location's save looks for its section.
    bool indexed = false;
    TSectionIndex heads;
    bool parsed = false;
    TWideString section;
    // The section's body, decoded; its keys, numbered in file order (the
    // first of two lines with the same key wins), and where each key's value
    // stands in Text.
    TWideString text;
    TNameIndex keys;
    std::vector<TRange> values;
};

TSnapshot snapshot;

// Reads the file again. Its time stamp cannot tell: two writes within the
// same tick (or two seconds, on FAT) look alike. False when the file exists
// but cannot be read: nothing may then be written over it.
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
    return read;
}

std::vector<TSpan> SnapshotSpans(const TWideString& section)
{
    if (!snapshot.indexed) {
        snapshot.heads = IndexSections(snapshot.bytes);
        snapshot.indexed = true;
    }
    return SectionSpans(snapshot.heads, section);
}

// Makes the snapshot's keys and values those of the section.
void ParseSection(const TWideString& section)
{
    // Compared once: a check looks up every entry of a key.
    const bool sameSection = snapshot.section == section;
    if (snapshot.mayHaveChanged || !snapshot.valid || !sameSection || snapshot.path != SettingsFilePath()) {
        RefreshSnapshot();
    }
    if (snapshot.parsed && sameSection) {
        return;
    }
    snapshot.text.clear();
    snapshot.keys.Clear();
    snapshot.values.clear();
    snapshot.section = section;
    snapshot.parsed = true;
    const std::vector<TSpan> spans = SnapshotSpans(section);
    if (spans.empty()) {
        return;
    }
    // Decoded whole: a byte is one character, so a line stands at the same
    // places in the text, less the body's start.
    const TSpan& span = spans[0];
    snapshot.text = Decode1251(snapshot.bytes.data() + span.body, span.end - span.body);
    TLine line;
    for (std::size_t at = span.body; at < span.end && LineAt(snapshot.bytes, at, line); at = line.next) {
        TRange key;
        TRange value;
        bool added = false;
        if (SplitKeyLine(snapshot.text, {line.begin - span.body, line.end - span.body}, key, value)) {
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

// The file's bytes now; raises TINIExcept when it cannot be read.
const std::string& CurrentBytes()
{
    if (!RefreshSnapshot()) {
        throw TINIExcept(SettingsFilePath());
    }
    return snapshot.bytes;
}

void WriteSettings(const std::string& bytes)
{
    const TWideString& path = SettingsFilePath();
    snapshot.valid = false;
    if (!ReplaceFileBytes(path, bytes)) {
        throw TINIExcept(path);
    }
    snapshot.bytes = bytes;
    snapshot.parsed = false;
    snapshot.indexed = false;
    snapshot.path = path;
    snapshot.valid = true;
}

// Appends the characters in code page 1251.
void AppendEncoded(std::string& bytes, const wchar_t* text, std::size_t length)
{
    if (!Append1251(text, length, bytes)) {
        throw TINIExcept(SettingsFilePath());
    }
}

std::string EncodedLine(const TWideString& text)
{
    std::string bytes;
    AppendEncoded(bytes, text.data(), text.size());
    return bytes + LINE_END;
}

// Bytes with a line break at the end, so that a line can follow.
std::string Terminated(std::string bytes)
{
    if (!bytes.empty() && bytes.back() != '\n' && bytes.back() != '\r') {
        bytes += LINE_END;
    }
    return bytes;
}

// Whether the section's lines that are not empty, each with a line break,
// are Body; compared in place, a large section is not copied.
bool HoldsBody(const std::string& bytes, const TSpan& span, const std::string& body)
{
    constexpr std::size_t breakSize = sizeof(LINE_END) - 1;
    std::size_t matched = 0;
    TLine line;
    for (std::size_t at = span.body; at < span.end && LineAt(bytes, at, line); at = line.next) {
        const std::size_t length = line.end - line.begin;
        if (length == 0) {
            continue;
        }
        if (matched + length + breakSize > body.size()
            || body.compare(matched, length, bytes, line.begin, length) != 0
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
std::string SectionBody(const TWideString& records)
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
    std::string body;
    for (const TRecordLine& line : lines) {
        AppendEncoded(body, records.data() + line.name.first, Length(line.name));
        body += static_cast<char>(NAME_END);
        if (line.bare) {
            body += BARE_VALUE;
        } else {
            AppendEncoded(body, records.data() + line.value.first, Length(line.value));
        }
        body += LINE_END;
    }
    return body;
}

// Key's line in the section set to Value, or removed when Value is null: the
// first line of that name is replaced, others of that name are dropped; a
// new line goes after the section's last line, a new section at the end.
std::string WithKey(const std::string& bytes, const TWideString& section, const TWideString& key,
                    const TWideString* value)
{
    const std::vector<TSpan> spans = SectionSpans(IndexSections(bytes), section);
    const std::string line = value == nullptr ? std::string() : EncodedLine(key + NAME_END + *value);
    if (spans.empty()) {
        return value == nullptr ? bytes : Terminated(bytes) + EncodedLine(L"[" + section + L"]") + line;
    }
    const TWideString wanted = UpperCase(key);
    std::string body;
    std::size_t lastLine = 0; // in Body, after the last line that is not blank
    bool written = false;
    TLine current;
    for (std::size_t at = spans[0].body; at < spans[0].end && LineAt(bytes, at, current); at = current.next) {
        const TWideString text = LineText(bytes, current);
        TRange name;
        TRange value;
        if (SplitKeyLine(text, {0, text.size()}, name, value) && UpperCase(Slice(text, name)) == wanted) {
            body += written ? std::string() : line;
            lastLine = written ? lastLine : body.size();
            written = true;
            continue;
        }
        body += bytes.substr(current.begin, current.next - current.begin);
        if (!TrimBlanks(text).empty()) {
            lastLine = body.size();
        }
    }
    if (!written) {
        body = Terminated(body.substr(0, lastLine)) + line + body.substr(lastLine);
    }
    return Terminated(bytes.substr(0, spans[0].body)) + body + bytes.substr(spans[0].end);
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

void SaveAllowedSection(const TWideString& records, const TWideString& section)
{
    const std::string body = SectionBody(records);
    const std::string& bytes = CurrentBytes();
    const std::vector<TSpan> spans = SnapshotSpans(section);
    // The next location's walk starts from the file as it is then.
    AllowedListMayHaveChanged();
    // A check that changes nothing writes nothing.
    if (spans.empty() ? body.empty() : spans.size() == 1 && HoldsBody(bytes, spans[0], body)) {
        return;
    }
    std::string rest;
    std::size_t kept = 0;
    for (const TSpan& span : spans) {
        rest += bytes.substr(kept, span.begin - kept);
        kept = span.end;
    }
    rest += bytes.substr(kept);
    WriteSettings(body.empty() ? rest : Terminated(rest) + EncodedLine(L"[" + section + L"]") + body);
}

TWideString FormatMsg(const TWideString& templ, std::initializer_list<TWideString> args)
{
    if (templ.empty()) {
        return TWideString();
    }
    std::vector<const wchar_t*> slots;
    for (const TWideString& arg : args) {
        slots.push_back(arg.c_str());
    }
    slots.push_back(nullptr); // keeps data() valid for an empty list
    wchar_t buffer[FORMAT_BUFFER] = {};
    const int count = wvsprintfW(buffer, templ.c_str(), reinterpret_cast<va_list>(slots.data()));
    if (count <= 0) {
        return TWideString();
    }
    // Some implementations count the terminator of a cut text.
    return TWideString(buffer, wcsnlen(buffer, static_cast<std::size_t>(count)));
}

TWideString EncodeField(const TWideString& text)
{
    TWideString field(1, ESCAPE);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (!NeedsEscape(text, i)) {
            field += c;
            continue;
        }
        field += ESCAPE;
        // Everything but a character 1251 lacks is ASCII here.
        if (c >= 0x80) {
            field += UNIT_MARK;
            field += HEX_DIGITS[(c >> 12) & 0x0F];
            field += HEX_DIGITS[(c >> 8) & 0x0F];
        }
        field += HEX_DIGITS[(c >> 4) & 0x0F];
        field += HEX_DIGITS[c & 0x0F];
    }
    return field;
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

bool IsPlainName(const TWideString& name)
{
    if (name.empty() || name[0] == ESCAPE) {
        return false;
    }
    // "%" is only the encoding's mark at the start; elsewhere a key holds it.
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] != ESCAPE && NeedsEscape(name, i)) {
            return false;
        }
    }
    return true;
}

bool IsPlainCommand(const TWideString& command)
{
    if (command.empty()) {
        return true;
    }
    const wchar_t first = command.front();
    const wchar_t last = command.back();
    if (IsBlank(first) || IsBlank(last) || (IsQuote(first) && last == first)) {
        return false;
    }
    for (const wchar_t c : command) {
        if (c == RECORD_END || IsControl(c) || !Fits1251(c)) {
            return false;
        }
    }
    return true;
}

void AppendRecord(TWideString& records, const TWideString& name, const TWideString& command)
{
    // Appended piece by piece: no temporary texts for each of a large key's entries.
    if (IsPlainName(name) && IsPlainCommand(command)) {
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
    records += (IsPlainName(name) ? name : EncodeField(name)) + RECORD_END;
}

std::optional<TWideString> LookupAllowed(const TWideString& section, const TWideString& name)
{
    if (IsPlainName(name)) {
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
    const bool plain = IsPlainCommand(value);
    const TWideString stored = plain ? value : EncodeField(value);
    const TWideString used = plain ? key : ESCAPE + key;
    const TWideString other = plain ? ESCAPE + key : key;
    if (ListedValue(section, used).value_or(TWideString()) != stored
        || !ListedValue(section, other).value_or(TWideString()).empty()) {
        WriteSettings(WithKey(WithKey(CurrentBytes(), section, used, &stored), section, other, nullptr));
    }
    // The next location's walk starts from the file as it is then.
    AllowedListMayHaveChanged();
}

TWideString SubkeySection(const TWideString& section, const TWideString& subkey)
{
    bool plain = true;
    for (const wchar_t c : subkey) {
        plain = plain && !IsControl(c) && Fits1251(c);
    }
    return section + L"\\" + (plain ? subkey : EncodeField(subkey));
}
