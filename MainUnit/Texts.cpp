#include "Texts.h"

namespace {

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

struct TCodeRange {
    char32_t first;
    char32_t last;
};

// Code points that do not show as themselves, or show as nothing or as a
// blank and so let one text pass for another: controls (C0, DEL, C1); white
// space other than the space itself; the default-ignorable ones (invisible
// and joining characters, fillers, variation selectors, the bidirectional
// embeddings, overrides and isolates, tags); the interlinear annotation
// marks; the blank braille pattern; noncharacters (with every plane's last
// two, below); private use, which no font is bound to show alike; a
// surrogate, which only gets here unpaired; and the program's own marks.
const TCodeRange HIDDEN[] = {
    {0x0000, 0x001F}, {0x007F, 0x00A0}, {0x00AB, 0x00AB}, {0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x061C, 0x061C},
    {0x115F, 0x1160}, {0x1680, 0x1680}, {0x17B4, 0x17B5}, {0x180B, 0x180F}, {0x2000, 0x200F}, {0x2026, 0x2026},
    {0x2028, 0x202F}, {0x205F, 0x206F}, {0x2800, 0x2800}, {0x3000, 0x3000}, {0x3164, 0x3164}, {0xD800, 0xDFFF},
    {0xE000, 0xF8FF}, {0xFDD0, 0xFDEF}, {0xFE00, 0xFE0F}, {0xFEFF, 0xFEFF}, {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFFB},
    {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF}, {0xF0000, 0x10FFFF},
};
constexpr char32_t PLANE_LAST_TWO = 0xFFFE;

bool IsHidden(char32_t c)
{
    if ((c & PLANE_LAST_TWO) == PLANE_LAST_TWO) {
        return true;
    }
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
    const bool pair = IsHighSurrogate(text[at]) && at + 1 < text.size() && IsLowSurrogate(text[at + 1]);
    const std::size_t units = pair ? 2 : 1;
    const char32_t c = pair ? 0x10000 + ((char32_t(text[at]) - 0xD800) << 10 | (char32_t(text[at + 1]) - 0xDC00)) : text[at];
    if (!IsHidden(c)) {
        out.append(text, at, units);
        return units;
    }
    out += VISIBLE_OPEN;
    AppendHex(out, c, c > 0xFFFFF ? 6 : c > 0xFFFF ? 5 : c > 0xFF ? 4 : 2);
    out += VISIBLE_CLOSE;
    return units;
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

bool FromVisible(const TWideString& shown, TWideString& text)
{
    text.clear();
    for (std::size_t at = 0; at < shown.size(); ++at) {
        if (shown[at] != VISIBLE_OPEN) {
            text += shown[at];
            continue;
        }
        const std::size_t close = shown.find(VISIBLE_CLOSE, at);
        char32_t c = 0;
        for (std::size_t i = at + 1; i < close && close != TWideString::npos; ++i) {
            const wchar_t digit = shown[i];
            const bool decimal = digit >= L'0' && digit <= L'9';
            if (!decimal && !(digit >= L'A' && digit <= L'F')) {
                return false;
            }
            c = c * 16 + (decimal ? digit - L'0' : digit - L'A' + 10);
        }
        if (close == TWideString::npos || close == at + 1 || close - at > 7 || c > 0x10FFFF) {
            return false;
        }
        if (c > 0xFFFF) {
            text += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            text += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            text += static_cast<wchar_t>(c);
        }
        at = close;
    }
    return true;
}

TEntryText EntryText(std::initializer_list<TWideString> fields, std::vector<TStartItem> starts)
{
    TEntryText entry;
    entry.starts = std::move(starts);
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
