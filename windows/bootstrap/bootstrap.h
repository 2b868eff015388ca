// The installer bootstrap sequence: extraction, Java runtime, VM launch.
#pragma once

// `dialog` is the progress dialog's window, or null without one.
void runBootstrap(void* dialog);
