#include "MainUnit.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return RunwardenMain(instance, GetCommandLineA());
}
