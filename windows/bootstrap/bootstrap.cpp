#include "bootstrap/bootstrap.h"

#include "launcher/log.h"

void runBootstrap(void* dialog) {
    // Extraction and the Java launch build on this entry point; for now it
    // records how it was reached.
    logMessage(L"bootstrap requested (%s)", dialog ? L"progress dialog" : L"no dialog");
}
