// Where ota_info puts the raw image it extracts: a temporary file beside RAW,
// renamed into place, or for standard output an unnamed temporary file copied
// out only once the image is known to be valid. Calling sequence:
//
//     Extraction x;
//     if (!x.begin(raw, input, subject, error)) ...  // refused, or no file to write
//     x.write(data, size);                          // as the image is found
//     x.commit(chunk, subject, error);              // only once every check passed
//
// Whatever was not put in place is removed when the Extraction goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sys/atomic_file.h"
#include "sys/descriptor.h"
#include "sys/input_file.h"
#include "sys/system_paths.h"

class Extraction {
public:
    // Refuses RAW that is the input itself (under any name), or a symbolic
    // link into /dev or /proc (/dev/stderr, say), which is part of the
    // system, not a file to replace; standard output that is the input file
    // too. Then makes the file the image goes to. On failure `subject` is
    // what the message is about: RAW, or the temporary directory.
    bool begin(const FileArg& raw, const InputFile& input, std::string& subject, std::string& error);

    // Takes the next bytes of the image; a failure is kept for the commit.
    void write(const uint8_t* data, size_t size);

    // Puts the checked image in place: RAW renamed, or the held copy sent to
    // standard output through `chunk`.
    bool commit(std::vector<uint8_t>& chunk, std::string& subject, std::string& error);

private:
    FileArg raw_;
    AtomicFile file_;  // RAW
    Descriptor held_;  // standard output's copy, until it is known valid
    bool failed_ = false;
    std::string error_;
};
