// The packing run on its own: a raw image in, an OTA file out, and what the
// run learnt, returned rather than printed. The tool prints around it; the
// library calls it with nothing to print. It installs no handler and changes
// no process-wide state.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "format/ota_header.h"
#include "pack/failure.h"
#include "text/progress.h"

struct PackRequest {
    std::string input;
    OtaMode mode = OtaMode::image_copy;
    std::string output;  // empty: derived from the input's name
    // The status line: drawn on standard error only when the choice and the
    // terminal say so (the library asks for none).
    ProgressChoice progress = ProgressChoice::never;
    bool stderr_terminal = false;
    const char* tool = "image_gen_header";  // names the status line
};

// Called as the run learns each thing, so that a caller can print it in its
// place (the size line comes before the image is read). Either may be empty.
struct PackEvents {
    std::function<void(uint64_t image_size)> image_size;
    // A likely mistake in the input, which is packed all the same.
    std::function<void(const std::string& subject, const std::string& what)> warning;
};

// What the run came to. Each value is there once it was learnt, so that a
// failed run still tells what came before its failure.
struct PackOutcome {
    std::string output;  // where the OTA file goes (derived, or as given)
    std::optional<uint64_t> image_size;
    std::optional<uint16_t> image_crc;
    std::optional<uint32_t> payload_size;  // for image_compress, the stream's
    std::optional<uint16_t> payload_crc;
    PackFailure failure;  // no kind: the OTA file is in place
};

// Memory that runs out is thrown (std::bad_alloc), as anywhere else; the
// owners have undone what the run made by then.
PackOutcome pack_file(const PackRequest& request, const PackEvents& events);
