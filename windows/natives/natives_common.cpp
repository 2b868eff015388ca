#include "natives/natives_common.h"

#include <windows.h>

void preloadShellDependencies() {
    static bool done = false;
    if (done) return;
    done = true;
    LoadLibraryW(L"davhlpr.dll");
    LoadLibraryW(L"fwbase.dll");
}
