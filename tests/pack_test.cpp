// image_gen_header run as a user runs it, in a temporary directory.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "format/crc16_xmodem.h"
#include "test_support.h"

namespace {

const std::string kTool = IMAGE_GEN_HEADER_PATH;

uint32_t word_at(const Bytes& file, size_t offset) {
    return file[offset] | file[offset + 1] << 8 | file[offset + 2] << 16 |
           static_cast<uint32_t>(file[offset + 3]) << 24;
}

TEST(Pack, ImageCopyWritesHeaderThenImage) {
    TempDir dir;
    for (size_t size : {size_t{0}, size_t{1}, size_t{0x100}, size_t{0x101}, size_t{512}, size_t{100'000}}) {
        Bytes image = make_image(size, "label-x");
        write_file(dir / "app.bin", image);
        RunResult r = pack(dir.path, {"app.bin", "image_copy"});
        EXPECT_EQ(r.status, 0) << size;
        EXPECT_EQ(r.out, raw_image_lines(image)) << size;
        // A label the image's end cuts is told.
        EXPECT_EQ(
            r.err,
            size == 0x101
                ? "image_gen_header: app.bin: no NUL ends the label at 0x100 within 31 bytes; the label is \"l\"\n"
                : "");
        Bytes ota = read_file(dir / "app.ota.bin");
        ASSERT_EQ(ota.size(), size + 128);
        EXPECT_EQ(Bytes(ota.begin() + 128, ota.end()), image) << size;
        EXPECT_EQ(word_at(ota, 0x50), size);
        EXPECT_EQ(word_at(ota, 0x54), CRC16_XMODEM(image.data(), image.size()));
        EXPECT_EQ(read_file(dir / "app.bin"), image) << "the input is only read";
    }
}

TEST(Pack, PrintsSizeInLowercaseHexWithoutPadding) {
    TempDir dir;
    write_file(dir / "app.bin", make_image(512, ""));
    EXPECT_EQ(pack(dir.path, {"app.bin", "image_copy"}).out.substr(0, 18), "image size:0x200\ni");
    write_file(dir / "app.bin", make_image(0xABC, ""));
    EXPECT_EQ(pack(dir.path, {"app.bin", "image_copy"}).out.substr(0, 17), "image size:0xabc\n");
    write_file(dir / "app.bin", {});
    EXPECT_EQ(pack(dir.path, {"app.bin", "image_copy"}).out, "image size:0x0\nimage crc:0x0\n");
}

TEST(Pack, FlashRemappingDiffersOnlyInRemapWords) {
    TempDir dir;
    Bytes image = make_image(3000, "remap");
    write_file(dir / "fw.bin", image);
    ASSERT_EQ(pack(dir.path, {"fw.bin", "image_copy"}).status, 0);
    Bytes copy = read_file(dir / "fw.ota.bin");
    RunResult r = pack(dir.path, {"fw.bin", "flash_remapping"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, raw_image_lines(image));
    Bytes remap = read_file(dir / "fw.ota.bin");
    ASSERT_EQ(remap.size(), copy.size());
    for (size_t i = 0; i < copy.size(); i++) {
        bool remap_word = (i >= 0x40 && i < 0x44) || (i >= 0x64 && i < 0x68);
        EXPECT_EQ(copy[i] != remap[i], remap_word) << "offset " << i;
    }
    EXPECT_EQ(word_at(remap, 0x64), 0xA5A55A00u);
}

TEST(Pack, OutputNameDropsFourBytesAndAddsSuffix) {
    struct Case {
        std::string input, output;
    };
    for (const Case& c : std::vector<Case>{{"app.bin", "app.ota.bin"},
                                           {"out/fw.bin", "out/fw.ota.bin"},
                                           {"image.hex", "image.ota.bin"},
                                           {"firmware", "firm.ota.bin"},
                                           {"abcd", ".ota.bin"},
                                           {"out/abcd", "out/.ota.bin"}}) {
        TempDir dir;
        std::filesystem::create_directory(dir / "out");
        Bytes image = make_image(700, "n");
        write_file(dir / c.input, image);
        RunResult r = pack(dir.path, {c.input, "image_copy"});
        EXPECT_EQ(r.status, 0) << c.input;
        ASSERT_TRUE(file_exists(dir / c.output)) << c.input;
        EXPECT_EQ(read_file(dir / c.output).size(), image.size() + 128);
    }
}

// Names reach the file system, and xz, as they are: no shell sees them, and
// xz gets each as one file name, in every mode.
TEST(Pack, AnyFileNameWorksInEveryMode) {
    TempDir dir;
    TempDir work;
    std::string deep = "d";
    for (int i = 0; i < 6; i++) deep += "/" + std::string(60, static_cast<char>('a' + i));
    std::filesystem::create_directories(dir / deep);
    for (const std::string mode : {"image_copy", "image_compress", "flash_remapping"}) {
        for (const std::string& name : hostile_names(deep)) {
            Bytes image = make_image(2000, "hostile");
            write_file(dir / name, image);
            RunResult r = pack(dir.path, {name, mode});
            EXPECT_EQ(r.status, 0) << mode << " " << name << ": " << r.err;
            EXPECT_TRUE(r.out.starts_with(raw_image_lines(image))) << mode << " " << name;
            std::string output = name.substr(0, name.size() - 4) + ".ota.bin";
            ASSERT_TRUE(file_exists(dir / output)) << mode << " " << name;
            Bytes payload = payload_of(read_file(dir / output));
            EXPECT_EQ(mode == "image_compress" ? decompress(work, payload) : payload, image) << mode << " " << name;
            EXPECT_FALSE(file_exists(dir / (name + ".xz"))) << name;
        }
    }
    for (const char* marker : {"pwned1", "pwned2", "pwned3"}) EXPECT_FALSE(file_exists(dir / marker));
    EXPECT_GT((deep + "/image.bin").size(), 251u);
}

// A run over a larger earlier file leaves nothing of it; a run with an
// argument too many (an output named last) leaves the file as it was.
TEST(Pack, RerunTruncatesAndExtraArgumentsTouchNothing) {
    TempDir dir;
    write_file(dir / "app.bin", make_image(5000, "old"));
    ASSERT_EQ(pack(dir.path, {"app.bin", "image_copy"}).status, 0);
    Bytes image = make_image(900, "new");
    write_file(dir / "app.bin", image);
    ASSERT_EQ(pack(dir.path, {"app.bin", "image_copy"}).status, 0);
    Bytes first = read_file(dir / "app.ota.bin");
    EXPECT_EQ(first.size(), 1028u);
    write_file(dir / "app.bin", make_image(700, "newer"));
    RunResult r = pack(dir.path, {"app.bin", "image_copy", "image_compress", "extra"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "input param error\n");
    EXPECT_EQ(read_file(dir / "app.ota.bin"), first);
}

// An input that is likely a mistake packs as asked, with a word on standard
// error: an ELF file, an OTA file, a label with no NUL in its slot.
TEST(Pack, LikelyMistakesPackWithAWarning) {
    TempDir dir;
    Bytes elf = make_image(3000, "elf");
    std::copy_n(
        "\x7f"
        "ELF",
        4, elf.begin());
    Bytes ota = make_image(3000, "");
    std::copy_n("WIFI K7Q3 R2T9", 15, ota.begin());
    struct Case {
        Bytes image;
        std::string warning;
    };
    for (const Case& c :
         {Case{elf,
               "looks like an ELF file, not a raw flash image; packed as it is (objcopy -O binary makes the image)"},
          Case{ota, "is already an OTA file; packed again as it is, inside a new header"},
          Case{make_image(3000, std::string(40, 'L')),
               "no NUL ends the label at 0x100 within 31 bytes; the label is \"" + std::string(31, 'L') + "\""},
          Case{Bytes(0x100 + 5, 0xF7),
               R"(no NUL ends the label at 0x100 within 31 bytes; the label is "\xf7\xf7\xf7\xf7\xf7")"},
          Case{make_image(3000, "fine"), ""}}) {
        write_file(dir / "in.bin", c.image);
        RunResult r = pack(dir.path, {"in.bin", "image_copy"});
        EXPECT_EQ(r.status, 0) << c.warning;
        EXPECT_EQ(r.out, raw_image_lines(c.image)) << c.warning;
        EXPECT_EQ(r.err, c.warning.empty() ? "" : "image_gen_header: in.bin: " + c.warning + "\n");
    }
}

// A call that names no packing says which argument is wrong, then the usage,
// and touches nothing.
TEST(Pack, UsageFailuresSayWhichArgumentIsWrong) {
    TempDir dir;
    std::filesystem::create_directory(dir / "out");
    write_file(dir / "app.bin", make_image(600, ""));
    write_file(dir / "abc", make_image(600, ""));
    write_file(dir / "out/fw", make_image(600, ""));
    const std::string suggest_o = "; name it with -o";
    struct Case {
        std::vector<std::string> args;
        std::string problem;
    };
    for (const Case& c : std::vector<Case>{
             {{"app.bin", "IMAGE_COPY"}, "unknown mode 'IMAGE_COPY' (did you mean image_copy?)"},
             {{"app.bin", "image-compres"}, "unknown mode 'image-compres' (did you mean image_compress?)"},
             {{"app.bin", ""}, "unknown mode '' (MODE is image_copy, image_compress or flash_remapping)"},
             {{"app.bin", "it's\ncopy\x1b"},
              "unknown mode 'it'\\''s'$'\\n''copy'$'\\x1b' (MODE is image_copy, image_compress or flash_remapping)"},
             {{"app.bin"}, "MODE is missing after INPUT 'app.bin'"},
             {{}, "INPUT and MODE are missing"},
             {{"image_copy", "app.bin"}, "the arguments are swapped: INPUT comes first, then MODE ('image_copy')"},
             {{"abc", "image_copy"},
              "the INPUT name 'abc' is too short to form the output name, which drops its last 4 bytes" + suggest_o},
             {{"", "image_copy"},
              "the INPUT name '' is too short to form the output name, which drops its last 4 bytes" + suggest_o},
             {{"out/fw", "image_copy"},
              "the output name would leave INPUT's directory: dropping the last 4 bytes of 'out/fw' reaches past a "
              "'/'" +
                  suggest_o},
             {{"\xC3\xA9"
               "abc",
               "image_copy"},
              "the output name would end in half a character: dropping the last 4 bytes of '\xC3\xA9"
              "abc' cuts one in two" +
                  suggest_o},
             {{"app.bin", "image_copy", "-z"}, "unknown option '-z'"},
             {{"--verbose", "app.bin", "image_copy"}, "unknown option '--verbose'"},
             {{"-o", "a.ota", "-ob.ota", "app.bin", "image_copy"}, "OUTPUT is given twice ('a.ota' and 'b.ota')"},
             {{"-o", "-", "app.bin", "image_copy"},
              "OUTPUT '-' is standard output, but an OTA file needs a file it can seek in: its header is written last"},
             {{"app.bin", "image_copy", "-o"}, "option -o needs an OUTPUT name"},
             {{"--output=", "app.bin", "image_copy"}, "the OTA file's name (-o) is empty"},
             {{"-o", "app.bin", "app.bin", "image_copy"}, "OUTPUT 'app.bin' is the input file"},
             {{"--help", "app.bin"}, "option --help goes alone"},
             {{"app.bin", "image_copy", "--version"}, "option --version goes alone"},
             // An output named last is refused, with the command that names it.
             {{"app.bin", "image_compress", "release/fw 1.ota.bin"},
              "extra argument 'release/fw 1.ota.bin' after MODE; "
              "an output is named with -o: image_gen_header -o 'release/fw 1.ota.bin' app.bin image_compress"},
             {{"--", "-o", "image_copy", "x.bin"},
              "extra argument 'x.bin' after MODE; "
              "an output is named with -o: image_gen_header -o x.bin -- -o image_copy"},
             {{"-o", "a.ota", "app.bin", "image_copy", "x", "y"}, "extra arguments 'x' 'y' after MODE"},
         }) {
        std::vector<std::string> before = list_dir(dir.path);
        RunResult r = pack(dir.path, c.args);
        EXPECT_EQ(r.status, 255) << c.problem;
        EXPECT_EQ(r.out, "input param error\n") << c.problem;
        EXPECT_EQ(r.err, "image_gen_header: " + c.problem + "\nTry 'image_gen_header --help'.\n");
        EXPECT_EQ(list_dir(dir.path), before) << c.problem;
    }
}

// --help and --version alone are answers, on standard output, checked as any line is.
TEST(Pack, HelpAndVersion) {
    TempDir dir;
    for (const std::string arg : {"--help", "-h", "--version", "-V"}) {
        RunResult r = pack(dir.path, {arg});
        EXPECT_EQ(r.status, 0) << arg;
        EXPECT_EQ(r.err, "") << arg;
        if (arg == "--help" || arg == "-h") {
            EXPECT_TRUE(r.out.starts_with("usage: " + man_synopsis("image_gen_header.1.in", "       "))) << r.out;
            for (const char* text :
                 {"image_copy", "image_compress", "flash_remapping", "--output", "image_gen_header(1)"}) {
                EXPECT_NE(r.out.find(text), std::string::npos) << text;
            }
        } else {
            EXPECT_EQ(r.out, "image_gen_header " + kVersionText + "\n");
        }
        if (!kPosix) continue;  // /dev/full
        RunOptions full;
        full.stdout_file = "/dev/full";
        r = pack(dir.path, {arg}, full);
        EXPECT_EQ(r.status, 255) << arg;
        EXPECT_EQ(r.err, "image_gen_header: standard output: No space left on device\n") << arg;
    }
}

// -o names the OTA file, with every promise of the derived name; any INPUT
// name then works.
TEST(Pack, OutputOption) {
    struct Case {
        std::vector<std::string> args;
        std::string output;
        std::string err = "";
    };
    for (const Case& c : std::vector<Case>{
             {{"-o", "fw.ota", "app.bin", "image_copy"}, "fw.ota"},
             {{"--output", "out/fw.ota", "app.bin", "image_copy"}, "out/fw.ota"},
             {{"--output=fw.ota", "app.bin", "image_copy"}, "fw.ota"},
             {{"-ofw.ota", "app.bin", "image_copy"}, "fw.ota"},
             {{"app.bin", "image_copy", "-o", "fw.ota"}, "fw.ota"},
             {{"-o", "fw.ota", "--", "-o", "image_copy"}, "fw.ota"},
             {{"-o", "abc.ota", "abc", "image_copy"}, "abc.ota"},
             {{"-o", "in.ota", "out/in", "image_copy"}, "in.ota"},
             {{"-o", "link.ota", "app.bin", "image_copy"}, "link.ota"},
         }) {
        if (!kSymlinks && c.output == "link.ota") continue;
        TempDir dir;
        std::filesystem::create_directory(dir / "out");
        Bytes image = make_image(3000, "out");
        for (const char* input : {"app.bin", "-o", "abc", "out/in"}) write_file(dir / input, image);
        write_file(dir / "target.bin", Bytes(10, 1));
        if (kSymlinks) std::filesystem::create_symlink("target.bin", dir / "link.ota");
        write_file(dir / "fw.ota", Bytes(10, 2));
        if (kPosix) set_permissions(dir / "fw.ota", 0640);

        RunResult r = pack(dir.path, c.args);
        EXPECT_EQ(r.status, 0) << c.output << ": " << r.err;
        EXPECT_EQ(r.out, raw_image_lines(image)) << c.output;
        EXPECT_EQ(r.err, c.err) << c.output;
        EXPECT_EQ(std::filesystem::symlink_status(dir / c.output).type(), std::filesystem::file_type::regular)
            << c.output << ": a link is replaced as a name";
        if (kPosix && c.output == "fw.ota") {
            EXPECT_EQ(permissions_of(dir / c.output), 0640u) << "permission bits kept";
        }
        EXPECT_EQ(read_file(dir / c.output).size(), image.size() + 128) << c.output;
        EXPECT_EQ(read_file(dir / "target.bin"), Bytes(10, 1)) << c.output;
        EXPECT_EQ(read_file(dir / "app.bin"), image) << c.output;
        for (const std::string& name : list_dir(dir.path)) EXPECT_NE(name[0], '.') << name << " was left";
    }
}

// No OTA file is written into /dev or /proc, named with -o or derived from
// INPUT, directly or through a link. Run with a /dev of their own, so that a
// fault cannot replace the system's.
TEST(Pack, NothingIsWrittenIntoDevOrProc) {
    SKIP_UNLESS_HOST_HAS(mount_namespaces, "a mount namespace of its own");
    TempDir dir;
    Bytes image = make_image(3000, "system");
    write_file(dir / "app.bin", image);
    std::filesystem::create_directory_symlink("/dev", dir / "devlink");
    const std::string tool = IMAGE_GEN_HEADER_PATH;
    struct Case {
        std::vector<std::string> command;
        std::string output;
    };
    for (const Case& c : std::vector<Case>{
             {{tool, "-o", "/dev/stderr", "app.bin", "image_copy"}, "/dev/stderr"},
             {{tool, "/dev/stdin", "image_compress"}, "/dev/s.ota.bin"},
             {{tool, "-o", "devlink/fw.ota.bin", "app.bin", "flash_remapping"}, "devlink/fw.ota.bin"},
             {{tool, "-o", "/proc/self/fw.ota.bin", "app.bin", "image_copy"}, "/proc/self/fw.ota.bin"},
         }) {
        RunResult r = run_with_own_dev(dir.path, c.command, dir / "app.bin");
        EXPECT_EQ(r.status, 255) << c.output;
        EXPECT_EQ(r.out, raw_image_lines(image) + "file open error\n") << c.output;
        std::string system = c.output.find("proc") != std::string::npos ? "/proc" : "/dev";
        EXPECT_EQ(r.err, "image_gen_header: " + c.output + ": is in " + system + ", where no file is written\n");
    }
}

// /dev bind-mounted elsewhere, as a chroot's or container's is, is /dev all
// the same, for both tools.
TEST(Pack, DevMountedElsewhereIsStillDev) {
    SKIP_UNLESS_HOST_HAS(mount_namespaces, "a mount namespace of its own");
    TempDir dir;
    write_file(dir / "app.bin", make_image(3000, "alias"));
    ASSERT_EQ(pack(dir.path, {"app.bin", "image_copy"}).status, 0);
    std::filesystem::create_directory(dir / "alias");
    const std::string bind = "mount --bind /dev alias && exec \"$@\"";
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{IMAGE_GEN_HEADER_PATH, "-o", "alias/stdout", "app.bin", "image_copy"},
          std::vector<std::string>{OTA_INFO_PATH, "--extract", "alias/raw.bin", "app.ota.bin"}}) {
        std::vector<std::string> in_namespace = {"/bin/sh", "-c", bind, "sh"};
        in_namespace.insert(in_namespace.end(), command.begin(), command.end());
        RunResult r = run_with_own_dev(dir.path, in_namespace);
        EXPECT_NE(r.status, 0) << command[0];
        EXPECT_NE(r.err.find(": is in /dev, where no file is written\n"), std::string::npos) << r.err;
    }
}

TEST(Pack, MissingInputSaysFileOpenErrorAlone) {
    TempDir dir;
    RunResult r = pack(dir.path, {"absent.bin", "image_copy"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "file open error\n");
    EXPECT_EQ(r.err, "image_gen_header: absent.bin: No such file or directory\n");
    EXPECT_TRUE(list_dir(dir.path).empty());
}

// An output that cannot be made says what to do: a directory under the name
// asks for a file in it; a directory that is missing or read-only is named.
TEST(Pack, OutputThatCannotBeCreated) {
    for (const std::string mode : {"image_copy", "flash_remapping", "image_compress"}) {
        TempDir dir;
        Bytes image = make_image(800, "");
        write_file(dir / "app.bin", image);
        std::filesystem::create_directory(dir / "app.ota.bin");
        RunResult r = pack(dir.path, {"app.bin", mode});
        EXPECT_EQ(r.status, 255) << mode;
        EXPECT_EQ(r.out, raw_image_lines(image) + "file open error\n") << mode;
        EXPECT_EQ(r.err, "image_gen_header: app.ota.bin: Is a directory; name a file in it (app.ota.bin/NAME)\n")
            << mode;
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"app.bin", "app.ota.bin"})) << mode;

        r = pack(dir.path, {"-o", "missing/fw.ota.bin", "app.bin", mode});
        EXPECT_EQ(r.status, 255) << mode;
        EXPECT_TRUE(r.err.starts_with("image_gen_header: missing/fw.ota.bin: cannot make it in missing/: ")) << r.err;
    }
    SKIP_UNLESS_HOST_HAS(mount_namespaces, "a mount namespace of its own");
    TempDir dir;
    write_file(dir / "app.bin", make_image(800, ""));
    std::filesystem::create_directory(dir / "ro");
    RunResult r =
        run_with_own_dev(dir.path, {"/bin/sh", "-c", "mount --bind ro ro && mount -o remount,ro,bind ro && exec \"$@\"",
                                    "sh", IMAGE_GEN_HEADER_PATH, "-o", "ro/fw.ota.bin", "app.bin", "image_copy"});
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(r.err.ends_with("image_gen_header: ro/fw.ota.bin: cannot make it in ro/: Read-only file system\n"))
        << r.err;
}

// An input that is no regular file is refused as what it is, before any
// line describes it or an output name is formed from it; a /proc file,
// regular but larger than its size says, fails once it is read.
TEST(Pack, InputsThatAreNotRegularFilesAreReadErrors) {
    SKIP_UNLESS_POSIX("FIFOs and /dev");
    SKIP_UNLESS_HOST_HAS(proc, "/proc");
    TempDir dir;
    make_fifo(dir / "fifo.bin");
    std::filesystem::create_directory(dir / "dir.bin");
    for (const char* target : {"/dev/zero", "/proc/cpuinfo", "/proc/sys"}) {
        std::string name = std::string(std::strrchr(target, '/') + 1) + ".bin";
        std::filesystem::create_symlink(target, dir / name);
    }
    struct Case {
        std::string name, reason;
    };
    for (const Case& c :
         {Case{"fifo.bin", "is a FIFO, not a regular file"}, Case{"dir.bin", "Is a directory"},
          Case{"dir.bin/", "Is a directory"}, Case{"zero.bin", "is a device, not a regular file"},
          Case{"sys.bin", "Is a directory"}, Case{"cpuinfo.bin", "file holds more than its size says"}}) {
        RunResult r = pack(dir.path, {c.name, "image_copy"});
        EXPECT_EQ(r.status, 255) << c.name;
        const std::string size_line = c.name == "cpuinfo.bin" ? "image size:0x0\n" : "";
        EXPECT_EQ(r.out, size_line + "file read error\n") << c.name;
        EXPECT_EQ(r.err, "image_gen_header: " + c.name + ": " + c.reason + "\n");
    }
    EXPECT_EQ(list_dir(dir.path).size(), 5u) << "nothing written";
}

// The name is replaced; what it pointed to, the input included, is never written.
TEST(Pack, OutputLinksAreReplacedAsNames) {
    struct Case {
        const char* name;
        bool hard;
        std::string target;
    };
    for (const Case& c :
         {Case{"symlink to the input", false, "app.bin"}, Case{"hard link to the input", true, "app.bin"},
          Case{"symlink elsewhere", false, "other.bin"}}) {
        if (!c.hard && !kSymlinks) continue;
        TempDir dir;
        Bytes image = make_image(5000, "linked");
        write_file(dir / "app.bin", image);
        write_file(dir / "other.bin", Bytes(100, 7));
        if (c.hard) {
            std::filesystem::create_hard_link(dir / c.target, dir / "app.ota.bin");
        } else {
            std::filesystem::create_symlink(c.target, dir / "app.ota.bin");  // relative to the link
        }
        ASSERT_EQ(pack(dir.path, {"app.bin", "image_copy"}).status, 0) << c.name;
        EXPECT_EQ(read_file(dir / "app.bin"), image) << c.name;
        EXPECT_EQ(read_file(dir / "other.bin"), Bytes(100, 7)) << c.name;
        EXPECT_EQ(std::filesystem::symlink_status(dir / "app.ota.bin").type(), std::filesystem::file_type::regular);
        EXPECT_EQ(std::filesystem::hard_link_count(dir / "app.ota.bin"), 1u) << c.name;
        EXPECT_EQ(read_file(dir / "app.ota.bin").size(), image.size() + 128) << c.name;
    }
}

// A write that fails, here at a file size limit with SIGXFSZ at its default,
// leaves the earlier file under the name, or what a symlink points to, as it was.
TEST(Pack, FailedWriteLeavesTheEarlierFile) {
    SKIP_UNLESS_POSIX("RLIMIT_FSIZE (and Wine gives no volume small enough to fill)");
    for (bool through_symlink : {false, true}) {
        TempDir dir;
        Bytes image = make_image(200'000, "");
        write_file(dir / "app.bin", image);
        std::string earlier = through_symlink ? "target.bin" : "app.ota.bin";
        write_file(dir / earlier, Bytes(10, 1));
        if (through_symlink) std::filesystem::create_symlink("target.bin", dir / "app.ota.bin");
        set_permissions(dir / earlier, 0640);
        RunOptions options;
        options.file_size_limit = 100'000;
        RunResult r = pack(dir.path, {"app.bin", "image_copy"}, options);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, raw_image_lines(image) + "file write error\n");
        EXPECT_EQ(r.err, "image_gen_header: app.ota.bin: File too large\n");
        EXPECT_EQ(read_file(dir / "app.ota.bin"), Bytes(10, 1));
        std::vector<std::string> expected = {"app.bin", "app.ota.bin"};
        if (through_symlink) expected.push_back("target.bin");
        EXPECT_EQ(list_dir(dir.path), expected) << "no temporary file is left";

        // Once it can be written, the new file keeps the earlier one's
        // permissions; a link's target gives none.
        ASSERT_EQ(pack(dir.path, {"app.bin", "image_copy"}).status, 0);
        ASSERT_EQ(pack(dir.path, {"-o", "fresh.ota.bin", "app.bin", "image_copy"}).status, 0);
        EXPECT_EQ(permissions_of(dir / "app.ota.bin"), through_symlink ? permissions_of(dir / "fresh.ota.bin") : 0640u);
    }
}

// A read-only file under the name is replaced, and stays read-only, on
// every system.
TEST(Pack, ReadOnlyOutputIsReplacedAndStaysReadOnly) {
    namespace fs = std::filesystem;
    TempDir dir;
    Bytes image = make_image(3000, "read-only");
    write_file(dir / "app.bin", image);
    write_file(dir / "app.ota.bin", Bytes(10, 1));
    const fs::perms writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(dir / "app.ota.bin", writable, fs::perm_options::remove);
    RunResult r = pack(dir.path, {"app.bin", "image_copy"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir / "app.ota.bin").size(), image.size() + 128);
    EXPECT_EQ(fs::status(dir / "app.ota.bin").permissions() & fs::perms::owner_write, fs::perms::none);
    fs::permissions(dir / "app.ota.bin", fs::perms::owner_write, fs::perm_options::add);  // for the cleanup, on Windows
}

// In a shared directory another user can plant a file, or a link to any
// file, at the name a root build writes: the output then takes none of its
// bits, from either tool. Only the user's own file gives them.
TEST(Pack, OnlyTheUsersOwnFileGivesItsBits) {
    if (!running_as_root()) GTEST_SKIP() << "only root can give a file to another user";
    TempDir dir;
    write_file(dir / "app.bin", make_image(3000, "bits"));
    ASSERT_EQ(pack(dir.path, {"-o", "fresh.ota.bin", "app.bin", "image_copy"}).status, 0);
    const unsigned fresh = permissions_of(dir / "fresh.ota.bin");
    write_file(dir / "hostname", Bytes(3, 1));
    set_permissions(dir / "hostname", 0755);
    for (const std::string name : {"planted.ota.bin", "link.ota.bin", "planted.raw", "link.raw"}) {
        if (name.starts_with("planted")) {
            write_file(dir / name, Bytes(3, 2));
            set_permissions(dir / name, 0666);
            give_away(dir / name);
        } else {
            std::filesystem::create_symlink("hostname", dir / name);
        }
        RunOptions in_dir;
        in_dir.cwd = dir.path;
        RunResult r = name.ends_with(".raw") ? run_program(OTA_INFO_PATH, {"--extract", name, "fresh.ota.bin"}, in_dir)
                                             : pack(dir.path, {"-o", name, "app.bin", "image_copy"});
        ASSERT_EQ(r.status, 0) << name << ": " << r.err;
        EXPECT_EQ(permissions_of(dir / name), fresh) << name;
    }
    EXPECT_EQ(permissions_of(dir / "hostname"), 0755u) << "a link's target is never touched";
    EXPECT_EQ(read_file(dir / "hostname"), Bytes(3, 1));
}

// A directory whose new name cannot be written to the disk fails the run as
// a write does, for both tools; the complete file stays under its name.
TEST(Pack, DirectoryThatCannotBeSyncedIsAFailedWrite) {
#ifdef FAILING_FSYNC_LIBRARY
    if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer's runtime must be the first library loaded";
    SKIP_UNDER_QEMU("LD_PRELOAD would reach qemu itself");
    TempDir dir;
    Bytes image = make_image(3000, "sync");
    write_file(dir / "app.bin", image);
    RunOptions failing;
    failing.cwd = dir.path;
    failing.env = {"LD_PRELOAD=" FAILING_FSYNC_LIBRARY};
    const std::string reason = ": the new name cannot be written to the disk: Input/output error\n";
    RunResult packed = pack(dir.path, {"app.bin", "image_copy"}, failing);
    EXPECT_EQ(packed.status, 255);
    EXPECT_EQ(packed.out, raw_image_lines(image) + "file write error\n");
    EXPECT_EQ(packed.err, "image_gen_header: app.ota.bin" + reason);
    EXPECT_EQ(read_file(dir / "app.ota.bin").size(), image.size() + 128);
    RunResult extracted = run_program(OTA_INFO_PATH, {"--extract", "app.raw", "app.ota.bin"}, failing);
    EXPECT_EQ(extracted.status, 2);
    EXPECT_TRUE(extracted.err.ends_with("ota_info: app.raw" + reason)) << extracted.err;
#else
    GTEST_SKIP() << "needs LD_PRELOAD, which this Windows build lacks";
#endif
}

// The lines are part of the result: losing them fails the run. Lines that
// land in the output name's earlier file cannot damage the new one.
TEST(Pack, StandardOutputFailures) {
    TempDir dir;
    Bytes image = make_image(3000, "stdout");
    write_file(dir / "app.bin", image);
    ASSERT_EQ(pack(dir.path, {"app.bin", "image_copy"}).status, 0);
    Bytes expected = read_file(dir / "app.ota.bin");

    RunOptions closed;
    closed.close_stdout = true;
    std::vector<std::pair<RunOptions, std::string>> cases = {{closed, "Bad file descriptor"}};
    RunOptions full;
    full.stdout_file = "/dev/full";
    if (kPosix) cases.push_back({full, "No space left on device"});
    for (const auto& [options, reason] : cases) {
        RunResult r = pack(dir.path, {"app.bin", "image_copy"}, options);
        EXPECT_EQ(r.status, 255) << options.stdout_file;
        EXPECT_EQ(r.err, std::string("image_gen_header: standard output: ") + reason + "\n");
        EXPECT_EQ(read_file(dir / "app.ota.bin"), expected) << "the OTA file is complete";
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"app.bin", "app.ota.bin"}));
    }
    if (!kPosix) return;  // Windows cannot replace a file that is open
    RunOptions into_output;
    into_output.stdout_file = dir / "app.ota.bin";
    EXPECT_EQ(pack(dir.path, {"app.bin", "image_copy"}, into_output).status, 0);
    EXPECT_EQ(read_file(dir / "app.ota.bin"), expected);
}

// SIGKILL (TerminateProcess) can end a run anywhere: the name then holds the earlier file or the
// complete new one, and at most a hidden temporary file is left beside it.
TEST(Pack, KilledAtAnyInstantLeavesTheEarlierOrTheNewFile) {
    TempDir dir;
    Bytes image = make_image(size_t{48} << 20, "big");
    write_file(dir / "app.bin", image);
    ASSERT_EQ(pack(dir.path, {"app.bin", "image_copy"}).status, 0);
    Bytes complete = read_file(dir / "app.ota.bin");
    Bytes earlier(1000, 0xEE);
    std::srand(12345);
    for (int attempt = 0; attempt < 8; attempt++) {
        write_file(dir / "app.ota.bin", earlier);
        RunOptions options;
        options.cwd = dir.path;
        Running run = start_program(kTool, {"app.bin", "image_copy"}, options);
        std::this_thread::sleep_for(std::chrono::microseconds(std::rand() % 60'000));
        kill_program(run);
        wait_program(run);
        Bytes now = read_file(dir / "app.ota.bin");
        EXPECT_TRUE(now == earlier || now == complete) << "attempt " << attempt << ": " << now.size() << " bytes";
        for (const std::string& name : list_dir(dir.path)) {
            if (name == "app.bin" || name == "app.ota.bin") continue;
            EXPECT_EQ(name.substr(0, 13), ".app.ota.bin.") << name;
            std::remove((dir / name).c_str());
        }
    }
}

TEST(Pack, ImageOf4GiBIsRefused) {
    TempDir dir;
    make_sparse(dir / "huge.bin", uint64_t{1} << 32);
    RunResult r = pack(dir.path, {"huge.bin", "image_copy"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "image too large\n");
    EXPECT_EQ(r.err, "image_gen_header: huge.bin: 4 GiB or more\n");
    EXPECT_FALSE(file_exists(dir / "huge.ota.bin"));
}

// Too little address space for the writer thread's stack: the run writes on
// its own thread instead, with the same result.
TEST(Pack, RunWithoutAWriterThread) {
    SKIP_UNLESS_HOST_HAS(enforced_address_limit, "an enforced RLIMIT_AS");
    if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
    TempDir dir;
    Bytes image = make_image(size_t{3} << 20, "threadless");
    write_file(dir / "app.bin", image);
    RunOptions options;
    options.address_space_limit = uint64_t{12000} << 10;
    RunResult r = pack(dir.path, {"app.bin", "image_copy"}, options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, raw_image_lines(image));
    Bytes ota = read_file(dir / "app.ota.bin");
    EXPECT_EQ(Bytes(ota.begin() + 128, ota.end()), image);
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"app.bin", "app.ota.bin"}));
}

TEST(Pack, MemoryStaysSmallWhateverTheImageSize) {
    SKIP_UNLESS_HOST_HAS(enforced_address_limit, "an enforced RLIMIT_AS");
    SKIP_UNDER_QEMU("the peak memory is qemu's as well as the tool's");
    if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
    // On tmpfs where there is one, so that the gigabyte written stays in memory.
    TempDir dir(file_exists("/dev/shm") ? "/dev/shm" : "");
    make_sparse(dir / "big.bin", uint64_t{1} << 30);
    RunOptions options;
    options.address_space_limit = uint64_t{64} << 20;
    RunResult r = pack(dir.path, {"big.bin", "image_copy"}, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "image size:0x40000000\nimage crc:0x0\n");
    EXPECT_LE(r.max_rss_kib, 16 * 1024);
    EXPECT_EQ(std::filesystem::file_size(dir / "big.ota.bin"), (uint64_t{1} << 30) + 128);
}

// An image past 2 GiB, where 32-bit file offsets end, packs and reads back
// whole: what a host with a 32-bit size_t needs most. On tmpfs where there
// is one, so that the 3 GiB stay in memory.
TEST(Pack, ImagePast2GiBPacksAndReadsBack) {
    if (under_qemu() && sizeof(size_t) > 4) GTEST_SKIP() << "under qemu-user only a 32-bit host needs this case";
    TempDir dir(file_exists("/dev/shm") ? "/dev/shm" : "");
    const uint64_t size = uint64_t{3} << 30;
    make_sparse(dir / "big.bin", size);
    write_at(dir / "big.bin", 0x100, Bytes{'b', 'i', 'g', 0});
    write_at(dir / "big.bin", size - 1, Bytes{1});
    RunResult r = pack(dir.path, {"big.bin", "image_copy"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("image size:0xc0000000\n")) << r.out;
    std::filesystem::remove(dir / "big.bin");
    EXPECT_EQ(std::filesystem::file_size(dir / "big.ota.bin"), size + 128);
    RunResult listing = run_program(OTA_INFO_PATH, {dir / "big.ota.bin"});
    EXPECT_EQ(listing.status, 0) << listing.out << listing.err;
    EXPECT_NE(listing.out.find("label:         \"big\"\n"), std::string::npos) << listing.out;
}

}  // namespace
