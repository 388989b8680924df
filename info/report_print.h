// The two forms of ota_info's report: a listing, one field a line, and JSON.
#pragma once

#include <string>

#include "verify/ota_verify.h"

std::string ota_listing(const std::string& file, const OtaReport& report);
std::string ota_json(const std::string& file, const OtaReport& report);
// The object of a file that could not be read: the same keys, "valid" false,
// the reason as its one problem, and null for everything else.
std::string ota_json_unreadable(const std::string& file, const std::string& reason);
