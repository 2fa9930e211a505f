#include "CheckStartupUnit.h"

#include "AllowedList.h"
#include "MainState.h"
#include "Removed.h"
#include "ScopedHandle.h"
#include "registry_profile.h"

#include <windows.h>

namespace {

constexpr char ALL_FILES_MASK[] = "*.*";
constexpr char MSG_CANNOT_DELETE_FILE[] = "Не удалось удалить файл: \"%s\".";
constexpr char LOST_CHAR_MARK = '?';
constexpr char HEX_DIGITS[] = "0123456789abcdef";

struct TStartupFolder {
    HKEY root;
    const char* valueName;
    const char* section;
};

const TStartupFolder STARTUP_FOLDERS[] = {
    {HKEY_CURRENT_USER, "Startup", "HKEY_CURRENT_USER\\Startup"},
    {HKEY_LOCAL_MACHINE, "Common Startup", "HKEY_LOCAL_MACHINE\\Common Startup"},
};

const char* const SKIPPED_NAMES[] = {".", "..", "desktop.ini"};

// One entry of a listing.
struct TStartupEntry {
    std::string path;      // folder text + lower-cased name, as the user sees it
    std::string key;       // the entry's key in the allowed list
    TWideString realPath; // the file as the file system knows it
    TWideString name;     // its name there
};

// Without WC_NO_BEST_FIT_CHARS a character the code page lacks becomes a
// look-alike ("café" lists as "cafe"), and that text may be the name of
// another file; with it, the character becomes the default "?".
std::string Narrow(const TWideString& text)
{
    // A UTF-8 ANSI code page rejects the flag, and has nothing to fit anyway.
    const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int size = static_cast<int>(text.size());
    const int count =
        WideCharToMultiByte(CP_ACP, flags, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (count <= 0) {
        return std::string();
    }
    std::string narrow(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_ACP, flags, text.data(), size, &narrow[0], count, nullptr, nullptr);
    return narrow;
}

std::string LowerCase(std::string text)
{
    if (!text.empty()) {
        CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
    }
    return text;
}

// Files whose names lose characters in the code page list alike ("?.lnk"),
// so their key spells each lost UTF-16 unit as "?" and four hex digits. No
// real file name holds a "?", so the key meets neither an ordinary file's
// key nor that of another such file.
std::string SpelledName(TWideString name)
{
    if (!name.empty()) {
        CharLowerBuffW(&name[0], static_cast<DWORD>(name.size()));
    }
    std::string spelled;
    for (const wchar_t unit : name) {
        const TWideString one(1, unit);
        const std::string narrow = Narrow(one);
        if (Widen(narrow) == one) {
            spelled += narrow;
            continue;
        }
        spelled += LOST_CHAR_MARK;
        for (int shift = 12; shift >= 0; shift -= 4) {
            spelled += HEX_DIGITS[(unit >> shift) & 0xF];
        }
    }
    return spelled;
}

TStartupEntry ListedEntry(const std::string& folder, const TWideString& wideFolder,
                          const TWideString& name)
{
    const std::string listed = Narrow(name);
    TStartupEntry entry;
    entry.path = folder + LowerCase(listed);
    entry.key = Widen(listed) == name ? entry.path : folder + SpelledName(name);
    entry.realPath = wideFolder + name;
    entry.name = name;
    return entry;
}

bool IsSkippedName(const std::string& lowerName)
{
    for (const char* skipped : SKIPPED_NAMES) {
        if (lowerName == skipped) {
            return true;
        }
    }
    return false;
}

void CheckStartupEntry(TUser& user, std::string& records, const TStartupEntry& entry,
                       const std::string& section)
{
    if (LookupAllowed(section, entry.key)) {
        AppendBareRecord(records, entry.key);
        return;
    }
    TChoice choice = ChoiceAddToList;
    const bool answered = user.AskChoice(false, entry.path, choice);
    if (RunAborted()) {
        return;
    }
    if (!answered || choice != ChoiceRemove) {
        AppendBareRecord(records, entry.key);
        return;
    }
    // Moved aside, never deleted: the user can put it back.
    if (!MoveToRemoved(entry.realPath, entry.name)) {
        user.Warn(FormatMsg(MSG_CANNOT_DELETE_FILE, {entry.path}));
    }
}

// The listing runs in wide characters: the ANSI one hands out "?" or a
// look-alike letter for a character the code page lacks, and a name made
// that way may belong to a different file. False when the user ended the
// program during a question.
bool CheckListedEntries(TUser& user, std::string& records, const std::string& folder, const std::string& mask,
                        const std::string& section)
{
    const TWideString wideFolder = Widen(folder);
    WIN32_FIND_DATAW data;
    TFindHandle find(FindFirstFileW((wideFolder + Widen(mask)).c_str(), &data));
    if (!find.Valid()) {
        return true;
    }
    do {
        const TStartupEntry entry = ListedEntry(folder, wideFolder, data.cFileName);
        if (IsSkippedName(entry.path.substr(folder.size()))) {
            continue;
        }
        CheckStartupEntry(user, records, entry, section);
        if (RunAborted()) {
            return false;
        }
    } while (FindNextFileW(find.Get(), &data));
    return true;
}

} // namespace

std::string StartupFolderPath(bool common)
{
    const TStartupFolder& startup = STARTUP_FOLDERS[common ? 1 : 0];
    return ReadRegString(startup.root, SHELL_FOLDERS_KEY, startup.valueName);
}

void CheckStartup(TUser& user)
{
    for (const TStartupFolder& startup : STARTUP_FOLDERS) {
        const std::string folder = StartupFolderPath(&startup != STARTUP_FOLDERS);
        if (folder.empty()) {
            continue;
        }
        CheckStartupFolder(user, folder + "\\", ALL_FILES_MASK, startup.section);
        if (RunAborted()) {
            return;
        }
    }
}

void CheckStartupFolder(TUser& user, const std::string& folder, const std::string& mask,
                        const std::string& section)
{
    std::string records;
    if (CheckListedEntries(user, records, folder, mask, section)) {
        SaveAllowedSection(records, section);
    }
}

void CheckStartupFile(TUser& user, std::string& records, const std::string& path,
                      const std::string& section)
{
    const TWideString wide = Widen(path);
    CheckStartupEntry(user, records, {path, path, wide, wide.substr(wide.rfind(L'\\') + 1)}, section);
}
