// The payload of image_compress: the xz stream of the image. xz reads the
// image file itself, through a descriptor of its own, while the run reads
// and checksums it here (CRC-16 for the header, CRC-64 for the proof). Once
// the image is read, the stream that comes back is taken a read at a time:
// counted, checksummed, decoded and written behind the header, so it is never
// held whole. Decoding proves the stream: it must be one sound stream of the
// form asked for that gives back exactly the bytes the run read (their size,
// CRC-16 and CRC-64), which xz's exit status alone does not tell. At the first
// sign that it will not, xz is ended and nothing more is written.
#include "format/crc16_xmodem.h"
#include "pack/payload.h"
#include "sys/child.h"
#include "verify/xz_stream.h"

namespace {

// One thread, so that the stream has the same single-threaded form whatever
// the version's default; found on the search path. XZ_OPT and XZ_DEFAULTS are
// removed from its environment, so that the host's defaults do not change
// the stream either.
const std::vector<std::string> kXzCommand = {"xz", "-T1", "--lzma2=dict=32KiB", "--check=crc32", "-c"};

class XzWriter : public PayloadWriter {
public:
    XzWriter(PayloadSink& out, uint8_t* chunks, Progress& progress)
        : out_(out), progress_(progress), image_chunk_(chunks), stream_chunk_(chunks + kChunkSize) {}

    // Starts xz on the image file; a failure is held.
    void start(const InputFile& input, const std::string& input_path, uint64_t image_size, PackFailure& failure) {
        // Decoding stops as soon as the stream gives more than the image.
        xz_stream_begin(check_, XzStreamLimits{image_size, kXzDecoderMemoryLimit}, {});
        std::string error;
        Descriptor xz_input;
        if (!input.reopen(input_path, xz_input, error)) {
            return pack_hold(failure, PackFailureKind::file_read, input_path, error);
        }
        running_ = xz_.start(kXzCommand, {"XZ_OPT", "XZ_DEFAULTS"}, xz_input, error);
        if (!running_ && error.starts_with("not found"))
            error += "; image_compress needs xz from XZ Utils (Debian: xz-utils; Windows: xz.exe beside the tool)";
        if (!running_) pack_hold(failure, PackFailureKind::file_open, "xz", error);
    }

    // xz reads the file itself: the run's chunks only feed the proof.
    uint8_t* buffer() override { return image_chunk_; }
    void submit(size_t size) override { image_crc64_ = crc64_update(image_crc64_, image_chunk_, size); }

    void finish(uint64_t image_size, uint16_t image_crc, PayloadResult& payload, PackFailure& failure) override {
        payload.is_image = false;
        while (running_ && !xz_.output_ended()) pump(failure);
        if (!running_) return;
        running_ = false;
        std::string error;
        if (!xz_.wait(error)) return pack_hold(failure, PackFailureKind::file_open, "xz", error);
        std::string fault = stream_fault(image_size, image_crc);
        if (!fault.empty()) return pack_hold(failure, PackFailureKind::file_open, "xz", fault);
        payload.size = size_;
        payload.crc = crc_;
    }

private:
    // One read of xz's output: checked first, then written.
    void pump(PackFailure& failure) {
        size_t got;
        std::string error;
        if (!xz_.read(stream_chunk_, kChunkSize, got, error)) {
            running_ = false;
            return pack_hold(failure, PackFailureKind::file_open, "xz", error);
        }
        size_ += got;
        if (size_ > kMaxPayloadSize) {
            stop();
            return pack_hold(failure, PackFailureKind::too_large, "xz", "the stream is 4 GiB or more");
        }
        crc_ = crc16_xmodem_update(crc_, stream_chunk_, got);
        xz_stream_feed(check_, stream_chunk_, got);
        if (!check_.problems.empty()) {
            stop();
            return pack_hold(failure, PackFailureKind::file_open, "xz", bad_stream());
        }
        progress_.update(check_.output_size);  // how much of the image xz has done
        if (!out_.write(stream_chunk_, got, error)) {
            stop();
            pack_hold(failure, PackFailureKind::file_write, out_.name(), error);
        }
    }

    void stop() {
        xz_.abort();
        running_ = false;
    }

    std::string bad_stream() const { return "it gave back a bad stream: " + check_.problems.front().text; }

    // Why the stream that came back is not the image, or empty when it is.
    std::string stream_fault(uint64_t image_size, uint16_t image_crc) {
        bool sound = xz_stream_end(check_) && check_.problems.empty();
        if (size_ == 0) return "it gave back nothing";
        if (!sound) return bad_stream();
        if (check_.output_size != image_size) {
            return "the stream decodes to " + std::to_string(check_.output_size) + " bytes, the image is " +
                   std::to_string(image_size);
        }
        if (check_.output_crc != image_crc || check_.output_crc64 != image_crc64_) {
            return "the stream decodes to other bytes than the image";
        }
        return "";
    }

    PayloadSink& out_;
    Progress& progress_;
    uint8_t* image_chunk_;
    uint8_t* stream_chunk_;
    ChildProcess xz_;
    bool running_ = false;
    uint64_t size_ = 0;
    uint16_t crc_ = 0;
    uint64_t image_crc64_ = 0;
    XzStream check_;
};

}  // namespace

std::unique_ptr<PayloadWriter> make_xz_writer(PayloadSink& out, const InputFile& input, const std::string& input_path,
                                              uint64_t image_size, uint8_t* chunks, Progress& progress,
                                              PackFailure& failure) {
    auto writer = std::make_unique<XzWriter>(out, chunks, progress);
    writer->start(input, input_path, image_size, failure);
    return writer;
}
