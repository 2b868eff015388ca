// The Java runtime chosen for this run.
#pragma once

#include <string>

// Home directory of the selected runtime (narrow); empty until one is chosen.
extern std::string jvmHome;
