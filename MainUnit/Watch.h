#pragma once

// Watches every place a check run looks at, without polling: change
// notifications on the Run keys and Task Manager's startup switches (on a
// missing key's parent, so that its creation is seen), on the key where
// Windows NT keeps win.ini's lists, on both Shell Folders keys and on both
// Startup folders. A change signals one
// of the handles; the message loop waits on them and builds the watches
// anew after each, so a key or folder made again, or a moved Startup
// folder, is watched at once. What cannot be watched is left out.

#include <windows.h>

void StartWatching();
void StopWatching();
DWORD WatchCount();
const HANDLE* WatchHandles();
