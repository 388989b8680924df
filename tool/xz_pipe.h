// The xz command as a child process: it is fed the image on one pipe and
// gives the compressed stream back on another, so nothing is made beside the
// input and the bytes compressed are exactly the bytes the tool read.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

struct XzChild {
    pid_t pid = -1;
    int in_fd = -1;   // xz's standard input, until all of the image is given
    int out_fd = -1;  // xz's standard output, until the stream ends
};

// Starts `xz -T1 --lzma2=dict=32KiB --check=crc32 -c`, found on the search
// path, with the tool's environment less XZ_OPT and XZ_DEFAULTS, so that the
// stream does not depend on the host's defaults. xz's messages go to the
// tool's standard error. Here and below, `error` is the reason on failure
// ("not found", "exit status 1", "killed by signal 9", ...).
bool xz_start(XzChild& xz, std::string& error);

// Waits until xz takes input or has output, then gives it what it takes of
// `input` (advancing `input` and `input_size`) and reads what it has into
// `output`, `got` bytes. Once xz_end_input has been called, only reads.
// On failure xz has been reaped and `error` says why.
bool xz_pump(XzChild& xz, const uint8_t*& input, size_t& input_size, uint8_t* output, size_t output_size, size_t& got,
             std::string& error);

// Tells xz the image is complete.
void xz_end_input(XzChild& xz);

// True once the stream has ended.
inline bool xz_output_ended(const XzChild& xz) { return xz.out_fd < 0; }

// Reaps xz after its stream ended: true when it exited with status 0.
bool xz_wait(XzChild& xz, std::string& error);

// Kills and reaps xz, for a run that gives up.
void xz_abort(XzChild& xz);
