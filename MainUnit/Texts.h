#pragma once

// The texts the user is shown. An entry's name, command or path is written
// by whoever made the entry, perhaps to hide what it starts: a control
// character would break the question's lines, a bidirectional override
// would turn it around, a thousand characters would push the command out
// of the box. Every such text is shown through Visible, and an entry's long
// fields are shown shortened in the middle, whole in a field of their own.

#include "registry_profile.h"

#include <initializer_list>
#include <vector>

// The program's one escape for a character that would not show as itself:
// its code point in hexadecimal between these marks, "«0A»" for a line
// feed, "«202E»" for a right-to-left override, "«E0020»" for a tag space
// (one escape for its surrogate pair). The opening mark and the elision
// mark are escaped too where a text holds them, so nothing else looks like
// an escape or an elision.
constexpr wchar_t VISIBLE_OPEN = L'\x00AB';  // «
constexpr wchar_t VISIBLE_CLOSE = L'\x00BB'; // »
constexpr wchar_t ELISION = L'\x2026';       // …
// A field longer than this, once visible, is shortened: its first and its
// last characters stay, with ELISION between them.
constexpr std::size_t MAX_SHOWN_FIELD = 160;
constexpr std::size_t SHOWN_HEAD = 96;
constexpr std::size_t SHOWN_TAIL = 63;

TWideString Visible(const TWideString& text);
// The text Visible made Shown from; false when Shown holds an escape that
// Visible would not write.
bool FromVisible(const TWideString& shown, TWideString& text);

// What an entry makes Windows start, as the entry names it: a command line,
// a file of its own (a Startup file: a shortcut, a script, ...), or a DLL.
enum class TStartKind { CommandLine, EntryFile, Library };
struct TStartItem {
    TStartKind kind;
    TWideString text;
};

// An entry as a question names it: fields (key path, name, command, ...)
// and the separators between them, each made visible; and what it starts,
// for the question's account of the program.
struct TEntryText {
    TWideString shown; // every field longer than MAX_SHOWN_FIELD shortened
    TWideString full;  // every field whole
    std::vector<TStartItem> starts;
    bool Shortened() const { return shown != full; }
};
TEntryText EntryText(std::initializer_list<TWideString> fields, std::vector<TStartItem> starts = {});

// The template with each "%s" replaced by the next argument, as it is: the
// arguments are texts to show, made visible by the caller. No length limit.
TWideString FormatMsg(const TWideString& templ, std::initializer_list<TWideString> args);
