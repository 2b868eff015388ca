#include "bootstrap/console.h"

#include <windows.h>

bool attachOrAllocConsole() {
    using AttachConsoleFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto attach = kernel ? reinterpret_cast<AttachConsoleFn>(GetProcAddress(kernel, "AttachConsole"))
                         : nullptr;
    if (attach) {
        if (attach(ATTACH_PARENT_PROCESS)) return true;
        // Access denied means the process already has a console.
        if (GetLastError() == ERROR_ACCESS_DENIED) return true;
    }
    return AllocConsole() != FALSE;
}
