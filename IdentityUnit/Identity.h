#pragma once

// What the question says of the program an entry starts: its file, maker,
// signature and where it lives. Everything learnt of a file is kept for the
// life of the process, by its path, size and last write time.

#include "Texts.h"

#include <windows.h>

// The lines that tell of every file Starts names. A signature not yet
// checked shows as being checked: the check goes on in the background, and
// Window is posted Message when it is done (call again for the new text).
// WaitMs: how long to wait for the signatures first (INFINITE: until done).
TWideString IdentityText(const std::vector<TStartItem>& starts, DWORD waitMs, HWND window, UINT message);
