#pragma once

// Deferred deletion driven by an instruction file; returns the exit code.
int runDeferredDeletion(const wchar_t* instructionFile, int flags);
