// The progress dialog (resource 103) and its window class.
#pragma once

// Registers "MyDialogClass"; every run mode except quiet mode needs it.
bool registerDialogClass();
// Shows the modal progress dialog, whose worker runs the bootstrap.
void runProgressDialog();
