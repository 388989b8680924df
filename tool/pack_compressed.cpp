#include <unistd.h>

#include <cstdio>

#include "format/crc16_xmodem.h"
#include "tool/file_io.h"
#include "tool/pack.h"
#include "tool/signal_cleanup.h"
#include "tool/xz_command.h"

int pack_compressed(const std::string& input_path, OtaHeader& header, WorkBuffer& buffer, int& input_fd) {
    const std::string copy_name = xz_output_name(input_path);
    std::string error;

    if (access(copy_name.c_str(), F_OK) == 0) unlink(copy_name.c_str());
    remove_on_signal(copy_name);

    // Our lines must be out before xz's own messages, and not copied to the child.
    std::fflush(stdout);
    if (!xz_compress_file(input_path, error)) {
        // A compressor that failed or died may have left a partial copy.
        unlink(copy_name.c_str());
        std::fprintf(stderr, "image_gen_header: %s\n", error.c_str());
        say(kSayFileOpenError);
        return kPackFailure;
    }

    uint64_t payload_size;
    if (!file_size(copy_name, payload_size, error)) {
        say(kSayFileOpenError);
        return kPackFailure;
    }
    if (payload_size > kMaxPayloadSize) {
        unlink(copy_name.c_str());
        say(kSayImageTooLarge);
        return kPackFailure;
    }
    ota_header_set_payload_size(header, static_cast<uint32_t>(payload_size));
    file_close(input_fd);

    // On the two open failures the compressed copy stays on disk for a look.
    int copy_fd;
    if (!file_open_read(copy_name, copy_fd, error)) {
        say(kSayFileOpenError);
        return kPackFailure;
    }
    OutputFile out;
    if (!output_create(ota_output_name(input_path), out, error)) {
        say(kSayFileOpenError);
        return kPackFailure;
    }

    const char* failure = nullptr;
    if (!work_buffer_reserve(buffer, kOtaHeaderSize + payload_size, error)) {
        failure = kSayMallocFailed;
    } else if (!file_read_exact(copy_fd, buffer.data + kOtaHeaderSize, payload_size, error)) {
        failure = kSayFileReadError;
    } else {
        uint16_t payload_crc = CRC16_XMODEM(buffer.data + kOtaHeaderSize, payload_size);
        ota_header_set_payload_crc(header, payload_crc);
        ota_header_serialise(header, buffer.data);
        if (!output_write_close(out, buffer.data, kOtaHeaderSize + payload_size, error)) {
            failure = kSayFileWriteError;
        }
    }
    if (failure != nullptr) {
        output_discard(out);
        unlink(copy_name.c_str());
        say(failure);
        return kPackFailure;
    }

    std::printf("compress image size:0x%x\n", ota_header_word(header, kOtaPayloadSize));
    std::printf("compress image crc:0x%x\n", ota_header_word(header, kOtaPayloadCrc));
    work_buffer_release(buffer);
    file_close(copy_fd);
    unlink(copy_name.c_str());
    keep_on_signal(copy_name);
    return kPackSuccess;
}
