#pragma once

// The Startup-folder checker: asks about every file in the user's and the
// common Startup folder that the allowed list does not know, moves it aside
// or records it, and rewrites the folder's section of the allowed list.

#include "User.h"

#include <windows.h>

#include <vector>

// The user's or the common Startup folder as the shell's "Shell Folders" key
// names it now; empty when it names none.
TWideString StartupFolderPath(bool common);

// Both folders, as the shell's "Shell Folders" key names them now.
void CheckStartup(TUser& user);

// One folder. Folder ends with "\"; Section is the folder's allowed-list
// section, rewritten when the folder is done (erased when it cannot be listed);
// SwitchRoot holds the folder's Task Manager switches.
void CheckStartupFolder(TUser& user, const TWideString& folder, const TWideString& mask, const TWideString& section,
                        HKEY switchRoot);

// Names in a folder that are no entries: ".", ".." and desktop.ini; Name in
// lower case.
bool IsSkippedName(const TWideString& lowerName);
TWideString LowerCase(TWideString text);
// The name of a file directly in the common Startup folder that a check
// would ask about; false for any other path. Paths compare as Windows
// compares them; a slash or a colon in the name would reach out of the
// folder or into a stream.
bool InCommonStartup(const TWideString& path, TWideString& name);
