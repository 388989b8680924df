// Runs the xz command that makes the compressed payload.
#pragma once

#include <string>

// The file xz leaves beside its input.
std::string xz_output_name(const std::string& input_path);

// Runs `xz -f --lzma2=dict=32KiB --check=crc32 -k -- INPUT`, found on the
// search path, with the tool's environment, and waits for it. The path is
// passed as one argument, never seen by a shell. True when xz ran and
// exited 0; otherwise `error` says why (not started, its status, its signal).
bool xz_compress_file(const std::string& input_path, std::string& error);
