// Program entry: special arguments, initialisation, switches, run modes.
#pragma once

#include <string>
#include <vector>

// The entry sequence; returns the process exit code.
int launcherMain(void* instance, const char* commandTail, int showCommand);

// Log switch, "-temp", configuration, flavour, working directory, Explorer
// offer. May remove elements from `args`.
void initializeLauncher(void* instance, std::vector<std::wstring>& args);

// Evaluates the switches into the run-mode flags.
void evaluateSwitches(const std::vector<std::wstring>& args);

// The Java launcher class of the current flavour, bounded by `size`.
void launcherClassName(char* buffer, std::size_t size);

// Sets `flavour` and `flavourName` from the configuration.
void readFlavour();
