#include "History.h"

#include "MainState.h"
#include "ScopedHandle.h"
#include "Texts.h"

#include <algorithm>

namespace {

constexpr wchar_t HISTORY_FILE[] = L"\\history.log";
constexpr wchar_t OLDER_HISTORY_FILE[] = L"\\history.1.log";
constexpr char FIELD_SEPARATOR = '\t';
constexpr char LINE_END = '\n';
constexpr std::size_t HISTORY_FIELDS = 6;
// "2026-12-07 16:45:31": where the digits stand and what stands between them.
constexpr wchar_t TIME_SHAPE[] = L"0000-00-00 00:00:00";

const wchar_t* const KEYWORDS[] = {L"removed",  L"added",  L"kept",     L"corrected",
                                   L"baseline", L"failed", L"restored", L"forgotten"};

bool IsTimeField(const TWideString& field)
{
    const TWideString shape = TIME_SHAPE;
    if (field.size() != shape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = field[i] >= L'0' && field[i] <= L'9';
        if (shape[i] == L'0' ? !digit : field[i] != shape[i]) {
            return false;
        }
    }
    return true;
}

TWideString HistoryPath(bool older = false)
{
    return ParentPath(SettingsFilePath()) + (older ? OLDER_HISTORY_FILE : HISTORY_FILE);
}

} // namespace

std::string LogLineBytes(std::initializer_list<TWideString> fields)
{
    SYSTEMTIME time;
    GetLocalTime(&time);
    wchar_t stamp[ARRAYSIZE(TIME_SHAPE)];
    wsprintfW(stamp, L"%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute,
              time.wSecond);
    TWideString line = stamp;
    for (const TWideString& field : fields) {
        line += FIELD_SEPARATOR;
        line += Visible(field);
    }
    std::string bytes;
    AppendUtf8(line, bytes);
    return bytes + LINE_END;
}

bool AppendLogBytes(const TWideString& path, const std::string& bytes)
{
    // Appending is atomic per write: two processes' lines never mix.
    const TFileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file.Valid() && WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)
        && written == bytes.size() && FlushFileBuffers(file.Get());
}

// One line's fields, when it has Count of them and begins with a time.
void AddLogLine(const TWideString& text, std::size_t begin, std::size_t end, std::size_t count,
                std::vector<std::vector<TWideString>>& lines)
{
    std::vector<TWideString> fields;
    fields.reserve(count);
    std::size_t from = begin;
    for (std::size_t tab = text.find(FIELD_SEPARATOR, from); tab < end; tab = text.find(FIELD_SEPARATOR, from)) {
        fields.emplace_back(text, from, tab - from);
        from = tab + 1;
    }
    fields.emplace_back(text, from, end - from);
    if (fields.size() == count && IsTimeField(fields[0])) {
        lines.push_back(std::move(fields));
    }
}

void ReadLogFile(const TWideString& path, std::size_t count, std::vector<std::vector<TWideString>>& lines)
{
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) {
        return;
    }
    // Valid throughout, the file is decoded at once; else line by line,
    // so that a line that is not UTF-8 costs only itself.
    TWideString all;
    if (DecodeUtf8(bytes.data(), bytes.size(), all)) {
        for (std::size_t start = 0; start < all.size();) {
            const std::size_t end = std::min(all.find(static_cast<wchar_t>(LINE_END), start), all.size());
            AddLogLine(all, start, end, count, lines);
            start = end + 1;
        }
        return;
    }
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = std::min(bytes.find(LINE_END, start), bytes.size());
        TWideString line;
        if (DecodeUtf8(bytes.data() + start, end - start, line)) {
            AddLogLine(line, 0, line.size(), count, lines);
        }
        start = end + 1;
    }
}

const wchar_t* HistoryKeyword(THistoryKind kind) { return KEYWORDS[static_cast<std::size_t>(kind)]; }

void WriteHistory(const THistoryEvent& event) noexcept
{
    try {
        const std::string bytes = LogLineBytes({HistoryKeyword(event.kind), event.section, event.name, event.command, event.detail});
        const TWideString path = HistoryPath();
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
            const LONGLONG size = static_cast<LONGLONG>((static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
            if (size + static_cast<LONGLONG>(bytes.size()) > HISTORY_LIMIT) {
                MoveFileExW(path.c_str(), HistoryPath(true).c_str(), MOVEFILE_REPLACE_EXISTING);
            }
        }
        AppendLogBytes(path, bytes);
    } catch (...) {
        // Out of memory: the line is lost, the check goes on.
    }
}

std::vector<THistoryLine> ReadHistory()
{
    std::vector<std::vector<TWideString>> read;
    ReadLogFile(HistoryPath(true), HISTORY_FIELDS, read);
    ReadLogFile(HistoryPath(), HISTORY_FIELDS, read);
    std::vector<THistoryLine> lines;
    lines.reserve(read.size());
    for (auto field = read.rbegin(); field != read.rend(); ++field) {
        std::vector<TWideString>& f = *field;
        lines.push_back({std::move(f[0]), std::move(f[1]), std::move(f[2]), std::move(f[3]), std::move(f[4]), std::move(f[5])});
    }
    return lines;
}
