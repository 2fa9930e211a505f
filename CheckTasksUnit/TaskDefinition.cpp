#include "TaskDefinition.h"

#include "ScopedHandle.h"

#include <objidl.h>
#include <shlwapi.h>
#include <xmllite.h>

#include <vector>

namespace {

// A definition nests a few levels, and its free text (Documentation) may
// hold elements of its own; no real one comes near this, and the reader is
// never taken down a deliberately deep one.
constexpr UINT MAX_DEPTH = 256;

constexpr wchar_t ACTION_SEPARATOR[] = L"; ";
constexpr wchar_t TRIGGER_SEPARATOR[] = L"; ";
constexpr wchar_t FOLDER_START[] = L" (папка ";
constexpr wchar_t EVERY[] = L", затем каждые ";
constexpr wchar_t ON_DEMAND[] = L"только по запросу";
constexpr char UTF16_MARK[] = "\xFF\xFE";
constexpr char UTF16BE_MARK[] = "\xFE\xFF";
constexpr char UTF8_MARK[] = "\xEF\xBB\xBF";
// How UTF-16 without a mark starts: "<", in either byte order.
constexpr char UTF16_START[] = "<\0";
constexpr char UTF16BE_START[] = "\0<";
constexpr std::size_t UTF16_UNIT = sizeof(wchar_t);

// The encodings of a byte a character that XmlLite reads by itself, by the
// names a declaration gives them, and their code pages.
struct TEncoding {
    const wchar_t* name;
    UINT codePage;
};

const TEncoding ENCODINGS[] = {
    {L"US-ASCII", 20127},     {L"ISO-8859-1", 28591},   {L"ISO-8859-2", 28592},   {L"ISO-8859-3", 28593},
    {L"ISO-8859-4", 28594},   {L"ISO-8859-5", 28595},   {L"ISO-8859-6", 28596},   {L"ISO-8859-7", 28597},
    {L"ISO-8859-8", 28598},   {L"ISO-8859-9", 28599},   {L"windows-1250", 1250},  {L"windows-1251", 1251},
    {L"windows-1252", 1252},  {L"windows-1253", 1253},  {L"windows-1254", 1254},  {L"windows-1255", 1255},
    {L"windows-1256", 1256},  {L"windows-1257", 1257},  {L"windows-1258", 1258},
};

// A trigger's element, and the words that tell when it runs.
struct TTriggerWords {
    const wchar_t* element;
    const wchar_t* words;
};

const TTriggerWords TRIGGERS[] = {
    {L"LogonTrigger", L"при входе в систему"},
    {L"BootTrigger", L"при запуске Windows"},
    {L"IdleTrigger", L"при простое компьютера"},
    {L"TimeTrigger", L"в заданное время"},
    {L"EventTrigger", L"при событии журнала"},
    {L"RegistrationTrigger", L"при регистрации задания"},
    {L"SessionStateChangeTrigger", L"при смене состояния сеанса"},
};

// A calendar trigger's schedule.
const TTriggerWords SCHEDULES[] = {
    {L"ScheduleByDay", L"ежедневно"},
    {L"ScheduleByWeek", L"еженедельно"},
    {L"ScheduleByMonth", L"ежемесячно"},
    {L"ScheduleByMonthDayOfWeek", L"ежемесячно"},
};

// The units of an interval: P1DT2H3M4S.
const TTriggerWords UNITS[] = {{L"D", L"дн"}, {L"H", L"ч"}, {L"M", L"мин"}, {L"S", L"с"}};

using TReader = TScopedHandle<TComTraits<IXmlReader>>;
using TStream = TScopedHandle<TComTraits<IStream>>;

// XmlLite, loaded once, and one reader for every definition: SetInput
// starts it afresh, with the properties it was given.
struct TXmlLite {
    bool loaded = false;
    TReader reader;
};

TXmlLite xmlLite;

IXmlReader* LoadReader()
{
    if (!xmlLite.loaded) {
        xmlLite.loaded = true;
        const auto create = ProcAddress<decltype(&CreateXmlReader)>(LoadSystemLibrary(L"xmllite.dll"), "CreateXmlReader");
        TReader reader;
        if (create != nullptr && SUCCEEDED(create(__uuidof(IXmlReader), reinterpret_cast<void**>(reader.Receive()), nullptr))
            && SUCCEEDED(reader.Get()->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit))
            && SUCCEEDED(reader.Get()->SetProperty(XmlReaderProperty_MaxElementDepth, MAX_DEPTH))) {
            xmlLite.reader.Reset(reader.Release());
        }
    }
    return xmlLite.reader.Get();
}

// The reader given a stream over the bytes for as long as this lives.
class TInput {
public:
    explicit TInput(const std::string& bytes)
        : reader_(LoadReader()),
          stream_(SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())))
    {
        given_ = reader_ != nullptr && stream_.Valid() && SUCCEEDED(reader_->SetInput(stream_.Get()));
    }
    ~TInput()
    {
        if (given_) {
            reader_->SetInput(nullptr);
        }
    }
    TInput(const TInput&) = delete;
    TInput& operator=(const TInput&) = delete;

    IXmlReader* Reader() const { return given_ ? reader_ : nullptr; }

private:
    IXmlReader* reader_;
    TStream stream_;
    bool given_ = false;
};

const wchar_t* WordsFor(const TTriggerWords* table, std::size_t count, const TWideString& element)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (element == table[i].element) {
            return table[i].words;
        }
    }
    return nullptr;
}

// "PT1H30M" as "1 ч 30 мин"; empty for what is no interval.
TWideString IntervalWords(const TWideString& interval)
{
    TWideString words;
    TWideString number;
    for (const wchar_t c : interval) {
        if (c >= L'0' && c <= L'9') {
            number += c;
            continue;
        }
        const wchar_t* unit = WordsFor(UNITS, ARRAYSIZE(UNITS), TWideString(1, c));
        if (unit != nullptr && !number.empty()) {
            words += (words.empty() ? L"" : L" ") + number + L" " + unit;
        }
        number.clear();
    }
    return words;
}

// What a pass over the definition gathers: the elements open above the
// current one, and the parts of the action and the trigger being read.
struct TReading {
    std::vector<TWideString> path;
    TWideString text;
    TWideString command;
    TWideString arguments;
    TWideString folder;
    TWideString trigger;
    bool triggerEnabled = true;
    TWideString interval;
    std::vector<TWideString> triggers;

    bool Under(const wchar_t* parent, const wchar_t* element) const
    {
        return path.size() >= 2 && path[path.size() - 2] == parent && path.back() == element;
    }
    bool InTrigger() const { return path.size() >= 3 && path[1] == L"Triggers"; }
    // An element of an action that runs: Task\Actions\Exec\Element, and
    // nothing of the same names written elsewhere (in Documentation, say).
    bool InExec(const wchar_t* element) const { return path.size() == 4 && path[1] == L"Actions" && Under(L"Exec", element); }
};

// False for a root element that is no Task.
bool StartElement(TReading& reading, const TWideString& name)
{
    if (reading.path.empty() && name != L"Task") {
        return false;
    }
    reading.path.push_back(name);
    reading.text.clear();
    if (reading.path.size() == 3 && reading.path[1] == L"Triggers") {
        const wchar_t* words = WordsFor(TRIGGERS, ARRAYSIZE(TRIGGERS), name);
        reading.trigger = words != nullptr ? words : (L"по условию " + name);
        reading.triggerEnabled = true;
        reading.interval.clear();
    }
    if (reading.path.size() == 4 && reading.path[2] == L"CalendarTrigger") {
        const wchar_t* words = WordsFor(SCHEDULES, ARRAYSIZE(SCHEDULES), name);
        reading.trigger = words != nullptr ? words : reading.trigger;
    }
    return true;
}

void EndElement(TReading& reading, TTaskDefinition& definition)
{
    const TWideString& text = reading.text;
    if (reading.Under(L"Settings", L"Enabled") && reading.path.size() == 3) {
        definition.enabled = text != L"false";
    } else if (reading.InExec(L"Command")) {
        reading.command = text;
    } else if (reading.InExec(L"Arguments")) {
        reading.arguments = text;
    } else if (reading.InExec(L"WorkingDirectory")) {
        reading.folder = text;
    } else if (reading.path.size() == 3 && reading.Under(L"Actions", L"Exec")) {
        const TWideString commandLine = reading.command + (reading.arguments.empty() ? L"" : L" " + reading.arguments);
        definition.command += (definition.command.empty() ? L"" : ACTION_SEPARATOR) + commandLine
            + (reading.folder.empty() ? TWideString() : FOLDER_START + reading.folder + L")");
        definition.commandLines.push_back(commandLine);
        ++definition.programs;
        reading.command.clear();
        reading.arguments.clear();
        reading.folder.clear();
    } else if (reading.InTrigger() && reading.path.size() == 4 && reading.path.back() == L"Enabled") {
        reading.triggerEnabled = text != L"false";
    } else if (reading.InTrigger() && reading.Under(L"Repetition", L"Interval")) {
        reading.interval = IntervalWords(text);
    } else if (reading.path.size() == 3 && reading.path[1] == L"Triggers" && reading.triggerEnabled) {
        reading.triggers.push_back(reading.trigger + (reading.interval.empty() ? L"" : EVERY + reading.interval));
    }
    reading.path.pop_back();
    reading.text.clear();
}

// Where the name of the encoding in the text's XML declaration starts (its
// opening quote) and ends (its closing one); false when it names none.
bool FindEncodingName(const TWideString& text, std::size_t& open, std::size_t& close)
{
    const std::size_t end = text.compare(0, 5, L"<?xml") == 0 ? text.find(L"?>") : TWideString::npos;
    const std::size_t name = end == TWideString::npos ? end : text.substr(0, end).find(L"encoding");
    open = name == TWideString::npos ? name : text.find_first_of(L"\"'", name);
    if (open == TWideString::npos || open > end) {
        return false;
    }
    close = text.find(text[open], open + 1);
    return close < end;
}

// The encoding named in the text's XML declaration, if it has one, made Name.
void NameEncoding(TWideString& text, const wchar_t* encoding)
{
    std::size_t open = 0;
    std::size_t close = 0;
    if (FindEncodingName(text, open, close)) {
        text.replace(open + 1, close - open - 1, encoding);
    }
}

// The code page of bytes that are no UTF-16: the one their declaration
// names, or UTF-8 (which a declaration naming UTF-16 of such bytes, or
// none, means).
UINT DeclaredCodePage(const std::string& bytes)
{
    const std::size_t end = bytes.find("?>");
    const TWideString declaration(bytes.begin(), end == std::string::npos ? bytes.begin() : bytes.begin() + end + 2);
    std::size_t open = 0;
    std::size_t close = 0;
    if (FindEncodingName(declaration, open, close)) {
        const TWideString name = declaration.substr(open + 1, close - open - 1);
        for (const TEncoding& encoding : ENCODINGS) {
            if (SamePath(name, encoding.name)) {
                return encoding.codePage;
            }
        }
    }
    return CP_UTF8;
}

// The definition's text, from whatever encoding it is in: UTF-16 of either
// byte order, with its byte-order mark (as Windows keeps it) or without one
// (its "<" tells the order); UTF-8; or one of a byte a character that its
// declaration names. False for any other.
bool DecodeDefinition(const std::string& bytes, TWideString& text)
{
    const bool marked = bytes.compare(0, UTF16_UNIT, UTF16_MARK) == 0 || bytes.compare(0, UTF16_UNIT, UTF16BE_MARK) == 0;
    const bool bigEndian =
        bytes.compare(0, UTF16_UNIT, UTF16BE_MARK) == 0 || bytes.compare(0, UTF16_UNIT, UTF16BE_START, UTF16_UNIT) == 0;
    if (marked || bigEndian || bytes.compare(0, UTF16_UNIT, UTF16_START, UTF16_UNIT) == 0) {
        const std::size_t start = marked ? UTF16_UNIT : 0;
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + start), (bytes.size() - start) / UTF16_UNIT);
        if (bigEndian) {
            for (wchar_t& unit : text) {
                unit = static_cast<wchar_t>(unit << 8 | unit >> 8);
            }
        }
        return true;
    }
    const std::size_t mark = bytes.compare(0, 3, UTF8_MARK) == 0 ? 3 : 0;
    return DecodeCodePage(mark != 0 ? CP_UTF8 : DeclaredCodePage(bytes), bytes.data() + mark, bytes.size() - mark, text);
}

} // namespace

std::string ExportedDefinition(const std::string& bytes)
{
    TWideString text;
    if (bytes.compare(0, 2, UTF16_MARK) == 0 || !DecodeDefinition(bytes, text)) {
        return bytes;
    }
    NameEncoding(text, L"UTF-16");
    return Utf16Bytes(L'\xFEFF' + text);
}

bool ReadTaskDefinition(const std::string& bytes, TTaskDefinition& definition)
{
    // XmlLite is given UTF-8: Wine's misreads a long text in UTF-16 input
    // (and faults on one of 10,000 characters), reads no UTF-16 big-endian
    // and no encoding of a byte a character but ASCII; its UTF-8 reading
    // does all. What the program cannot decode goes to XmlLite as it is.
    TWideString text;
    std::string utf8;
    if (DecodeDefinition(bytes, text)) {
        NameEncoding(text, L"UTF-8");
    }
    const TInput input(!text.empty() && AppendUtf8(text, utf8) ? utf8 : bytes);
    IXmlReader* const reader = input.Reader();
    if (reader == nullptr) {
        return false;
    }
    definition = TTaskDefinition();
    TReading reading;
    XmlNodeType node = XmlNodeType_None;
    HRESULT result = S_OK;
    while ((result = reader->Read(&node)) == S_OK) {
        const wchar_t* value = nullptr;
        UINT length = 0;
        if (node == XmlNodeType_Element) {
            if (FAILED(reader->GetLocalName(&value, &length))) {
                return false;
            }
            if (!StartElement(reading, TWideString(value, length))) {
                return false;
            }
            if (reader->IsEmptyElement()) {
                EndElement(reading, definition);
            }
        } else if (node == XmlNodeType_EndElement) {
            if (reading.path.empty()) {
                return false;
            }
            EndElement(reading, definition);
        } else if ((node == XmlNodeType_Text || node == XmlNodeType_CDATA)
                   && SUCCEEDED(reader->GetValue(&value, &length))) {
            reading.text.append(value, length);
        }
    }
    // A definition is one Task element, read to its end.
    if (result != S_FALSE || !reading.path.empty()) {
        return false;
    }
    for (const TWideString& trigger : reading.triggers) {
        definition.triggers += (definition.triggers.empty() ? L"" : TRIGGER_SEPARATOR) + trigger;
    }
    if (definition.triggers.empty()) {
        definition.triggers = ON_DEMAND;
    }
    return true;
}
