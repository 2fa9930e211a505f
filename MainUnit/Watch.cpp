#include "Watch.h"

#include "CheckINIUnit.h"
#include "CheckRegistryUnit.h"
#include "CheckServicesUnit.h"
#include "CheckStartupUnit.h"
#include "MainState.h"
#include "ScopedHandle.h"
#include "TaskScheduler.h"

#include <memory>
#include <vector>

namespace {

constexpr DWORD KEY_CHANGES = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
// A parent counts only for its subkeys made or deleted: its own values change
// all the time (Windows and programs keep state in CurrentVersion).
constexpr DWORD PARENT_CHANGES = REG_NOTIFY_CHANGE_NAME;
constexpr DWORD FOLDER_CHANGES = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
// A task changed in place is a file written.
constexpr DWORD STORE_CHANGES = FOLDER_CHANGES | FILE_NOTIFY_CHANGE_LAST_WRITE;
// Where the scheduler names its tasks, for a user who cannot read the store.
constexpr wchar_t TASK_CACHE_KEY[] = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache\\Tree";
// A watch that fired rests this long before it is armed again: a program
// that writes a watched key in a loop then wakes the watch a few times a
// second, not once for every write.
constexpr ULONGLONG REST_MS = 250;

enum class TWatchKind {
    Key,          // a guarded key (with its subkeys where entries are there too)
    Parents,      // the guarded keys' parents, for a key made or deleted below one
    ShellFolders, // where the Startup folders are named
    Folder,       // a Startup folder, or its parent while it is missing
    TaskStore,    // the tasks' store, a tree, or its parent while it is missing
};

// A key with a notification asked for on it.
struct TWatchedKey {
    HKEY root = nullptr;
    TWideString path; // below Root
    REGSAM view = 0;
    TRegKey key;
};

struct TWatch {
    TWatchKind kind = TWatchKind::Key;
    // A Key's or Shell Folders' key; the Parents' many keys, which share one
    // event: a wait takes at most MAXIMUM_WAIT_OBJECTS handles, and parents
    // fire seldom.
    std::vector<std::unique_ptr<TWatchedKey>> keys;
    bool subtree = false;
    DWORD changes = KEY_CHANGES; // REG_NOTIFY_* of a key, FILE_NOTIFY_* of a folder
    bool common = false; // a Folder: the common Startup folder, not the user's
    TKernelHandle event;
    TChangeHandle change;
    bool armed = false;
    ULONGLONG restsUntil = 0; // fired: armed again then
};

std::vector<std::unique_ptr<TWatch>> watches;
std::vector<HANDLE> handles;        // of the armed watches
std::vector<TWatch*> handleWatches; // the watch of each handle

bool IsFolder(const TWatch& watch) { return watch.kind == TWatchKind::Folder || watch.kind == TWatchKind::TaskStore; }

HANDLE HandleOf(const TWatch& watch) { return IsFolder(watch) ? watch.change.Get() : watch.event.Get(); }

bool ArmKey(const TWatch& watch, TWatchedKey& key)
{
    if (!key.key.Valid()
        && RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_NOTIFY | key.view, key.key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    return RegNotifyChangeKeyValue(key.key.Get(), watch.subtree, watch.changes, watch.event.Get(), TRUE) == ERROR_SUCCESS;
}

// A Startup folder as Shell Folders names it now, or the store; its parent
// while it is missing, so that its making is seen.
bool ArmFolder(TWatch& watch)
{
    watch.change.Reset();
    TWideString folder;
    if (watch.kind == TWatchKind::TaskStore) {
        TaskStore(folder);
    } else {
        folder = StartupFolderPath(watch.common);
    }
    if (folder.empty()) {
        return false;
    }
    watch.change.Reset(FindFirstChangeNotificationW(folder.c_str(), watch.subtree, watch.changes));
    if (!watch.change.Valid()) {
        watch.change.Reset(FindFirstChangeNotificationW(ParentPath(folder).c_str(), FALSE, FOLDER_CHANGES));
    }
    return watch.change.Valid();
}

// A key's notification is armed again on the same key; one that cannot be
// (the key was deleted) is opened anew, or waits for its parent. The
// parents are opened anew: which of them fired is not known.
void Arm(TWatch& watch)
{
    if (IsFolder(watch)) {
        watch.armed = ArmFolder(watch);
        return;
    }
    if (!watch.event.Valid()) {
        watch.event.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    watch.armed = false;
    if (!watch.event.Valid() || !ResetEvent(watch.event.Get())) {
        return;
    }
    for (const std::unique_ptr<TWatchedKey>& key : watch.keys) {
        if (watch.kind == TWatchKind::Parents) {
            key->key.Reset();
        }
        bool armed = ArmKey(watch, *key);
        if (!armed && key->key.Valid()) {
            key->key.Reset();
            armed = ArmKey(watch, *key);
        }
        watch.armed = watch.armed || armed;
    }
}

void CollectHandles()
{
    handles.clear();
    handleWatches.clear();
    for (const std::unique_ptr<TWatch>& watch : watches) {
        if (watch->armed && watch->restsUntil == 0) {
            handles.push_back(HandleOf(*watch));
            handleWatches.push_back(watch.get());
        }
    }
}

// After its rest: the parents open every guarded key anew (one may have
// been made, deleted or made again), Shell Folders moves the folder watches.
void Rearm(TWatch& watch)
{
    watch.restsUntil = 0;
    Arm(watch);
    const TWatchKind moved = watch.kind == TWatchKind::Parents ? TWatchKind::Key
        : watch.kind == TWatchKind::ShellFolders              ? TWatchKind::Folder
                                                              : watch.kind;
    for (const std::unique_ptr<TWatch>& other : watches) {
        if (moved == watch.kind || other->kind != moved) {
            continue;
        }
        for (const std::unique_ptr<TWatchedKey>& key : other->keys) {
            key->key.Reset();
        }
        if (other->restsUntil == 0) {
            Arm(*other);
        }
    }
}

TWatch& AddWatch(TWatchKind kind, bool subtree, DWORD changes)
{
    watches.push_back(std::make_unique<TWatch>());
    TWatch& watch = *watches.back();
    watch.kind = kind;
    watch.subtree = subtree;
    watch.changes = changes;
    return watch;
}

void AddKey(TWatch& watch, HKEY root, const TWideString& path, REGSAM view)
{
    for (const std::unique_ptr<TWatchedKey>& key : watch.keys) {
        if (key->root == root && key->view == view && SamePath(key->path, path)) {
            return;
        }
    }
    watch.keys.push_back(std::make_unique<TWatchedKey>());
    TWatchedKey& key = *watch.keys.back();
    key.root = root;
    key.path = path;
    key.view = view;
}

// A guarded key, and its parent, for the key made or deleted: a watch on a
// whole tree is not told when the key itself goes (seen under Wine).
void AddGuardedKey(TWatch& parents, HKEY root, const TWideString& path, REGSAM view, bool subtree)
{
    AddKey(AddWatch(TWatchKind::Key, subtree, KEY_CHANGES), root, path, view);
    AddKey(parents, root, ParentPath(path), view);
}

} // namespace

void StartWatching()
{
    StopWatching();
    TWatch& parents = AddWatch(TWatchKind::Parents, false, PARENT_CHANGES);
    for (const TKeyLocation& location : KeyLocations(OnWindows64())) {
        AddGuardedKey(parents, location.root, location.path, location.view, location.levels != TLevels::Key);
    }
    // Task Manager's switches, so that an entry switched on is asked about at once.
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        AddGuardedKey(parents, root, STARTUP_APPROVED_KEY, NativeView(OnWindows64()), true);
    }
    AddKey(AddWatch(TWatchKind::Key, false, KEY_CHANGES), HKEY_CURRENT_USER, WIN_INI_KEY, 0);
    // Services keep state below their own keys: a burst of such writes makes one check.
    AddGuardedKey(parents, HKEY_LOCAL_MACHINE, SERVICES_KEY, 0, true);
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        AddKey(AddWatch(TWatchKind::ShellFolders, false, KEY_CHANGES), root, SHELL_FOLDERS_KEY, 0);
    }
    for (const bool common : {false, true}) {
        AddWatch(TWatchKind::Folder, false, FOLDER_CHANGES).common = common;
    }
    TWideString store;
    if (TaskStore(store) != TStore::Closed) {
        AddWatch(TWatchKind::TaskStore, true, STORE_CHANGES);
    } else {
        AddGuardedKey(parents, HKEY_LOCAL_MACHINE, TASK_CACHE_KEY, NativeView(OnWindows64()), true);
    }
    for (const std::unique_ptr<TWatch>& watch : watches) {
        Arm(*watch);
    }
    CollectHandles();
}

void StopWatching()
{
    handles.clear();
    handleWatches.clear();
    watches.clear();
}

DWORD WatchCount() { return static_cast<DWORD>(handles.size()); }

const HANDLE* WatchHandles() { return handles.data(); }

void WatchSignalled(DWORD index, ULONGLONG now)
{
    if (index < handleWatches.size()) {
        handleWatches[index]->restsUntil = now + REST_MS;
        CollectHandles();
    }
}

ULONGLONG NextRearm()
{
    ULONGLONG next = 0;
    for (const std::unique_ptr<TWatch>& watch : watches) {
        if (watch->restsUntil != 0 && (next == 0 || watch->restsUntil < next)) {
            next = watch->restsUntil;
        }
    }
    return next;
}

void RearmWatches(ULONGLONG now, bool all)
{
    bool rearmed = false;
    for (const std::unique_ptr<TWatch>& watch : watches) {
        if (watch->restsUntil != 0 && (all || now >= watch->restsUntil)) {
            Rearm(*watch);
            rearmed = true;
        }
    }
    if (rearmed) {
        CollectHandles();
    }
}
