#include "Watch.h"

#include "CheckINIUnit.h"
#include "CheckRegistryUnit.h"
#include "CheckStartupUnit.h"
#include "MainState.h"
#include "ScopedHandle.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr DWORD KEY_CHANGES = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
// A parent counts only for its subkeys made or deleted: its own values change
// all the time (Windows and programs keep state in CurrentVersion).
constexpr DWORD PARENT_CHANGES = REG_NOTIFY_CHANGE_NAME;
constexpr DWORD FOLDER_CHANGES = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
// A watch that fired rests this long before it is armed again: a program
// that writes a watched key in a loop then wakes the watch a few times a
// second, not once for every write.
constexpr ULONGLONG REST_MS = 250;

enum class TWatchKind {
    Key,          // a guarded key (whole, with its subkeys)
    Parent,       // a guarded key's parent: a key made or deleted below it
    ShellFolders, // where the Startup folders are named
    Folder,       // a Startup folder, or its parent while it is missing
};

struct TWatch {
    TWatchKind kind = TWatchKind::Key;
    HKEY root = nullptr;
    TWideString path; // below Root
    REGSAM view = 0;
    bool subtree = false;
    DWORD changes = KEY_CHANGES;
    bool common = false; // a Folder: the common Startup folder, not the user's
    TRegKey key;
    TKernelHandle event;
    TChangeHandle change;
    bool armed = false;
    ULONGLONG restsUntil = 0; // fired: armed again then
};

std::vector<std::unique_ptr<TWatch>> watches;
std::vector<HANDLE> handles;       // of the armed watches
std::vector<TWatch*> handleWatches; // the watch of each handle

HANDLE HandleOf(const TWatch& watch) { return watch.kind == TWatchKind::Folder ? watch.change.Get() : watch.event.Get(); }

bool ArmKey(TWatch& watch)
{
    if (!watch.key.Valid()
        && RegOpenKeyExW(watch.root, watch.path.c_str(), 0, KEY_NOTIFY | watch.view, watch.key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    if (!watch.event.Valid()) {
        watch.event.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    return watch.event.Valid() && ResetEvent(watch.event.Get())
        && RegNotifyChangeKeyValue(watch.key.Get(), watch.subtree, watch.changes, watch.event.Get(), TRUE) == ERROR_SUCCESS;
}

// A folder as Shell Folders names it now; its parent while it is missing,
// so that its making is seen.
bool ArmFolder(TWatch& watch)
{
    watch.change.Reset();
    const TWideString folder = StartupFolderPath(watch.common);
    if (folder.empty()) {
        return false;
    }
    watch.change.Reset(FindFirstChangeNotificationW(folder.c_str(), FALSE, FOLDER_CHANGES));
    if (!watch.change.Valid()) {
        watch.change.Reset(FindFirstChangeNotificationW(ParentPath(folder).c_str(), FALSE, FOLDER_CHANGES));
    }
    return watch.change.Valid();
}

// A key's notification is armed again on the same key; one that cannot be
// (the key was deleted) is opened anew, or waits for its parent.
void Arm(TWatch& watch)
{
    if (watch.kind == TWatchKind::Folder) {
        watch.armed = ArmFolder(watch);
        return;
    }
    watch.armed = ArmKey(watch);
    if (!watch.armed && watch.key.Valid()) {
        watch.key.Reset();
        watch.armed = ArmKey(watch);
    }
}

bool IsChildOf(const TWatch& child, const TWatch& parent)
{
    return child.kind == TWatchKind::Key && child.root == parent.root && child.view == parent.view
        && SamePath(ParentPath(child.path), parent.path);
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

// After its rest: a parent opens its keys anew (one may have been made,
// deleted or made again), Shell Folders moves the folder watches.
void Rearm(TWatch& watch)
{
    watch.restsUntil = 0;
    Arm(watch);
    for (const std::unique_ptr<TWatch>& other : watches) {
        const bool moved = watch.kind == TWatchKind::ShellFolders && other->kind == TWatchKind::Folder;
        if (IsChildOf(*other, watch) || moved) {
            other->key.Reset();
            if (other->restsUntil == 0) {
                Arm(*other);
            }
        }
    }
}

void AddWatch(TWatchKind kind, HKEY root, const TWideString& path, REGSAM view, bool subtree, DWORD changes)
{
    for (const std::unique_ptr<TWatch>& watch : watches) {
        if (watch->kind == kind && watch->root == root && watch->view == view && SamePath(watch->path, path)) {
            return;
        }
    }
    auto watch = std::make_unique<TWatch>();
    watch->kind = kind;
    watch->root = root;
    watch->path = path;
    watch->view = view;
    watch->subtree = subtree;
    watch->changes = changes;
    watches.push_back(std::move(watch));
}

// A guarded key, whole, and its parent, for the key made or deleted: a watch
// on a whole tree is not told when the key itself goes (seen under Wine).
void AddKeyWithParent(HKEY root, const TWideString& path, REGSAM view)
{
    AddWatch(TWatchKind::Key, root, path, view, true, KEY_CHANGES);
    AddWatch(TWatchKind::Parent, root, ParentPath(path), view, false, PARENT_CHANGES);
}

} // namespace

void StartWatching()
{
    StopWatching();
    for (const TRunLocation& location : RunLocations(OnWindows64())) {
        AddKeyWithParent(location.root, location.path, location.view);
    }
    // Task Manager's switches, so that an entry switched on is asked about at once.
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        AddKeyWithParent(root, STARTUP_APPROVED_KEY, NativeView(OnWindows64()));
    }
    AddWatch(TWatchKind::Key, HKEY_CURRENT_USER, WIN_INI_KEY, 0, false, KEY_CHANGES);
    AddWatch(TWatchKind::ShellFolders, HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, 0, false, KEY_CHANGES);
    AddWatch(TWatchKind::ShellFolders, HKEY_LOCAL_MACHINE, SHELL_FOLDERS_KEY, 0, false, KEY_CHANGES);
    for (const bool common : {false, true}) {
        auto folder = std::make_unique<TWatch>();
        folder->kind = TWatchKind::Folder;
        folder->common = common;
        watches.push_back(std::move(folder));
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
