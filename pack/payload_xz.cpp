// The payload of image_compress: the xz stream of the image. xz reads the
// image file itself, through a descriptor of its own, while the run reads and
// checksums it; the stream that comes back is written behind the header at
// once, counted, checksummed and decoded, so it is never held whole.
// Decoding proves the stream: it must give back exactly the bytes the run
// read, which xz's exit status alone does not tell.
#include "format/crc16_xmodem.h"
#include "pack/payload.h"
#include "sys/child.h"
#include "sys/file_io.h"
#include "verify/xz_stream.h"

namespace {

// One thread, so that the stream has the same single-threaded form whatever
// the version's default; found on the search path. XZ_OPT and XZ_DEFAULTS are
// removed from its environment, so that the host's defaults do not change
// the stream either.
const std::vector<std::string> kXzCommand = {"xz", "-T1", "--lzma2=dict=32KiB", "--check=crc32", "-c"};

class XzWriter : public PayloadWriter {
public:
    XzWriter(PayloadSink& out, uint8_t* chunks) : out_(out), image_chunk_(chunks), stream_chunk_(chunks + kChunkSize) {}

    // Starts xz on the image file; a failure is held.
    void start(const InputFile& input, const std::string& input_path, uint64_t image_size, PackFailure& failure) {
        // Decoding stops as soon as the stream gives more than the image.
        xz_stream_begin(check_, XzStreamLimits{image_size, kXzDecoderMemoryLimit}, {});
        std::string error;
        int xz_input = -1;
        if (!input_reopen(input, input_path, xz_input, error)) {
            return pack_hold(failure, kSayFileReadError, input_path, error);
        }
        running_ = child_start(xz_, kXzCommand, {"XZ_OPT", "XZ_DEFAULTS"}, xz_input, error);
        file_close(xz_input);
        if (!running_) pack_hold(failure, kSayFileOpenError, "xz", error);
    }

    // xz reads the file itself: the run's chunks only feed the checksum.
    uint8_t* buffer() override { return image_chunk_; }
    void submit(size_t) override {}

    void finish(uint64_t image_size, uint16_t image_crc, PayloadResult& payload, PackFailure& failure) override {
        payload.reported = true;
        while (running_ && !child_output_ended(xz_)) pump(failure);
        if (!running_) return;
        running_ = false;
        std::string error;
        if (!child_wait(xz_, error)) return pack_hold(failure, kSayFileOpenError, "xz", error);
        std::string fault = stream_fault(image_size, image_crc);
        if (!fault.empty()) return pack_hold(failure, kSayFileOpenError, "xz", fault);
        payload.size = size_;
        payload.crc = crc_;
    }

private:
    // One read of xz's output, taken into the payload.
    void pump(PackFailure& failure) {
        size_t got;
        std::string error;
        if (!child_read(xz_, stream_chunk_, kChunkSize, got, error)) {
            running_ = false;
            return pack_hold(failure, kSayFileOpenError, "xz", error);
        }
        size_ += got;
        if (size_ > kMaxPayloadSize) {
            stop();
            return pack_hold(failure, kSayImageTooLarge, "xz", "the stream is 4 GiB or more");
        }
        crc_ = crc16_xmodem_update(crc_, stream_chunk_, got);
        xz_stream_feed(check_, stream_chunk_, got);
        if (!out_.write(stream_chunk_, got, error)) {
            stop();
            pack_hold(failure, kSayFileWriteError, out_.name(), error);
        }
    }

    void stop() {
        child_abort(xz_);
        running_ = false;
    }

    // Why the stream that came back is not the image, or empty when it is.
    std::string stream_fault(uint64_t image_size, uint16_t image_crc) {
        bool sound = xz_stream_end(check_) && check_.problems.empty();
        if (size_ == 0) return "it gave back nothing";
        if (!sound) return "it gave back a bad stream: " + check_.problems.front();
        if (check_.output_size != image_size) {
            return "the stream decodes to " + std::to_string(check_.output_size) + " bytes, the image is " +
                   std::to_string(image_size);
        }
        if (check_.output_crc != image_crc) return "the stream decodes to other bytes than the image";
        return "";
    }

    PayloadSink& out_;
    uint8_t* image_chunk_;
    uint8_t* stream_chunk_;
    ChildProcess xz_;
    bool running_ = false;
    uint64_t size_ = 0;
    uint16_t crc_ = 0;
    XzStream check_;
};

}  // namespace

std::unique_ptr<PayloadWriter> make_xz_writer(PayloadSink& out, const InputFile& input, const std::string& input_path,
                                              uint64_t image_size, uint8_t* chunks, PackFailure& failure) {
    auto writer = std::make_unique<XzWriter>(out, chunks);
    writer->start(input, input_path, image_size, failure);
    return writer;
}
