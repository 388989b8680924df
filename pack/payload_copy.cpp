// The payload of image_copy and flash_remapping: the image itself, written on
// a second thread while the next chunk is read.
#include "pack/payload.h"
#include "pack/write_behind.h"

namespace {

class CopyWriter : public PayloadWriter {
public:
    CopyWriter(PayloadSink& out, uint8_t* chunks, Progress& progress) : out_(out), progress_(progress) {
        behind_.buffers[0] = chunks;
        behind_.buffers[1] = chunks + kChunkSize;
        write_behind_start(behind_, out);
    }

    uint8_t* buffer() override { return write_behind_buffer(behind_); }
    void submit(size_t size) override {
        write_behind_submit(behind_, size);
        progress_.update(done_ += size);
    }

    void finish(uint64_t image_size, uint16_t image_crc, PayloadResult& payload, PackFailure& failure) override {
        std::string error;
        if (!write_behind_finish(behind_, error)) pack_hold(failure, PackFailureKind::file_write, out_.name(), error);
        payload.size = image_size;
        payload.crc = image_crc;
    }

private:
    PayloadSink& out_;
    Progress& progress_;
    uint64_t done_ = 0;
    WriteBehind behind_;
};

}  // namespace

std::unique_ptr<PayloadWriter> make_copy_writer(PayloadSink& out, uint8_t* chunks, Progress& progress) {
    return std::make_unique<CopyWriter>(out, chunks, progress);
}
