#include "pack/pack.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "format/hex.h"
#include "format/ota_header.h"
#include "pack/failure.h"
#include "pack/pack_args.h"
#include "pack/pack_run.h"
#include "sys/process.h"
#include "sys/standard_output.h"
#include "text/quote.h"
#include "text/say.h"
#include "text/version.h"

namespace {

constexpr const char* kTool = "image_gen_header";

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

int pack(int argc, char** argv) {
    PackArgs args = pack_parse_args(argc, argv);
    switch (args.action) {
        case PackArgs::Action::help: std::fputs(kUsage, stdout); return kPackSuccess;
        case PackArgs::Action::version: say(version_text(kTool)); return kPackSuccess;
        case PackArgs::Action::usage_failure: return usage_failure(args.problem);
        case PackArgs::Action::pack: break;
    }
    PackRequest request;
    request.input = args.input;
    request.mode = args.mode;
    if (args.output_given) request.output = args.output;
    request.progress = args.progress;
    request.stderr_terminal = stderr_is_terminal();
    request.tool = kTool;
    PackEvents events;
    events.image_size = [](uint64_t size) { say("image size:" + hex(size)); };
    events.warning = [](const std::string& subject, const std::string& what) { diagnose(kTool, about(subject, what)); };
    const PackOutcome outcome = pack_file(request, events);

    // The lines after the size line, each once its value was learnt, then
    // the failure's line last.
    if (outcome.image_crc) say("image crc:" + hex(*outcome.image_crc));
    if (outcome.failure.kind == PackFailureKind::input_param) return usage_failure(outcome.failure.reason);
    if (outcome.failure.kind) return fail(outcome.failure);
    if (args.mode == OtaMode::image_compress) {
        say("compress image size:" + hex(*outcome.payload_size));
        say("compress image crc:" + hex(*outcome.payload_crc));
    }
    return kPackSuccess;
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
