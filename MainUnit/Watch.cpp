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

struct TKeyWatch {
    TRegKey key;
    TKernelHandle event;
};

std::vector<std::unique_ptr<TKeyWatch>> keyWatches;
std::vector<std::unique_ptr<TChangeHandle>> folderWatches;
std::vector<HANDLE> handles;

bool WatchKey(HKEY root, const TWideString& path, REGSAM view, BOOL subtree, DWORD changes = KEY_CHANGES)
{
    auto watch = std::make_unique<TKeyWatch>();
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_NOTIFY | view, watch->key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    watch->event.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!watch->event.Valid()
        || RegNotifyChangeKeyValue(watch->key.Get(), subtree, changes, watch->event.Get(), TRUE) != ERROR_SUCCESS) {
        return false;
    }
    handles.push_back(watch->event.Get());
    keyWatches.push_back(std::move(watch));
    return true;
}

bool WatchFolder(const TWideString& folder)
{
    auto watch = std::make_unique<TChangeHandle>(FindFirstChangeNotificationW(folder.c_str(), FALSE, FOLDER_CHANGES));
    if (!watch->Valid()) {
        return false;
    }
    handles.push_back(watch->Get());
    folderWatches.push_back(std::move(watch));
    return true;
}

TWideString ParentOf(const TWideString& path)
{
    const std::size_t slash = path.rfind(L'\\');
    return slash == TWideString::npos ? TWideString() : path.substr(0, slash);
}

} // namespace

void StartWatching()
{
    StopWatching();
    std::vector<std::pair<HKEY, REGSAM>> parents;
    for (const TRunLocation& location : RunLocations(OnWindows64())) {
        // RunOnceEx keeps its entries in subkeys: every key is watched whole.
        WatchKey(location.root, location.path, location.view, TRUE);
        // A key made or deleted shows in its parent; a watch on a whole tree
        // is not told when the key itself goes (seen under Wine).
        const std::pair<HKEY, REGSAM> parent(location.root, location.view);
        if (std::find(parents.begin(), parents.end(), parent) == parents.end()) {
            parents.push_back(parent);
            WatchKey(location.root, ParentOf(location.path), location.view, FALSE, PARENT_CHANGES);
        }
    }
    // Task Manager's switches, whole, so that an entry switched on is asked
    // about at once; the parent for the key made or deleted, as above.
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        WatchKey(root, STARTUP_APPROVED_KEY, NativeView(OnWindows64()), TRUE);
        WatchKey(root, ParentOf(STARTUP_APPROVED_KEY), NativeView(OnWindows64()), FALSE, PARENT_CHANGES);
    }
    WatchKey(HKEY_CURRENT_USER, WIN_INI_KEY, 0, FALSE);
    WatchKey(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, 0, FALSE);
    WatchKey(HKEY_LOCAL_MACHINE, SHELL_FOLDERS_KEY, 0, FALSE);
    for (const bool common : {false, true}) {
        const TWideString folder = StartupFolderPath(common);
        if (!folder.empty() && !WatchFolder(folder)) {
            WatchFolder(ParentOf(folder));
        }
    }
}

void StopWatching()
{
    handles.clear();
    keyWatches.clear();
    folderWatches.clear();
}

DWORD WatchCount() { return static_cast<DWORD>(handles.size()); }

const HANDLE* WatchHandles() { return handles.data(); }
