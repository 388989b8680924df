// The pieces that stand alone: the size parser, the atomic output file, the
// child process and the payload writers, each on its own.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

#include "info/options.h"
#include "pack/payload.h"
#include "sys/atomic_file.h"
#include "sys/child.h"
#include "sys/file_io.h"
#include "test_support.h"

namespace {

TEST(Pieces, SizeParserTakesBinarySuffixesUpTo64Bits) {
    struct Case {
        std::string text;
        std::optional<uint64_t> size;  // none: refused
    };
    for (const Case& c : std::vector<Case>{
             {"0", 0},
             {"0X10", 16},
             {"4 K", 4096},
             {"3GiB", uint64_t{3} << 30},
             {"18446744073709551615", UINT64_MAX},
             {"0xFFFFFFFFFFFFFFFF", UINT64_MAX},
             {"17179869183G", ((uint64_t{1} << 34) - 1) << 30},
             {"18446744073709551616", std::nullopt},
             {"0x10000000000000000", std::nullopt},
             {"17179869184G", std::nullopt},
             {"4  K", std::nullopt},
             {" 4K", std::nullopt},
             {"4KB", std::nullopt},
             {"0x", std::nullopt},
             {"K", std::nullopt},
         }) {
        uint64_t size = 0;
        bool parsed = parse_size(c.text, size);
        EXPECT_EQ(parsed, c.size.has_value()) << c.text;
        if (parsed && c.size) {
            EXPECT_EQ(size, *c.size) << c.text;
        }
    }
}

// Committed, the file is complete under its name with the replaced file's
// mode; given up or dropped, nothing is left.
TEST(Pieces, AtomicFileCommitsOrLeavesNothing) {
    TempDir dir;
    const std::string name = dir / "out.bin";
    write_file(name, Bytes(5, 1));
#ifndef _WIN32
    chmod(name.c_str(), 0604);
#endif
    const Bytes data = {1, 2, 3, 4};
    std::string error;
    {
        AtomicFile dropped;
        ASSERT_TRUE(output_begin(name, dropped, error)) << error;
        ASSERT_TRUE(output_write(dropped, data.data(), data.size(), error)) << error;
    }
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"out.bin"});
    EXPECT_EQ(read_file(name), Bytes(5, 1));

    AtomicFile out;
    ASSERT_TRUE(output_begin(name, out, error)) << error;
    ASSERT_TRUE(output_write(out, data.data(), data.size(), error)) << error;
    ASSERT_TRUE(output_write_at(out, 0, data.data() + 3, 1, error)) << error;
    ASSERT_TRUE(output_close(out, error) && output_rename(out, error)) << error;
    EXPECT_EQ(read_file(name), (Bytes{4, 2, 3, 4}));
#ifndef _WIN32
    struct stat st;
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
#endif
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"out.bin"});

    std::filesystem::create_directory(dir / "sub");
    AtomicFile on_directory;
    EXPECT_FALSE(output_begin(dir / "sub", on_directory, error));
    EXPECT_EQ(error, "Is a directory");
}

#ifndef _WIN32  // children as shell commands, signals by number (Windows: windows_test.cpp)
// A child reads the caller's file, gives its output back, and its end is told
// truthfully; one still running when its owner goes is killed and reaped.
TEST(Pieces, ChildProcessEndsAreToldApart) {
    TempDir dir;
    write_file(dir / "in.bin", Bytes{'a', 'b', 'c'});
    setenv("OTA_TEST_DROPPED", "seen", 1);
    struct Case {
        std::vector<std::string> argv;
        std::string out;
        std::string reason;  // empty: exit status 0
    };
    for (const Case& c : std::vector<Case>{
             {{"sh", "-c", "cat"}, "abc", ""},
             {{"sh", "-c", "printf '%s' \"$OTA_TEST_DROPPED\""}, "", ""},
             {{"sh", "-c", "exit 3"}, "", "exit status 3"},
             {{"sh", "-c", "kill -9 $$"}, "", "killed by signal 9"},
             {{"ota-test-no-such-program"}, "", "not found"},
         }) {
        InputFile input;
        std::string error;
        ASSERT_TRUE(input_open(dir / "in.bin", FifoOpen::no_wait, input, error)) << error;
        ChildProcess child;
        std::string out;
        bool ok = child_start(child, c.argv, {"OTA_TEST_DROPPED"}, input.fd, error);
        while (ok && !child_output_ended(child)) {
            uint8_t buffer[64];
            size_t got = 0;
            ok = child_read(child, buffer, sizeof buffer, got, error);
            out.append(reinterpret_cast<char*>(buffer), got);
        }
        ok = ok && child_wait(child, error);
        EXPECT_EQ(ok, c.reason.empty()) << c.argv.back();
        EXPECT_EQ(ok ? "" : error, c.reason) << c.argv.back();
        EXPECT_EQ(out, c.out) << c.argv.back();
    }
    unsetenv("OTA_TEST_DROPPED");

    long long id = -1;
    {
        InputFile input;
        std::string error;
        ASSERT_TRUE(input_open(dir / "in.bin", FifoOpen::no_wait, input, error));
        ChildProcess child;
        ASSERT_TRUE(child_start(child, {"sleep", "30"}, {}, input.fd, error)) << error;
        id = child.id;
    }
    EXPECT_NE(kill(static_cast<pid_t>(id), 0), 0) << "killed and reaped";
}
#else
POSIX_ONLY_TEST(Pieces, ChildProcessEndsAreToldApart, "shell commands as children and signals by number (Windows.XzIsFoundBesideTheToolThenOnPathAndItsFailuresAreTold stands in)")
#endif

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

#ifndef _WIN32  // stand-ins for xz as shell scripts
// A stand-in xz on the search path for as long as it lives.
struct FakeXz {
    explicit FakeXz(const TempDir& dir, const std::string& body) : old_path(std::getenv("PATH")) {
        mkdir((dir / "bin").c_str(), 0777);
        write_file(dir / "bin/xz", Bytes(body.begin(), body.end()));
        chmod((dir / "bin/xz").c_str(), 0755);
        setenv("PATH", (dir / "bin:" + old_path).c_str(), 1);
    }
    ~FakeXz() { setenv("PATH", old_path.c_str(), 1); }
    std::string old_path;
};
#endif

// The copy writer passes every chunk on in order; after a failed write it
// drops the rest, and the first failure is the one told.
TEST(Pieces, CopyWriterKeepsOrderAndItsFirstFailure) {
    std::vector<uint8_t> chunks(2 * kChunkSize);
    for (int fail_at : {0, 2}) {
        FakeSink sink(fail_at);
        PackFailure failure;
        {
            std::unique_ptr<PayloadWriter> writer = make_copy_writer(sink, chunks.data());
            for (uint8_t n = 1; n <= 4; n++) {
                uint8_t* buffer = writer->buffer();
                std::fill(buffer, buffer + 1000, n);
                writer->submit(1000);
            }
            PayloadResult payload;
            writer->finish(4000, 0x1234, payload, failure);
            EXPECT_EQ(payload.size, 4000u);
            EXPECT_EQ(payload.crc, 0x1234);
            EXPECT_FALSE(payload.reported);
        }
        if (fail_at == 0) {
            EXPECT_EQ(failure.line, nullptr);
            EXPECT_EQ(sink.total, 4000u);
            EXPECT_EQ(sink.kept[999], 1);
            EXPECT_EQ(sink.kept[1000], 2);
        } else {
            EXPECT_STREQ(failure.line, kSayFileWriteError);
            EXPECT_EQ(failure.subject + ": " + failure.reason, "sink: sink refused");
            EXPECT_EQ(sink.total, 1000u) << "nothing is written after the failure";
        }
    }
}

#ifndef _WIN32  // stand-ins for xz as shell scripts
// The xz writer stops a stream at 4 GiB, which the header's words cannot
// describe, and tells the first of several failures.
TEST(Pieces, XzWriterCapsTheStreamAndTellsTheFirstFailure) {
    TempDir dir;
    write_file(dir / "image.bin", Bytes(4096, 7));
    std::vector<uint8_t> chunks(2 * kChunkSize);
    struct Case {
        std::string script;
        int fail_at;
        const char* line;
        std::string reason;
    };
    for (const Case& c : std::vector<Case>{
             {"#!/bin/sh\nexec head -c 4294967424 /dev/zero\n", 0, kSayImageTooLarge, "xz: the stream is 4 GiB or more"},
             // The write fails first, then xz exits 1: the write's failure is told.
             {"#!/bin/sh\ncat > /dev/null\nprintf 'stream'\nexit 1\n", 1, kSayFileWriteError, "sink: sink refused"},
         }) {
        FakeXz xz(dir, c.script);
        InputFile input;
        std::string error;
        ASSERT_TRUE(input_open(dir / "image.bin", FifoOpen::no_wait, input, error)) << error;
        FakeSink sink(c.fail_at);
        PackFailure failure;
        std::unique_ptr<PayloadWriter> writer = make_xz_writer(sink, input, dir / "image.bin", 4096, chunks.data(), failure);
        PayloadResult payload;
        writer->finish(4096, 0, payload, failure);
        EXPECT_STREQ(failure.line, c.line) << c.reason;
        EXPECT_EQ(failure.subject + ": " + failure.reason, c.reason);
        EXPECT_LE(sink.total, kMaxPayloadSize) << c.reason;
    }
}
#else
POSIX_ONLY_TEST(Pieces, XzWriterCapsTheStreamAndTellsTheFirstFailure, "a shell script in xz's place")
#endif

}  // namespace
