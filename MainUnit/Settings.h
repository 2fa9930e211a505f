#pragma once

// Where the allowed list lives, and making sure the file exists.

#include "registry_profile.h"

// AppData\Runwarden\options.ini, or options.ini beside the program when the
// registry names no application-data folder. Creates the folder and an empty
// file when the file is missing; on failure it tells the user (the box has no
// owner: it runs before the main window exists) and still returns the path.
TWideString GetSettingsPath();

bool SettingsFileExists(const TWideString& path);
bool CreateSettingsFile(const TWideString& folder, const TWideString& fileName);
// The program's folder with its trailing backslash.
TWideString GetProgramFolder();
