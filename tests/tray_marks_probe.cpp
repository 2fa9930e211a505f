// Reports which startup item the program marks at start when it runs from
// this program's folder: the tests copy it into folders whose names hold
// blanks. The hidden window is created as the program creates it; the exit
// code is the marked command (104 to 106), or 1 when not exactly one item is
// marked.

#include "tray_support.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const TMainWindowHere window;
    const std::vector<UINT> marked = MarkedStartupItems(window.Menu());
    return marked.size() == 1 ? static_cast<int>(marked.front()) : 1;
}
