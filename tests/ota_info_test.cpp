// ota_info run as a build script runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "format/crc16_xmodem.h"
#include "format/ota_header.h"
#include "test_support.h"

namespace {

const std::string kPacker = IMAGE_GEN_HEADER_PATH;
const std::string kInfo = OTA_INFO_PATH;

RunResult info(const TempDir& dir, const std::vector<std::string>& args, RunOptions options = {}) {
    options.cwd = dir.path;
    return run_program(kInfo, args, options);
}

// Packs `image` as NAME.bin in `dir`, giving NAME.ota.bin.
void pack(const TempDir& dir, const std::string& name, const Bytes& image, const std::string& mode) {
    write_file(dir / (name + ".bin"), image);
    RunOptions options;
    options.cwd = dir.path;
    ASSERT_EQ(run_program(kPacker, {name + ".bin", mode}, options).status, 0);
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
    ota[0x48] = 1;    // zero_word
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
}

TEST(OtaInfo, OddBytesAreEscapedInBothForms) {
    TempDir dir;
    Bytes image = make_image(1000, "");
    const std::string label = "tab\there\\\"q\"\xff";
    std::copy(label.begin(), label.end(), image.begin() + 0x100);
    image[0x100 + label.size()] = 0;
    pack(dir, "we\xc3\xa9rd \"name\"", image, "image_copy");
    std::string file = "we\xc3\xa9rd \"name\".ota.bin";
    RunResult listing = info(dir, {file});
    EXPECT_EQ(listing.status, 0);
    EXPECT_NE(listing.out.find("label:         \"tab\\x09here\\\\\"q\"\\xff\"\n"), std::string::npos) << listing.out;
    RunResult json_run = info(dir, {"--json", file});
    auto json = nlohmann::json::parse(json_run.out);
    EXPECT_EQ(json["label"], "tab\\x09here\\\\\"q\"\\xff");
    EXPECT_EQ(json["file"], "we\\xc3\\xa9rd \"name\".ota.bin");
}

TEST(OtaInfo, UsageErrorsAndUnreadableFilesExitTwo) {
    TempDir dir;
    mkdir((dir / "adir").c_str(), 0777);
    struct Case {
        std::vector<std::string> args;
        std::string err;  // what standard error starts with
    };
    for (const Case& c : std::vector<Case>{
             {{}, "ota_info: usage: ota_info [--json] [--max-size SIZE] [--extract RAW] FILE..."},
             {{"--bogus", "x"}, "ota_info: --bogus: unknown option"},
             {{"--extract", "x", "a", "b"}, "ota_info: --extract: takes exactly one FILE"},
             {{"--extract"}, "ota_info: --extract: needs a file name"},
             {{"--max-size", "12 GB", "a"}, "ota_info: --max-size: needs a size"},
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
        EXPECT_EQ(r.out.substr(0, 15), "usage: ota_info");
        for (const char* option : {"--json", "--max-size", "--extract", "--help", "--version"}) {
            EXPECT_NE(r.out.find(option), std::string::npos) << option;
        }
    }
    for (const char* version : {"--version", "-V"}) {
        RunResult r = info(dir, {version});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.substr(0, 9), "ota_info ");
    }
}

TEST(OtaInfo, FailedExtractionLeavesNoPartialFile) {
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
    bad[0] = 'X';  // bad magic
    bad[0x48] = 1;  // zero_word
    write_file(dir / "bad.ota.bin", bad);
    RunResult listing = info(dir, {"good.ota.bin", "bad.ota.bin"});
    EXPECT_EQ(listing.status, 1);
    size_t gap = listing.out.find("\n\nfile:          bad.ota.bin\n");
    ASSERT_NE(gap, std::string::npos) << listing.out;
    EXPECT_TRUE(listing.out.substr(0, gap + 1).ends_with("verdict:       valid\n"));
    EXPECT_TRUE(listing.out.ends_with("verdict:       not an OTA file (bad magic)\n")) << listing.out;
    EXPECT_NE(listing.out.find("problem:       zero_word is not 0"), std::string::npos) << "later problems still listed";

    RunResult lines = info(dir, {"--json", "good.ota.bin", "bad.ota.bin", "missing.ota.bin"});
    EXPECT_EQ(lines.status, 2);
    EXPECT_EQ(lines.err, "ota_info: missing.ota.bin: No such file or directory\n");
    size_t newline = lines.out.find('\n');
    ASSERT_EQ(lines.out.find('\n', newline + 1), lines.out.size() - 1) << "one object a line";
    EXPECT_EQ(nlohmann::json::parse(lines.out.substr(0, newline))["valid"], true);
    EXPECT_EQ(nlohmann::json::parse(lines.out.substr(newline + 1))["valid"], false);
}

TEST(OtaInfo, MaxSizeIsAPartitionCheck) {
    TempDir dir;
    pack(dir, "app", make_image(4000, "slot"), "image_copy");  // 4128 bytes
    struct Case {
        std::string limit;
        int status;
    };
    for (const Case& c : {Case{"4128", 0}, Case{"4127", 1}, Case{"0x1020", 0}, Case{"0x101F", 1}, Case{"4KiB", 1},
                          Case{"1MiB", 0}}) {
        RunResult r = info(dir, {"--max-size", c.limit, "app.ota.bin"});
        EXPECT_EQ(r.status, c.status) << c.limit;
        bool named = r.out.find("problem:       file is 4128 bytes, more than the ") != std::string::npos;
        EXPECT_EQ(named, c.status == 1) << c.limit << "\n" << r.out;
    }
}

// A hostile or huge file is read and decoded in constant memory: under an
// address-space limit far below what it claims or expands to.
TEST(OtaInfo, MemoryStaysSmallWhateverTheFileClaims) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
    // On tmpfs where there is one: the holes of a sparse file there read as
    // zeros without filling the page cache.
    TempDir dir(file_exists("/dev/shm") ? "/dev/shm" : "");
    // 256 MiB of zeros in a few KiB, under a header that claims 4 GiB - 1.
    RunResult xz = run_program("/bin/sh", {"-c", "head -c 256M /dev/zero | " + std::string(XZ_PATH) +
                                                     " -T1 --lzma2=preset=0,dict=32KiB --check=crc32"});
    ASSERT_EQ(xz.status, 0);
    OtaHeader header;
    ota_header_start(header, PackMode::image_compress);
    ota_header_stamp(header);
    ota_header_set_image_size(header, UINT32_MAX);
    ota_header_set_label(header, nullptr, 0);
    ota_header_set_payload_size(header, static_cast<uint32_t>(xz.out.size()));
    ota_header_set_payload_crc(header, CRC16_XMODEM(reinterpret_cast<const uint8_t*>(xz.out.data()), xz.out.size()));
    Bytes bomb(kOtaHeaderSize + xz.out.size());
    std::copy(std::begin(header.bytes), std::end(header.bytes), bomb.begin());
    std::copy(xz.out.begin(), xz.out.end(), bomb.begin() + kOtaHeaderSize);
    write_file(dir / "bomb.ota.bin", bomb);

    // A valid image_copy file of 4 GiB - 1 zero bytes, sparse.
    ota_header_start(header, PackMode::image_copy);
    ota_header_stamp(header);
    ota_header_set_image_size(header, UINT32_MAX);
    ota_header_set_image_crc(header, 0);
    ota_header_set_label(header, nullptr, 0);
    make_sparse(dir / "huge.ota.bin", kOtaHeaderSize + uint64_t{UINT32_MAX});
    int fd = open((dir / "huge.ota.bin").c_str(), O_WRONLY);
    ASSERT_EQ(pwrite(fd, header.bytes, kOtaHeaderSize, 0), static_cast<ssize_t>(kOtaHeaderSize));
    close(fd);

    RunOptions options;
    options.address_space_limit = rlim_t{64} << 20;
    RunResult r = info(dir, {"--json", "bomb.ota.bin"}, options);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("decodes to fewer bytes than image_size"), std::string::npos) << r.out;
    EXPECT_LE(r.max_rss_kib, 32 * 1024);
    r = info(dir, {"huge.ota.bin"}, options);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_LE(r.max_rss_kib, 32 * 1024);
}

}  // namespace
