#include "Texts.h"

namespace {

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

struct TCodeRange {
    wchar_t first;
    wchar_t last;
};

// Characters that do not show as themselves: controls (C0, DEL, C1),
// invisible and joining characters, the bidirectional embeddings, overrides
// and isolates, line and paragraph separators, and the program's own marks.
const TCodeRange HIDDEN[] = {
    {0x0000, 0x001F}, {0x007F, 0x009F}, {0x00AB, 0x00AB}, {0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x061C, 0x061C},
    {0x115F, 0x1160}, {0x17B4, 0x17B5}, {0x180B, 0x180E}, {0x200B, 0x200F}, {0x2026, 0x2026}, {0x2028, 0x202E},
    {0x2060, 0x206F}, {0x3164, 0x3164}, {0xFE00, 0xFE0F}, {0xFEFF, 0xFEFF}, {0xFFA0, 0xFFA0}, {0xFFF9, 0xFFFB},
};

bool IsHidden(wchar_t c)
{
    for (const TCodeRange& range : HIDDEN) {
        if (c >= range.first && c <= range.last) {
            return true;
        }
    }
    return false;
}

// The visible form of the character (or surrogate pair) that starts at At;
// returns how many units it took.
std::size_t AppendVisibleAt(const TWideString& text, std::size_t at, TWideString& out)
{
    const wchar_t c = text[at];
    if (IsHighSurrogate(c) && at + 1 < text.size() && IsLowSurrogate(text[at + 1])) {
        out.append(text, at, 2);
        return 2;
    }
    if (!IsHidden(c) && !IsHighSurrogate(c) && !IsLowSurrogate(c)) {
        out += c;
        return 1;
    }
    out += VISIBLE_OPEN;
    AppendHex(out, c, c > 0xFF ? 4 : 2);
    out += VISIBLE_CLOSE;
    return 1;
}

// Where the character that ends at End starts: a surrogate pair is one.
std::size_t StartBefore(const TWideString& text, std::size_t end)
{
    const bool pair = end >= 2 && IsLowSurrogate(text[end - 1]) && IsHighSurrogate(text[end - 2]);
    return end - (pair ? 2 : 1);
}

TWideString ShownField(const TWideString& text, const TWideString& visible)
{
    if (visible.size() <= MAX_SHOWN_FIELD) {
        return visible;
    }
    TWideString head;
    std::size_t front = 0;
    while (front < text.size()) {
        TWideString piece;
        const std::size_t units = AppendVisibleAt(text, front, piece);
        if (head.size() + piece.size() > SHOWN_HEAD) {
            break;
        }
        head += piece;
        front += units;
    }
    TWideString tail;
    for (std::size_t back = text.size(); back > front;) {
        const std::size_t start = StartBefore(text, back);
        TWideString piece;
        AppendVisibleAt(text, start, piece);
        if (tail.size() + piece.size() > SHOWN_TAIL) {
            break;
        }
        tail.insert(0, piece);
        back = start;
    }
    return head + ELISION + tail;
}

} // namespace

TWideString Visible(const TWideString& text)
{
    TWideString visible;
    for (std::size_t at = 0; at < text.size();) {
        at += AppendVisibleAt(text, at, visible);
    }
    return visible;
}

TEntryText EntryText(std::initializer_list<TWideString> fields)
{
    TEntryText entry;
    for (const TWideString& field : fields) {
        const TWideString visible = Visible(field);
        entry.shown += ShownField(field, visible);
        entry.full += visible;
    }
    return entry;
}

TWideString FormatMsg(const TWideString& templ, std::initializer_list<TWideString> args)
{
    TWideString text;
    const TWideString* next = args.begin();
    std::size_t at = 0;
    for (std::size_t found; (found = templ.find(L"%s", at)) != TWideString::npos && next != args.end(); at = found + 2) {
        text.append(templ, at, found - at);
        text += *next++;
    }
    return text + templ.substr(at);
}
