// What only Windows has: xz.exe found beside the tool or on PATH (never in
// the current folder), its failures told, and console control events that
// clean up as SIGINT does elsewhere.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "test_support.h"

namespace {

const std::string kTool = IMAGE_GEN_HEADER_PATH;
const std::string kXz = XZ_PATH;
const std::string kStandIn = STAND_IN_XZ_PATH;

// A copy of the tool alone in dir/tools, with `beside` (a program) as
// xz.exe next to it when not empty; returns the copy's path.
std::string tool_copy(const TempDir& dir, const std::string& beside) {
    std::filesystem::create_directory(dir / "tools");
    std::filesystem::copy_file(kTool, dir / "tools/image_gen_header.exe");
    if (!beside.empty()) std::filesystem::copy_file(beside, dir / "tools/xz.exe");
    return dir / "tools/image_gen_header.exe";
}

std::string folder_of(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

TEST(Windows, XzIsFoundBesideTheToolThenOnPathAndItsFailuresAreTold) {
    struct Case {
        std::string what;
        std::string beside;    // xz.exe next to the tool
        std::string stand_in;  // OTA_STAND_IN for the stand-in
        bool real_xz_on_path;
        bool stand_in_in_cwd;  // a stand-in xz.exe in the current folder
        std::string reason;    // empty: packs
    };
    const std::string not_found =
        "not found (xz.exe is neither beside the tool nor on PATH); "
        "image_compress needs xz from XZ Utils (Debian: xz-utils; Windows: xz.exe beside the tool)";
    for (const Case& c : std::vector<Case>{
             {"on PATH only", "", "", true, false, ""},
             {"beside the tool first", kStandIn, "exit:1", true, false, "exit status 1"},
             {"none anywhere", "", "", false, false, not_found},
             {"never from the current folder", "", "garbage", false, true, not_found},
             {"exits 0 with nothing", kStandIn, "nothing", false, false, "it gave back nothing"},
             {"exits 0 with garbage", kStandIn, "garbage", false, false, "it gave back a bad stream: not an xz stream"},
             {"crashes", kStandIn, "crash", false, false, "ended by status 0xc0000409"},
         }) {
        TempDir dir;
        TempDir empty;
        std::string tool = tool_copy(dir, c.beside);
        Bytes image = make_image(4096, "windows");
        write_file(dir / "app.bin", image);
        write_file(dir / "app.ota.bin", Bytes(10, 1));
        if (c.stand_in_in_cwd) std::filesystem::copy_file(kStandIn, dir / "xz.exe");
        RunOptions options;
        options.cwd = dir.path;
        options.path_env = c.real_xz_on_path ? folder_of(kXz) : empty.path;
        if (!c.stand_in.empty()) options.env = {"OTA_STAND_IN=" + c.stand_in};
        RunResult r = run_program(tool, {"app.bin", "image_compress"}, options);
        if (c.reason.empty()) {
            EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
            EXPECT_EQ(read_file(dir / "app.ota.bin").size() > 128, true) << c.what;
        } else {
            EXPECT_EQ(r.status, 255) << c.what;
            EXPECT_EQ(r.out, raw_image_lines(image) + "file open error\n") << c.what;
            EXPECT_EQ(r.err, "image_gen_header: xz: " + c.reason + "\n") << c.what;
            EXPECT_EQ(read_file(dir / "app.ota.bin"), Bytes(10, 1)) << c.what;
        }
        for (const std::string& name : list_dir(dir.path))
            EXPECT_NE(name[0], '.') << c.what << ": " << name << " was left";
    }
}

// The tool packing app.bin in dir with a stand-in xz.exe that sleeps, and
// that xz.exe, once it has started (it says who it is in `elsewhere`).
struct SleepingRun {
    Running run;
    HANDLE xz = nullptr;
};
SleepingRun start_sleeping_run(const TempDir& dir, const TempDir& elsewhere, bool new_console) {
    std::string tool = tool_copy(dir, kStandIn);
    std::string pid_file = elsewhere / "xz.pid";
    write_file(dir / "app.bin", make_image(3000, ""));
    RunOptions options;
    options.cwd = dir.path;
    options.env = {"OTA_STAND_IN=sleep:" + pid_file};
    options.new_console = new_console;
    SleepingRun started{start_program(tool, {"app.bin", "image_compress"}, options)};
    for (int i = 0; i < 500 && read_file_if_any(pid_file).empty(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Bytes pid_text = read_file_if_any(pid_file);
    if (!pid_text.empty()) {
        started.xz = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE,
                                 std::stoul(std::string(pid_text.begin(), pid_text.end())));
    }
    return started;
}

// Ctrl-C (as Ctrl-Break or a closed console) ends xz.exe and removes the
// temporary file; the tool ends as an unhandled Ctrl-C ends a program.
TEST(Windows, CtrlCTakesXzAndTheTemporaryFileWithIt) {
    TempDir dir, elsewhere;
    auto [run, xz] = start_sleeping_run(dir, elsewhere, true);
    ASSERT_NE(xz, nullptr);
    // Ctrl-C as a user gives it: in the tool's own console, which the test
    // joins for the moment, ignoring the event itself.
    FreeConsole();
    bool sent = AttachConsole(static_cast<DWORD>(run.pid)) && SetConsoleCtrlHandler(nullptr, TRUE) &&
                GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    if (!sent) {
        DWORD code = GetLastError();
        kill_program(run);
        wait_program(run);
        TerminateProcess(xz, 1);
        CloseHandle(xz);
        GTEST_SKIP() << "no console to send Ctrl-C through here (error " << code << ")";
    }
    RunResult r = wait_program(run);
    EXPECT_EQ(r.exit_code, 0xC000013Au) << "STATUS_CONTROL_C_EXIT";
    EXPECT_EQ(WaitForSingleObject(xz, 5000), WAIT_OBJECT_0) << "xz.exe, in a group Ctrl-C does not reach, was ended";
    TerminateProcess(xz, 1);
    CloseHandle(xz);
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"app.bin", "tools"}));
}

// A tool ended by force, which no handler sees, leaves no temporary file:
// the system deletes it when the tool's last handle to it goes.
TEST(Windows, ATerminatedToolLeavesNoTemporaryFile) {
    TempDir dir, elsewhere;
    auto [run, xz] = start_sleeping_run(dir, elsewhere, false);
    ASSERT_NE(xz, nullptr);
    std::vector<std::string> during = list_dir(dir.path);
    kill_program(run);
    wait_program(run);
    TerminateProcess(xz, 1);
    CloseHandle(xz);
    EXPECT_EQ(during.size(), 3u) << "the temporary file was there while the tool ran";
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"app.bin", "tools"}));
}

}  // namespace
