#include "pack/pack.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "format/crc16_xmodem.h"
#include "format/hex.h"
#include "format/ota_header.h"
#include "pack/failure.h"
#include "pack/pack_args.h"
#include "pack/payload.h"
#include "sys/atomic_file.h"
#include "sys/diagnostic.h"
#include "sys/file_io.h"
#include "sys/work_buffer.h"

void pack_hold(PackFailure& failure, const char* line, const std::string& subject, const std::string& reason) {
    if (failure.line != nullptr) return;
    failure.line = line;
    failure.subject = subject;
    failure.reason = reason;
}

namespace {

// A run's memory is two chunks: both chunks of the write-behind, or the image
// chunk and the stream coming back from xz.
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

// One line on standard error that is about no file: a usage problem or a warning.
void tell(const std::string& what) { std::fprintf(stderr, "image_gen_header: %s\n", what.c_str()); }

// A call that names no packing: the line callers rely on, then what is wrong
// and the usage for people.
int usage_failure(const std::string& problem) {
    say(kSayInputParamError);
    tell(problem);
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

// The OTA file as the payload writers see it: the payload goes behind the header.
class OutputSink : public PayloadSink {
public:
    explicit OutputSink(AtomicFile& out) : out_(out) {}
    bool write(const uint8_t* data, size_t size, std::string& error) override {
        return output_write(out_, data, size, error);
    }
    const std::string& name() const override { return out_.path; }

private:
    AtomicFile& out_;
};

// Everything a run holds once the image is being read. Members are released
// in reverse: the writer stops before the memory and the file it uses go,
// and the file, unless it was put in place, is removed.
struct Run {
    OtaMode mode;
    std::string input_path;
    std::string output_path;
    InputFile input;
    uint64_t image_size = 0;
    OtaHeader header;
    AtomicFile out;
    OutputSink sink{out};
    WorkBuffer memory;                      // two chunks
    std::unique_ptr<PayloadWriter> writer;  // none once the output has failed
    PackFailure failure;
};

// The one place where the mode picks how the payload is made.
std::unique_ptr<PayloadWriter> make_payload_writer(Run& run) {
    if (run.mode == OtaMode::image_compress) {
        return make_xz_writer(run.sink, run.input, run.input_path, run.image_size, run.memory.data, run.failure);
    }
    return make_copy_writer(run.sink, run.memory.data);
}

// Reads the whole image once, checksumming it and passing it on. Even when
// the output has failed, the image is read for the checksum line that comes
// before that failure's line.
bool read_image(Run& run, std::string& error) {
    uint16_t crc = 0;
    for (uint64_t done = 0; done < run.image_size;) {
        size_t size = static_cast<size_t>(std::min<uint64_t>(kChunkSize, run.image_size - done));
        uint8_t* chunk = run.writer ? run.writer->buffer() : run.memory.data;
        if (!file_read_exact(run.input.fd, chunk, size, error)) return false;
        if (done == 0) run.header.label = ota_label_of(chunk, size);  // the first chunk holds the label slot
        crc = crc16_xmodem_update(crc, chunk, size);
        if (run.writer) run.writer->submit(size);
        done += size;
    }
    if (!input_read_whole(run.input, error)) return false;
    run.header.image_crc = crc;
    return true;
}

// Puts the finished header in front of the payload, then the file in place.
bool finish_output(Run& run) {
    std::string error;
    uint8_t bytes[kOtaHeaderSize];
    ota_header_encode(run.header, bytes);
    if (!output_write_at(run.out, 0, bytes, sizeof bytes, error) || !output_close(run.out, error)) {
        pack_hold(run.failure, kSayFileWriteError, run.out.path, error);
    } else if (!output_rename(run.out, error)) {
        pack_hold(run.failure, kSayFileOpenError, run.out.path, error);
    }
    return run.failure.line == nullptr;
}

int stream(Run& run) {
    std::string error;
    const uint8_t placeholder[kOtaHeaderSize] = {};  // room for the header, written last
    if (!output_begin(run.output_path, run.out, error)) {
        pack_hold(run.failure, kSayFileOpenError, run.out.path, error);
    } else if (!output_write(run.out, placeholder, sizeof placeholder, error)) {
        pack_hold(run.failure, kSayFileWriteError, run.out.path, error);
    } else {
        run.writer = make_payload_writer(run);
        // A read failure ends the run at once; any other waits for its line's place.
        if (run.failure.line == kSayFileReadError) return fail(run.failure);
    }

    if (!read_image(run, error)) return fail(kSayFileReadError, run.input_path, error);
    const uint16_t image_crc = run.header.image_crc;
    PayloadResult payload{run.image_size, image_crc};
    if (run.writer) run.writer->finish(run.image_size, image_crc, payload, run.failure);
    // xz reads the file until it is done: the file must hold still until then.
    if (!input_unchanged(run.input, error)) return fail(kSayFileReadError, run.input_path, error);
    // Done with it. Closed before the rename: Windows cannot replace a name
    // (a hard link to the input, say) whose file is still open.
    file_close(run.input.fd);
    std::printf("image crc:%s\n", hex(image_crc).c_str());

    run.header.payload_size = static_cast<uint32_t>(payload.size);
    run.header.payload_crc = payload.crc;
    // On failure, the owners remove the temporary file and stop the writer.
    if (run.failure.line != nullptr || !finish_output(run)) return fail(run.failure);
    if (payload.reported) {
        std::printf("compress image size:%s\n", hex(payload.size).c_str());
        std::printf("compress image crc:%s\n", hex(payload.crc).c_str());
    }
    return kPackSuccess;
}

// True when OUTPUT is the input itself: the same name, or a hard link to it.
// A symbolic link there is replaced as a name, so it is not the input.
bool output_is_input(const PackArgs& args) {
    FileStamp output, input;
    std::string ignored;  // either missing: they are not one file
    return path_stamp(args.output, false, output, ignored) && path_stamp(args.input, true, input, ignored) &&
           same_file(output, input);
}

int pack(int argc, char** argv) {
    PackArgs args = pack_parse_args(argc, argv);
    switch (args.action) {
        case PackArgs::Action::help: std::fputs(kUsage, stdout); return kPackSuccess;
        case PackArgs::Action::version: std::printf("image_gen_header %s\n", OTA_VERSION); return kPackSuccess;
        case PackArgs::Action::usage_failure: return usage_failure(args.problem);
        case PackArgs::Action::pack: break;
    }
    if (args.output_given && output_is_input(args)) {
        return usage_failure("OUTPUT " + single_quoted(args.output) + " is the input file");
    }
    for (const std::string& warning : args.warnings) tell(warning);
    Run run;
    run.mode = args.mode;
    run.input_path = args.input;
    run.output_path = args.output;
    run.header.mode = run.mode;

    // The size comes from the open file; one that cannot be opened still gets
    // its size line, from its name, before the failure.
    std::string open_error;
    bool opened = input_open(run.input_path, FifoOpen::no_wait, run.input, open_error);
    std::string error;
    if (!opened && !path_stamp(run.input_path, true, run.input.stamp, error)) {
        return fail(kSayFileOpenError, run.input_path, open_error);
    }
    run.image_size = run.input.stamp.size;
    if (run.image_size > kMaxPayloadSize) return fail(kSayImageTooLarge, run.input_path, "4 GiB or more");
    run.header.image_size = static_cast<uint32_t>(run.image_size);
    std::printf("image size:%s\n", hex(run.image_size).c_str());

    if (!work_buffer_reserve(run.memory, 2 * kChunkSize, error)) return fail(kSayMallocFailed, run.input_path, error);
    if (!opened) return fail(kSayFileOpenError, run.input_path, open_error);
    // A FIFO, device or directory has no size that tells its content.
    if (run.input.stamp.kind != FileKind::regular) return fail(kSayFileReadError, run.input_path, "not a regular file");

    return stream(run);
}

}  // namespace

int pack_run(int argc, char** argv) {
    int status;
    try {
        status = pack(argc, argv);
    } catch (const std::exception& e) {
        // Only resources can run out here (memory, threads): the owners have
        // undone what the run made, and it fails as a failed allocation does.
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
