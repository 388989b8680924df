// ota_info [options] FILE...: lists and verifies OTA files, and gives back
// the raw image of one.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "info/check.h"
#include "info/options.h"
#include "info/report_print.h"
#include "sys/input_file.h"
#include "sys/process.h"
#include "sys/standard_output.h"
#include "text/say.h"
#include "text/version.h"

namespace {

// "ota_info: SUBJECT: WHAT" on standard error; returns kInfoTrouble.
int info_complain(const std::string& subject, const std::string& what) {
    diagnose("ota_info", about(subject, what));
    return kInfoTrouble;
}

// How one file ended: its status, and whether a report was printed.
struct Checked {
    int status;
    bool printed;
};

// Checks one file; prints its report to `report_to`, after a blank line if a
// listing came before.
Checked check_file(const InfoOptions& options, const std::string& file, std::vector<uint8_t>& chunk, FILE* report_to,
                   bool listed_before) {
    CheckRequest request;
    request.max_size = options.max_size;
    request.sha256 = options.sha256;
    request.extract = options.extract;
    request.progress = options.progress;
    request.stderr_terminal = stderr_is_terminal();
    const CheckOutcome outcome = check_ota_file(file, request, chunk);
    switch (outcome.end) {
        case CheckOutcome::End::unopened:
        case CheckOutcome::End::unreadable:
            // In JSON its object all the same, so that every FILE has one.
            if (options.json) std::fputs(ota_json_unreadable(file, outcome.error).c_str(), report_to);
            return {info_complain(file, outcome.error), options.json};
        case CheckOutcome::End::extraction_refused: return {info_complain(outcome.subject, outcome.error), false};
        case CheckOutcome::End::checked: break;
    }
    if (!options.json && listed_before) std::fputs("\n", report_to);
    std::string text = options.json ? ota_json(file, outcome.report, outcome.extras)
                                    : ota_listing(file, outcome.report, outcome.extras);
    std::fputs(text.c_str(), report_to);
    switch (outcome.extracted) {
        case CheckOutcome::Extracted::not_asked: return {outcome.report.valid() ? kInfoValid : kInfoInvalid, true};
        case CheckOutcome::Extracted::invalid:
            info_complain(file, "not extracted: the file has problems");
            return {kInfoInvalid, true};
        case CheckOutcome::Extracted::failed: return {info_complain(outcome.subject, outcome.error), true};
        case CheckOutcome::Extracted::done: break;
    }
    return {kInfoValid, true};
}

int run(const InfoOptions& options) {
    std::vector<uint8_t> chunk(kChunkSize);
    // With the image on standard output, the report goes to standard error.
    FILE* report_to = options.extract && options.extract->standard ? stderr : stdout;
    int status = kInfoValid;
    bool printed = false;
    for (const std::string& file : options.files) {
        Checked checked = check_file(options, file, chunk, report_to, printed);
        status = std::max(status, checked.status);
        printed = printed || checked.printed;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    process_setup(argc, argv);
    int status = kInfoValid;
    try {
        InfoOptions options = parse_info_arguments(argc, argv);
        switch (options.action) {
            case InfoOptions::Action::help: std::fputs(kInfoUsage, stdout); break;
            case InfoOptions::Action::version: say(version_text("ota_info")); break;
            case InfoOptions::Action::usage_failure:
                diagnose("ota_info", options.problem);
                std::fputs("Try 'ota_info --help'.\n", stderr);
                status = kInfoTrouble;
                break;
            case InfoOptions::Action::run: status = run(options); break;
        }
    } catch (const std::bad_alloc& e) {
        // Memory ran out: the extraction's owner has removed a partial RAW.
        status = info_complain("out of resources", e.what());
    } catch (const std::exception& e) {
        // Anything else is a fault of the tool's own, told as one.
        status = info_complain("internal error", e.what());
    }
    // The report, the help and the version are the result: losing them fails the run.
    std::string error;
    if (!stdout_flushed(error)) return info_complain("standard output", error);
    return status;
}
