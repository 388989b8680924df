// The two forms of ota_info's report: a listing, one field a line, and JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "verify/ota_verify.h"

// What ota_info adds to the checks' report when asked.
struct ReportExtras {
    std::optional<uint64_t> max_size;  // --max-size: the slot the file must fit
    bool sha256 = false;               // --sha256: the digests below, in hexadecimal
    std::string file_sha256;
    std::string image_sha256;  // empty when the image is not known
};

// "0x100000, 75.0% used, 262144 bytes free" (or "N bytes over"): how full
// the slot is. The percent is truncated, so 100.0% means full to the byte.
std::string slot_text(uint64_t file_size, uint64_t max_size);

std::string ota_listing(const std::string& file, const OtaReport& report, const ReportExtras& extras = {});
std::string ota_json(const std::string& file, const OtaReport& report, const ReportExtras& extras = {});
// The object of a file that could not be read: the same keys, "valid" false,
// the reason as its one problem, and null for everything else.
std::string ota_json_unreadable(const std::string& file, const std::string& reason);
