#pragma once

// Attaches to the parent's console, else allocates one. True when the
// process has a console afterwards.
bool attachOrAllocConsole();
