#include "jvm/jvm_selection.h"

std::string jvmHome;
