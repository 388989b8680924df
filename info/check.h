// The reading of one OTA file on its own: opened, fed to the checks a chunk
// at a time, measured, digested when asked, and its image extracted when
// asked and valid. What it finds is returned, never printed: ota_info
// prints around it, and the library calls it with nothing to print.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "info/report_print.h"
#include "sys/system_paths.h"
#include "text/progress.h"
#include "verify/ota_verify.h"

struct CheckRequest {
    std::optional<uint64_t> max_size;  // the slot the file must fit
    bool sha256 = false;               // the digests of the file and of its image
    std::optional<FileArg> extract;    // RAW, or standard output
    ProgressChoice progress = ProgressChoice::never;
    bool stderr_terminal = false;
};

struct CheckOutcome {
    enum class End {
        unopened,            // the file could not be opened: `error`, about `subject` (the file)
        unreadable,          // it could not be read: likewise
        extraction_refused,  // RAW could not be begun: `error`, about `subject`
        checked,             // `report` and `extras` tell what was found
    };
    End end = End::unreadable;
    std::string subject;
    std::string error;
    OtaReport report;
    ReportExtras extras;
    // With an extraction asked for, once checked: the image put in place, or
    // not (an invalid file, or a failure told in `error`, about `subject`).
    enum class Extracted { not_asked, invalid, failed, done };
    Extracted extracted = Extracted::not_asked;
};

// `chunk` is the reading's buffer, kChunkSize bytes, reused across files.
CheckOutcome check_ota_file(const std::string& file, const CheckRequest& request, std::vector<uint8_t>& chunk);
