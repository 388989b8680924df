// The xz command as a child process: it reads the image file itself on its
// standard input (a descriptor of its own, opened on the file the tool reads)
// and gives the compressed stream back on a pipe, so nothing is made beside
// the input. The tool proves the stream by decoding it, so what xz read need
// not pass through the tool to be known to be the image.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

struct XzChild {
    pid_t pid = -1;
    int out_fd = -1;  // xz's standard output, until the stream ends

    XzChild() = default;
    XzChild(const XzChild&) = delete;
    XzChild& operator=(const XzChild&) = delete;
    ~XzChild();  // kills and reaps an xz still running
};

// Starts `xz -T1 --lzma2=dict=32KiB --check=crc32 -c`, found on the search
// path, reading `input_fd` as its standard input, with the tool's environment
// less XZ_OPT and XZ_DEFAULTS, so that the stream does not depend on the
// host's defaults. xz's messages go to the tool's standard error. Here and
// below, `error` is the reason on failure ("not found", "exit status 1",
// "killed by signal 9", ...).
bool xz_start(XzChild& xz, int input_fd, std::string& error);

// Waits until xz has output and reads what it has into `output`, `got`
// bytes; none once the stream has ended. On failure xz has been reaped and
// `error` says why.
bool xz_read(XzChild& xz, uint8_t* output, size_t output_size, size_t& got, std::string& error);

// True once the stream has ended.
inline bool xz_output_ended(const XzChild& xz) { return xz.out_fd < 0; }

// Reaps xz after its stream ended: true when it exited with status 0.
bool xz_wait(XzChild& xz, std::string& error);

// Kills and reaps xz, for a run that gives up.
void xz_abort(XzChild& xz);
