// The two forms of ota_info's report: a listing, one field a line, and JSON.
#pragma once

#include <string>

#include "format/ota_verify.h"

// Bytes as ASCII: printable characters stay, a backslash is doubled, any
// other byte is written \xNN. Lossless, and safe on any terminal.
std::string printable(const std::string& bytes);

std::string ota_listing(const std::string& file, const OtaReport& report);
std::string ota_json(const std::string& file, const OtaReport& report);
