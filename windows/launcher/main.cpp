// The executable's entry point; everything else lives in the stub library.
#include <windows.h>

#include <cstdlib>

#include "launcher/entry.h"

// The default terminate handler names the exception's type and so links the
// C++ demangler (45 KB). An uncaught exception ends the process either way.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int showCommand) {
    return launcherMain(instance, commandTail, showCommand);
}
