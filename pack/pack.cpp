#include "pack/pack.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>

#include "format/crc16_xmodem.h"
#include "format/hex.h"
#include "format/ota_header.h"
#include "sys/signals.h"
#include "sys/diagnostic.h"
#include "sys/file_io.h"
#include "pack/pack_args.h"
#include "sys/work_buffer.h"
#include "pack/write_behind.h"

namespace {

// The image is read, checksummed and passed on a chunk at a time, so memory
// stays the same whatever its size. The first chunk must hold the label slot.
// A run's memory is two chunks: both chunks of the write-behind, or the image
// chunk and the stream coming back from xz.
constexpr size_t kChunkSize = size_t{1} << 20;
static_assert(kChunkSize >= kRawLabelOffset + kOtaLabelSize);

const char kUsage[] =
    "usage: image_gen_header [-o OUTPUT] INPUT MODE\n"
    "       image_gen_header --help | --version\n"
    "Packs the raw flash image INPUT into an OTA file named after it: INPUT less\n"
    "its last four bytes, then .ota.bin (out/app.bin gives out/app.ota.bin).\n"
    "\n"
    "MODE is one of:\n"
    "  image_copy       the payload is the image unchanged\n"
    "  image_compress   the payload is an xz stream of the image\n"
    "  flash_remapping  the payload is the image unchanged, with the remap flag set\n"
    "\n"
    "Options:\n"
    "  -o, --output OUTPUT  write the OTA file to OUTPUT instead\n"
    "  -h, --help           print this help and exit\n"
    "  -V, --version        print the version and exit\n"
    "  --                   end of options\n"
    "\n"
    "See the image_gen_header(1) man page.\n";

void say(const char* line) { std::puts(line); }

// A call that names no packing: the line callers rely on, then what is wrong
// and the usage for people.
int usage_failure(const std::string& problem) {
    say(kSayInputParamError);
    std::fprintf(stderr, "image_gen_header: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return kPackFailure;
}

int fail(const PackFailure& failure) {
    diagnose("image_gen_header", failure.subject, failure.reason);
    say(failure.line);
    return kPackFailure;
}

int fail(const char* line, const std::string& subject, const std::string& reason) {
    PackFailure failure;
    pack_hold(failure, line, subject, reason);
    return fail(failure);
}

// Everything a run holds once the image is being read.
struct Run {
    OtaMode mode;
    std::string input_path;
    std::string output_path;
    InputFile input;
    uint64_t image_size = 0;
    OtaHeader header;
    OutputFile out;
    bool writing = false;  // the output was created and nothing has failed since
    WorkBuffer memory;
    WriteBehind copied;    // the uncompressed modes: chunks are read into its buffers
    uint8_t* chunk = nullptr;  // image_compress: chunks are read here
    CompressedPayload compressed;
    PackFailure failure;
};

// Stops writing: a failure was held.
void stop_writing(Run& run) {
    std::string ignored;
    write_behind_finish(run.copied, ignored);
    compressed_abort(run.compressed);
    output_abandon(run.out);
    run.writing = false;
}

uint8_t* next_chunk(Run& run) {
    return run.mode == OtaMode::image_compress ? run.chunk : write_behind_buffer(run.copied);
}

// Passes one chunk of the image on to the OTA file; xz reads the file itself.
void pass_on(Run& run, size_t size) {
    if (run.writing && run.mode != OtaMode::image_compress) write_behind_submit(run.copied, size);
}

// Reads the whole image once, checksumming it and passing it on. Even when
// the output has failed, the image is read for the checksum line that comes
// before that failure's line.
bool read_image(Run& run, std::string& error) {
    uint16_t crc = 0;
    // The label comes from the first chunk; an empty image has none to give.
    if (run.image_size == 0) ota_header_set_label(run.header, nullptr, 0);
    for (uint64_t done = 0; done < run.image_size;) {
        size_t size = static_cast<size_t>(std::min<uint64_t>(kChunkSize, run.image_size - done));
        uint8_t* chunk = next_chunk(run);
        if (!file_read_exact(run.input.fd, chunk, size, error)) return false;
        if (done == 0) ota_header_set_label(run.header, chunk, size);
        crc = crc16_xmodem_update(crc, chunk, size);
        pass_on(run, size);
        done += size;
    }
    if (!input_read_whole(run.input, error)) return false;
    ota_header_set_image_crc(run.header, crc);
    return true;
}

// Puts the finished header in front of the payload, then the file in place.
bool finish_output(Run& run) {
    std::string error;
    uint8_t bytes[kOtaHeaderSize];
    ota_header_serialise(run.header, bytes);
    if (!output_write_at(run.out, 0, bytes, sizeof bytes, error) || !output_close(run.out, error)) {
        pack_hold(run.failure, kSayFileWriteError, run.out.path, error);
    } else if (!output_rename(run.out, error)) {
        pack_hold(run.failure, kSayFileOpenError, run.out.path, error);
    }
    return run.failure.line == nullptr;
}

int stream(Run& run) {
    std::string error;
    if (!output_begin(run.output_path, run.out, error)) {
        pack_hold(run.failure, kSayFileOpenError, run.out.path, error);
    } else {
        run.writing = true;
        // Room for the header, written last, once the payload's words are known.
        uint8_t placeholder[kOtaHeaderSize];
        ota_header_serialise(run.header, placeholder);
        if (!output_write(run.out, placeholder, sizeof placeholder, error)) {
            pack_hold(run.failure, kSayFileWriteError, run.out.path, error);
            stop_writing(run);
        }
    }
    if (run.writing && run.mode == OtaMode::image_compress) {
        // xz reads the image through a descriptor of its own, while the tool
        // reads and checksums it; the stream's check ties the two together.
        int xz_input = -1;
        if (!input_reopen(run.input, run.input_path, xz_input, error)) {
            stop_writing(run);
            return fail(kSayFileReadError, run.input_path, error);
        }
        compressed_start(run.compressed, xz_input, run.image_size, run.failure);
        file_close(xz_input);
        if (!run.compressed.running) stop_writing(run);
    } else if (run.writing) {
        write_behind_start(run.copied, run.out);
    }

    if (!read_image(run, error)) {
        stop_writing(run);
        return fail(kSayFileReadError, run.input_path, error);
    }
    if (run.writing && run.mode == OtaMode::image_compress) {
        compressed_finish(run.compressed, run.out, run.image_size, ota_header_word(run.header, kOtaImageCrc),
                          run.failure);
        // xz read the file until it was done: the file must not have changed until then.
        if (!input_unchanged(run.input, error)) {
            stop_writing(run);
            return fail(kSayFileReadError, run.input_path, error);
        }
        ota_header_set_payload_size(run.header, static_cast<uint32_t>(run.compressed.size));
        ota_header_set_payload_crc(run.header, run.compressed.crc);
    }
    std::printf("image crc:%s\n", hex(ota_header_word(run.header, kOtaImageCrc)).c_str());

    if (run.writing && run.mode != OtaMode::image_compress && !write_behind_finish(run.copied, error)) {
        pack_hold(run.failure, kSayFileWriteError, run.out.path, error);
    }
    if (run.failure.line != nullptr || !finish_output(run)) {
        stop_writing(run);
        return fail(run.failure);
    }
    if (run.mode == OtaMode::image_compress) {
        std::printf("compress image size:%s\n", hex(ota_header_word(run.header, kOtaPayloadSize)).c_str());
        std::printf("compress image crc:%s\n", hex(ota_header_word(run.header, kOtaPayloadCrc)).c_str());
    }
    return kPackSuccess;
}

}  // namespace

void pack_hold(PackFailure& failure, const char* line, const std::string& subject, const std::string& reason) {
    if (failure.line != nullptr) return;
    failure.line = line;
    failure.subject = subject;
    failure.reason = reason;
}

namespace {

int pack(int argc, char** argv) {
    PackArgs args = pack_parse_args(argc, argv);
    switch (args.action) {
        case PackArgs::Action::help: std::fputs(kUsage, stdout); return kPackSuccess;
        case PackArgs::Action::version: std::printf("image_gen_header %s\n", OTA_VERSION); return kPackSuccess;
        case PackArgs::Action::usage_failure: return usage_failure(args.problem);
        case PackArgs::Action::pack: break;
    }
    if (args.output_given && output_is_file(args.output, args.input)) {
        return usage_failure("OUTPUT " + single_quoted(args.output) + " is the input file");
    }
    for (const std::string& warning : args.warnings) std::fprintf(stderr, "image_gen_header: %s\n", warning.c_str());
    Run run;
    run.mode = args.mode;
    run.input_path = args.input;
    run.output_path = args.output;
    ota_header_start(run.header, run.mode);
    ota_header_stamp(run.header);

    // The size comes from the open file; one that cannot be opened still gets
    // its size line, from its name, before the failure.
    std::string open_error;
    bool opened = input_open(run.input_path, FifoOpen::no_wait, run.input, open_error);
    std::string error;
    run.image_size = static_cast<uint64_t>(run.input.st.st_size);
    if (!opened && !path_size(run.input_path, run.image_size, error)) {
        return fail(kSayFileOpenError, run.input_path, open_error);
    }
    if (run.image_size > kMaxPayloadSize) return fail(kSayImageTooLarge, run.input_path, "4 GiB or more");
    ota_header_set_image_size(run.header, static_cast<uint32_t>(run.image_size));
    std::printf("image size:%s\n", hex(run.image_size).c_str());

    if (!work_buffer_reserve(run.memory, 2 * kChunkSize, error)) return fail(kSayMallocFailed, run.input_path, error);
    uint8_t* halves[2] = {run.memory.data, run.memory.data + kChunkSize};
    run.copied.buffers[0] = run.chunk = halves[0];
    run.copied.buffers[1] = run.compressed.buffer = halves[1];
    run.compressed.buffer_size = kChunkSize;
    if (!opened) return fail(kSayFileOpenError, run.input_path, open_error);
    // A FIFO, device or directory has no size that tells its content.
    if (!S_ISREG(run.input.st.st_mode)) return fail(kSayFileReadError, run.input_path, "not a regular file");

    return stream(run);
}

}  // namespace

int pack_run(int argc, char** argv) {
    int status;
    try {
        status = pack(argc, argv);
    } catch (const std::exception& e) {
        // Only resources can run out here (memory, threads): what the run
        // made is undone, and it fails as a failed allocation does.
        cleanup_now();
        status = fail(kSayMallocFailed, "out of resources", e.what());
    }
    // The lines are part of the result: a run whose lines were lost failed.
    std::string error;
    if (!stdout_flushed(error)) {
        diagnose("image_gen_header", "standard output", error);
        return kPackFailure;
    }
    return status;
}
