// Where the image goes as it is read: the payload writer of a packing run,
// picked once, by mode. The run reads the image a chunk at a time into the
// writer's buffer and hands each chunk over; at the end the writer says what
// the payload came to. Calling sequence:
//
//     std::unique_ptr<PayloadWriter> writer = make_copy_writer(...);  // or make_xz_writer
//     while (more of the image) { read into writer->buffer(); writer->submit(size); }
//     writer->finish(image_size, image_crc, payload, failure);
//
// A writer that failed (held in `failure`) takes the rest of the image and
// drops it, so the run can still read the image for its checksum line.
// Destroying a writer stops its work (thread joined, xz killed and reaped).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "pack/failure.h"
#include "sys/input_file.h"
#include "text/progress.h"

// Where a writer puts the payload: the OTA file behind its header (or, in
// tests, a sink of their own).
class PayloadSink {
public:
    virtual ~PayloadSink() = default;
    virtual bool write(const uint8_t* data, size_t size, std::string& error) = 0;
    virtual const std::string& name() const = 0;  // the file, for messages
};

struct PayloadResult {
    uint64_t size = 0;
    uint16_t crc = 0;
    bool is_image = true;  // when not, the payload's size and CRC get lines of their own
};

class PayloadWriter {
public:
    virtual ~PayloadWriter() = default;
    // Where the next chunk of the image is to be read, kChunkSize bytes.
    virtual uint8_t* buffer() = 0;
    // Hands over the chunk read into buffer(), `size` bytes of it.
    virtual void submit(size_t size) = 0;
    // After the last chunk: completes the payload behind the header in the
    // output and describes it. A failure is held.
    virtual void finish(uint64_t image_size, uint16_t image_crc, PayloadResult& payload, PackFailure& failure) = 0;
};

// Each writer tells `progress` how much of the image is done: read, for the
// uncompressed modes; compressed, as its stream decodes, for image_compress.

// The uncompressed modes: the payload is the image, written on a second
// thread; `chunks` is two kChunkSize buffers.
std::unique_ptr<PayloadWriter> make_copy_writer(PayloadSink& out, uint8_t* chunks, Progress& progress);

// image_compress: xz reads the image file through a descriptor of its own;
// the run's chunks of the image only feed the checks. Its stream is taken in
// at the end, written, and proven to be the image; `chunks` is two
// kChunkSize buffers, one for the image, one for the stream. A failure to
// start xz is held.
std::unique_ptr<PayloadWriter> make_xz_writer(PayloadSink& out, const InputFile& input, const std::string& input_path,
                                              uint64_t image_size, uint8_t* chunks, Progress& progress,
                                              PackFailure& failure);
