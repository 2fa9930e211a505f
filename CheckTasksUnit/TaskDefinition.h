#pragma once

// A scheduled task's definition, the XML text Windows keeps of it, read with
// XmlLite (Windows' own reader, in every Windows since Vista), which is
// loaded from the system folder when first needed.

#include "registry_profile.h"

#include <vector>

struct TTaskDefinition {
    bool enabled = true;
    // Every Exec action, in order: its command and arguments, and its
    // working folder where it has one; empty when it starts no program.
    TWideString command;
    std::size_t programs = 0; // Exec actions
    std::vector<TWideString> commandLines; // each Exec action's command and arguments
    // When it runs, in words: at logon, at the start of Windows, daily,
    // every N minutes, ...
    TWideString triggers;
};

// Reads a definition from its bytes, in any encoding XmlLite reads: UTF-16
// of either byte order, with its byte-order mark or without, UTF-8, or the
// code page its declaration names; false when they are no well-formed task
// definition (one with a DTD is none: the scheduler refuses it).
bool ReadTaskDefinition(const std::string& bytes, TTaskDefinition& definition);

// The definition as Windows exports a task: UTF-16 with its byte-order
// mark, its XML declaration naming UTF-16. Bytes in an encoding the program
// cannot decode are kept as they are: their declaration names it.
std::string ExportedDefinition(const std::string& bytes);
