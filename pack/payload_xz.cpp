#include "format/crc16_xmodem.h"
#include "pack/pack.h"

namespace {

// Takes `size` bytes of stream from the buffer into the payload.
void take_stream(CompressedPayload& payload, OutputFile& out, size_t size, PackFailure& failure) {
    payload.size += size;
    if (payload.size > kMaxPayloadSize) {
        pack_hold(failure, kSayImageTooLarge, "xz", "the stream is 4 GiB or more");
        compressed_abort(payload);
        return;
    }
    payload.crc = crc16_xmodem_update(payload.crc, payload.buffer, size);
    xz_stream_feed(payload.check, payload.buffer, size);
    std::string error;
    if (!output_write(out, payload.buffer, size, error)) {
        pack_hold(failure, kSayFileWriteError, out.path, error);
        compressed_abort(payload);
    }
}

// One read of xz's output. False once xz is gone.
bool pump(CompressedPayload& payload, OutputFile& out, PackFailure& failure) {
    size_t got;
    std::string error;
    if (!xz_read(payload.xz, payload.buffer, payload.buffer_size, got, error)) {
        payload.running = false;
        pack_hold(failure, kSayFileOpenError, "xz", error);
        return false;
    }
    if (got > 0) take_stream(payload, out, got, failure);
    return payload.running;
}

// Why the stream that came back is not the image, or empty when it is.
std::string stream_fault(CompressedPayload& payload, uint64_t image_size, uint16_t image_crc) {
    bool sound = xz_stream_end(payload.check) && payload.check.problems.empty();
    if (payload.size == 0) return "it gave back nothing";
    if (!sound) return "it gave back a bad stream: " + payload.check.problems.front();
    if (payload.check.output_size != image_size) {
        return "the stream decodes to " + std::to_string(payload.check.output_size) + " bytes, the image is " +
               std::to_string(image_size);
    }
    if (payload.check.output_crc != image_crc) return "the stream decodes to other bytes than the image";
    return "";
}

}  // namespace

void compressed_start(CompressedPayload& payload, int input_fd, uint64_t image_size, PackFailure& failure) {
    // Decoding stops as soon as the stream gives more than the image.
    xz_stream_begin(payload.check, XzStreamLimits{image_size, kXzDecoderMemoryLimit}, {});
    std::string error;
    payload.running = xz_start(payload.xz, input_fd, error);
    if (!payload.running) pack_hold(failure, kSayFileOpenError, "xz", error);
}

void compressed_finish(CompressedPayload& payload, OutputFile& out, uint64_t image_size, uint16_t image_crc,
                       PackFailure& failure) {
    if (!payload.running) return;
    while (!xz_output_ended(payload.xz)) {
        if (!pump(payload, out, failure)) return;
    }
    payload.running = false;
    std::string error;
    if (!xz_wait(payload.xz, error)) return pack_hold(failure, kSayFileOpenError, "xz", error);
    std::string fault = stream_fault(payload, image_size, image_crc);
    if (!fault.empty()) pack_hold(failure, kSayFileOpenError, "xz", fault);
}

void compressed_abort(CompressedPayload& payload) {
    xz_abort(payload.xz);
    xz_stream_end(payload.check);
    payload.running = false;
}
