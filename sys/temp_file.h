// A temporary file with no name, for data kept only while a run needs it.
#pragma once

#include <string>

#include "sys/descriptor.h"

// Made in TMPDIR (on Windows, the temporary folder), so that nothing is
// left whatever ends the run. `prefix` names it where a name cannot be
// avoided. `where` is the folder, for a message on failure.
bool unnamed_temp_file(const std::string& prefix, Descriptor& fd, std::string& where, std::string& error);
