// The packing run of image_gen_header: raw image in, OTA file out.
#pragma once

#include <cstdint>
#include <string>

#include "format/ota_header.h"
#include "tool/work_buffer.h"

// The lines the run prints, on standard output. A failure prints one line
// and ends the run with kPackFailure.
constexpr const char* kSayInputParamError = "input param error";
constexpr const char* kSayMallocFailed = "malloc failed";
constexpr const char* kSayFileOpenError = "file open error";
constexpr const char* kSayFileReadError = "file read error";
constexpr const char* kSayFileWriteError = "file write error";
constexpr const char* kSayImageTooLarge = "image too large";

constexpr int kPackSuccess = 0;
constexpr int kPackFailure = -1;

// Runs `image_gen_header INPUT MODE [ignored...]` and returns main's status.
int pack_run(int argc, char** argv);

// The output name: the input path less its last four bytes, then ".ota.bin".
std::string ota_output_name(const std::string& input_path);

// Sizes and payloads are described by 32-bit words.
constexpr uint64_t kMaxPayloadSize = UINT32_MAX;

void say(const char* line);

// The image_compress half of the run. It takes over with the header holding
// the raw image's words and label, the raw image in `buffer` behind the
// header, and the input still open; it returns main's status.
int pack_compressed(const std::string& input_path, OtaHeader& header, WorkBuffer& buffer, int& input_fd);
