#include "bootstrap/windel.h"

#include "launcher/log.h"

int runDeferredDeletion(const wchar_t* instructionFile, int flags) {
    // The deletion itself is built on this entry; it records the request.
    logMessage(L"deferred deletion requested %s %d", instructionFile, flags);
    return 0;
}
