// The packer's two payload writers on their own, writing to a fake sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "pack/payload.h"
#include "test_support.h"

namespace {

// Takes the payload in place of the OTA file: counts it, keeps its start,
// and fails the write numbered `fail_at` (from 1), if any.
class FakeSink : public PayloadSink {
public:
    explicit FakeSink(int fail_at = 0) : fail_at_(fail_at) {}
    bool write(const uint8_t* data, size_t size, std::string& error) override {
        if (++writes_ == fail_at_) {
            error = "sink refused";
            return false;
        }
        if (kept.size() < 4096) kept.insert(kept.end(), data, data + std::min<size_t>(size, 4096));
        total += size;
        return true;
    }
    const std::string& name() const override { return name_; }
    uint64_t total = 0;
    Bytes kept;

private:
    int fail_at_;
    int writes_ = 0;
    std::string name_ = "sink";
};

// A stand-in xz on the search path for as long as it lives.
struct FakeXz {
    FakeXz(const TempDir& dir, const std::string& body) : old_path(std::getenv("PATH")) {
        set_env("PATH", fake_xz_path(dir, body) + ":" + old_path);
    }
    ~FakeXz() { set_env("PATH", old_path); }
    std::string old_path;
};

// The copy writer passes every chunk on in order; after a failed write it
// drops the rest, and the first failure is the one told.
TEST(PackWriters, CopyWriterKeepsOrderAndItsFirstFailure) {
    std::vector<uint8_t> chunks(2 * kChunkSize);
    for (int fail_at : {0, 2}) {
        FakeSink sink(fail_at);
        PackFailure failure;
        Progress progress;
        {
            std::unique_ptr<PayloadWriter> writer = make_copy_writer(sink, chunks.data(), progress);
            for (uint8_t n = 1; n <= 4; n++) {
                uint8_t* buffer = writer->buffer();
                std::fill(buffer, buffer + 1000, n);
                writer->submit(1000);
            }
            PayloadResult payload;
            writer->finish(4000, 0x1234, payload, failure);
            EXPECT_EQ(payload.size, 4000u);
            EXPECT_EQ(payload.crc, 0x1234);
            EXPECT_TRUE(payload.is_image);
        }
        if (fail_at == 0) {
            EXPECT_FALSE(failure.kind);
            EXPECT_EQ(sink.total, 4000u);
            EXPECT_EQ(sink.kept[999], 1);
            EXPECT_EQ(sink.kept[1000], 2);
        } else {
            EXPECT_EQ(failure.kind, PackFailureKind::file_write);
            EXPECT_EQ(failure.subject + ": " + failure.reason, "sink: sink refused");
            EXPECT_EQ(sink.total, 1000u) << "nothing is written after the failure";
        }
    }
}

// The xz writer stops at the first sign that the stream is not the image:
// nothing of a stream that is no xz stream is written, however much xz
// would give. Of several failures, the first is told.
TEST(PackWriters, XzWriterStopsAtTheFirstSignAndTellsTheFirstFailure) {
    SKIP_UNLESS_POSIX("a shell script in xz's place");
    TempDir dir;
    write_file(dir / "image.bin", Bytes(4096, 7));
    std::vector<uint8_t> chunks(2 * kChunkSize);
    const std::string xz = XZ_PATH;
    struct Case {
        std::string script;
        int fail_at;
        PackFailureKind kind;
        std::string reason;
    };
    for (const Case& c : std::vector<Case>{
             {"#!/bin/sh\nexec head -c 4294967424 /dev/zero\n", 0, PackFailureKind::file_open,
              "xz: it gave back a bad stream: not an xz stream"},
             // The write fails first, then xz exits 1: the write's failure is told.
             {"#!/bin/sh\n" + xz + " -T1 --lzma2=dict=32KiB --check=crc32 -c | head -c 100\nexit 1\n", 1,
              PackFailureKind::file_write, "sink: sink refused"},
         }) {
        FakeXz fake(dir, c.script);
        InputFile input;
        std::string error;
        ASSERT_TRUE(input.open(dir / "image.bin", FifoOpen::no_wait, error)) << error;
        FakeSink sink(c.fail_at);
        PackFailure failure;
        Progress progress;
        std::unique_ptr<PayloadWriter> writer =
            make_xz_writer(sink, input, dir / "image.bin", 4096, chunks.data(), progress, failure);
        PayloadResult payload;
        writer->finish(4096, 0, payload, failure);
        EXPECT_EQ(failure.kind, c.kind) << c.reason;
        EXPECT_EQ(failure.subject + ": " + failure.reason, c.reason);
        EXPECT_EQ(sink.total, 0u) << c.reason;
    }
}

}  // namespace
