#include "AllowedList.h"

#include "MainState.h"
#include "registry_profile.h"

#include <windows.h>

#include <cstring>
#include <unordered_map>
#include <vector>

namespace {

constexpr char RECORD_END = '!';
constexpr char NAME_END = '=';
constexpr char ESCAPE = '%';
constexpr int FORMAT_BUFFER = 1024; // the most wvsprintfA ever writes

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }
bool IsBlank(unsigned char c) { return c <= 0x20; }
bool IsQuote(char c) { return c == '"' || c == '\''; }

// Bytes the record list, the profile parser or the encoding itself would
// misread. Blanks and quotes only matter at the ends (the profile read trims
// blanks and drops enclosing quotes), ";" and "[" only at the start of a key.
bool NeedsEscape(const std::string& text, std::string::size_type i)
{
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ESCAPE || c == RECORD_END || c == NAME_END || IsControl(c)) {
        return true;
    }
    const bool atEnd = i == 0 || i + 1 == text.size();
    if (atEnd && (IsBlank(c) || IsQuote(static_cast<char>(c)))) {
        return true;
    }
    return i == 0 && (c == ';' || c == '[');
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}


// The keys of one section as the record walk leaves them: a later record
// with the same key (in any letter case) replaces the value in place, as one
// profile write per record would.
class TSectionLines {
public:
    void Set(const std::string& key, const std::string& value)
    {
        const auto found = index_.emplace(UpperCase(key), lines_.size());
        if (found.second) {
            lines_.push_back({key, value});
        } else {
            lines_[found.first->second].second = value;
        }
    }
    bool Empty() const { return lines_.empty(); }
    std::string Joined() const
    {
        std::string text;
        for (const auto& line : lines_) {
            text += line.first;
            text += NAME_END;
            text += line.second;
            text += '\0';
        }
        return text;
    }

private:
    std::vector<std::pair<std::string, std::string>> lines_;
    std::unordered_map<std::string, std::size_t> index_;
};

// The last section looked up, parsed once. A check walks a whole location
// with one lookup per entry; reading the section anew for every entry would
// make a walk quadratic. The snapshot is taken again whenever the file's
// time or size changes, so a hand edit made while a question is open counts
// at once, as it would with a fresh read.
struct TSectionSnapshot {
    bool valid = false;
    std::string path;
    std::string section;
    FILETIME written = {};
    ULONGLONG size = 0;
    std::unordered_map<std::string, std::string> values; // by UpperCase(key)
};

TSectionSnapshot snapshot;

bool FileStamp(const std::string& path, FILETIME& written, ULONGLONG& size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    written = data.ftLastWriteTime;
    size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// A line of the section as a single-key read gives it: name and value
// trimmed, one pair of enclosing quotes dropped; the first of two lines with
// the same name wins.
void AddSectionLine(std::unordered_map<std::string, std::string>& values, const std::string& line)
{
    if (line.empty() || line[0] == ';') {
        return;
    }
    const std::string::size_type equals = line.find(NAME_END);
    const std::string key = TrimBlanks(line.substr(0, equals));
    std::string value = equals == std::string::npos ? std::string() : TrimBlanks(line.substr(equals + 1));
    if (value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    values.emplace(UpperCase(key), value);
}

const std::unordered_map<std::string, std::string>& SectionValues(const std::string& section)
{
    const std::string& path = SettingsFilePath();
    FILETIME written = {};
    ULONGLONG size = 0;
    const bool stamped = FileStamp(path, written, size);
    if (snapshot.valid && stamped && snapshot.path == path && snapshot.section == section
        && CompareFileTime(&snapshot.written, &written) == 0 && snapshot.size == size) {
        return snapshot.values;
    }
    snapshot.values.clear();
    const std::string lines = ReadINISection(path, section);
    for (std::string::size_type start = 0; start < lines.size();) {
        const std::string::size_type end = lines.find('\0', start);
        const std::string::size_type stop = end == std::string::npos ? lines.size() : end;
        AddSectionLine(snapshot.values, lines.substr(start, stop - start));
        start = stop + 1;
    }
    snapshot.valid = stamped;
    snapshot.path = path;
    snapshot.section = section;
    snapshot.written = written;
    snapshot.size = size;
    return snapshot.values;
}

std::optional<std::string> ListedValue(const std::string& section, const std::string& key)
{
    const auto& values = SectionValues(section);
    const auto found = values.find(UpperCase(key));
    return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
}

} // namespace

std::string TrimBlanks(const std::string& text)
{
    std::string::size_type first = 0;
    std::string::size_type last = text.size();
    while (first < last && IsBlank(static_cast<unsigned char>(text[first]))) {
        ++first;
    }
    while (last > first && IsBlank(static_cast<unsigned char>(text[last - 1]))) {
        --last;
    }
    return text.substr(first, last - first);
}

std::string UpperCase(const std::string& text)
{
    std::string upper = text;
    if (!upper.empty()) {
        CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    }
    return upper;
}

void SaveAllowedSection(const std::string& records, const std::string& section)
{
    const std::string& path = SettingsFilePath();
    TSectionLines lines;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = records.find(RECORD_END, start);
        if (end == std::string::npos) {
            break; // text after the last "!" is no record
        }
        const std::string record = records.substr(start, end - start);
        start = end + 1;
        std::string name;
        std::string value = record;
        const std::string::size_type equals = record.find(NAME_END);
        if (equals != std::string::npos) {
            name = record.substr(0, equals);
            value = record.substr(equals + 1);
        }
        if (name.empty()) {
            name = value;
            value = "1";
        }
        lines.Set(name, value);
    }
    // A check that changes nothing writes nothing.
    if (ReadINISection(path, section) == lines.Joined()) {
        return;
    }
    snapshot.valid = false;
    if (!EraseINISection(path, section)) {
        throw TINIExcept(path);
    }
    // One write for the whole section: a write per record would rewrite the
    // file once per record.
    if (!lines.Empty() && !WriteINISection(path, section, lines.Joined())) {
        throw TINIExcept(path);
    }
}

std::string FormatMsg(const std::string& templ, std::initializer_list<std::string> args)
{
    if (templ.empty()) {
        return std::string();
    }
    std::vector<const char*> slots;
    for (const std::string& arg : args) {
        slots.push_back(arg.c_str());
    }
    slots.push_back(nullptr); // keeps data() valid for an empty list
    char buffer[FORMAT_BUFFER] = {};
    const int count = wvsprintfA(buffer, templ.c_str(), reinterpret_cast<va_list>(slots.data()));
    if (count <= 0) {
        return std::string();
    }
    // Some implementations count the terminator of a cut text.
    return std::string(buffer, strnlen(buffer, static_cast<std::size_t>(count)));
}

std::string EncodeField(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string field(1, ESCAPE);
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        if (NeedsEscape(text, i)) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            field += ESCAPE;
            field += hex[c >> 4];
            field += hex[c & 0x0F];
        } else {
            field += text[i];
        }
    }
    return field;
}

std::string DecodeField(const std::string& field)
{
    std::string text;
    for (std::string::size_type i = 1; i < field.size(); ++i) {
        if (field[i] == ESCAPE && i + 2 < field.size() && HexValue(field[i + 1]) >= 0
            && HexValue(field[i + 2]) >= 0) {
            text += static_cast<char>(HexValue(field[i + 1]) * 16 + HexValue(field[i + 2]));
            i += 2;
        } else {
            text += field[i];
        }
    }
    return text;
}

bool IsPlainName(const std::string& name)
{
    if (name.empty() || name[0] == ESCAPE) {
        return false;
    }
    // "%" is only the encoding's mark at the start; elsewhere a key holds it.
    for (std::string::size_type i = 0; i < name.size(); ++i) {
        if (name[i] != ESCAPE && NeedsEscape(name, i)) {
            return false;
        }
    }
    return true;
}

bool IsPlainCommand(const std::string& command)
{
    if (command.empty()) {
        return true;
    }
    const char first = command.front();
    const char last = command.back();
    if (IsBlank(static_cast<unsigned char>(first)) || IsBlank(static_cast<unsigned char>(last))
        || (IsQuote(first) && last == first)) {
        return false;
    }
    for (const char c : command) {
        if (c == RECORD_END || IsControl(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

void AppendRecord(std::string& records, const std::string& name, const std::string& command)
{
    if (IsPlainName(name) && IsPlainCommand(command)) {
        records += name + NAME_END + command + RECORD_END;
    } else {
        records += EncodeField(name) + NAME_END + EncodeField(command) + RECORD_END;
    }
}

void AppendBareRecord(std::string& records, const std::string& name)
{
    records += (IsPlainName(name) ? name : EncodeField(name)) + RECORD_END;
}

std::optional<std::string> LookupAllowed(const std::string& section, const std::string& name)
{
    if (IsPlainName(name)) {
        const std::optional<std::string> listed = ListedValue(section, name);
        if (listed) {
            return listed;
        }
    }
    const std::optional<std::string> encoded = ListedValue(section, EncodeField(name));
    if (!encoded || encoded->empty() || encoded->front() != ESCAPE) {
        return encoded;
    }
    return DecodeField(*encoded);
}

std::string ReadAllowedValue(const std::string& section, const std::string& key)
{
    const std::string& path = SettingsFilePath();
    const std::string encoded = ReadINIString(path, section, ESCAPE + key, "");
    const std::string plain = ReadINIString(path, section, key, "");
    if (encoded.empty() || encoded[0] != ESCAPE) {
        return plain;
    }
    return plain + '\0' + DecodeField(encoded);
}

void WriteAllowedValue(const std::string& section, const std::string& key, const std::string& value)
{
    const std::string& path = SettingsFilePath();
    const bool plain = IsPlainCommand(value);
    const std::string stored = plain ? value : EncodeField(value);
    const std::string used = plain ? key : ESCAPE + key;
    const std::string other = plain ? ESCAPE + key : key;
    if (ReadINIString(path, section, used, "") == stored && ReadINIString(path, section, other, "").empty()) {
        return;
    }
    if (!WriteINIString(path, section, used, stored)) {
        throw TINIExcept(path);
    }
    DeleteINIKey(path, section, other);
}
