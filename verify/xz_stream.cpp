#include "verify/xz_stream.h"

#include <lzma.h>

#include <cstdlib>
#include <cstring>

#include "format/crc16_xmodem.h"
#include "format/hex.h"

namespace {

// Where the stream is, from its header to its footer.
enum class Part { stream_header, block_start, block_header, block, index, footer, after };

}  // namespace

struct XzDecoder {
    Part part = Part::stream_header;
    lzma_stream_flags flags{};
    lzma_block block{};
    lzma_filter filters[LZMA_FILTERS_MAX + 1]{};
    lzma_stream lzma = LZMA_STREAM_INIT;
    lzma_index_hash* index = nullptr;
    uint8_t field[LZMA_BLOCK_HEADER_SIZE_MAX]{};  // a header or footer being gathered
    size_t field_have = 0;
    size_t field_size = 0;
    uint8_t out[64 << 10]{};
};

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

std::string filter_name(lzma_vli id) {
    switch (id) {
        case LZMA_FILTER_LZMA2: return "LZMA2";
        case LZMA_FILTER_LZMA1: return "LZMA1";
        case LZMA_FILTER_DELTA: return "delta";
        case LZMA_FILTER_X86: return "x86";
        case LZMA_FILTER_POWERPC: return "PowerPC";
        case LZMA_FILTER_IA64: return "IA-64";
        case LZMA_FILTER_ARM: return "ARM";
        case LZMA_FILTER_ARMTHUMB: return "ARM-Thumb";
        case LZMA_FILTER_SPARC: return "SPARC";
#ifdef LZMA_FILTER_ARM64
        case LZMA_FILTER_ARM64: return "arm64";
#endif
        default: return hex(id);
    }
}

// 8 MiB, 32 KiB, or bytes when neither fits.
std::string size_name(uint64_t bytes) {
    if (bytes % (1 << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes % (1 << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::string lzma_error(lzma_ret ret) {
    switch (ret) {
        case LZMA_MEM_ERROR: return "out of memory";
        case LZMA_MEMLIMIT_ERROR: return "needs more memory than allowed";
        case LZMA_FORMAT_ERROR: return "not an xz stream";
        case LZMA_OPTIONS_ERROR: return "uses unsupported options";
        case LZMA_DATA_ERROR: return "corrupt";
        case LZMA_BUF_ERROR: return "truncated";
        default: return "decoder error " + std::to_string(static_cast<int>(ret));
    }
}

void stop(XzStream& xz, const std::string& problem, XzProblemKind kind = XzProblemKind::fatal) {
    if (xz.stopped) return;
    xz.stopped = true;
    xz.problems.push_back({kind, problem});
}

void free_filters(XzStream& xz) {
    for (lzma_filter& filter : xz.decoder->filters) {
        std::free(filter.options);
        filter = lzma_filter{LZMA_VLI_UNKNOWN, nullptr};
    }
}

// Frees what liblzma holds; the stream can be released again.
void release(XzStream& xz) {
    lzma_end(&xz.decoder->lzma);
    lzma_index_hash_end(xz.decoder->index, nullptr);
    xz.decoder->index = nullptr;
    free_filters(xz);
}

// Gathers a fixed-size field that may straddle chunks; true once whole.
bool gather(XzStream& xz, const uint8_t*& data, size_t& size) {
    size_t take = std::min(size, xz.decoder->field_size - xz.decoder->field_have);
    std::memcpy(xz.decoder->field + xz.decoder->field_have, data, take);
    xz.decoder->field_have += take;
    data += take;
    size -= take;
    return xz.decoder->field_have == xz.decoder->field_size;
}

void expect_field(XzStream& xz, Part part, size_t size) {
    xz.decoder->part = part;
    xz.decoder->field_have = 0;
    xz.decoder->field_size = size;
}

void read_stream_header(XzStream& xz) {
    lzma_ret ret = lzma_stream_header_decode(&xz.decoder->flags, xz.decoder->field);
    if (ret != LZMA_OK)
        return stop(xz, ret == LZMA_FORMAT_ERROR ? "not an xz stream" : "xz stream header " + lzma_error(ret));
    xz.check = check_name(xz.decoder->flags.check);
    if (xz.decoder->flags.check != LZMA_CHECK_CRC32) {
        xz.problems.push_back({XzProblemKind::form, "xz check is " + xz.check + ", want CRC32"});
    }
    xz.decoder->index = lzma_index_hash_init(nullptr, nullptr);
    if (xz.decoder->index == nullptr) return stop(xz, "xz decoder: out of memory");
    xz.decoder->part = Part::block_start;
}

// A block's filters must be LZMA2 alone, with a dictionary the device holds.
bool filters_allowed(XzStream& xz) {
    size_t count = 0;
    while (count < LZMA_FILTERS_MAX && xz.decoder->filters[count].id != LZMA_VLI_UNKNOWN) count++;
    const lzma_filter& last = xz.decoder->filters[count - 1];
    if (last.id != LZMA_FILTER_LZMA2) {
        stop(xz, "xz stream uses filter " + filter_name(last.id) + ", not LZMA2");
        return false;
    }
    if (count > 1) {
        stop(xz, "xz stream uses filter " + filter_name(xz.decoder->filters[0].id) + " before LZMA2");
        return false;
    }
    uint32_t dictionary = static_cast<const lzma_options_lzma*>(last.options)->dict_size;
    if (dictionary > kXzMaxDictionary) {
        stop(xz, "xz dictionary " + size_name(dictionary) + ", at most " + size_name(kXzMaxDictionary));
        return false;
    }
    if (lzma_raw_decoder_memusage(xz.decoder->filters) > xz.limits.memory_limit) {
        stop(xz, "xz stream needs more memory than allowed");
        return false;
    }
    return true;
}

void read_block_header(XzStream& xz) {
    xz.decoder->block = lzma_block{};
    xz.decoder->block.version = 1;
    xz.decoder->block.check = xz.decoder->flags.check;
    xz.decoder->block.header_size = static_cast<uint32_t>(xz.decoder->field_size);
    xz.decoder->block.filters = xz.decoder->filters;
    lzma_ret ret = lzma_block_header_decode(&xz.decoder->block, nullptr, xz.decoder->field);
    if (ret != LZMA_OK) return stop(xz, "xz block header " + lzma_error(ret));
    if (!filters_allowed(xz)) return;
    ret = lzma_block_decoder(&xz.decoder->lzma, &xz.decoder->block);
    if (ret != LZMA_OK) return stop(xz, "xz block " + lzma_error(ret));
    xz.decoder->part = Part::block;
}

// Counts, checksums and passes on decoded bytes, up to the output limit.
void take_output(XzStream& xz, size_t size) {
    if (size == 0) return;
    xz.output_size += size;
    if (xz.output_size > xz.limits.max_output) {
        return stop(xz, "xz stream decodes to more than " + std::to_string(xz.limits.max_output) + " bytes",
                    XzProblemKind::too_long);
    }
    xz.output_crc = crc16_xmodem_update(xz.output_crc, xz.decoder->out, size);
    xz.output_crc64 = lzma_crc64(xz.decoder->out, size, xz.output_crc64);
    if (xz.sink) xz.sink(xz.decoder->out, size);
}

void decode_block(XzStream& xz, const uint8_t*& data, size_t& size) {
    xz.decoder->lzma.next_in = data;
    xz.decoder->lzma.avail_in = size;
    for (;;) {
        xz.decoder->lzma.next_out = xz.decoder->out;
        xz.decoder->lzma.avail_out = sizeof xz.decoder->out;
        lzma_ret ret = lzma_code(&xz.decoder->lzma, LZMA_RUN);
        take_output(xz, sizeof xz.decoder->out - xz.decoder->lzma.avail_out);
        if (xz.stopped) return;
        if (ret == LZMA_STREAM_END) {
            ret = lzma_index_hash_append(xz.decoder->index, lzma_block_unpadded_size(&xz.decoder->block),
                                         xz.decoder->block.uncompressed_size);
            if (ret != LZMA_OK) return stop(xz, "xz stream " + lzma_error(ret));
            free_filters(xz);
            xz.decoder->part = Part::block_start;
            break;
        }
        if (ret != LZMA_OK) return stop(xz, "xz stream " + lzma_error(ret));
        if (xz.decoder->lzma.avail_in == 0 && xz.decoder->lzma.avail_out != 0) break;  // wants more input
    }
    size_t used = size - xz.decoder->lzma.avail_in;
    data += used;
    size -= used;
}

void decode_index(XzStream& xz, const uint8_t*& data, size_t& size) {
    size_t used = 0;
    lzma_ret ret = lzma_index_hash_decode(xz.decoder->index, data, &used, size);
    data += used;
    size -= used;
    if (ret == LZMA_STREAM_END) return expect_field(xz, Part::footer, LZMA_STREAM_HEADER_SIZE);
    if (ret != LZMA_OK) stop(xz, "xz index " + lzma_error(ret == LZMA_BUF_ERROR ? LZMA_DATA_ERROR : ret));
}

void read_footer(XzStream& xz) {
    lzma_stream_flags footer;
    lzma_ret ret = lzma_stream_footer_decode(&footer, xz.decoder->field);
    if (ret == LZMA_FORMAT_ERROR) return stop(xz, "xz stream footer lacks its magic bytes");
    if (ret != LZMA_OK) return stop(xz, "xz stream footer " + lzma_error(ret));
    if (lzma_stream_flags_compare(&xz.decoder->flags, &footer) != LZMA_OK)
        return stop(xz, "xz stream footer does not match its header");
    if (footer.backward_size != lzma_index_hash_size(xz.decoder->index))
        return stop(xz, "xz stream footer does not match its index");
    xz.decoder->part = Part::after;
}

}  // namespace

void xz_stream_begin(XzStream& xz, const XzStreamLimits& limits, ByteSink sink) {
    xz.limits = limits;
    xz.sink = std::move(sink);
    free_filters(xz);
    expect_field(xz, Part::stream_header, LZMA_STREAM_HEADER_SIZE);
}

void xz_stream_feed(XzStream& xz, const uint8_t* data, size_t size) {
    while (size > 0 && !xz.stopped) {
        switch (xz.decoder->part) {
            case Part::stream_header:
                if (gather(xz, data, size)) read_stream_header(xz);
                break;
            case Part::block_start:
                // 0x00 starts the index, which takes that byte as its own.
                if (data[0] == 0x00) {
                    xz.decoder->part = Part::index;
                } else {
                    expect_field(xz, Part::block_header, lzma_block_header_size_decode(data[0]));
                }
                break;
            case Part::block_header:
                if (gather(xz, data, size)) read_block_header(xz);
                break;
            case Part::block: decode_block(xz, data, size); break;
            case Part::index: decode_index(xz, data, size); break;
            case Part::footer:
                if (gather(xz, data, size)) read_footer(xz);
                break;
            case Part::after: stop(xz, "data after the end of the xz stream"); break;
        }
    }
}

bool xz_stream_end(XzStream& xz) {
    if (xz.decoder->part != Part::after) stop(xz, "xz stream truncated");
    release(xz);
    return !xz.stopped;
}

uint64_t crc64_update(uint64_t crc, const uint8_t* data, size_t size) { return lzma_crc64(data, size, crc); }

XzStream::XzStream() : decoder(std::make_unique<XzDecoder>()) {}

XzStream::~XzStream() { release(*this); }
