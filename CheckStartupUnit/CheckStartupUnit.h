#pragma once

// The Startup-folder checker: asks about every file in the user's and the
// common Startup folder that the allowed list does not know, deletes or
// records it, and rewrites the folder's section of the allowed list.

#include "User.h"

#include <string>

// The user's or the common Startup folder as the shell's "Shell Folders" key
// names it now; empty when it names none.
std::string StartupFolderPath(bool common);

// Both folders, as the shell's "Shell Folders" key names them now.
void CheckStartup(TUser& user);

// One folder. Folder ends with "\"; Section is the folder's allowed-list
// section, rewritten when the folder is done (erased when it cannot be listed).
void CheckStartupFolder(TUser& user, const std::string& folder, const std::string& mask,
                        const std::string& section);

// One entry, Path being the folder text and the lower-cased name. Appends the
// entry's record to Records when it stays in the folder.
void CheckStartupFile(TUser& user, std::string& records, const std::string& path, const std::string& section);
