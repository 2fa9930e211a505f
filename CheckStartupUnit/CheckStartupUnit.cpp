#include "CheckStartupUnit.h"

#include "AllowedList.h"
#include "Decide.h"
#include "Elevation.h"
#include "CheckRegistryUnit.h"
#include "MainState.h"
#include "Removed.h"
#include "ScopedHandle.h"
#include "registry_profile.h"

#include <windows.h>

#include <vector>

namespace {

constexpr wchar_t ALL_FILES_MASK[] = L"*.*";
constexpr wchar_t MSG_CANNOT_DELETE_FILE[] = L"Не удалось удалить файл: \"%s\".";

struct TStartupFolder {
    HKEY root;
    const wchar_t* valueName;
    const wchar_t* section;
};

const TStartupFolder STARTUP_FOLDERS[] = {
    {HKEY_CURRENT_USER, L"Startup", L"HKEY_CURRENT_USER\\Startup"},
    {HKEY_LOCAL_MACHINE, L"Common Startup", L"HKEY_LOCAL_MACHINE\\Common Startup"},
};

const wchar_t* const SKIPPED_NAMES[] = {L".", L"..", L"desktop.ini"};

// One entry of a listing.
struct TStartupEntry {
    TWideString path;     // folder text + lower-cased name: the question and the allowed-list key
    TWideString realPath; // the folder's text + its name: what the helper is given
    TWideString name;     // its name there
    TWideString exact;    // the file, reached by its exact name (a trailing dot or blank, CON, ...)
};

// How the file, kept as Copy in Removed, is put back: by its exact path.
TUndo FileUndo(const TStartupEntry& entry, const TWideString& copy)
{
    TUndo undo;
    undo.kind = TUndoKind::File;
    undo.place = RecordPlace(copy);
    undo.where = ParentPath(entry.exact);
    undo.item = entry.name;
    undo.copy = RecordPlace(copy);
    return undo;
}

// A copy is kept here, with the user's rights, before the helper acts; the
// helper deletes the file only while its bytes are the copy's.
void OfferFileToAdministrator(TUser& user, const TStartupEntry& entry)
{
    TWideString copy;
    OfferElevatedRemoval(
        user, EntryText({entry.path}), MSG_CANNOT_DELETE_FILE,
        [&](TWideString& removalSwitch) {
            TWideString hash;
            if (!CopyToRemoved(entry.exact, entry.name, copy)) {
                return false;
            }
            user.NoteUndo(FileUndo(entry, copy));
            const TFileHandle kept(CreateFileW(copy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            if (!kept.Valid() || !FileHash(kept.Get(), hash)) {
                return false;
            }
            removalSwitch = RemovalSwitch(REMOVE_FILE_SWITCH, {entry.realPath, hash});
            return true;
        },
        [&] { DeleteFileW(copy.c_str()); });
}

// Only the common folder's files: see Elevation.h.
void FileNotMoved(TUser& user, const TStartupEntry& entry)
{
    const DWORD error = GetLastError();
    TWideString name;
    if (error == ERROR_ACCESS_DENIED && InCommonStartup(entry.realPath, name)) {
        OfferFileToAdministrator(user, entry);
    } else {
        user.WarnFailed(FormatMsg(MSG_CANNOT_DELETE_FILE, {EntryText({entry.path}).shown}));
    }
}

// Moved aside, never deleted: the user can put it back. The other files of
// the folder are still there afterwards.
void MoveEntry(TUser& user, const TStartupEntry& entry, const std::vector<TStartupEntry>& entries)
{
    std::vector<TSeenFile> seen;
    for (const TStartupEntry& other : entries) {
        seen.push_back({other.exact, EntryText({other.path}).shown, std::string(), false});
    }
    PrepareForRemoval(seen, entry.exact);
    TWideString moved;
    if (MoveToRemoved(entry.exact, entry.name, &moved)) {
        user.NoteUndo(FileUndo(entry, moved));
    } else {
        FileNotMoved(user, entry);
    }
    PutBackVanished(user, seen, entry.exact);
}

void CheckStartupEntry(TUser& user, TWideString& records, const TStartupEntry& entry,
                       const std::vector<TStartupEntry>& entries, const TWideString& section, HKEY switchRoot)
{
    // A name a Win32 path cannot spell is looked at by its exact path.
    const TWideString& file = Win32SpellsExactly(entry.name) ? entry.realPath : entry.exact;
    const auto text = [&] { return EntryText({entry.path}, {{TStartKind::EntryFile, file}}); };
    if (LookupAllowed(section, entry.path) && PassesSilently(user, section, entry.path, file, TEntryState::Allowed, text)) {
        AppendBareRecord(records, entry.path);
        return;
    }
    // Windows will not start it: nothing to ask, nothing recorded, until it is switched on again.
    if (IsSwitchedOff(switchRoot, STARTUP_APPROVED_KEY + TWideString(L"\\StartupFolder"), entry.name)
        && PassesSilently(user, section, entry.path, file, TEntryState::SwitchedOff, text)) {
        return;
    }
    TChoice choice = ChoiceAddToList;
    const bool answered = user.AskChoice({section, entry.path, file}, false, text(), choice);
    // A removal from the window passes by the others unasked: the list stays as it was.
    if (RunAborted() || (!answered && user.Removing())) {
        return;
    }
    THistoryEvent event{answered ? THistoryKind::Added : THistoryKind::Kept, section, entry.path, file, TWideString()};
    if (!answered || choice != ChoiceRemove) {
        AppendBareRecord(records, entry.path);
        user.Record(event);
        return;
    }
    RemoveAndRecord(user, event, [&] { MoveEntry(user, entry, entries); });
}

// The folder's files as they are when the check starts.
std::vector<TStartupEntry> ListEntries(const TWideString& folder, const TWideString& mask)
{
    std::vector<TStartupEntry> entries;
    WIN32_FIND_DATAW data;
    TFindHandle find(FindFirstFileW((folder + mask).c_str(), &data));
    for (bool more = find.Valid(); more; more = FindNextFileW(find.Get(), &data) != FALSE) {
        const TWideString name = data.cFileName;
        const TWideString lower = LowerCase(name);
        if (!IsSkippedName(lower)) {
            entries.push_back({folder + lower, folder + name, name, ExactPath(folder, name)});
        }
    }
    return entries;
}

// False when the user ended the program during a question.
bool CheckListedEntries(TUser& user, TWideString& records, const TWideString& folder, const TWideString& mask,
                        const TWideString& section, HKEY switchRoot)
{
    const std::vector<TStartupEntry> entries = ListEntries(folder, mask);
    for (const TStartupEntry& entry : entries) {
        CheckStartupEntry(user, records, entry, entries, section, switchRoot);
        if (RunAborted()) {
            return false;
        }
    }
    return true;
}

} // namespace

TWideString LowerCase(TWideString text)
{
    if (!text.empty()) {
        CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    }
    return text;
}

bool IsSkippedName(const TWideString& lowerName)
{
    for (const wchar_t* skipped : SKIPPED_NAMES) {
        if (lowerName == skipped) {
            return true;
        }
    }
    return false;
}

bool InCommonStartup(const TWideString& path, TWideString& name)
{
    const TWideString folder = StartupFolderPath(true) + L"\\";
    if (folder.size() == 1 || path.size() <= folder.size() || !StartsWithPath(path, folder)) {
        return false;
    }
    name = path.substr(folder.size());
    return name.find_first_of(L"\\/:") == TWideString::npos && !IsSkippedName(LowerCase(name));
}

TWideString StartupFolderPath(bool common)
{
    const TStartupFolder& startup = STARTUP_FOLDERS[common ? 1 : 0];
    return ReadRegString(startup.root, SHELL_FOLDERS_KEY, startup.valueName);
}

void CheckStartup(TUser& user)
{
    for (const TStartupFolder& startup : STARTUP_FOLDERS) {
        const TWideString folder = StartupFolderPath(&startup != STARTUP_FOLDERS);
        if (folder.empty()) {
            continue;
        }
        CheckStartupFolder(user, folder + L"\\", ALL_FILES_MASK, startup.section, startup.root);
        if (RunAborted()) {
            return;
        }
    }
}

void CheckStartupFolder(TUser& user, const TWideString& folder, const TWideString& mask, const TWideString& section,
                        HKEY switchRoot)
{
    TWideString records;
    if (CheckListedEntries(user, records, folder, mask, section, switchRoot)) {
        SaveSection(user, records, section);
    }
}

