// Native splash window. Builds without it keep the calls and do nothing.
#pragma once

// Starts the splash thread with the process's show command; a show command
// of 0 (SW_HIDE) is a hide request.
void showSplash(int showCommand);
// Callable from any thread; also before the window exists.
void hideSplash();
