#include "User.h"

#include "MainState.h"

#include <windows.h>

void ShowWarning(const std::string& text)
{
    MessageBoxA(MainWnd(), text.c_str(), APP_CAPTION, MB_OK | MB_ICONEXCLAMATION);
}
