#include "ProgramPath.h"

std::vector<TProgramFile> CommandFiles(const TWideString&) { return {}; }
std::vector<TProgramFile> EntryFileFiles(const TWideString&) { return {}; }
std::vector<TProgramFile> LibraryFiles(const TWideString&) { return {}; }
