#include "format/crc16_xmodem.h"
#include "tool/pack.h"

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
    std::string error;
    if (!output_write(out, payload.buffer, size, error)) {
        pack_hold(failure, kSayFileWriteError, out.path, error);
        compressed_abort(payload);
    }
}

// One wait on xz: input given, output taken. False once xz is gone.
bool pump(CompressedPayload& payload, OutputFile& out, const uint8_t*& data, size_t& size, PackFailure& failure) {
    size_t got;
    std::string error;
    if (!xz_pump(payload.xz, data, size, payload.buffer, payload.buffer_size, got, error)) {
        payload.running = false;
        pack_hold(failure, kSayFileOpenError, "xz", error);
        return false;
    }
    if (got > 0) take_stream(payload, out, got, failure);
    return payload.running;
}

}  // namespace

void compressed_start(CompressedPayload& payload, PackFailure& failure) {
    std::string error;
    payload.running = xz_start(payload.xz, error);
    if (!payload.running) pack_hold(failure, kSayFileOpenError, "xz", error);
}

void compressed_feed(CompressedPayload& payload, OutputFile& out, const uint8_t* data, size_t size,
                     PackFailure& failure) {
    while (payload.running && size > 0) {
        if (!pump(payload, out, data, size, failure)) return;
    }
}

void compressed_finish(CompressedPayload& payload, OutputFile& out, PackFailure& failure) {
    if (!payload.running) return;
    xz_end_input(payload.xz);
    const uint8_t* none = nullptr;
    size_t none_size = 0;
    while (!xz_output_ended(payload.xz)) {
        if (!pump(payload, out, none, none_size, failure)) return;
    }
    payload.running = false;
    std::string error;
    if (!xz_wait(payload.xz, error)) pack_hold(failure, kSayFileOpenError, "xz", error);
}

void compressed_abort(CompressedPayload& payload) {
    xz_abort(payload.xz);
    payload.running = false;
}
