// The executable's entry point; everything else lives in the stub library.
#include <windows.h>

#include "launcher/entry.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int showCommand) {
    return launcherMain(instance, commandTail, showCommand);
}
