#include "format/ota_header.h"

#include <gtest/gtest.h>

#include <string>

#include "format/crc16_xmodem.h"
#include "test_support.h"

namespace {

// The header of an uncompressed image: the payload is the image.
OtaHeader image_header(OtaMode mode, const Bytes& image) {
    const auto size = static_cast<uint32_t>(image.size());
    const uint16_t crc = CRC16_XMODEM(image.data(), image.size());
    return OtaHeader{mode, ota_label_of(image.data(), image.size()), size, crc, size, crc};
}

Bytes encode(const OtaHeader& header) {
    Bytes out(kOtaHeaderSize);
    ota_header_encode(header, out.data());
    return out;
}

Bytes build_header(OtaMode mode, const Bytes& image) { return encode(image_header(mode, image)); }

std::vector<size_t> differing_offsets(const Bytes& a, const Bytes& b) {
    std::vector<size_t> offsets;
    for (size_t i = 0; i < a.size(); i++) {
        if (a[i] != b[i]) offsets.push_back(i);
    }
    return offsets;
}

Bytes label_field(const Bytes& header) { return Bytes(header.begin() + 0x20, header.begin() + 0x40); }

TEST(OtaHeader, ImageCopyWordsByteForByte) {
    Bytes image = make_image(0x1234, "");
    uint16_t crc = CRC16_XMODEM(image.data(), image.size());
    uint8_t k0 = crc & 0xFF, k1 = crc >> 8;
    Bytes header = build_header(OtaMode::image_copy, image);

    const uint8_t words[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF,
                             0xFF, 0xFF, 0x34, 0x12, 0x00, 0x00, k0,   k1,   0x00, 0x00, 0x34, 0x12, 0x00, 0x00,
                             k0,   k1,   0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    Bytes expected(0x80 - 0x40, 0xFF);  // the reserved tail stays 0xFF
    std::copy(std::begin(words), std::end(words), expected.begin());
    EXPECT_EQ(Bytes(header.begin() + 0x40, header.end()), expected);

    const char text[] = "WIFI K7Q3 R2T9";
    Bytes magic(32, 0xFF);
    std::copy(std::begin(text), std::end(text), magic.begin());  // the NUL included
    EXPECT_EQ(Bytes(header.begin(), header.begin() + 0x20), magic);

    Bytes empty_label(32, 0xFF);
    empty_label[0] = 0x00;
    EXPECT_EQ(label_field(header), empty_label);
}

TEST(OtaHeader, ModesDifferOnlyInTheirFlags) {
    Bytes image = make_image(5000, "fw-1.2");
    Bytes copy = build_header(OtaMode::image_copy, image);

    Bytes remap = build_header(OtaMode::flash_remapping, image);
    EXPECT_EQ(differing_offsets(copy, remap), (std::vector<size_t>{0x40, 0x41, 0x42, 0x43, 0x64, 0x65, 0x66, 0x67}));
    EXPECT_EQ(Bytes(remap.begin() + 0x40, remap.begin() + 0x44), Bytes(4, 0x00));
    EXPECT_EQ(Bytes(remap.begin() + 0x64, remap.begin() + 0x68), (Bytes{0x00, 0x5A, 0xA5, 0xA5}));

    // A compressed payload rewrites only the payload words; the image words stay.
    OtaHeader compressed = image_header(OtaMode::image_compress, image);
    compressed.payload_size = 0x01020304;
    compressed.payload_crc = 0xBEEF;
    Bytes packed = encode(compressed);
    for (size_t offset : differing_offsets(copy, packed)) {
        EXPECT_TRUE(offset >= 0x4C && offset < 0x58) << "offset " << offset;
    }
    EXPECT_EQ(Bytes(packed.begin() + 0x4C, packed.begin() + 0x58),
              (Bytes{0, 0, 0, 0, 0x04, 0x03, 0x02, 0x01, 0xEF, 0xBE, 0x00, 0x00}));
}

struct LabelCase {
    const char* name;
    Bytes image;
    std::string expected;  // the label text written before the NUL
};

// The label is copied up to its NUL, never past the image's end nor the field's.
TEST(OtaHeader, LabelStaysInsideImageAndField) {
    std::string thirty_one(31, 'L');
    Bytes no_nul = make_image(0x200, "");
    for (size_t i = 0; i < 64; i++) no_nul[0x100 + i] = static_cast<uint8_t>('a' + i % 26);
    Bytes ends_inside_label = make_image(0x105, "");
    for (size_t i = 0; i < 5; i++) ends_inside_label[0x100 + i] = static_cast<uint8_t>('v' + i);

    std::vector<LabelCase> cases = {
        {"plain", make_image(0x400, "app-v1"), "app-v1"},
        {"31 bytes", make_image(0x400, thirty_one), thirty_one},
        {"empty", make_image(0x400, ""), ""},
        {"no slot: empty image", Bytes{}, ""},
        {"no slot: 0x100 bytes", make_image(0x100, ""), ""},
        {"only the NUL", make_image(0x101, ""), ""},
        {"no NUL: cut to 31", no_nul, std::string("abcdefghijklmnopqrstuvwxyzabcde")},
        {"image ends inside the label", ends_inside_label, "vwxyz"},
    };
    for (const auto& c : cases) {
        Bytes expected(32, 0xFF);
        std::copy(c.expected.begin(), c.expected.end(), expected.begin());
        expected[c.expected.size()] = 0x00;
        Bytes header = build_header(OtaMode::image_copy, c.image);
        EXPECT_EQ(label_field(header), expected) << c.name;
        // Nothing around the field moves.
        EXPECT_EQ(Bytes(header.begin() + 0x40, header.begin() + 0x48), Bytes(8, 0xFF)) << c.name;
        EXPECT_EQ(header[0x1F], 0xFF) << c.name;
    }
}

// Decoding what was encoded gives the fields back, with every fill and fixed word in place.
TEST(OtaHeader, DecodeGivesBackWhatEncodeWrote) {
    for (OtaMode mode : kOtaModes) {
        for (const std::string& label : {std::string(), std::string("fw-2.0"), std::string(kOtaMaxLabelLength, 'L')}) {
            const OtaHeader header{mode, label, 0x89ABCDEF, 0x1234, 0xFEDCBA98, 0xBEEF};
            const OtaStoredHeader stored = ota_header_decode(encode(header).data());
            EXPECT_EQ(stored.mode, mode) << ota_mode_name(mode);
            EXPECT_EQ(stored.label, label);
            EXPECT_EQ(stored.magic, "WIFI K7Q3 R2T9");
            EXPECT_TRUE(stored.magic_matches && stored.magic_filled && stored.label_terminated && stored.label_filled &&
                        stored.tail_filled);
            EXPECT_EQ(stored.zero_word, 0u);
            EXPECT_EQ(stored.reserved_44 & stored.reserved_60, kOtaReservedWord);
            EXPECT_EQ(stored.remap_marker, mode == OtaMode::flash_remapping ? kOtaRemapMarkerValue : kOtaFlagClear);
            EXPECT_EQ(stored.image_size, header.image_size);
            EXPECT_EQ(stored.image_crc, header.image_crc);
            EXPECT_EQ(stored.payload_size, header.payload_size);
            EXPECT_EQ(stored.payload_crc, header.payload_crc);
        }
    }
}

}  // namespace
