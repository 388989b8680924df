// The system layer's owners on their own: the atomic output file and the
// child process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "sys/atomic_file.h"
#include "sys/child.h"
#include "sys/descriptor.h"
#include "sys/input_file.h"
#include "sys/system_paths.h"
#include "test_support.h"

namespace {

// The temporary files beside `name` in `dir`.
std::vector<std::string> temporaries(const TempDir& dir, const std::string& name) {
    std::vector<std::string> found;
    for (const std::string& entry : list_dir(dir.path)) {
        if (entry.starts_with("." + name + ".")) found.push_back(entry);
    }
    return found;
}

// Committed, the file is complete under its name with the replaced file's
// mode, which it gets only then: it is private while written. Given up or
// dropped, nothing is left.
TEST(Sys, AtomicFileCommitsOrLeavesNothing) {
    TempDir dir;
    const std::string name = dir / "out.bin";
    write_file(name, Bytes(5, 1));
    if (kPosix) set_permissions(name, 0604);
    const Bytes data = {1, 2, 3, 4};
    std::string error;
    {
        AtomicFile dropped;
        ASSERT_TRUE(dropped.begin(name, error)) << error;
        ASSERT_TRUE(dropped.write(data.data(), data.size(), error)) << error;
    }
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"out.bin"});
    EXPECT_EQ(read_file(name), Bytes(5, 1));

    AtomicFile out;
    ASSERT_TRUE(out.begin(name, error)) << error;
    ASSERT_TRUE(out.write(data.data(), data.size(), error)) << error;
    ASSERT_TRUE(out.write_at(0, data.data() + 3, 1, error)) << error;
    std::vector<std::string> written = temporaries(dir, "out.bin");
    ASSERT_EQ(written.size(), 1u);
    if (kPosix) {
        EXPECT_EQ(permissions_of(dir / written[0]), 0600u) << "private while written";
    }
    ASSERT_EQ(out.commit(error), AtomicFile::Commit::done) << error;
    EXPECT_EQ(read_file(name), (Bytes{4, 2, 3, 4}));
    if (kPosix) {
        EXPECT_EQ(permissions_of(name), 0604u);
    }
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"out.bin"});

    std::filesystem::create_directory(dir / "sub");
    AtomicFile on_directory;
    EXPECT_FALSE(on_directory.begin(dir / "sub", error));
    EXPECT_EQ(error, "Is a directory; name a file in it (" + dir / "sub" + "/NAME)");
}

// The directory is held: moved while the file is written, it still gets the
// file, committed or dropped, and nothing is left where it was.
TEST(Sys, AtomicFileStaysInItsDirectoryWhenItMoves) {
    SKIP_UNLESS_POSIX("a directory that can be renamed while it is open");
    for (bool commit : {true, false}) {
        TempDir dir;
        std::filesystem::create_directory(dir / "before");
        std::string error;
        AtomicFile out;
        ASSERT_TRUE(out.begin(dir / "before/out.bin", error)) << error;
        std::filesystem::rename(dir / "before", dir / "after");
        ASSERT_TRUE(out.write(Bytes(100, 7).data(), 100, error)) << error;
        if (commit) {
            ASSERT_EQ(out.commit(error), AtomicFile::Commit::done) << error;
        }
        out.abandon();
        EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"after"});
        EXPECT_EQ(list_dir(dir / "after"), commit ? std::vector<std::string>{"out.bin"} : std::vector<std::string>{});
    }
}

// Only what lies in /dev or /proc once the links are resolved is a system
// directory; /dev/shm is a file system for files.
TEST(Sys, SystemDirectoriesAreFoundOnceLinksAreResolved) {
    SKIP_UNLESS_HOST_HAS(proc, "/dev and /proc");
    TempDir dir;
    std::filesystem::create_directory_symlink("/dev", dir / "to-dev");
    std::filesystem::create_directory_symlink("/proc/self", dir / "to-proc");
    std::filesystem::create_directory_symlink(dir.path, dir / "to-here");
    struct Case {
        std::string directory, system;
    };
    for (const Case& c : std::vector<Case>{
             {"/dev", "/dev"},
             {"/proc/self", "/proc"},
             {dir / "to-dev", "/dev"},
             {dir / "to-proc/fd", "/proc"},
             {dir / "to-dev/..", ""},
             {"/proc/self/cwd", ""},  // a link out of /proc, to the current directory
             {dir.path, ""},
             {dir / "to-here", ""},
             {"/", ""},
         }) {
        EXPECT_EQ(system_directory_of(c.directory), c.system) << c.directory;
    }
    for (const Case& c : std::vector<Case>{
             {"/dev/shm", ""}, {"/dev/shm/x", ""}, {"/device", ""}, {"/procs/x", ""}, {"/dev/fd", "/dev"}}) {
        EXPECT_EQ(system_directory_named(c.directory), c.system) << c.directory;
    }
}

// A child reads the caller's file, gives its output back in a process group
// of its own, and its end is told truthfully; one still running when its
// owner goes is killed and reaped.
TEST(Sys, ChildProcessEndsAreToldApart) {
    SKIP_UNLESS_POSIX(
        "shell commands as children (Windows.XzIsFoundBesideTheToolThenOnPathAndItsFailuresAreTold stands in)");
    TempDir dir;
    write_file(dir / "in.bin", Bytes{'a', 'b', 'c'});
    set_env("OTA_TEST_DROPPED", "seen");
    struct Case {
        std::vector<std::string> argv;
        std::string out;
        std::string reason;  // empty: exit status 0
    };
    auto run = [&](const std::vector<std::string>& argv, ChildProcess& child, std::string& out, std::string& error) {
        InputFile input;
        Descriptor fd;
        bool ok = input.open(dir / "in.bin", FifoOpen::no_wait, error) && input.reopen(dir / "in.bin", fd, error) &&
                  child.start(argv, {"OTA_TEST_DROPPED"}, fd, error);
        while (ok && !child.output_ended() && out.find('\n') == std::string::npos) {
            uint8_t buffer[64];
            size_t got = 0;
            ok = child.read(buffer, sizeof buffer, got, error);
            out.append(reinterpret_cast<char*>(buffer), got);
        }
        return ok;
    };
    for (const Case& c : std::vector<Case>{
             {{"sh", "-c", "cat"}, "abc", ""},
             {{"sh", "-c", "printf '%s' \"$OTA_TEST_DROPPED\""}, "", ""},
             {{"sh", "-c", "test \"$(cut -d' ' -f5 /proc/$$/stat)\" = $$ && printf own"}, "own", ""},
             {{"sh", "-c", "exit 3"}, "", "exit status 3"},
             {{"sh", "-c", "kill -9 $$"}, "", "killed by signal 9"},
             {{"ota-test-no-such-program"}, "", "not found on PATH (" + std::string(std::getenv("PATH")) + ")"},
         }) {
        ChildProcess child;
        std::string out, error;
        bool ok = run(c.argv, child, out, error) && child.wait(error);
        EXPECT_EQ(ok, c.reason.empty()) << c.argv.back();
        EXPECT_EQ(ok ? "" : error, c.reason) << c.argv.back();
        EXPECT_EQ(out, c.out) << c.argv.back();
    }
    unset_env("OTA_TEST_DROPPED");

    std::string pid;
    {
        ChildProcess child;
        std::string error;
        ASSERT_TRUE(run({"sh", "-c", "echo $$; exec sleep 30"}, child, pid, error)) << error;
    }
    EXPECT_FALSE(process_exists(std::stoll(pid))) << "killed and reaped";
}

// A call out of its owner's sequence is loud where it can be seen (a debug
// build stops, naming it) and harmless where it cannot (a release build
// fails the call, touching no file or process).
TEST(Sys, MisuseIsLoudInDebugAndFailsInRelease) {
    TempDir dir;
    const std::string name = dir / "out.bin";
    const Bytes data = {1, 2};
    struct Case {
        const char* what;
        std::function<bool(std::string&)> call;
    };
    for (const Case& c : std::vector<Case>{
             {"a child waited for that never started",
              [](std::string& error) {
                  ChildProcess child;
                  return child.wait(error);
              }},
             {"a file written after its commit",
              [&](std::string& error) {
                  AtomicFile out;
                  if (!out.begin(name, error) || out.commit(error) != AtomicFile::Commit::done) return true;
                  return out.write(data.data(), data.size(), error);
              }},
         }) {
#ifdef NDEBUG
        std::string error;
        EXPECT_FALSE(c.call(error)) << c.what;
        EXPECT_TRUE(error.starts_with("internal error: ")) << c.what << ": " << error;
#else
        std::string error;
        EXPECT_DEATH(c.call(error), "internal error: ") << c.what;
#endif
    }
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{"out.bin"});
}

}  // namespace
