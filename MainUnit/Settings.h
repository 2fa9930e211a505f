#pragma once

// Where the allowed list lives, and making sure the file exists.

#include <string>

// AppData\Runwarden\options.ini, or options.ini beside the program when the
// registry names no application-data folder. Creates the folder and an empty
// file when the file is missing; on failure it tells the user (the box has no
// owner: it runs before the main window exists) and still returns the path.
std::string GetSettingsPath();

bool SettingsFileExists(const std::string& path);
bool CreateSettingsFile(const std::string& folder, const std::string& fileName);
// The program's folder with its trailing backslash.
std::string GetProgramFolder();
