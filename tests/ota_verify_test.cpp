// Reading OTA files back: files made by image_gen_header, then damaged.
#include "verify/ota_verify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "format/crc16_xmodem.h"
#include "format/ota_header.h"
#include "test_support.h"

namespace {

// Packs `image` with the real tool and returns the OTA file's bytes.
Bytes pack_with_tool(const Bytes& image, const std::string& mode) {
    TempDir dir;
    return pack_image(dir.path, "img", image, mode);
}

// Checks `file` fed in chunks of `chunk` bytes; `image` receives what the sink saw.
OtaReport verify(const Bytes& file, const OtaVerifyLimits& limits = {}, Bytes* image = nullptr, size_t chunk = 4096) {
    OtaVerify v;
    ByteSink sink;
    if (image != nullptr)
        sink = [image](const uint8_t* data, size_t size) { image->insert(image->end(), data, data + size); };
    ota_verify_begin(v, limits, sink);
    for (size_t at = 0; at < file.size(); at += chunk)
        ota_verify_feed(v, file.data() + at, std::min(chunk, file.size() - at));
    ota_verify_end(v, file.size());
    return v.report;
}

bool names(const OtaReport& report, const std::string& fragment) {
    return std::any_of(report.problems.begin(), report.problems.end(),
                       [&](const std::string& p) { return p.find(fragment) != std::string::npos; });
}

std::string all_problems(const OtaReport& report) {
    std::string text;
    for (const auto& p : report.problems) text += "[" + p + "] ";
    return text;
}

void set_word(Bytes& file, size_t offset, uint32_t value) { ota_store_le32(file.data() + offset, value); }

// Rewrites payload_crc to match the payload, so that only deeper checks can fail.
void reseal_payload(Bytes& file) {
    set_word(file, kOtaPayloadCrc, CRC16_XMODEM(file.data() + kOtaHeaderSize, file.size() - kOtaHeaderSize));
}

Bytes test_image(size_t size = 6000) {
    Bytes image = make_image(size, "verify-me");
    for (size_t i = 0x200; i < size; i += 3) image[i] = 0x55;  // partly compressible
    return image;
}

TEST(OtaVerify, FilesFromThePackerAreValidAndGiveTheImageBack) {
    for (size_t size : {size_t{0}, size_t{0x100}, size_t{6000}, size_t{300'000}}) {
        Bytes image = test_image(size);
        for (const char* mode : {"image_copy", "image_compress", "flash_remapping"}) {
            Bytes file = pack_with_tool(image, mode);
            Bytes extracted;
            OtaReport report = verify(file, {}, &extracted, 1 + size % 97);
            EXPECT_TRUE(report.valid()) << mode << " " << size << ": " << all_problems(report);
            EXPECT_EQ(ota_report_mode_name(report), mode);
            EXPECT_EQ(report.image_size, size);
            EXPECT_EQ(report.computed.image_size, size);
            EXPECT_EQ(report.computed.image_crc, CRC16_XMODEM(image.data(), image.size()));
            EXPECT_EQ(extracted, image) << mode;
            EXPECT_EQ(report.xz_check, std::string(mode) == "image_compress" ? "CRC32" : "");
            EXPECT_EQ(report.label, size > 0x100 ? "verify-me" : "");
        }
    }
}

// The header's label must be the image's own (decoded, for image_compress):
// the packer's label for an image is valid, whether cut to fit, empty, a few
// bytes at the image's end or none at all for an image too short for the
// slot; any other label, such as another release's, is named.
TEST(OtaVerify, LabelMustBeTheImagesOwn) {
    const std::string forty(40, 'L');
    struct Case {
        Bytes image;
        std::string label;
    };
    for (const Case& c :
         {Case{make_image(6000, forty), forty.substr(0, kOtaMaxLabelLength)}, Case{make_image(6000, ""), ""},
          Case{Bytes(0x100 + 5, 'e'), "eeeee"}, Case{make_image(0x80, "none"), ""}}) {
        for (const char* mode : {"image_copy", "image_compress", "flash_remapping"}) {
            Bytes file = pack_with_tool(c.image, mode);
            OtaReport report = verify(file);
            EXPECT_TRUE(report.valid()) << mode << " " << c.label << ": " << all_problems(report);
            EXPECT_EQ(report.label, c.label) << mode;
            // Another label, well formed: NUL, then 0xFF fill.
            std::fill(file.begin() + kOtaImageLabel, file.begin() + kOtaImageLabel + kOtaLabelSize, 0xFF);
            const std::string other = "v9.9\t";
            std::copy(other.begin(), other.end(), file.begin() + kOtaImageLabel);
            file[kOtaImageLabel + other.size()] = 0;
            report = verify(file);
            EXPECT_EQ(report.problems,
                      std::vector<std::string>{"label \"v9.9\\x09\" is not the image's own label \"" + c.label + "\""})
                << mode;
        }
    }
}

// Every header byte that a check covers, changed one at a time, is caught and named.
TEST(OtaVerify, HeaderCorruptionsAreNamed) {
    Bytes image = test_image();
    struct Case {
        size_t offset;
        const char* problem;
    };
    const std::vector<Case> cases = {
        {0x00, "bad magic"},
        {0x0D, "bad magic"},
        {0x0E, "bad magic"},
        {0x0F, "magic not followed by 0xFF fill"},
        {0x1F, "magic not followed by 0xFF fill"},
        {0x40, "remap_flag"},
        {0x43, "remap_flag"},
        {0x44, "reserved word at 0x44"},
        {0x48, "zero_word"},
        {0x4C, "compress_flag"},
        {0x50, "payload"},
        {0x54, "payload_crc"},
        {0x56, "payload_crc"},
        {0x58, "image_size"},
        {0x5C, "image_crc"},
        {0x60, "reserved word at 0x60"},
        {0x64, "remap_marker"},
        {0x68, "reserved bytes 0x68..0x7F"},
        {0x7F, "reserved bytes 0x68..0x7F"},
        {0x2A, "label not followed by 0xFF fill"},
        {0x3F, "label not followed by 0xFF fill"},
    };
    for (const char* mode : {"image_copy", "flash_remapping", "image_compress"}) {
        Bytes good = pack_with_tool(image, mode);
        for (const Case& c : cases) {
            Bytes bad = good;
            bad[c.offset] ^= 0x01;
            OtaReport report = verify(bad);
            EXPECT_FALSE(report.valid()) << mode << " offset " << c.offset;
            EXPECT_TRUE(names(report, c.problem))
                << mode << " offset " << c.offset << " wants '" << c.problem << "', got " << all_problems(report);
        }
    }
}

TEST(OtaVerify, InconsistentFlagsAndLabel) {
    Bytes file = pack_with_tool(test_image(), "image_copy");
    Bytes both = file;
    set_word(both, kOtaRemapFlag, 0);
    set_word(both, kOtaCompressFlag, 0);
    set_word(both, kOtaRemapMarker, kOtaRemapMarkerValue);
    OtaReport report = verify(both);
    EXPECT_EQ(ota_report_mode_name(report), "inconsistent");
    EXPECT_TRUE(names(report, "both set")) << all_problems(report);

    Bytes unterminated = file;
    std::fill(unterminated.begin() + 0x20, unterminated.begin() + 0x40, 'A');
    report = verify(unterminated);
    EXPECT_TRUE(names(report, "label has no NUL")) << all_problems(report);
    EXPECT_EQ(report.label, std::string(32, 'A'));
}

TEST(OtaVerify, PayloadAndStreamCorruptionsAreCaught) {
    Bytes image = test_image();
    for (const char* mode : {"image_copy", "flash_remapping", "image_compress"}) {
        Bytes good = pack_with_tool(image, mode);
        for (size_t offset = kOtaHeaderSize; offset < good.size(); offset += 97) {
            Bytes bad = good;
            bad[offset] ^= 0x40;
            OtaReport report = verify(bad);
            EXPECT_TRUE(names(report, "payload_crc does not match")) << mode << " " << offset;
            // With the payload checksum made to agree, the image checks still see it.
            reseal_payload(bad);
            report = verify(bad);
            EXPECT_FALSE(report.valid()) << mode << " offset " << offset;
        }
    }
}

TEST(OtaVerify, TruncatedAndOverlongFiles) {
    Bytes image = test_image();
    for (const char* mode : {"image_copy", "image_compress"}) {
        Bytes good = pack_with_tool(image, mode);
        for (size_t len = 0; len < kOtaHeaderSize; len++) {
            OtaReport report = verify(Bytes(good.begin(), good.begin() + len));
            ASSERT_EQ(report.problems, std::vector<std::string>{"file is shorter than the 128-byte header"}) << len;
        }
        for (size_t len = kOtaHeaderSize; len < good.size(); len += 61) {
            OtaReport report = verify(Bytes(good.begin(), good.begin() + len));
            EXPECT_TRUE(names(report, "payload is shorter than payload_size")) << mode << " " << len;
            EXPECT_EQ(report.computed.payload_size, len - kOtaHeaderSize);
        }
        Bytes longer = good;
        longer.push_back(0);
        EXPECT_TRUE(names(verify(longer), "file runs past the end of the payload")) << mode;
    }
}

TEST(OtaVerify, StreamThatDecodesToMoreOrFewerBytesThanImageSize) {
    Bytes image = test_image();
    Bytes good = pack_with_tool(image, "image_compress");

    Bytes claims_less = good;
    set_word(claims_less, kOtaImageSize, static_cast<uint32_t>(image.size() - 1));
    OtaReport report = verify(claims_less);
    EXPECT_TRUE(names(report, "decodes to more than")) << all_problems(report);

    Bytes claims_more = good;
    set_word(claims_more, kOtaImageSize, static_cast<uint32_t>(image.size() + 1));
    report = verify(claims_more);
    EXPECT_TRUE(names(report, "decodes to fewer bytes than image_size")) << all_problems(report);

    // A stream followed by junk, and one cut short, with payload words that agree.
    Bytes trailing = good;
    trailing.insert(trailing.end(), {0, 0, 0, 0});
    set_word(trailing, kOtaPayloadSize, static_cast<uint32_t>(trailing.size() - kOtaHeaderSize));
    reseal_payload(trailing);
    EXPECT_TRUE(names(verify(trailing), "after the end of the xz stream"));

    Bytes cut(good.begin(), good.end() - 20);
    set_word(cut, kOtaPayloadSize, static_cast<uint32_t>(cut.size() - kOtaHeaderSize));
    reseal_payload(cut);
    EXPECT_TRUE(names(verify(cut), "xz stream truncated")) << all_problems(verify(cut));

    // The footer's magic ("YZ", its last two bytes) flipped.
    Bytes no_magic = good;
    no_magic.back() ^= 0xFF;
    reseal_payload(no_magic);
    EXPECT_TRUE(names(verify(no_magic), "xz stream footer lacks its magic bytes")) << all_problems(verify(no_magic));
}

TEST(OtaVerify, DecodingStaysWithinItsLimits) {
    // 16 MiB of zeros packs into a few KiB: a claim of a smaller image stops
    // decoding there, and the reader's own cap stops a larger claim.
    Bytes zeros(16 << 20, 0);
    Bytes file = pack_with_tool(zeros, "image_compress");
    ASSERT_LT(file.size(), 10000u);
    OtaVerifyLimits small;
    small.max_image_size = 1 << 20;
    OtaReport report = verify(file, small);
    EXPECT_TRUE(names(report, "larger than this reader decodes")) << all_problems(report);

    OtaVerifyLimits no_memory;
    no_memory.xz_memory_limit = 1024;
    report = verify(file, no_memory);
    EXPECT_TRUE(names(report, "needs more memory than allowed")) << all_problems(report);
}

// The stream must have the form the packer makes and a device's decoder is
// sized for; streams made by the real xz with other options are named.
TEST(OtaVerify, StreamFormDeparturesAreNamed) {
    Bytes image = test_image(20'000);
    Bytes good = pack_with_tool(image, "image_compress");
    TempDir dir;
    write_file(dir / "image.bin", image);
    struct Case {
        std::string options;  // for xz; "twice" makes two streams, one after the other
        std::string problem;
    };
    for (const Case& c : std::vector<Case>{
             {"--x86 --lzma2=dict=32KiB --check=crc32", "xz stream uses filter x86 before LZMA2"},
             {"--delta=dist=4 --lzma2=dict=32KiB --check=crc32", "xz stream uses filter delta before LZMA2"},
             {"--arm64 --lzma2=dict=32KiB --check=crc32", "xz stream uses filter arm64 before LZMA2"},
             {"--lzma2=dict=1MiB --check=crc32", "xz dictionary 1 MiB, at most 32 KiB"},
             {"--lzma2=dict=32KiB --check=crc64", "xz check is CRC64, want CRC32"},
             {"--lzma2=dict=32KiB --check=sha256", "xz check is SHA-256, want CRC32"},
             {"--lzma2=dict=32KiB --check=none", "xz check is None, want CRC32"},
             {"twice", "data after the end of the xz stream"},
         }) {
        std::vector<std::string> args = {"-T1", "-c"};
        std::istringstream words(c.options == "twice" ? "--lzma2=dict=32KiB --check=crc32" : c.options);
        for (std::string word; words >> word;) args.push_back(word);
        args.push_back(dir / "image.bin");
        RunResult xz = run_program(XZ_PATH, args);
        ASSERT_EQ(xz.status, 0) << xz.err;
        if (c.options == "twice") xz.out += xz.out;
        Bytes file(good.begin(), good.begin() + kOtaHeaderSize);
        file.insert(file.end(), xz.out.begin(), xz.out.end());
        set_word(file, kOtaPayloadSize, static_cast<uint32_t>(xz.out.size()));
        reseal_payload(file);
        OtaReport report = verify(file, {}, nullptr, 999);
        EXPECT_TRUE(names(report, c.problem)) << c.options << ": " << all_problems(report);
    }
    EXPECT_TRUE(verify(good).valid());
}

}  // namespace
