#include "CheckINIUnit.h"

#include "AllowedList.h"
#include "MainState.h"
#include "dlgSelectUnit.h"
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
constexpr unsigned char LAST_BLANK = ' ';

const char* const WATCHED_KEYS[] = {"run", "load"};

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= LAST_BLANK; }

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
bool KeepsItem(const std::string& entryText)
{
    TChoice choice = ChoiceAddToList;
    const bool answered = ShowChoiceDialog(MainWnd(), false, entryText, choice);
    return !RunAborted() && !(answered && choice == ChoiceRemove);
}

} // namespace

void CheckINI()
{
    for (const char* key : WATCHED_KEYS) {
        const std::string value = ReadINIString(WIN_INI, WINDOWS_SECTION, key, "");
        if (value.empty()) {
            continue;
        }
        CheckINIKey(WIN_INI, WINDOWS_SECTION, key, value);
        if (RunAborted()) {
            return;
        }
    }
}

void CheckINIKey(const std::string& fileName, const std::string& section, const std::string& key,
                 const std::string& value)
{
    std::string kept;
    for (const std::string& item : SplitItems(value)) {
        CheckINIItem(kept, item, key, fileName, section);
        if (RunAborted()) {
            return;
        }
    }
    if (!WriteINIString(fileName, section, key, kept)) {
        MessageBoxA(MainWnd(), FormatMsg(MSG_CANNOT_OPEN_FILE, {fileName}).c_str(), APP_CAPTION,
                    MB_OK | MB_ICONEXCLAMATION);
    }
    if (!WriteINIString(SettingsFilePath(), fileName, key, kept)) {
        throw TINIExcept(SettingsFilePath());
    }
}

void CheckINIItem(std::string& kept, const std::string& item, const std::string& key,
                  const std::string& fileName, const std::string& section)
{
    const std::string allowed = ReadINIString(SettingsFilePath(), fileName, key, "");
    const std::string entry = TrimBlanks(item.substr(0, item.find(ITEM_SEPARATOR)));
    if (entry.empty()) {
        return;
    }
    // Any occurrence counts, so a hand-edited value may hold the text anywhere.
    const bool allowedAlready = allowed.find(entry) != std::string::npos;
    if (!allowedAlready && !KeepsItem(EntryText(fileName, section, key, entry))) {
        return;
    }
    if (!kept.empty()) {
        kept += KEPT_SEPARATOR;
    }
    kept += entry;
}

std::string TrimBlanks(const std::string& s)
{
    std::string::size_type first = 0;
    std::string::size_type last = s.size();
    while (first < last && IsBlank(s[first])) {
        ++first;
    }
    while (last > first && IsBlank(s[last - 1])) {
        --last;
    }
    return s.substr(first, last - first);
}
