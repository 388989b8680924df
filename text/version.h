// What --version says, the same for both tools.
#pragma once

#include <string>

// "TOOL VERSION", then "commit SHA" on a line of its own when the build
// knows the commit it comes from.
std::string version_text(const std::string& tool);
