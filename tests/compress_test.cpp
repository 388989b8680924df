// image_gen_header in image_compress mode, with the real xz and with stand-ins.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "format/crc16_xmodem.h"
#include "test_support.h"

namespace {

const std::string kTool = IMAGE_GEN_HEADER_PATH;
const std::string kXz = XZ_PATH;

// The stream `xz` makes of `image` with the packing options, made here independently.
Bytes reference_stream(const TempDir& dir, const Bytes& image) {
    write_file(dir / "reference.bin", image);
    RunResult r = run_program(kXz, {"-f", "--lzma2=dict=32KiB", "--check=crc32", "-k", "--", dir / "reference.bin"});
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes stream = read_file(dir / "reference.bin.xz");
    std::remove((dir / "reference.bin.xz").c_str());
    std::remove((dir / "reference.bin").c_str());
    return stream;
}

TEST(Compress, PayloadIsTheXzStreamOfTheImage) {
    TempDir dir;
    TempDir work;
    for (size_t size : {size_t{0}, size_t{300}, size_t{70'000}}) {
        Bytes image = make_image(size, "compress-me");
        for (size_t i = 0x200; i < size; i++) image[i] = static_cast<uint8_t>(i / 64);  // compressible
        write_file(dir / "app.bin", image);
        RunResult r = pack(dir.path, {"app.bin", "image_compress"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(dir / "app.bin"), image) << "the input is only read";
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"app.bin", "app.ota.bin"}));

        Bytes ota = read_file(dir / "app.ota.bin");
        Bytes stream = payload_of(ota);
        EXPECT_EQ(stream, reference_stream(work, image)) << size;
        EXPECT_EQ(decompress(work, stream), image) << size;
        uint16_t stream_crc = CRC16_XMODEM(stream.data(), stream.size());
        EXPECT_EQ(r.out, raw_image_lines(image) + "compress image size:" + hex32(static_cast<uint32_t>(stream.size())) +
                             "\ncompress image crc:" + hex32(stream_crc) + "\n");

        // Against an image_copy run: the compress flag and payload words differ, the image words do not.
        ASSERT_EQ(pack(dir.path, {"app.bin", "image_copy"}).status, 0);
        Bytes copy = read_file(dir / "app.ota.bin");
        EXPECT_EQ(Bytes(ota.begin(), ota.begin() + 0x4C), Bytes(copy.begin(), copy.begin() + 0x4C));
        EXPECT_EQ(Bytes(ota.begin() + 0x58, ota.begin() + 128), Bytes(copy.begin() + 0x58, copy.begin() + 128));
        Bytes words(ota.begin() + 0x4C, ota.begin() + 0x58);
        uint32_t n = static_cast<uint32_t>(stream.size());
        EXPECT_EQ(words, (Bytes{0, 0, 0, 0, uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24),
                                uint8_t(stream_crc), uint8_t(stream_crc >> 8), 0, 0}));
    }
}

TEST(Compress, StreamHasTheFilterAndCheckAsked) {
    TempDir dir;
    write_file(dir / "app.bin", make_image(5000, "x"));
    ASSERT_EQ(pack(dir.path, {"app.bin", "image_compress"}).status, 0);
    write_file(dir / "payload.xz", payload_of(read_file(dir / "app.ota.bin")));
    RunResult r = run_program(kXz, {"-lvv", dir / "payload.xz"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Check:             CRC32"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--lzma2=dict=32KiB"), std::string::npos) << r.out;
}

TEST(Compress, IncompressibleImageGivesALongerPayload) {
    TempDir dir;
    TempDir work;
    Bytes image = make_image(100'000, "random");
    write_file(dir / "rnd.bin", image);
    ASSERT_EQ(pack(dir.path, {"rnd.bin", "image_compress"}).status, 0);
    Bytes stream = payload_of(read_file(dir / "rnd.ota.bin"));
    EXPECT_GT(stream.size(), image.size());
    EXPECT_EQ(decompress(work, stream), image);
}

// The stream depends on the xz version alone: not on its defaults, nor on
// options the environment gives it (xz_opt is XZ_OPT on Windows).
TEST(Compress, PayloadIsTheSameWhateverTheHostDefaults) {
    TempDir work;
    Bytes image = make_image(300'000, "hosts");
    for (size_t i = 0x200; i < image.size(); i++) image[i] = static_cast<uint8_t>(i % 251 < 100 ? 0x90 : image[i]);
    const Bytes reference = reference_stream(work, image);
    struct Case {
        std::string env;
        std::string script;  // a stand-in xz, when not empty
    };
    std::vector<Case> cases = {{"XZ_OPT=-T2", ""}, {"XZ_OPT=--x86", ""}, {"XZ_DEFAULTS=-T0", ""}, {"xz_opt=--x86", ""}};
    if (kPosix) cases.push_back({"", "#!/bin/sh\nexec " + kXz + " -T0 \"$@\"\n"});
    for (const Case& c : cases) {
        TempDir dir;
        write_file(dir / "app.bin", image);
        RunOptions options;
        if (!c.env.empty()) options.env = {c.env};
        if (!c.script.empty()) options.path_env = fake_xz_path(dir, c.script);
        ASSERT_EQ(pack(dir.path, {"app.bin", "image_compress"}, options).status, 0) << c.env;
        EXPECT_EQ(payload_of(read_file(dir / "app.ota.bin")), reference) << c.env << c.script;
    }
}

// Nothing is made, changed or removed beside the input.
TEST(Compress, FilesBesideTheInputAreLeftAlone) {
    for (const std::string name : {"app.bin", "fw.xz", "fw.txz"}) {
        TempDir dir;
        TempDir work;
        Bytes image = make_image(4000, "beside");
        write_file(dir / name, image);
        write_file(dir / (name + ".xz"), Bytes(500, 0xAB));  // the user's own
        // A run that succeeds, and one that fails (xz.exe beside the tool is
        // found whatever PATH says).
        std::vector<std::string> paths = {""};
        if (kPosix) paths.push_back("/nonexistent");
        for (const std::string& path : paths) {
            RunOptions options;
            if (!path.empty()) options.path_env = path;
            EXPECT_EQ(pack(dir.path, {name, "image_compress"}, options).status, path.empty() ? 0 : 255) << name;
            EXPECT_EQ(read_file(dir / (name + ".xz")), Bytes(500, 0xAB)) << name;
        }
        std::string output = name.substr(0, name.size() - 4) + ".ota.bin";
        std::vector<std::string> expected = {name, name + ".xz", output};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(list_dir(dir.path), expected) << name;
        EXPECT_EQ(decompress(work, payload_of(read_file(dir / output))), image) << name;
    }
}

// Runs on one input at once each make their own complete file.
TEST(Compress, ParallelRunsOnOneInput) {
    TempDir dir;
    TempDir work;
    Bytes image = make_image(200'000, "parallel");
    write_file(dir / "app.bin", image);
    RunOptions options;
    options.cwd = dir.path;
    std::vector<std::string> expected = {"app.bin", "app.ota.bin"};
    if (kPosix) {  // xz slowed down, so that the runs overlap
        options.path_env = fake_xz_path(dir, "#!/bin/sh\nsleep 0.2\nexec " + kXz + " \"$@\"\n");
        expected.push_back("fakebin");
    }
    std::vector<Running> runs;
    for (int i = 0; i < 4; i++) runs.push_back(start_program(kTool, {"app.bin", "image_compress"}, options));
    for (Running& run : runs) EXPECT_EQ(wait_program(run).status, 0);
    EXPECT_EQ(payload_of(read_file(dir / "app.ota.bin")), reference_stream(work, image));
    EXPECT_EQ(list_dir(dir.path), expected);
}

// The image is read once: what is checksummed is what is compressed, and a
// file that changes meanwhile fails the run.
TEST(Compress, InputChangedDuringTheRunIsAReadError) {
    SKIP_UNLESS_POSIX("a shell script in xz's place");
    TempDir dir;
    Bytes image = make_image(1 << 20, "changing");
    write_file(dir / "app.bin", image);
    RunOptions options;
    options.path_env =
        fake_xz_path(dir, "#!/bin/sh\nprintf 'zz' | dd of=app.bin bs=1 seek=300 conv=notrunc 2>/dev/null\nexec " + kXz +
                              " \"$@\"\n");
    RunResult r = pack(dir.path, {"app.bin", "image_compress"}, options);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "image size:0x100000\nfile read error\n");
    EXPECT_EQ(r.err, "image_gen_header: app.bin: file changed while it was read\n");
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"app.bin", "fakebin"}));
}

// A compressor that cannot start, fails, dies, or exits 0 with something that
// is not the image's stream fails the run with its reason on standard error,
// and leaves the earlier OTA file alone; so it does when the tool is started
// with SIGCHLD ignored.
TEST(Compress, CompressorFailures) {
    SKIP_UNLESS_POSIX(
        "shell scripts in xz's place (Windows.XzIsFoundBesideTheToolThenOnPathAndItsFailuresAreTold stands in)");
    const std::string xz = "#!/bin/sh\n" + kXz + " \"$@\"";
    const Bytes image = make_image(4096, "");
    // Other bytes with the image's size and CRC-16: the generator polynomial
    // added at the end leaves a CRC-16 as it was.
    TempDir twins;
    Bytes twin = image;
    twin[4093] ^= 0x01, twin[4094] ^= 0x10, twin[4095] ^= 0x21;
    ASSERT_EQ(CRC16_XMODEM(twin.data(), twin.size()), CRC16_XMODEM(image.data(), image.size()));
    write_file(twins / "twin.bin", twin);
    struct Case {
        std::string script;  // empty: no xz on the search path
        std::string reason;
    };
    for (const Case& c :
         {Case{"", "not found"}, Case{xz + " | head -c 50\nexit 1\n", "exit status 1"},
          Case{"#!/bin/sh\nhead -c 1000 > /dev/null\nkill -9 $$\n", "killed by signal 9"},
          // Exit status 0: only the stream tells.
          Case{"#!/bin/sh\nexit 0\n", "it gave back nothing"},
          Case{"#!/bin/sh\nexec 1>&-\ncat > /dev/null\n", "it gave back nothing"},
          Case{"#!/bin/sh\ncat > /dev/null\nprintf 'garbage, not a stream'\n",
               "it gave back a bad stream: not an xz stream"},
          Case{xz + " | head -c 50\n", "it gave back a bad stream: xz stream truncated"},
          Case{xz + " --check=crc64\n", "it gave back a bad stream: xz check is CRC64, want CRC32"},
          Case{"#!/bin/sh\ncat > /dev/null\n" + kXz + " --check=crc32 -c < /dev/null\n",
               "the stream decodes to 0 bytes, the image is 4096"},
          Case{"#!/bin/sh\nhead -c 4096 /dev/zero | " + kXz + " -T1 --lzma2=dict=32KiB --check=crc32 -c\n",
               "the stream decodes to other bytes than the image"},
          Case{"#!/bin/sh\ncat > /dev/null\nexec " + kXz + " -T1 --lzma2=dict=32KiB --check=crc32 -c < " +
                   twins / "twin.bin\n",
               "the stream decodes to other bytes than the image"}}) {
        for (bool ignore_sigchld : {false, true}) {
            TempDir dir;
            TempDir empty;
            write_file(dir / "app.bin", image);
            write_file(dir / "app.ota.bin", Bytes(10, 1));
            RunOptions options;
            options.path_env = c.script.empty() ? empty.path : fake_xz_path(dir, c.script);
            options.ignore_sigchld = ignore_sigchld;
            RunResult r = pack(dir.path, {"app.bin", "image_compress"}, options);
            std::string what = c.reason + (ignore_sigchld ? ", SIGCHLD ignored" : "");
            EXPECT_EQ(r.status, 255) << what;
            EXPECT_EQ(r.out, raw_image_lines(image) + "file open error\n") << what;
            const std::string reason =
                c.script.empty()
                    ? "not found on PATH (" + empty.path +
                          "); image_compress needs xz from XZ Utils (Debian: xz-utils; Windows: xz.exe beside the tool)"
                    : c.reason;
            EXPECT_EQ(r.err, "image_gen_header: xz: " + reason + "\n") << what;
            EXPECT_EQ(read_file(dir / "app.ota.bin"), Bytes(10, 1)) << what;
            std::vector<std::string> expected = {"app.bin", "app.ota.bin"};
            if (!c.script.empty()) expected.push_back("fakebin");
            EXPECT_EQ(list_dir(dir.path), expected) << what;
        }
    }
}

// A signal that ends the tool, whichever, ends xz too, with what it started
// (its process group): xz is killed and reaped, nothing is left, and the
// tool dies of that same signal.
TEST(Compress, FatalSignalsTakeXzAndTheTemporaryFileWithThem) {
    SKIP_UNLESS_POSIX("signals by number (Windows.CtrlCTakesXzAndTheTemporaryFileWithIt stands in)");
    for (const auto& [sig, name] : fatal_signals()) {
        TempDir dir;
        TempDir elsewhere;
        std::string pid_file = elsewhere / "xz.pid", grandchild_file = elsewhere / "grandchild.pid";
        write_file(dir / "app.bin", make_image(3000, ""));
        RunOptions options;
        options.cwd = dir.path;
        options.path_env = fake_xz_path(dir, "#!/bin/sh\nsleep 30 &\necho $! > " + grandchild_file + "\necho $$ > " +
                                                 pid_file + "\nexec sleep 30\n");
        Running run = start_program(kTool, {"app.bin", "image_compress"}, options);
        for (int i = 0; i < 500 && read_file_if_any(pid_file).empty(); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        Bytes pid_text = read_file_if_any(pid_file);
        ASSERT_FALSE(pid_text.empty()) << name;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        send_signal(run.pid, sig);
        RunResult r = wait_program(run);
        EXPECT_EQ(r.signal, sig) << name;
        // (qemu-user adds its own line for a signal that dumps core.)
        EXPECT_EQ(r.err.find("image_gen_header: interrupted\n") != std::string::npos, sig == SIGINT)
            << name << ": only an interrupt is told";
        EXPECT_FALSE(process_exists(std::stoll(std::string(pid_text.begin(), pid_text.end()))))
            << name << ": xz was reaped";
        Bytes grandchild = read_file(grandchild_file);
        EXPECT_FALSE(process_exists(std::stoll(std::string(grandchild.begin(), grandchild.end()))))
            << name << ": xz's child lives on";
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"app.bin", "fakebin"})) << name;
    }
}

// On a terminal set to `stty tostop`, xz, in a process group of its own,
// may still write its messages: it is not stopped for it, nor the run.
TEST(Compress, XzMayWriteToATerminalSetToTostop) {
    SKIP_UNLESS_POSIX("terminals and process groups");
    TempDir dir;
    write_file(dir / "app.bin", make_image(3000, ""));
    RunOptions options;
    options.cwd = dir.path;
    options.path_env = fake_xz_path(dir, "#!/bin/sh\necho 'xz: a note' >&2\nexec " + kXz + " \"$@\"\n");
    // script(1) gives the run a terminal of its own, in the foreground of it.
    RunResult r = run_program(
        "/usr/bin/timeout",
        {"30", "/usr/bin/script", "-qec", "stty tostop; exec " + kTool + " app.bin image_compress", "/dev/null"},
        options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("xz: a note"), std::string::npos) << r.out;
    EXPECT_TRUE(file_exists(dir / "app.ota.bin"));
}

TEST(Compress, FailedWriteLeavesNoFiles) {
    SKIP_UNLESS_POSIX("RLIMIT_FSIZE (and Wine gives no volume small enough to fill)");
    TempDir dir;
    Bytes image = make_image(200'000, "");  // random: the stream is a little longer than the image
    write_file(dir / "app.bin", image);
    RunOptions options;
    options.file_size_limit = 100'000;
    RunResult r = pack(dir.path, {"app.bin", "image_compress"}, options);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, raw_image_lines(image) + "file write error\n");
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"app.bin"});
}

}  // namespace
