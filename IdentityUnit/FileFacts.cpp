#include "FileFacts.h"

bool ReadVersionFacts(const TWideString&, TVersionFacts&) { return false; }
TSignatureFacts CheckSignature(const TWideString&) { return {}; }
bool IsUserWritable(const TWideString&) { return false; }
