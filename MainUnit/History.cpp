#include "History.h"

#include "MainState.h"
#include "ScopedHandle.h"
#include "Texts.h"

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

void ReadLogFile(const TWideString& path, std::size_t count, std::vector<std::vector<TWideString>>& lines)
{
    std::string bytes;
    if (!ReadFileBytes(path, bytes)) {
        return;
    }
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find(LINE_END, start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        TWideString line;
        if (DecodeUtf8(bytes.data() + start, end - start, line)) {
            std::vector<TWideString> fields;
            std::size_t from = 0;
            for (std::size_t tab = line.find(FIELD_SEPARATOR); tab != TWideString::npos; tab = line.find(FIELD_SEPARATOR, from)) {
                fields.push_back(line.substr(from, tab - from));
                from = tab + 1;
            }
            fields.push_back(line.substr(from));
            if (fields.size() == count && IsTimeField(fields[0])) {
                lines.push_back(std::move(fields));
            }
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
    for (auto field = read.rbegin(); field != read.rend(); ++field) {
        lines.push_back({(*field)[0], (*field)[1], (*field)[2], (*field)[3], (*field)[4], (*field)[5]});
    }
    return lines;
}
