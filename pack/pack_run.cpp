// The packing run, silent: what it learns goes to the caller's events and
// into its outcome; nothing is printed.
#include "pack/pack_run.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "format/crc16_xmodem.h"
#include "pack/pack_args.h"
#include "pack/payload.h"
#include "sys/atomic_file.h"
#include "sys/file_stamp.h"
#include "sys/input_file.h"
#include "sys/work_buffer.h"
#include "text/quote.h"

namespace {

// The first chunk holds the label slot.
static_assert(kChunkSize >= kRawLabelOffset + kOtaLabelSize);

// An outcome that is a failure before anything was learnt.
PackOutcome failed(PackFailureKind kind, const std::string& subject, const std::string& reason,
                   const std::string& output = "") {
    PackOutcome outcome;
    outcome.output = output;
    pack_hold(outcome.failure, kind, subject, reason);
    return outcome;
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
    Progress progress;                      // cleared before the run returns
    std::unique_ptr<PayloadWriter> writer;  // none once the output has failed
    PackFailure failure;
    const PackEvents* events = nullptr;
    PackOutcome outcome;
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
void warn_about_image(const Run& run, const uint8_t* first, size_t size, const std::string& label) {
    if (!run.events->warning) return;
    const auto& warn = run.events->warning;
    const std::string& input = run.input_path;
    static constexpr uint8_t kElfMagic[] = {0x7F, 'E', 'L', 'F'};
    if (size >= sizeof kElfMagic && std::memcmp(first, kElfMagic, sizeof kElfMagic) == 0) {
        warn(input,
             "looks like an ELF file, not a raw flash image; packed as it is (objcopy -O binary makes the image)");
    }
    if (size >= kOtaMagicLength && std::memcmp(first, kOtaMagicText, kOtaMagicLength) == 0) {
        warn(input, "is already an OTA file; packed again as it is, inside a new header");
    }
    if (size > kRawLabelOffset &&
        std::memchr(first + kRawLabelOffset, 0, std::min(size - kRawLabelOffset, kOtaMaxLabelLength)) == nullptr) {
        warn(input, "no NUL ends the label at 0x100 within 31 bytes; the label is \"" + printable(label) + "\"");
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
            warn_about_image(run, chunk, size, run.header.label);
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
// read, then the header.
void write_ota_file(Run& run) {
    std::string error;
    const uint8_t placeholder[kOtaHeaderSize] = {};  // room for the header, written last
    if (!run.out.begin(run.output_path, error)) {
        pack_hold(run.failure, PackFailureKind::file_open, run.output_path, error);
    } else if (!run.out.write(placeholder, sizeof placeholder, error)) {
        pack_hold(run.failure, PackFailureKind::file_write, run.out.path(), error);
    } else {
        run.writer = make_payload_writer(run);
        // A read failure ends the run at once; any other waits for its line's place.
        if (run.failure.kind == PackFailureKind::file_read) return;
    }

    if (!read_image(run, error)) {
        run.progress.clear();
        run.failure = {};  // the read's failure is the one told
        return pack_hold(run.failure, PackFailureKind::file_read, run.input_path, error);
    }
    const uint16_t image_crc = run.header.image_crc;
    PayloadResult payload{run.image_size, image_crc};
    if (run.writer) run.writer->finish(run.image_size, image_crc, payload, run.failure);
    run.progress.clear();
    // xz reads the file until it is done: the file must hold still until then.
    if (!run.input.unchanged(error)) {
        run.failure = {};
        return pack_hold(run.failure, PackFailureKind::file_read, run.input_path, error);
    }
    // Done with it. Closed before the rename: Windows cannot replace a name
    // (a hard link to the input, say) whose file is still open.
    run.input.close();
    run.outcome.image_crc = image_crc;

    run.header.payload_size = static_cast<uint32_t>(payload.size);
    run.header.payload_crc = payload.crc;
    // On failure, the owners remove the temporary file and stop the writer.
    if (run.failure.kind || !finish_output(run)) return;
    run.outcome.payload_size = static_cast<uint32_t>(payload.size);
    run.outcome.payload_crc = payload.crc;
}

// True when OUTPUT is the input itself: the same name, or a hard link to it.
// A symbolic link there is replaced as a name, so it is not the input.
bool output_is_input(const PackArgs& args) {
    FileStamp output, input;
    std::string ignored;  // either missing: they are not one file
    return path_stamp(args.output, false, output, ignored) && path_stamp(args.input, true, input, ignored) &&
           same_file(output, input);
}

}  // namespace

PackOutcome pack_file(const PackRequest& request, const PackEvents& events) {
    PackArgs args;
    args.input = request.input;
    args.mode = request.mode;
    args.output = request.output;
    args.output_given = !request.output.empty();
    // An input that is no file to pack is refused as what it is, before any
    // line describes it and before an output name is formed from it. It is
    // measured, not opened: opening a FIFO would wake its writer.
    FileStamp kind;
    std::string ignored;  // a name that cannot be measured fails when it is opened
    if (path_stamp(args.input, true, kind, ignored) && kind.kind != FileKind::regular) {
        return failed(PackFailureKind::file_read, args.input, file_kind_name(kind.kind));
    }
    if (!args.output_given && !pack_derive_output(args)) return failed(PackFailureKind::input_param, "", args.problem);
    if (args.output_given && !pack_output_problem(args.output).empty()) {
        return failed(PackFailureKind::input_param, "", pack_output_problem(args.output));
    }
    if (args.output_given && output_is_input(args)) {
        return failed(PackFailureKind::input_param, "", "OUTPUT " + single_quoted(args.output) + " is the input file");
    }
    Run run;
    run.events = &events;
    run.header.mode = args.mode;
    run.input_path = args.input;
    run.output_path = args.output;
    run.outcome.output = args.output;

    // The size comes from the open file; one that cannot be opened still gets
    // its size line, from its name, before the failure.
    std::string open_error, error;
    bool opened = run.input.open(run.input_path, FifoOpen::no_wait, open_error);
    FileStamp named;
    if (!opened && !path_stamp(run.input_path, true, named, error)) {
        return failed(PackFailureKind::file_open, run.input_path, open_error, args.output);
    }
    const FileStamp& measured = opened ? run.input.stamp() : named;
    run.image_size = measured.size;
    if (run.image_size > kMaxPayloadSize) {
        return failed(PackFailureKind::too_large, run.input_path, "4 GiB or more", args.output);
    }
    run.header.image_size = static_cast<uint32_t>(run.image_size);
    run.outcome.image_size = run.image_size;
    if (events.image_size) events.image_size(run.image_size);
    run.progress.start(request.progress, request.stderr_terminal, request.tool, run.image_size);

    // The order of these steps fixes the lines callers see: the size line,
    // then the buffer, then the open. When both of the last fail, the line
    // is "malloc failed".
    if (!run.memory.reserve(2 * kChunkSize, error)) {
        pack_hold(run.failure, PackFailureKind::malloc, run.input_path, error);
    } else if (!opened) {
        pack_hold(run.failure, PackFailureKind::file_open, run.input_path, open_error);
    } else if (measured.kind != FileKind::regular) {
        // A FIFO, device or directory has no size that tells its content.
        pack_hold(run.failure, PackFailureKind::file_read, run.input_path, "not a regular file");
    } else {
        write_ota_file(run);
    }
    run.outcome.failure = run.failure;
    return run.outcome;
}
