#include "bootstrap/splash.h"

#include "launcher/log.h"

#ifndef STUB_NO_SPLASH

namespace {
// Set by a hide request; a request that comes before the window exists
// prevents its creation for good.
volatile bool splashHidden = false;
bool splashStarted = false;
}  // namespace

void showSplash(int showCommand) {
    if (showCommand == 0) {
        hideSplash();
        return;
    }
    // The window itself comes with the splash thread; until then only the
    // request is recorded.
    logMessage(L"Starting splash screen thread");
    splashStarted = true;
}

void hideSplash() {
    if (splashStarted && !splashHidden) logMessage(L"hide splash screen");
    splashHidden = true;
}

#else

void showSplash(int) {}
void hideSplash() {}

#endif
