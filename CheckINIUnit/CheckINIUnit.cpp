#include "CheckINIUnit.h"

#include "AllowedList.h"
#include "MainState.h"
#include "Removed.h"
#include "registry_profile.h"

#include <windows.h>

#include <vector>

namespace {

// A bare name: the profile functions find the file themselves, and on NT
// they keep its section "windows" in the user's registry (IniFileMapping).
constexpr char WIN_INI[] = "win.ini";
constexpr char WINDOWS_SECTION[] = "windows";
constexpr char ITEM_SEPARATOR = ',';
constexpr char KEPT_SEPARATOR[] = ", ";

const char* const WATCHED_KEYS[] = {"run", "load"};

// The elements between the commas; a comma at the end adds none.
std::vector<std::string> SplitItems(const std::string& value)
{
    std::vector<std::string> items;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type comma = value.find(ITEM_SEPARATOR, start);
        if (comma == std::string::npos) {
            break;
        }
        items.push_back(value.substr(start, comma - start));
        start = comma + 1;
    }
    if (start < value.size()) {
        items.push_back(value.substr(start));
    }
    return items;
}

std::string EntryText(const std::string& fileName, const std::string& section,
                      const std::string& key, const std::string& entry)
{
    return fileName + "\\[" + section + "]\\" + key + "=" + entry;
}

// False when the user chose to remove the element, or ended the program.
bool KeepsItem(TUser& user, const std::string& entryText)
{
    TChoice choice = ChoiceAddToList;
    const bool answered = user.AskChoice(false, entryText, choice);
    return !RunAborted() && !(answered && choice == ChoiceRemove);
}

} // namespace

void CheckINI(TUser& user)
{
    for (const char* key : WATCHED_KEYS) {
        const std::string value = ReadINIString(WIN_INI, WINDOWS_SECTION, key, "");
        if (value.empty()) {
            continue;
        }
        CheckINIKey(user, WIN_INI, WINDOWS_SECTION, key, value);
        if (RunAborted()) {
            return;
        }
    }
}

void CheckINIKey(TUser& user, const std::string& fileName, const std::string& section, const std::string& key,
                 const std::string& value)
{
    std::string kept;
    bool removed = false;
    for (const std::string& item : SplitItems(value)) {
        removed = !CheckINIItem(user, kept, item, key, fileName, section) || removed;
        if (RunAborted()) {
            return;
        }
    }
    // An unchanged list is not written back: every write would wake the
    // watch on win.ini again. A list that loses elements is recorded first,
    // whole, where Windows NT keeps it, so that it can be put back.
    if (kept != value
        && ((removed && !RecordRemovedString(std::string("HKEY_CURRENT_USER\\") + WIN_INI_KEY, key, value))
            || !WriteINIString(fileName, section, key, kept))) {
        user.Warn(FormatMsg(MSG_CANNOT_OPEN_FILE, {fileName}));
    }
    WriteAllowedValue(fileName, key, kept);
}

bool CheckINIItem(TUser& user, std::string& kept, const std::string& item, const std::string& key,
                  const std::string& fileName, const std::string& section)
{
    const std::string allowed = ReadAllowedValue(fileName, key);
    const std::string entry = TrimBlanks(item.substr(0, item.find(ITEM_SEPARATOR)));
    if (entry.empty()) {
        return true;
    }
    // Any occurrence counts, so a hand-edited value may hold the text anywhere.
    // A quoted element also counts by its inside: plain values stored by
    // earlier versions came back from the profile read without their
    // enclosing quotes.
    const bool quoted = entry.size() >= 2 && entry.front() == '"' && entry.back() == '"';
    const bool allowedAlready = allowed.find(entry) != std::string::npos
        || (quoted && allowed.find(entry.substr(1, entry.size() - 2)) != std::string::npos);
    if (!allowedAlready && !KeepsItem(user, EntryText(fileName, section, key, entry))) {
        return false;
    }
    if (!kept.empty()) {
        kept += KEPT_SEPARATOR;
    }
    kept += entry;
    return true;
}
