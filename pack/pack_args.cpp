#include "pack/pack_args.h"

#include <algorithm>
#include <cctype>

#include "sys/system_paths.h"
#include "text/paths.h"
#include "text/quote.h"

namespace {

// Edits (insert, delete, replace) from a to b, ignoring case.
size_t distance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++) row[j] = j;
    for (size_t i = 1; i <= a.size(); i++) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); j++) {
            bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
            size_t next = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = row[j];
            row[j] = next;
        }
    }
    return row[b.size()];
}

std::string unknown_mode(const std::string& keyword) {
    const char* nearest = ota_mode_name(kOtaModes[0]);
    for (OtaMode mode : kOtaModes) {
        if (distance(keyword, ota_mode_name(mode)) < distance(keyword, nearest)) nearest = ota_mode_name(mode);
    }
    // Only a keyword within a few slips is a likely meant one.
    if (distance(keyword, nearest) <= 4)
        return "unknown mode " + single_quoted(keyword) + " (did you mean " + nearest + "?)";
    return "unknown mode " + single_quoted(keyword) + " (MODE is " + ota_mode_list() + ")";
}

// ARG as a shell reads it back: as it is when every character is one a
// shell takes literally, else quoted.
std::string shell_word(const std::string& arg) {
    const char* literal = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_./+:@%,=-";
    return !arg.empty() && arg.find_first_not_of(literal) == std::string::npos ? arg : single_quoted(arg);
}

// Arguments past MODE, named; one of them, with no -o, is most likely the
// output named last, so the command that names it is shown.
std::string extra_arguments(const std::vector<std::string>& positional, bool output_given) {
    std::string problem = positional.size() == 3 ? "extra argument" : "extra arguments";
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "..." + string.
    for (size_t i = 2; i < positional.size(); i++) problem.append(" ").append(single_quoted(positional[i]));
    problem += " after MODE";
    if (positional.size() == 3 && !output_given) {
        problem.append("; an output is named with -o: image_gen_header -o ").append(shell_word(positional[2]));
        problem.append(positional[0].starts_with("-") ? " -- " : " ").append(shell_word(positional[0]));
        problem.append(" ").append(positional[1]);
    }
    return problem;
}

PackArgs failure(PackArgs args, const std::string& problem) {
    args.action = PackArgs::Action::usage_failure;
    args.problem = problem;
    return args;
}

}  // namespace

std::string ota_output_name(const std::string& input_path) {
    return input_path.substr(0, input_path.size() - 4) + ".ota.bin";
}

PackArgs pack_parse_args(int argc, char** argv) {
    PackArgs args;
    if (argc == 2) {
        std::string only = argv[1];
        if (only == "--help" || only == "-h") return args.action = PackArgs::Action::help, args;
        if (only == "--version" || only == "-V") return args.action = PackArgs::Action::version, args;
    }
    std::vector<std::string> positional;
    std::optional<std::string> output;
    bool options_done = false;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        // In INPUT's place, a name that looks like an option is INPUT when a
        // MODE follows it: "-x.bin image_copy" and "-out.bin image_copy" pack.
        bool input_named = positional.empty() && i + 1 < argc && ota_mode_named(argv[i + 1]);
        std::optional<std::string> value;  // of -o, however it was given
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
        } else if (arg == "--") {
            options_done = true;
        } else if (arg == "-o" || arg == "--output") {
            if (i + 1 == argc) return failure(args, "option " + arg + " needs an OUTPUT name");
            value = argv[++i];
        } else if (arg.starts_with("--output=")) {
            value = arg.substr(9);
        } else if (arg == "--help" || arg == "-h" || arg == "--version" || arg == "-V") {
            return failure(args, "option " + arg + " goes alone");
        } else if (input_named) {
            positional.push_back(arg);
        } else if (arg == "--progress" || arg == "--no-progress") {
            args.progress = arg == "--progress" ? ProgressChoice::always : ProgressChoice::never;
        } else if (arg.starts_with("-o")) {
            value = arg.substr(2);  // attached, as getopt takes it
        } else {
            return failure(args, "unknown option " + single_quoted(arg));
        }
        if (value && output) {
            return failure(args,
                           "OUTPUT is given twice (" + single_quoted(*output) + " and " + single_quoted(*value) + ")");
        }
        if (value) output = value;
    }
    if (output && output->empty()) return failure(args, "the OTA file's name (-o) is empty");
    if (output && !pack_output_problem(*output).empty()) return failure(args, pack_output_problem(*output));
    if (positional.empty()) return failure(args, "INPUT and MODE are missing");
    bool first_is_mode = ota_mode_named(positional[0]).has_value();
    if (positional.size() == 1) {
        return failure(args, first_is_mode ? "INPUT is missing before MODE " + single_quoted(positional[0])
                                           : "MODE is missing after INPUT " + single_quoted(positional[0]));
    }
    std::optional<OtaMode> mode = ota_mode_named(positional[1]);
    if (!mode && first_is_mode) {
        return failure(
            args, "the arguments are swapped: INPUT comes first, then MODE (" + single_quoted(positional[0]) + ")");
    }
    if (!mode) return failure(args, unknown_mode(positional[1]));
    if (positional.size() > 2) return failure(args, extra_arguments(positional, output.has_value()));
    args.input = positional[0];
    args.mode = *mode;
    if (output) {
        args.output = *output;
        args.output_given = true;
    }
    args.action = PackArgs::Action::pack;
    return args;
}

bool pack_derive_output(PackArgs& args) {
    const std::string& input = args.input;
    const std::string_view separators = path_separators(host_path_style());
    size_t separator = input.size() < 4 ? std::string::npos : input.find_first_of(separators, input.size() - 4);
    if (input.size() < 4) {
        args.problem = "the INPUT name " + single_quoted(input) +
                       " is too short to form the output name, which drops its last 4 bytes; name it with -o";
        return false;
    }
    if (separator != std::string::npos) {
        args.problem = "the output name would leave INPUT's directory: dropping the last 4 bytes of " +
                       single_quoted(input) + " reaches past a '" + input[separator] + "'; name it with -o";
        return false;
    }
    // The cut must fall between characters: half of one is no name to write.
    if ((static_cast<unsigned char>(input[input.size() - 4]) & 0xC0) == 0x80) {
        args.problem = "the output name would end in half a character: dropping the last 4 bytes of " +
                       single_quoted(input) + " cuts one in two; name it with -o";
        return false;
    }
    args.output = ota_output_name(input);
    return true;
}

std::string pack_output_problem(const std::string& output) {
    if (!output_arg(output).standard) return "";
    return "OUTPUT " + single_quoted(output) +
           " is standard output, but an OTA file needs a file it can seek in: its header is written last";
}
