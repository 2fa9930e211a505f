#pragma once

// Which files an entry makes Windows start, found as Windows finds them.

#include "Texts.h"

#include <vector>

// One file an entry starts: where it was found, or, when it was not, the
// name that was looked for (Found false).
struct TProgramFile {
    TWideString path;
    bool found = false;
    // On another computer (a share, a mapped network drive): never looked
    // at, since touching it would send the user's credentials to whoever
    // named it.
    bool remote = false;
};

// The files a command line starts: its program (the first token, quoted or
// not; an unquoted path with blanks tried as CreateProcess tries it;
// environment variables expanded; a bare name looked up where Windows looks
// for it: the system folder, the Windows folder, App Paths, PATH), and what
// a host program is given to run: the DLL of rundll32 and regsvr32, the
// script or file of cmd /c, powershell, wscript, cscript and mshta, where
// the command names one.
std::vector<TProgramFile> CommandFiles(const TWideString& commandLine);
// The files a file entry starts: a shortcut's target (and what its
// arguments name, as for a command line); any other file (a .url, .bat,
// .cmd, .vbs, .js, .ps1, ...) itself.
std::vector<TProgramFile> EntryFileFiles(const TWideString& path);
// A DLL named by a path or a bare name (AppInit, AppCert, a service's DLL),
// found where the loader finds it.
std::vector<TProgramFile> LibraryFiles(const TWideString& name);
