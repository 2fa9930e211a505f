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

std::string UpperKey(const std::string& key)
{
    std::string upper = key;
    if (!upper.empty()) {
        CharUpperBuffA(&upper[0], static_cast<DWORD>(upper.size()));
    }
    return upper;
}

// The keys of one section as the record walk leaves them: a later record
// with the same key (in any letter case) replaces the value in place, as one
// profile write per record would.
class TSectionLines {
public:
    void Set(const std::string& key, const std::string& value)
    {
        const auto found = index_.emplace(UpperKey(key), lines_.size());
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

} // namespace

void SaveAllowedSection(const std::string& records, const std::string& section)
{
    const std::string& path = SettingsFilePath();
    if (!EraseINISection(path, section)) {
        throw TINIExcept(path);
    }
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

std::string LookupAllowed(const std::string& section, const std::string& name)
{
    const std::string& path = SettingsFilePath();
    if (IsPlainName(name)) {
        const std::string listed = ReadINIString(path, section, name, "");
        if (!listed.empty()) {
            return listed;
        }
    }
    const std::string encoded = ReadINIString(path, section, EncodeField(name), "");
    if (encoded.empty() || encoded[0] != ESCAPE) {
        return encoded;
    }
    return DecodeField(encoded);
}
