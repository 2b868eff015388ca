#pragma once

// Loads the shell's helper libraries once per process, after the DLL search
// order has been restricted.
void preloadShellDependencies();
