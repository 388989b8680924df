// ota_info run as a build script runs it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>

#include <nlohmann/json.hpp>

#include "format/crc16_xmodem.h"
#include "format/ota_header.h"
#include "test_support.h"

namespace {

const std::string kInfo = OTA_INFO_PATH;

RunResult info(const TempDir& dir, const std::vector<std::string>& args, RunOptions options = {}) {
    options.cwd = dir.path;
    return run_program(kInfo, args, options);
}

// Packs `image` as NAME.bin in `dir`, giving NAME.ota.bin.
void pack(const TempDir& dir, const std::string& name, const Bytes& image, const std::string& mode) {
    pack_image(dir.path, name, image, mode);
}

TEST(OtaInfo, ListsVerifiesAndExtractsEveryMode) {
    TempDir dir;
    Bytes image = make_image(20'000, "app v2");
    uint16_t crc = CRC16_XMODEM(image.data(), image.size());
    for (const std::string mode : {"image_copy", "image_compress", "flash_remapping"}) {
        pack(dir, "app", image, mode);
        RunResult listing = info(dir, {"app.ota.bin"});
        EXPECT_EQ(listing.status, 0) << listing.out << listing.err;
        EXPECT_EQ(listing.err, "");
        EXPECT_NE(listing.out.find("mode:          " + mode + "\n"), std::string::npos) << listing.out;
        EXPECT_NE(listing.out.find("label:         \"app v2\"\n"), std::string::npos) << listing.out;
        EXPECT_NE(listing.out.find("magic:         \"WIFI K7Q3 R2T9\" (expected)\n"), std::string::npos);
        EXPECT_TRUE(listing.out.ends_with("verdict:       valid\n")) << listing.out;

        RunResult json_run = info(dir, {"--json", "app.ota.bin"});
        ASSERT_EQ(json_run.status, 0);
        auto json = nlohmann::json::parse(json_run.out);
        Bytes ota = read_file(dir / "app.ota.bin");
        EXPECT_EQ(json["file"], "app.ota.bin");
        EXPECT_EQ(json["valid"], true);
        EXPECT_EQ(json["mode"], mode);
        EXPECT_EQ(json["label"], "app v2");
        EXPECT_EQ(json["payload_size"], ota.size() - 128);
        EXPECT_EQ(json["payload_crc"], CRC16_XMODEM(ota.data() + 128, ota.size() - 128));
        EXPECT_EQ(json["image_size"], image.size());
        EXPECT_EQ(json["image_crc"], crc);
        EXPECT_EQ(json["computed"]["payload_size"], json["payload_size"]);
        EXPECT_EQ(json["computed"]["payload_crc"], json["payload_crc"]);
        EXPECT_EQ(json["computed"]["image_size"], image.size());
        EXPECT_EQ(json["computed"]["image_crc"], crc);
        EXPECT_TRUE(json["problems"].empty());
        EXPECT_EQ(json["xz_check"].is_string(), mode == "image_compress");
        EXPECT_EQ(json["file_size"], ota.size());
        EXPECT_EQ(nlohmann::ordered_json::parse(json_run.out).dump() + "\n", json_run.out)
            << "keys in the documented order, compact";

        RunResult extract = info(dir, {"--extract", "back.raw", "app.ota.bin"});
        EXPECT_EQ(extract.status, 0) << extract.err;
        EXPECT_EQ(read_file(dir / "back.raw"), image) << mode;

        // To standard output, with the listing moved to standard error.
        RunResult piped = info(dir, {"--extract", "-", "app.ota.bin"});
        EXPECT_EQ(piped.status, 0) << piped.err;
        EXPECT_EQ(Bytes(piped.out.begin(), piped.out.end()), image) << mode;
        EXPECT_EQ(piped.err, listing.out);
    }
}

TEST(OtaInfo, DamagedFileFailsWithProblemsAndNoExtraction) {
    TempDir dir;
    pack(dir, "app", make_image(5000, "x"), "image_compress");
    Bytes ota = read_file(dir / "app.ota.bin");
    ota[0x48] = 1;     // zero_word
    ota[300] ^= 0xFF;  // inside the stream
    write_file(dir / "bad.ota.bin", ota);

    RunResult listing = info(dir, {"bad.ota.bin"});
    EXPECT_EQ(listing.status, 1);
    EXPECT_NE(listing.out.find("problem:       zero_word is not 0\n"), std::string::npos) << listing.out;
    EXPECT_NE(listing.out.find("problem:       payload_crc does not match the payload\n"), std::string::npos);
    EXPECT_NE(listing.out.find("verdict:       invalid, "), std::string::npos);

    RunResult json_run = info(dir, {"--json", "bad.ota.bin"});
    EXPECT_EQ(json_run.status, 1);
    auto json = nlohmann::json::parse(json_run.out);
    EXPECT_EQ(json["valid"], false);
    ASSERT_GE(json["problems"].size(), 2u);
    EXPECT_EQ(json["problems"][0], "zero_word is not 0");

    RunResult extract = info(dir, {"--extract", "out.raw", "bad.ota.bin"});
    EXPECT_EQ(extract.status, 1);
    EXPECT_EQ(extract.err, "ota_info: bad.ota.bin: not extracted: the file has problems\n");
    EXPECT_FALSE(file_exists(dir / "out.raw"));
}

TEST(OtaInfo, ShortFileIsAProblemNotACrash) {
    TempDir dir;
    write_file(dir / "short.ota.bin", Bytes(100, 0xFF));
    RunResult r = info(dir, {"--json", "short.ota.bin"});
    EXPECT_EQ(r.status, 1);
    auto json = nlohmann::json::parse(r.out);
    EXPECT_EQ(json["mode"], "unknown");
    EXPECT_EQ(json["problems"].at(0), "file is shorter than the 128-byte header");
    for (const char* key : {"magic", "label", "payload_size", "payload_crc", "image_size", "image_crc"}) {
        EXPECT_TRUE(json[key].is_null()) << key << " is " << json[key];
    }
    EXPECT_EQ(json["computed"]["payload_size"], 0) << "what follows no header";
}

// A label's odd bytes show escaped in the listing; JSON gives its exact
// bytes, as it gives a file's name (a byte that is not UTF-8 as \udcNN).
TEST(OtaInfo, OddBytesAreEscapedInBothForms) {
    TempDir dir;
    Bytes image = make_image(1000, "");
    const std::string label = "tab\there\\\"q\"\xff";
    std::copy(label.begin(), label.end(), image.begin() + 0x100);
    image[0x100 + label.size()] = 0;
    pack(dir, "app", image, "image_copy");
    RunResult listing = info(dir, {"app.ota.bin"});
    EXPECT_EQ(listing.status, 0);
    EXPECT_NE(listing.out.find("label:         \"tab\\x09here\\\\\"q\"\\xff\"\n"), std::string::npos) << listing.out;
    RunResult json_run = info(dir, {"--json", "app.ota.bin"});
    EXPECT_NE(json_run.out.find(R"("label":"tab\u0009here\\\"q\"\udcff",)"), std::string::npos) << json_run.out;
}

// A name comes back as it was typed: in the listing, in messages and, exactly,
// in JSON, so that a script finds the file by it. A name a terminal would act
// on is quoted for a shell in text, and in JSON its odd bytes are \udcNN.
TEST(OtaInfo, NamesComeBackAsTyped) {
    TempDir dir;
    const std::string unicode = "固件 we\xc3\xa9rd name.ota.bin";
    pack(dir, "app", make_image(1000, ""), "image_copy");
    const Bytes ota = read_file(dir / "app.ota.bin");
    write_file(dir / unicode, ota);
    RunResult listing = info(dir, {unicode});
    EXPECT_TRUE(listing.out.starts_with("file:          " + unicode + "\n")) << listing.out;
    RunResult json_run = info(dir, {"--json", unicode});
    std::string name = nlohmann::json::parse(json_run.out)["file"];
    EXPECT_EQ(name, unicode);
    EXPECT_TRUE(file_exists(dir / name));
    // A backslash is quoted where it is no separator.
    const std::string path = kPosix ? R"('C:\fw\missing.ota.bin')" : R"(C:\fw\missing.ota.bin)";
    EXPECT_EQ(info(dir, {R"(C:\fw\missing.ota.bin)"}).err, "ota_info: " + path + ": No such file or directory\n");
    if (!kPosix) return;  // a Windows name is UTF-16: always UTF-8 here
    const std::string odd =
        "n\xff"
        "a\nme.ota.bin";
    write_file(dir / odd, ota);
    EXPECT_TRUE(info(dir, {odd}).out.starts_with("file:          'n'$'\\xff''a'$'\\n''me.ota.bin'\n"));
    EXPECT_TRUE(info(dir, {"--json", odd}).out.starts_with("{\"file\":\"n\\udcffa\\u000ame.ota.bin\",\"valid\":true,"));
    EXPECT_EQ(info(dir, {"--extract", "", odd}).err,
              "ota_info: --extract: needs a file name\nTry 'ota_info --help'.\n");
    EXPECT_EQ(info(dir, {odd + "x"}).err, "ota_info: 'n'$'\\xff''a'$'\\n''me.ota.binx': No such file or directory\n");
}

// Two names never show alike: a name that holds what quoting writes (a
// quote, '$', a backslash) is quoted too, so that no name shows as another's
// quoted form, and what shows can be pasted into a shell. The line and
// paragraph separators, which split a log's lines, are quoted, and in JSON
// they, the bidirectional controls and DEL are escaped.
TEST(OtaInfo, TwoNamesNeverShowAlike) {
    SKIP_UNLESS_POSIX("names with newlines, quotes and backslashes");
    TempDir dir;
    pack(dir, "app", make_image(1000, ""), "image_copy");
    const Bytes ota = read_file(dir / "app.ota.bin");
    struct Case {
        std::string name, shown, json;
    };
    for (const Case& c : {Case{"a\nb", R"('a'$'\n''b')", R"(a\u000ab)"},
                          Case{R"('a'$'\n''b')", R"(\''a'\''$'\''\n'\'\''b'\')", R"('a'$'\\n''b')"},
                          Case{"it's", R"('it'\''s')", "it's"}, Case{"$HOME", "'$HOME'", "$HOME"},
                          Case{R"(a\b)", R"('a\b')", R"(a\\b)"},
                          Case{"log\u2028forged", R"('log'$'\xe2\x80\xa8''forged')", R"(log\u2028forged)"},
                          Case{"rtl\u202e\x7f", R"('rtl'$'\xe2\x80\xae\x7f')", R"(rtl\u202e\u007f)"}}) {
        write_file(dir / c.name, ota);
        RunResult listing = info(dir, {c.name}), json = info(dir, {"--json", c.name});
        EXPECT_TRUE(listing.out.starts_with("file:          " + c.shown + "\n")) << listing.out;
        EXPECT_TRUE(json.out.starts_with("{\"file\":\"" + c.json + "\",")) << json.out;
    }
}

TEST(OtaInfo, UsageErrorsAndUnreadableFilesExitTwo) {
    TempDir dir;
    std::filesystem::create_directory(dir / "adir");
    struct Case {
        std::vector<std::string> args;
        std::string err;  // what standard error starts with
    };
    for (const Case& c : std::vector<Case>{
             {{}, "ota_info: no FILE given\nTry 'ota_info --help'.\n"},
             {{"--bogus", "x"}, "ota_info: --bogus: unknown option\nTry 'ota_info --help'.\n"},
             {{"--extract", "x", "a", "b"}, "ota_info: --extract: takes exactly one FILE"},
             {{"--extract"}, "ota_info: --extract: needs a file name"},
             {{"--extract=", "a"}, "ota_info: --extract: needs a file name"},
             {{"--max-size", "12 GB", "a"}, "ota_info: --max-size: needs a size"},
             {{"--max-size=1M", "--max-size", "2M", "a"}, "ota_info: --max-size: given twice ('1M' and '2M')\n"},
             {{"--extract", "x", "--extract=y", "a"}, "ota_info: --extract: given twice ('x' and 'y')\n"},
             {{"--extract", "--json", "a"},
              "ota_info: --extract: RAW '--json' looks like an option; name such a file --extract=--json or "
              "./--json\n"},
             {{"missing.ota.bin"}, "ota_info: missing.ota.bin: No such file or directory\n"},
             {{"adir"}, "ota_info: adir: Is a directory\n"},
         }) {
        RunResult r = info(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.err;
        EXPECT_EQ(r.out, "") << c.err;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
    }
    for (const char* help : {"--help", "-h"}) {
        RunResult r = info(dir, {help});
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(r.out.starts_with("usage: " + man_synopsis("ota_info.1.in", "       "))) << r.out;
    }
    for (const char* version : {"--version", "-V"}) {
        RunResult r = info(dir, {version});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "ota_info " + kVersionText + "\n");
    }
    // Help and version whose output is lost fail as a lost listing does.
    RunOptions closed;
    closed.close_stdout = true;
    for (const char* option : {"--help", "--version"}) {
        RunOptions full;
        full.stdout_file = "/dev/full";
        if (kPosix) {
            EXPECT_EQ(info(dir, {option}, full).err, "ota_info: standard output: No space left on device\n") << option;
        }
        RunResult r = info(dir, {option}, closed);
        EXPECT_EQ(r.status, 2) << option;
        EXPECT_EQ(r.err, "ota_info: standard output: Bad file descriptor\n") << option;
    }
}

TEST(OtaInfo, FailedExtractionLeavesNoPartialFile) {
    SKIP_UNLESS_POSIX("RLIMIT_FSIZE (and Wine gives no volume small enough to fill)");
    TempDir dir;
    pack(dir, "app", make_image(300'000, "big"), "image_copy");
    RunOptions options;
    options.file_size_limit = 100'000;
    RunResult r = info(dir, {"--extract", "out.raw", "app.ota.bin"}, options);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, 19), "ota_info: out.raw: ");
    EXPECT_FALSE(file_exists(dir / "out.raw"));
}

// Several files: one report each, and the worst status.
TEST(OtaInfo, SeveralFilesWithMixedVerdicts) {
    TempDir dir;
    pack(dir, "good", make_image(3000, "good"), "image_copy");
    Bytes bad = read_file(dir / "good.ota.bin");
    bad[0] = 'X';   // bad magic
    bad[0x48] = 1;  // zero_word
    write_file(dir / "bad.ota.bin", bad);
    RunResult listing = info(dir, {"good.ota.bin", "bad.ota.bin"});
    EXPECT_EQ(listing.status, 1);
    size_t gap = listing.out.find("\n\nfile:          bad.ota.bin\n");
    ASSERT_NE(gap, std::string::npos) << listing.out;
    EXPECT_TRUE(listing.out.substr(0, gap + 1).ends_with("verdict:       valid\n"));
    EXPECT_TRUE(listing.out.ends_with("verdict:       not an OTA file (bad magic)\n")) << listing.out;
    EXPECT_NE(listing.out.find("problem:       zero_word is not 0"), std::string::npos)
        << "later problems still listed";

    // Every FILE has its object, in order, an unreadable one too.
    RunResult lines = info(dir, {"--json", "good.ota.bin", "missing.ota.bin", "bad.ota.bin"});
    EXPECT_EQ(lines.status, 2);
    EXPECT_EQ(lines.err, "ota_info: missing.ota.bin: No such file or directory\n");
    std::vector<nlohmann::json> objects;
    for (size_t at = 0, end; (end = lines.out.find('\n', at)) != std::string::npos; at = end + 1) {
        objects.push_back(nlohmann::json::parse(lines.out.substr(at, end - at)));
    }
    ASSERT_EQ(objects.size(), 3u) << lines.out;
    EXPECT_EQ(objects[0]["valid"], true);
    EXPECT_EQ(objects[1]["file"], "missing.ota.bin");
    EXPECT_EQ(objects[1]["valid"], false);
    EXPECT_EQ(objects[1]["problems"], nlohmann::json::array({"cannot be read: No such file or directory"}));
    EXPECT_TRUE(objects[1]["mode"].is_null() && objects[1]["computed"].is_null());
    EXPECT_EQ(objects[2]["valid"], false);

    // An unreadable first file leaves no blank line in front of the listing.
    RunResult after_missing = info(dir, {"missing.ota.bin", "good.ota.bin"});
    EXPECT_EQ(after_missing.status, 2);
    EXPECT_TRUE(after_missing.out.starts_with("file:          good.ota.bin\n")) << after_missing.out;
}

// RAW that names the input, under any name, or a link into /dev or /proc is
// refused before anything is written.
TEST(OtaInfo, ExtractRefusesTheInputAndSystemLinks) {
    TempDir dir;
    pack(dir, "app", make_image(5000, "refuse"), "image_copy");
    const Bytes ota = read_file(dir / "app.ota.bin");
    std::filesystem::create_hard_link(dir / "app.ota.bin", dir / "hard.raw");
    struct Case {
        std::string raw, reason;
    };
    std::vector<Case> cases = {{"app.ota.bin", "is the input file"}, {"hard.raw", "is the input file"}};
    if (kPosix) {
        std::filesystem::create_symlink("app.ota.bin", dir / "sym.raw");
        cases.push_back({"sym.raw", "is the input file"});
        std::filesystem::create_symlink("/dev/null", dir / "null.raw");
        std::filesystem::create_symlink("/proc/self/fd/2", dir / "stderr.raw");
        cases.push_back({"null.raw", "is a symbolic link into /dev, not replaced"});
        cases.push_back({"stderr.raw", "is a symbolic link into /proc, not replaced"});
    }
    for (const Case& c : cases) {
        std::vector<std::string> before = list_dir(dir.path);
        RunResult r = info(dir, {"--extract", c.raw, "app.ota.bin"});
        EXPECT_EQ(r.status, 2) << c.raw;
        EXPECT_EQ(r.err, "ota_info: " + c.raw + ": " + c.reason + "\n");
        EXPECT_EQ(read_file(dir / "app.ota.bin"), ota) << c.raw;
        EXPECT_EQ(list_dir(dir.path), before) << c.raw;
    }
    if (kPosix) {
        EXPECT_TRUE(std::filesystem::is_symlink(dir / "null.raw"));
    }
}

// Standard output's other names mean standard output. They run with a /dev
// of their own, so that a failure cannot replace the system's /dev/stdout.
TEST(OtaInfo, ExtractToStandardOutputByAnyName) {
    SKIP_UNLESS_HOST_HAS(mount_namespaces, "a mount namespace of its own");
    SKIP_UNLESS_HOST_HAS(proc, "/proc");
    TempDir dir;
    Bytes image = make_image(5000, "stdout");
    pack(dir, "app", image, "image_compress");
    for (const std::string raw : {"-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
        RunResult r = run_with_own_dev(dir.path, {kInfo, "--extract", raw, "app.ota.bin"});
        EXPECT_EQ(r.status, 0) << raw << ": " << r.err;
        EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), image) << raw;
        EXPECT_TRUE(r.err.ends_with("verdict:       valid\n")) << raw;
    }
}

// "-" is standard input; --extract=RAW is --extract RAW; standard output that
// is FILE itself is refused, and a missing temporary directory is named.
TEST(OtaInfo, StandardStreamsAndJoinedOptions) {
    SKIP_UNLESS_POSIX("a shell to redirect the standard streams");
    TempDir dir;
    Bytes image = make_image(5000, "streams");
    pack(dir, "app", image, "image_compress");
    const Bytes ota = read_file(dir / "app.ota.bin");
    auto shell = [&](const std::string& script) {
        RunOptions options;
        options.cwd = dir.path;
        return run_program("/bin/sh", {"-c", script, kInfo}, options);
    };
    RunResult piped = shell("cat app.ota.bin | \"$0\" --json -");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(nlohmann::json::parse(piped.out)["file"], "-");

    RunResult joined = info(dir, {"--extract=raw", "app.ota.bin"});
    EXPECT_EQ(joined.status, 0) << joined.err;
    EXPECT_EQ(read_file(dir / "raw"), image);

    RunResult onto_itself = shell("\"$0\" --extract - app.ota.bin >> app.ota.bin");
    EXPECT_EQ(onto_itself.status, 2);
    EXPECT_EQ(onto_itself.err, "ota_info: -: standard output is the input file\n");
    EXPECT_EQ(read_file(dir / "app.ota.bin"), ota);

    RunOptions no_tmpdir;
    no_tmpdir.env = {"TMPDIR=" + dir / "missing"};
    RunResult missing = info(dir, {"--extract", "-", "app.ota.bin"}, no_tmpdir);
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "ota_info: " + dir / "missing" + ": temporary directory: No such file or directory\n");
}

// A FIFO is read as a reader reads one: it waits for its writer, and to its end.
TEST(OtaInfo, FifoWhoseWriterComesLate) {
    SKIP_UNLESS_POSIX("FIFOs");
    TempDir dir;
    pack(dir, "app", make_image(5000, "late"), "image_copy");
    make_fifo(dir / "fifo");
    RunOptions options;
    options.cwd = dir.path;
    Running run = start_program(kInfo, {"fifo"}, options);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // A reader that never comes would leave the writer blocked: it gives up after 10 s.
    RunResult writer =
        run_program("/usr/bin/timeout", {"10", "/bin/sh", "-c", "cat app.ota.bin app.ota.bin > fifo"}, options);
    RunResult r = wait_program(run);
    EXPECT_EQ(writer.status, 0) << "the writer is read to its end";
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("file has 0x2790 (10128 bytes)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("problem:       file runs past the end of the payload\n"), std::string::npos) << r.out;
}

// A file that shrinks while it is read is a read failure, even when what was
// read checks out (a CRC-16 of zeros cannot tell its length).
TEST(OtaInfo, FileThatShrinksWhileReadIsAReadError) {
    SKIP_UNLESS_HOST_HAS(proc, "/proc to see the file open");
    TempDir dir(file_exists("/dev/shm") ? "/dev/shm" : "");
    const OtaHeader zeros{OtaMode::image_copy, "", uint32_t{3} << 29, 0, uint32_t{3} << 29, 0};  // 1.5 GiB of zeros
    Bytes header(kOtaHeaderSize);
    ota_header_encode(zeros, header.data());
    make_sparse(dir / "z.ota.bin", kOtaHeaderSize + (uint64_t{3} << 29));
    write_at(dir / "z.ota.bin", 0, header);
    RunOptions options;
    options.cwd = dir.path;
    Running run = start_program(kInfo, {"--extract", "out.raw", "z.ota.bin"}, options);
    // Shrink it once ota_info reads it: it has measured the file by then (the
    // file's offset in /proc/PID/fdinfo has moved), so any shrinking is
    // caught. Under qemu-user, slower, that moment comes later.
    auto reading = [&] {
        std::error_code ignored;
        const std::string proc = "/proc/" + std::to_string(run.pid);
        for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd", ignored)) {
            if (std::filesystem::read_symlink(entry.path(), ignored) != dir / "z.ota.bin") continue;
            Bytes info = read_file_if_any(proc + "/fdinfo/" + entry.path().filename().string());
            std::string text(info.begin(), info.end());
            return text.starts_with("pos:") && std::stoull(text.substr(4)) > 0;
        }
        return false;
    };
    for (int i = 0; i < 10'000 && !reading(); i++) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::filesystem::resize_file(dir / "z.ota.bin", 200'000'000);
    RunResult r = wait_program(run);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_EQ(r.err, "ota_info: z.ota.bin: file changed size while it was read\n");
    EXPECT_FALSE(file_exists(dir / "out.raw"));
}

TEST(OtaInfo, MaxSizeIsAPartitionCheck) {
    TempDir dir;
    pack(dir, "app", make_image(4000, "slot"), "image_copy");  // 4128 bytes
    struct Case {
        std::string limit;
        int status;  // 2: not a size
    };
    for (const Case& c : {Case{"4128", 0},        Case{"4127", 1},  Case{"0x1020", 0}, Case{"0x101F", 1},
                          Case{"4KiB", 1},        Case{"4K", 1},    Case{"5K", 0},     Case{"1MiB", 0},
                          Case{"1M", 0},          Case{"1G", 0},    Case{"1 GiB", 0},  Case{"12 GB", 2},
                          Case{"4k", 2},          Case{"4128 ", 2}, Case{"5K ", 2},    Case{"1.5M", 2},
                          Case{"0x", 2},          Case{"", 2},      Case{"-1", 2},     Case{"99999999999999999999", 2},
                          Case{"17179869184G", 2}}) {
        for (bool joined : {false, true}) {
            std::vector<std::string> args = {"--max-size", c.limit, "app.ota.bin"};
            if (joined) args = {"--max-size=" + c.limit, "app.ota.bin"};
            RunResult r = info(dir, args);
            EXPECT_EQ(r.status, c.status) << args[0] << " " << c.limit;
            bool named = r.out.find("problem:       file is 4128 bytes, more than the ") != std::string::npos;
            EXPECT_EQ(named, c.status == 1) << c.limit << "\n" << r.out;
            if (c.status == 2 && (joined || !c.limit.empty())) {
                EXPECT_EQ(
                    r.err,
                    "ota_info: --max-size: needs a size: bytes, 0x hexadecimal, with K, KiB, M, MiB, G or GiB; not '" +
                        c.limit + "'\nTry 'ota_info --help'.\n");
            }
        }
    }
}

// With --max-size the report says how full the slot is, in both forms.
TEST(OtaInfo, SlotHeadroomIsShown) {
    TempDir dir;
    pack(dir, "app", make_image(4000, "slot"), "image_copy");  // 4128 bytes
    struct Case {
        std::string limit, slot;
        long long bytes_free;
    };
    for (const Case& c :
         {Case{"5K", "0x1400, 80.6% used, 992 bytes free", 992}, Case{"4128", "0x1020, 100.0% used, 0 bytes free", 0},
          Case{"4129", "0x1021, 99.9% used, 1 byte free", 1}, Case{"4127", "0x101f, 100.1% used, 1 byte over", -1},
          Case{"2K", "0x800, 201.5% used, 2080 bytes over", -2080}, Case{"0", "0x0, 4128 bytes over", -4128}}) {
        RunResult listing = info(dir, {"--max-size", c.limit, "app.ota.bin"});
        EXPECT_NE(listing.out.find("\nslot:          " + c.slot + "\n"), std::string::npos) << listing.out;
        auto json = nlohmann::json::parse(info(dir, {"--json", "--max-size", c.limit, "app.ota.bin"}).out);
        EXPECT_EQ(json["bytes_free"].get<long long>(), c.bytes_free) << c.limit;
    }
    auto json = nlohmann::json::parse(info(dir, {"--json", "app.ota.bin"}).out);
    EXPECT_TRUE(json["max_size"].is_null() && json["bytes_free"].is_null());
    EXPECT_EQ(info(dir, {"app.ota.bin"}).out.find("slot:"), std::string::npos);
}

// --sha256 gives the digest of the whole file and of the image inside it
// (decoded, for image_compress); an image that fails its checks has none,
// but one in a file only too large for its slot has it.
TEST(OtaInfo, DigestsOfTheFileAndItsImage) {
    const std::string image_600 =
        "e179ab353c400e44775e367417a13f414ac07a462194a51dfa59e3c94075b6f7";  // of the sample image
    struct Case {
        std::string file, file_sha256, image_sha256, max_size = "4G";
    };
    for (const Case& c :
         {Case{"good-copy.ota.bin", "517ed60acc0e666264f5d3d9aea4fd4b51a0acb7060de70de11677c3bb5e670c", image_600},
          Case{"good-compress.ota.bin", "8b0b3e6bdedd35ba3d181106c48d8cf24807b7b4db1cb24026528048a7afca35", image_600},
          Case{"good-empty.ota.bin", "d2770d49e6ac6c25a96466358d874255ad7958c88b7d9f21934d9527b6873bc9",
               "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
          Case{"bad-payload-crc.ota.bin", "782f188d61dee3c5ccb98fae2da3813a9eae900c6e5d68aac6e1d02a37af4bf4", ""},
          Case{"good-copy.ota.bin", "517ed60acc0e666264f5d3d9aea4fd4b51a0acb7060de70de11677c3bb5e670c", image_600,
               "100"}}) {
        auto json = nlohmann::json::parse(run_program(kInfo, {"--json", "--sha256", "--max-size", c.max_size,
                                                              std::string(TEST_FILES_DIR) + "/" + c.file})
                                              .out);
        EXPECT_EQ(json["file_sha256"], c.file_sha256) << c.file;
        EXPECT_EQ(json["image_sha256"], c.image_sha256.empty() ? nlohmann::json() : nlohmann::json(c.image_sha256))
            << c.file;
    }
    SKIP_UNLESS_HOST_HAS(sha256sum, "sha256sum");
    TempDir dir;
    pack(dir, "app", make_image(3 << 20, "digest"), "image_compress");
    ASSERT_EQ(info(dir, {"--extract", "app.raw", "app.ota.bin"}).status, 0);
    RunOptions in_dir;
    in_dir.cwd = dir.path;
    RunResult sums = run_program("/usr/bin/sha256sum", {"app.ota.bin", "app.raw"}, in_dir);
    RunResult listing = info(dir, {"--sha256", "app.ota.bin"});
    EXPECT_NE(listing.out.find("file_sha256:   " + sums.out.substr(0, 64) +
                               "\nimage_sha256:  " + sums.out.substr(sums.out.find('\n') + 1, 64) + "\n"),
              std::string::npos)
        << listing.out << sums.out;
}

// A digest the crypto library fails on is no digest: the file fails with
// status 2, saying so, and nothing is listed. The stand-in library's own
// digest, when nothing fails, shows that it was the one loaded.
TEST(OtaInfo, DigestTheLibraryFailsOnIsAFailure) {
#ifdef FAILING_LIBCRYPTO_DIR
    const std::string file = std::string(TEST_FILES_DIR) + "/good-copy.ota.bin";
    for (const std::string call : {"update", "final", "none"}) {
        RunOptions stand_in;
        stand_in.env = {"LD_LIBRARY_PATH=" FAILING_LIBCRYPTO_DIR, "FAILING_LIBCRYPTO=" + call};
        RunResult r = run_program(kInfo, {"--sha256", file}, stand_in);
        if (call == "none") {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_NE(r.out.find("file_sha256:   " + std::string(64, '0') + "\n"), std::string::npos) << r.out;
            continue;
        }
        EXPECT_EQ(r.status, 2) << call;
        EXPECT_EQ(r.out, "") << call;
        EXPECT_EQ(r.err, "ota_info: " + file + ": SHA-256 cannot be computed: libcrypto failed on the digest\n")
            << call;
    }
#else
    GTEST_SKIP() << "needs a libcrypto to stand in for, which this Windows build lacks";
#endif
}

// The sample files, made without the packer, say what tests/files/README.md says.
TEST(OtaInfo, SampleFilesGiveTheirKnownVerdicts) {
    struct Case {
        std::string file;
        std::vector<std::string> problems;  // none: valid
    };
    for (const Case& c : std::vector<Case>{
             {"good-copy.ota.bin", {}},
             {"good-remap.ota.bin", {}},
             {"good-compress.ota.bin", {}},
             {"good-empty.ota.bin", {}},
             {"bad-magic.ota.bin", {"bad magic"}},
             {"bad-payload-crc.ota.bin", {"payload_crc does not match the payload"}},
             {"truncated.ota.bin", {"payload is shorter than payload_size", "payload_crc does not match the payload"}},
             {"short.ota.bin", {"file is shorter than the 128-byte header"}},
             {"both-flags.ota.bin", {"remap_flag and compress_flag are both set"}},
             {"bad-check.ota.bin", {"xz check is CRC64, want CRC32"}},
             {"bad-image-size.ota.bin", {"xz stream decodes to fewer bytes than image_size"}},
             {"bad-label.ota.bin", {"label \"corpus v2\" is not the image's own label \"corpus v1\""}},
         }) {
        RunResult r = run_program(kInfo, {"--json", std::string(TEST_FILES_DIR) + "/" + c.file});
        EXPECT_EQ(r.status, c.problems.empty() ? 0 : 1) << c.file << ": " << r.err;
        auto json = nlohmann::json::parse(r.out);
        EXPECT_EQ(json["problems"].get<std::vector<std::string>>(), c.problems) << c.file;
    }
    // The good files give back the image they were made from.
    Bytes image(600);
    for (size_t i = 0; i < image.size(); i++) image[i] = static_cast<uint8_t>(i);
    const std::string label = "corpus v1";
    std::copy(label.begin(), label.end(), image.begin() + 0x100);
    image[0x100 + label.size()] = 0;
    TempDir dir;
    for (const char* file : {"good-copy.ota.bin", "good-remap.ota.bin", "good-compress.ota.bin"}) {
        RunResult r = info(dir, {"--extract", "raw", std::string(TEST_FILES_DIR) + "/" + file});
        EXPECT_EQ(r.status, 0) << file;
        EXPECT_EQ(read_file(dir / "raw"), image) << file;
    }
}

// A hostile or huge file is read and decoded in constant memory: under an
// address-space limit far below what it claims or expands to.
TEST(OtaInfo, MemoryStaysSmallWhateverTheFileClaims) {
    SKIP_UNLESS_HOST_HAS(enforced_address_limit, "an enforced RLIMIT_AS");
    SKIP_UNDER_QEMU("the limit and the peak memory are qemu's as well as the tool's");
    if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
    // On tmpfs where there is one: the holes of a sparse file there read as
    // zeros without filling the page cache.
    TempDir dir(file_exists("/dev/shm") ? "/dev/shm" : "");
    // 256 MiB of zeros in a few KiB, under a header that claims 4 GiB - 1.
    RunResult xz = run_program("/bin/sh", {"-c", "head -c 256M /dev/zero | " + std::string(XZ_PATH) +
                                                     " -T1 --lzma2=preset=0,dict=32KiB --check=crc32"});
    ASSERT_EQ(xz.status, 0);
    const uint16_t stream_crc = CRC16_XMODEM(reinterpret_cast<const uint8_t*>(xz.out.data()), xz.out.size());
    const OtaHeader claims{
        OtaMode::image_compress, "", UINT32_MAX, 0, static_cast<uint32_t>(xz.out.size()), stream_crc};
    Bytes bomb(kOtaHeaderSize + xz.out.size());
    ota_header_encode(claims, bomb.data());
    std::copy(xz.out.begin(), xz.out.end(), bomb.begin() + kOtaHeaderSize);
    write_file(dir / "bomb.ota.bin", bomb);

    // A valid image_copy file of 4 GiB - 1 zero bytes, sparse.
    Bytes header(kOtaHeaderSize);
    ota_header_encode(OtaHeader{OtaMode::image_copy, "", UINT32_MAX, 0, UINT32_MAX, 0}, header.data());
    make_sparse(dir / "huge.ota.bin", kOtaHeaderSize + uint64_t{UINT32_MAX});
    write_at(dir / "huge.ota.bin", 0, header);

    RunOptions options;
    options.address_space_limit = uint64_t{64} << 20;
    RunResult r = info(dir, {"--json", "bomb.ota.bin"}, options);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("decodes to fewer bytes than image_size"), std::string::npos) << r.out;
    EXPECT_LE(r.max_rss_kib, 32 * 1024);
    r = info(dir, {"huge.ota.bin"}, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_LE(r.max_rss_kib, 32 * 1024);
}

}  // namespace
