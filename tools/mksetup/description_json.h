// The JSON side of the command-line tool: reading a setup description and
// rendering an inspected setup program. The format is described at the top
// of description_json.cpp and in README.md.
#pragma once

#include <optional>
#include <string>

#include "setup_builder.h"

namespace mksetup {

// Parses the description text. Relative "source" paths are resolved against
// `baseDir` (the description's directory). On failure returns nullopt and a
// one-line `error` naming the offending key.
std::optional<SetupDescription> parseDescription(const std::string& jsonText,
                                                 const std::string& baseDir, std::string* error);

// The inspection as pretty-printed JSON (ends with a newline).
std::string inspectionToJson(const InspectResult& result);

}  // namespace mksetup
