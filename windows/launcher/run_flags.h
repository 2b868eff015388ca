// Process-wide run-mode flags. Written on the main thread during start-up
// only; final before the mode dispatch.
#pragma once

extern bool quietMode;
extern bool languageRestart;
extern bool extractAndExit;
extern bool integrityCheck;
extern bool manualJre;
extern bool logRequested;
extern char flavour;
extern const wchar_t* flavourName;

// Module instance handle, kept for resource access.
extern void* launcherInstance;
