// Checks and decodes the xz stream of an image_compress payload a chunk at a
// time, through a fixed output buffer, so that memory stays the same however
// much a stream claims or expands to. Built from liblzma's own decoders for
// the stream header and footer, the block headers, the blocks and the index.
//
// Besides decoding, it holds the stream to the form the packer makes and a
// device's decoder is sized for: exactly one stream, CRC32 checks, and blocks
// with one filter, LZMA2, whose dictionary is at most 32 KiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

constexpr uint32_t kXzMaxDictionary = 32 << 10;
// For a block's decoder: a 32 KiB dictionary needs about 100 KiB.
constexpr uint64_t kXzDecoderMemoryLimit = uint64_t{1} << 20;

struct XzStreamLimits {
    uint64_t max_output;    // decoding stops with a problem once output passes this
    uint64_t memory_limit;  // for a block's decoder (dictionary and such)
};

// Where decoded bytes go, as they come; may be empty.
using ByteSink = std::function<void(const uint8_t* data, size_t size)>;

// What is wrong with a stream.
enum class XzProblemKind {
    form,      // a departure from the form asked for that decoding goes on past (its check, say)
    fatal,     // decoding stopped: the stream is unsound, or of a form it does not decode
    too_long,  // decoding stopped where the output passed max_output
};
struct XzProblem {
    XzProblemKind kind;
    std::string text;
};

// CRC-64 (ECMA-182, as xz's own check) of data, continued from `crc`:
// stronger than CRC-16 where two byte strings must be told apart.
uint64_t crc64_update(uint64_t crc, const uint8_t* data, size_t size);

// liblzma's state and the buffers of a stream being decoded, kept in
// xz_stream.cpp so that liblzma stays inside this library.
struct XzDecoder;

struct XzStream {
    XzStreamLimits limits{};
    ByteSink sink;
    bool stopped = false;             // a problem ended decoding
    std::vector<XzProblem> problems;  // form departures, and what stopped decoding
    std::string check;                // "CRC32", "CRC64", ... once the header is read

    uint64_t output_size = 0;   // decoded so far
    uint16_t output_crc = 0;    // CRC-16/XMODEM of the decoded bytes
    uint64_t output_crc64 = 0;  // and their CRC-64

    std::unique_ptr<XzDecoder> decoder;

    XzStream();
    XzStream(const XzStream&) = delete;
    XzStream& operator=(const XzStream&) = delete;
    ~XzStream();  // releases liblzma's state
};

void xz_stream_begin(XzStream& xz, const XzStreamLimits& limits, ByteSink sink);
// Takes the next bytes of the stream.
void xz_stream_feed(XzStream& xz, const uint8_t* data, size_t size);
// After the last bytes: true when exactly one complete, sound stream was
// decoded within the limits (form departures are problems but not failures
// of decoding). Releases liblzma's state.
bool xz_stream_end(XzStream& xz);
