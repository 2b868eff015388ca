#pragma once

#include <string>
#include <vector>

#include "launcher/log.h"

std::vector<std::wstring>& loggedFormats();
