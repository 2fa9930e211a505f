#include "Identity.h"

#include "FileFacts.h"
#include "ProgramPath.h"

TWideString IdentityText(const std::vector<TStartItem>&, DWORD, HWND, UINT) { return TWideString(); }
