// Where ota_info puts the raw image it extracts: a temporary file beside RAW,
// renamed into place, or for standard output an unnamed temporary file copied
// out only once the image is known to be valid. Calling sequence:
//
//     Extraction x;
//     x.raw = raw;
//     if (!extraction_refusal(raw, input).empty() || !extraction_begin(x, error)) ...
//     extraction_write(x, data, size);  // as the image is found
//     extraction_commit(x, chunk, error);  // only once every check passed
//
// Whatever was not put in place is removed when the Extraction goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sys/atomic_file.h"
#include "sys/file_io.h"

struct Extraction {
    std::string raw;
    AtomicFile out;  // RAW
    int held = -1;   // standard output's unnamed file
    bool failed = false;
    std::string error;

    ~Extraction() { file_close(held); }
};

// Why RAW may not be written, or empty: it is the input itself (under any
// name), or a symbolic link into /dev or /proc (/dev/stderr, say), which is
// part of the system, not a file to replace.
std::string extraction_refusal(const std::string& raw, const InputFile& input);

bool extraction_begin(Extraction& x, std::string& error);
// Takes the next bytes of the image; a failure is kept for the commit.
void extraction_write(Extraction& x, const uint8_t* data, size_t size);
// Puts the checked image in place: RAW renamed, or the held copy sent to
// standard output through `chunk`.
bool extraction_commit(Extraction& x, std::vector<uint8_t>& chunk, std::string& error);
