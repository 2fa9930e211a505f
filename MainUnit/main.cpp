#include "MainUnit.h"

#include <cstdlib>

// The runtime's default handler for an escaping exception prints the
// exception's demangled type with the C library's printf: defining it here
// keeps the demangler and printf's number formatting out of the program.
// Nothing escapes on purpose; should anything, the program ends as abort()
// ends it.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
} // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return RunwardenMain(instance, GetCommandLineW());
}
