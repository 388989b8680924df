// ota_info run as a build script runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "format/crc16_xmodem.h"
#include "json_reader.h"
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
        Json json = parse_json(json_run.out);
        Bytes ota = read_file(dir / "app.ota.bin");
        EXPECT_EQ(json["file"].string, "app.ota.bin");
        EXPECT_TRUE(json["valid"].boolean);
        EXPECT_EQ(json["mode"].string, mode);
        EXPECT_EQ(json["label"].string, "app v2");
        EXPECT_EQ(json["payload_size"].number, ota.size() - 128);
        EXPECT_EQ(json["payload_crc"].number, CRC16_XMODEM(ota.data() + 128, ota.size() - 128));
        EXPECT_EQ(json["image_size"].number, image.size());
        EXPECT_EQ(json["image_crc"].number, crc);
        EXPECT_EQ(json["computed"]["payload_size"].number, json["payload_size"].number);
        EXPECT_EQ(json["computed"]["payload_crc"].number, json["payload_crc"].number);
        EXPECT_EQ(json["computed"]["image_size"].number, image.size());
        EXPECT_EQ(json["computed"]["image_crc"].number, crc);
        EXPECT_TRUE(json["problems"].array.empty());
        EXPECT_EQ(json["xz_check"].kind, mode == "image_compress" ? Json::Kind::string : Json::Kind::null);

        RunResult extract = info(dir, {"--extract", "back.raw", "app.ota.bin"});
        EXPECT_EQ(extract.status, 0) << extract.err;
        EXPECT_EQ(read_file(dir / "back.raw"), image) << mode;
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
    Json json = parse_json(json_run.out);
    EXPECT_FALSE(json["valid"].boolean);
    ASSERT_GE(json["problems"].array.size(), 2u);
    EXPECT_EQ(json["problems"].array[0].string, "zero_word is not 0");

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
    Json json = parse_json(r.out);
    EXPECT_EQ(json["mode"].string, "unknown");
    EXPECT_EQ(json["problems"].array.at(0).string, "file is shorter than the 128-byte header");
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
    Json json = parse_json(json_run.out);
    EXPECT_EQ(json["label"].string, "tab\\x09here\\\\\"q\"\\xff");
    EXPECT_EQ(json["file"].string, "we\\xc3\\xa9rd \"name\".ota.bin");
}

TEST(OtaInfo, UsageErrorsAndUnreadableFilesExitTwo) {
    TempDir dir;
    mkdir((dir / "adir").c_str(), 0777);
    struct Case {
        std::vector<std::string> args;
        std::string err;  // what standard error starts with
    };
    for (const Case& c : std::vector<Case>{
             {{}, "ota_info: usage: ota_info [--json] [--extract RAW] FILE"},
             {{"--bogus", "x"}, "ota_info: --bogus: unknown option"},
             {{"a", "b"}, "ota_info: b: only one FILE"},
             {{"--extract"}, "ota_info: --extract: needs a file name"},
             {{"missing.ota.bin"}, "ota_info: missing.ota.bin: No such file or directory\n"},
             {{"adir"}, "ota_info: adir: Is a directory\n"},
         }) {
        RunResult r = info(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.err;
        EXPECT_EQ(r.out, "") << c.err;
        EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
    }
    RunResult help = info(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.substr(0, 15), "usage: ota_info");
    RunResult version = info(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.substr(0, 9), "ota_info ");
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

}  // namespace
