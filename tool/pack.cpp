#include "tool/pack.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "format/crc16_xmodem.h"
#include "tool/file_io.h"

void say(const char* line) { std::puts(line); }

std::string ota_output_name(const std::string& input_path) {
    return input_path.substr(0, input_path.size() - 4) + ".ota.bin";
}

static std::optional<PackMode> match_mode(const char* keyword) {
    if (std::strcmp(keyword, "image_copy") == 0) return PackMode::image_copy;
    if (std::strcmp(keyword, "image_compress") == 0) return PackMode::image_compress;
    if (std::strcmp(keyword, "flash_remapping") == 0) return PackMode::flash_remapping;
    return std::nullopt;
}

int pack_run(int argc, char** argv) {
    std::optional<PackMode> mode = argc >= 3 ? match_mode(argv[2]) : std::nullopt;
    // The output name drops four bytes of the path, so a shorter one cannot name an output.
    if (!mode || std::strlen(argv[1]) < 4) {
        say(kSayInputParamError);
        return kPackFailure;
    }
    const std::string input_path = argv[1];

    OtaHeader header;
    ota_header_start(header, *mode);
    ota_header_stamp(header);

    std::string error;
    uint64_t image_size;
    if (!file_size(input_path, image_size, error)) {
        say(kSayFileOpenError);
        return kPackFailure;
    }
    if (image_size > kMaxPayloadSize) {
        say(kSayImageTooLarge);
        return kPackFailure;
    }
    ota_header_set_image_size(header, static_cast<uint32_t>(image_size));
    std::printf("image size:0x%x\n", static_cast<uint32_t>(image_size));

    WorkBuffer buffer;
    if (!work_buffer_reserve(buffer, kOtaHeaderSize + image_size, error)) {
        say(kSayMallocFailed);
        return kPackFailure;
    }
    uint8_t* image = buffer.data + kOtaHeaderSize;

    int input_fd;
    if (!file_open_read(input_path, input_fd, error)) {
        say(kSayFileOpenError);
        return kPackFailure;
    }
    if (!file_read_exact(input_fd, image, image_size, error)) {
        say(kSayFileReadError);
        return kPackFailure;
    }

    uint16_t image_crc = CRC16_XMODEM(image, image_size);
    ota_header_set_image_crc(header, image_crc);
    std::printf("image crc:0x%x\n", static_cast<uint32_t>(image_crc));
    ota_header_set_label(header, image, image_size);

    if (*mode == PackMode::image_compress) return pack_compressed(input_path, header, buffer, input_fd);

    OutputFile out;
    if (!output_create(ota_output_name(input_path), out, error)) {
        say(kSayFileOpenError);
        return kPackFailure;
    }
    ota_header_serialise(header, buffer.data);
    if (!output_write_close(out, buffer.data, kOtaHeaderSize + image_size, error)) {
        say(kSayFileWriteError);
        return kPackFailure;
    }
    work_buffer_release(buffer);
    file_close(input_fd);
    return kPackSuccess;
}
