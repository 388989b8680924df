#include "pack/pack.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "format/crc16_xmodem.h"
#include "format/hex.h"
#include "format/ota_header.h"
#include "pack/failure.h"
#include "pack/pack_args.h"
#include "pack/payload.h"
#include "sys/atomic_file.h"
#include "sys/file_stamp.h"
#include "sys/input_file.h"
#include "sys/process.h"
#include "sys/standard_output.h"
#include "sys/work_buffer.h"
#include "text/quote.h"
#include "text/say.h"
#include "text/version.h"

const char* pack_failure_line(PackFailureKind kind) {
    switch (kind) {
        case PackFailureKind::input_param: return "input param error";
        case PackFailureKind::malloc: return "malloc failed";
        case PackFailureKind::file_open: return "file open error";
        case PackFailureKind::file_read: return "file read error";
        case PackFailureKind::file_write: return "file write error";
        case PackFailureKind::too_large: return "image too large";
    }
    return "";
}

void pack_hold(PackFailure& failure, PackFailureKind kind, const std::string& subject, const std::string& reason) {
    if (failure.kind) return;
    failure.kind = kind;
    failure.subject = subject;
    failure.reason = reason;
}

namespace {

constexpr const char* kTool = "image_gen_header";

// The first chunk holds the label slot.
static_assert(kChunkSize >= kRawLabelOffset + kOtaLabelSize);

const char kUsage[] =
    "usage: image_gen_header [-o OUTPUT] [--progress | --no-progress] [--] INPUT MODE\n"
    "       image_gen_header -h | --help | -V | --version\n"
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
    "  --progress           show a status line on standard error during a long run,\n"
    "                       even when it is not a terminal\n"
    "  --no-progress        never show it (shown by default only on a terminal)\n"
    "  -h, --help           print this help and exit\n"
    "  -V, --version        print the version and exit\n"
    "  --                   end of options\n"
    "\n"
    "See the image_gen_header(1) man page.\n";

// A call that names no packing: the line callers rely on, then what is wrong
// and where help is.
int usage_failure(const std::string& problem) {
    say(pack_failure_line(PackFailureKind::input_param));
    diagnose(kTool, problem);
    std::fputs("Try 'image_gen_header --help'.\n", stderr);
    return kPackFailure;
}

int fail(const PackFailure& failure) {
    diagnose(kTool, about(failure.subject, failure.reason));
    say(pack_failure_line(*failure.kind));
    return kPackFailure;
}

int fail(PackFailureKind kind, const std::string& subject, const std::string& reason) {
    PackFailure failure;
    pack_hold(failure, kind, subject, reason);
    return fail(failure);
}

// The OTA file as the payload writers see it: the payload goes behind the header.
class OutputSink : public PayloadSink {
public:
    explicit OutputSink(AtomicFile& out) : out_(out) {}
    bool write(const uint8_t* data, size_t size, std::string& error) override { return out_.write(data, size, error); }
    const std::string& name() const override { return out_.path(); }

private:
    AtomicFile& out_;
};

// Everything a run holds once the image is being read. Members are released
// in reverse: the writer stops before the memory and the file it uses go,
// and the file, unless it was put in place, is removed.
struct Run {
    std::string input_path;
    std::string output_path;
    InputFile input;
    uint64_t image_size = 0;
    OtaHeader header;  // filled as each value is learnt, encoded once at the end
    AtomicFile out;
    OutputSink sink{out};
    WorkBuffer memory;                      // two chunks
    Progress progress;                      // cleared before any line that follows the size line
    std::unique_ptr<PayloadWriter> writer;  // none once the output has failed
    PackFailure failure;
};

// The one place where the mode picks how the payload is made.
std::unique_ptr<PayloadWriter> make_payload_writer(Run& run) {
    if (run.header.mode == OtaMode::image_compress) {
        return make_xz_writer(run.sink, run.input, run.input_path, run.image_size, run.memory.data(), run.progress,
                              run.failure);
    }
    return make_copy_writer(run.sink, run.memory.data(), run.progress);
}

// What the image's first bytes tell of a likely mistake, said on standard
// error; the run goes on as asked. An ELF file is the linker's output, not
// the flash image made from it; an OTA file packed again nests in a new
// header; a label with no NUL in its slot is cut, silently otherwise.
void warn_about_image(const std::string& input, const uint8_t* first, size_t size, const std::string& label) {
    static constexpr uint8_t kElfMagic[] = {0x7F, 'E', 'L', 'F'};
    if (size >= sizeof kElfMagic && std::memcmp(first, kElfMagic, sizeof kElfMagic) == 0) {
        diagnose(
            kTool,
            about(
                input,
                "looks like an ELF file, not a raw flash image; packed as it is (objcopy -O binary makes the image)"));
    }
    if (size >= kOtaMagicLength && std::memcmp(first, kOtaMagicText, kOtaMagicLength) == 0) {
        diagnose(kTool, about(input, "is already an OTA file; packed again as it is, inside a new header"));
    }
    if (size > kRawLabelOffset &&
        std::memchr(first + kRawLabelOffset, 0, std::min(size - kRawLabelOffset, kOtaMaxLabelLength)) == nullptr) {
        diagnose(kTool, about(input, "no NUL ends the label at 0x100 within 31 bytes; the label is \"" +
                                         printable(label) + "\""));
    }
}

// Reads the whole image once, checksumming it and passing it on. Even when
// the output has failed, the image is read for the checksum line that comes
// before that failure's line.
bool read_image(Run& run, std::string& error) {
    uint16_t crc = 0;
    for (uint64_t done = 0; done < run.image_size;) {
        size_t size = static_cast<size_t>(std::min<uint64_t>(kChunkSize, run.image_size - done));
        uint8_t* chunk = run.writer ? run.writer->buffer() : run.memory.data();
        if (!run.input.read_exact(chunk, size, error)) return false;
        if (done == 0) {
            run.header.label = ota_label_of(chunk, size);
            warn_about_image(run.input_path, chunk, size, run.header.label);
        }
        crc = crc16_xmodem_update(crc, chunk, size);
        if (run.writer) run.writer->submit(size);
        done += size;
    }
    if (!run.input.read_whole(error)) return false;
    run.header.image_crc = crc;
    return true;
}

// Puts the finished header in front of the payload, then the file in place.
bool finish_output(Run& run) {
    std::string error;
    uint8_t bytes[kOtaHeaderSize];
    ota_header_encode(run.header, bytes);
    if (!run.out.write_at(0, bytes, sizeof bytes, error)) {
        pack_hold(run.failure, PackFailureKind::file_write, run.out.path(), error);
        return false;
    }
    switch (run.out.commit(error)) {
        case AtomicFile::Commit::done: return true;
        case AtomicFile::Commit::write_failed:
            pack_hold(run.failure, PackFailureKind::file_write, run.out.path(), error);
            break;
        case AtomicFile::Commit::rename_failed:
            pack_hold(run.failure, PackFailureKind::file_open, run.out.path(), error);
            break;
    }
    return false;
}

// Writes the OTA file: room for the header, the payload as the image is
// read, then the header; prints the lines that come after the size line.
int write_ota_file(Run& run) {
    std::string error;
    const uint8_t placeholder[kOtaHeaderSize] = {};  // room for the header, written last
    if (!run.out.begin(run.output_path, error)) {
        pack_hold(run.failure, PackFailureKind::file_open, run.output_path, error);
    } else if (!run.out.write(placeholder, sizeof placeholder, error)) {
        pack_hold(run.failure, PackFailureKind::file_write, run.out.path(), error);
    } else {
        run.writer = make_payload_writer(run);
        // A read failure ends the run at once; any other waits for its line's place.
        if (run.failure.kind == PackFailureKind::file_read) return fail(run.failure);
    }

    if (!read_image(run, error)) {
        run.progress.clear();
        return fail(PackFailureKind::file_read, run.input_path, error);
    }
    const uint16_t image_crc = run.header.image_crc;
    PayloadResult payload{run.image_size, image_crc};
    if (run.writer) run.writer->finish(run.image_size, image_crc, payload, run.failure);
    run.progress.clear();
    // xz reads the file until it is done: the file must hold still until then.
    if (!run.input.unchanged(error)) return fail(PackFailureKind::file_read, run.input_path, error);
    // Done with it. Closed before the rename: Windows cannot replace a name
    // (a hard link to the input, say) whose file is still open.
    run.input.close();
    say("image crc:" + hex(image_crc));

    run.header.payload_size = static_cast<uint32_t>(payload.size);
    run.header.payload_crc = payload.crc;
    // On failure, the owners remove the temporary file and stop the writer.
    if (run.failure.kind || !finish_output(run)) return fail(run.failure);
    if (!payload.is_image) {
        say("compress image size:" + hex(payload.size));
        say("compress image crc:" + hex(payload.crc));
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
        case PackArgs::Action::version: say(version_text(kTool)); return kPackSuccess;
        case PackArgs::Action::usage_failure: return usage_failure(args.problem);
        case PackArgs::Action::pack: break;
    }
    // An input that is no file to pack is refused as what it is, before any
    // line describes it and before an output name is formed from it. It is
    // measured, not opened: opening a FIFO would wake its writer.
    FileStamp kind;
    std::string ignored;  // a name that cannot be measured fails when it is opened
    if (path_stamp(args.input, true, kind, ignored) && kind.kind != FileKind::regular) {
        return fail(PackFailureKind::file_read, args.input, file_kind_name(kind.kind));
    }
    if (!args.output_given && !pack_derive_output(args)) return usage_failure(args.problem);
    if (args.output_given && output_is_input(args)) {
        return usage_failure("OUTPUT " + single_quoted(args.output) + " is the input file");
    }
    Run run;
    run.header.mode = args.mode;
    run.input_path = args.input;
    run.output_path = args.output;

    // The size comes from the open file; one that cannot be opened still gets
    // its size line, from its name, before the failure.
    std::string open_error, error;
    bool opened = run.input.open(run.input_path, FifoOpen::no_wait, open_error);
    FileStamp named;
    if (!opened && !path_stamp(run.input_path, true, named, error)) {
        return fail(PackFailureKind::file_open, run.input_path, open_error);
    }
    const FileStamp& measured = opened ? run.input.stamp() : named;
    run.image_size = measured.size;
    if (run.image_size > kMaxPayloadSize) return fail(PackFailureKind::too_large, run.input_path, "4 GiB or more");
    run.header.image_size = static_cast<uint32_t>(run.image_size);
    say("image size:" + hex(run.image_size));
    run.progress.start(args.progress, stderr_is_terminal(), kTool, run.image_size);

    // The order of these steps fixes the lines callers see: the size line,
    // then the buffer, then the open. When both of the last fail, the line
    // is "malloc failed".
    if (!run.memory.reserve(2 * kChunkSize, error)) return fail(PackFailureKind::malloc, run.input_path, error);
    if (!opened) return fail(PackFailureKind::file_open, run.input_path, open_error);
    // A FIFO, device or directory has no size that tells its content.
    if (measured.kind != FileKind::regular)
        return fail(PackFailureKind::file_read, run.input_path, "not a regular file");

    return write_ota_file(run);
}

}  // namespace

int pack_run(int argc, char** argv) {
    int status;
    try {
        status = pack(argc, argv);
    } catch (const std::bad_alloc& e) {
        // Memory ran out: the owners have undone what the run made, and it
        // fails as a failed allocation does.
        status = fail(PackFailureKind::malloc, "out of resources", e.what());
    } catch (const std::exception& e) {
        // Anything else is a fault of the tool's own, told as one; the owners
        // have undone what the run made.
        diagnose(kTool, about("internal error", e.what()));
        status = kPackFailure;
    }
    // The lines are part of the result: a run whose lines were lost failed.
    std::string error;
    if (!stdout_flushed(error)) {
        diagnose(kTool, about("standard output", error));
        return kPackFailure;
    }
    return status;
}
