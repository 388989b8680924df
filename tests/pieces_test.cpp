// The pieces that stand alone: the size parser, the atomic output file and
// the child process, each on its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "info/options.h"
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
    chmod(name.c_str(), 0604);
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
    struct stat st;
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"out.bin"});

    mkdir((dir / "sub").c_str(), 0777);
    AtomicFile on_directory;
    EXPECT_FALSE(output_begin(dir / "sub", on_directory, error));
    EXPECT_EQ(error, "Is a directory");
}

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

}  // namespace
