#pragma once

// The administrator's helper: the elevated process that removes one entry
// of the machine (Elevation.h is the side that asks, and the switches).
// It trusts nothing its command line says. It acts only on an entry a check
// would ask about, in a place the program guards (paths compared as Windows
// compares them, letter case aside); only while the entry is still what
// the user was shown, by its hash; never through a link; and it writes
// nothing but the one removal: no record, no settings, no window.

#include "registry_profile.h"

#include <vector>

// Runs the helper when Arguments (the program's name first) name one of its
// switches; ExitCode is then the outcome (Elevation.h). False for any other
// command line.
bool RunHelper(const std::vector<TWideString>& arguments, int& exitCode);
