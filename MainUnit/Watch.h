#pragma once

// Watches every place a check run looks at, without polling: change
// notifications on the guarded keys and Task Manager's startup switches
// (and on each one's parent, so that a key made later is seen), on the key
// where Windows NT keeps win.ini's lists, on both Shell Folders keys and on
// both Startup folders. What cannot be watched is left out.
//
// A notification fires once. The watch that fired rests a moment and is
// then armed again, alone: a parent's opens its keys anew, a Shell Folders
// watch moves the folder watches. The message loop waits on the handles of
// the armed watches.

#include <windows.h>

void StartWatching();
void StopWatching();
DWORD WatchCount();
const HANDLE* WatchHandles();
// The watch of WatchHandles()[Index] fired at Now: it leaves the handles
// until it is armed again.
void WatchSignalled(DWORD index, ULONGLONG now);
// When the next resting watch is due to be armed again; 0 for none.
ULONGLONG NextRearm();
// Arms again the watches whose rest is over at Now, or all that rest
// (before a check, so that a change made during it is seen).
void RearmWatches(ULONGLONG now, bool all);
