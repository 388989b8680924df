// The status line both tools draw during a long run.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>
#include <tuple>

#include "test_support.h"

namespace {

// A run that lasts past a second keeps a status line on standard error when
// that is a terminal, or when asked, and clears it; standard output is the
// same either way. Both runs here pause a second and a half midway.
TEST(Progress, OnATerminalOrWhenAskedOnly) {
    SKIP_UNLESS_POSIX("pseudo-terminals and FIFOs");
    TempDir dir;
    write_file(dir / "app.bin", make_image(1 << 20, "progress"));
    RunOptions slow_xz;
    slow_xz.cwd = dir.path;
    slow_xz.path_env =
        fake_xz_path(dir, "#!/bin/sh\ns=$(mktemp)\n" + std::string(XZ_PATH) +
                              " \"$@\" > \"$s\"\nhead -c 1000 \"$s\"\nsleep 1.5\ntail -c +1001 \"$s\"\nrm -f \"$s\"\n");
    std::string packed_lines;
    for (const auto& [terminal, option, shown] :
         {std::tuple{true, "", true}, std::tuple{false, "", false}, std::tuple{false, "--progress", true},
          std::tuple{true, "--no-progress", false}}) {
        RunOptions options = slow_xz;
        options.stderr_terminal = terminal;
        std::vector<std::string> args = {"app.bin", "image_compress"};
        if (*option) args.push_back(option);
        RunResult r = pack(dir.path, args, options);
        EXPECT_EQ(r.status, 0) << r.err;
        if (packed_lines.empty()) packed_lines = r.out;
        EXPECT_EQ(r.out, packed_lines) << option;
        // On a terminal one line rewritten in place, then cleared; in a log, whole lines.
        const bool drawn = r.err.starts_with(terminal ? "\rimage_gen_header: " : "image_gen_header: ") &&
                           r.err.find("%, ") != std::string::npos && r.err.find(" MB/s, ") != std::string::npos &&
                           r.err.find(" left") != std::string::npos;
        EXPECT_EQ(drawn, shown) << terminal << option << r.err;
        EXPECT_EQ(r.err.empty(), !shown) << r.err;
        if (shown) {
            EXPECT_TRUE(terminal ? r.err.ends_with("\r")
                                 : r.err.ends_with(" left\n") && r.err.find('\r') == std::string::npos)
                << r.err;
        }
    }
    const Bytes ota = read_file(dir / "app.ota.bin");
    make_fifo(dir / "fifo");
    for (bool terminal : {true, false}) {
        std::thread writer([&] {
            std::ofstream out(dir / "fifo", std::ios::binary);
            out.write(reinterpret_cast<const char*>(ota.data()), 1000).flush();
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            out.write(reinterpret_cast<const char*>(ota.data()) + 1000,
                      static_cast<std::streamsize>(ota.size() - 1000));
        });
        RunOptions options;
        options.stderr_terminal = terminal;
        options.cwd = dir.path;
        RunResult r = run_program(OTA_INFO_PATH, {"fifo"}, options);
        writer.join();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out.starts_with("file:          fifo\n")) << r.out;
        EXPECT_EQ(r.err.starts_with("\rota_info: ") && r.err.find(" MB/s") != std::string::npos, terminal) << r.err;
    }
}

}  // namespace
