#include "format/xz_decode.h"

#include <lzma.h>

#include <algorithm>

namespace {

std::string check_name(lzma_check check) {
    switch (check) {
        case LZMA_CHECK_NONE: return "None";
        case LZMA_CHECK_CRC32: return "CRC32";
        case LZMA_CHECK_CRC64: return "CRC64";
        case LZMA_CHECK_SHA256: return "SHA-256";
        default: return "unknown (" + std::to_string(static_cast<int>(check)) + ")";
    }
}

std::string lzma_error(lzma_ret ret) {
    switch (ret) {
        case LZMA_MEM_ERROR: return "out of memory";
        case LZMA_MEMLIMIT_ERROR: return "needs more memory than allowed";
        case LZMA_FORMAT_ERROR: return "not an xz stream";
        case LZMA_OPTIONS_ERROR: return "unsupported options";
        case LZMA_DATA_ERROR: return "corrupt";
        case LZMA_BUF_ERROR: return "truncated";
        default: return "decoder error " + std::to_string(static_cast<int>(ret));
    }
}

// The output grows with what the stream really yields, never to the size a
// header claims: a few bytes of input cannot make us allocate gigabytes.
constexpr size_t kFirstChunk = size_t{64} << 10;

}  // namespace

XzDecodeResult xz_decode(const uint8_t* input, size_t input_size, const XzDecodeLimits& limits) {
    XzDecodeResult result;
    lzma_stream stream = LZMA_STREAM_INIT;
    lzma_ret ret = lzma_stream_decoder(&stream, limits.memory_limit, LZMA_TELL_ANY_CHECK);
    if (ret != LZMA_OK) {
        result.error = "xz decoder: " + lzma_error(ret);
        return result;
    }
    stream.next_in = input;
    stream.avail_in = input_size;

    // One byte past the limit, so that passing it is seen rather than silently cut.
    const uint64_t cap = limits.max_output + 1;
    size_t produced = 0;
    for (;;) {
        if (stream.avail_out == 0) {
            if (produced >= cap) break;
            size_t grown = std::max(kFirstChunk, result.output.size() * 2);
            grown = static_cast<size_t>(std::min<uint64_t>(grown, cap));
            result.output.resize(grown);
            stream.next_out = result.output.data() + produced;
            stream.avail_out = grown - produced;
        }
        ret = lzma_code(&stream, LZMA_FINISH);
        produced = result.output.size() - stream.avail_out;
        if (ret == LZMA_GET_CHECK) {
            result.check = check_name(lzma_get_check(&stream));
            continue;
        }
        if (ret == LZMA_STREAM_END) {
            if (stream.avail_in != 0) {
                result.error = "data after the end of the xz stream";
            } else {
                result.ok = produced <= limits.max_output;
            }
            break;
        }
        if (ret != LZMA_OK) {
            result.error = "xz stream " + lzma_error(ret);
            break;
        }
    }
    if (produced > limits.max_output) {
        result.ok = false;
        result.output_exceeded = true;
        result.error = "xz stream decodes to more than " + std::to_string(limits.max_output) + " bytes";
    }
    result.output.resize(produced);
    lzma_end(&stream);
    return result;
}
