#include "info/options.h"

#include <cctype>

#include "text/quote.h"
#include "text/say.h"

const char kInfoUsage[] =
    "usage: ota_info [--json] [--sha256] [--max-size SIZE] [--extract RAW] [--progress | --no-progress] [--] FILE...\n"
    "       ota_info -h | --help | -V | --version\n"
    "Lists and verifies OTA files made by image_gen_header; FILE - is standard input.\n"
    "\n"
    "  --json            print one JSON object a line (JSON Lines) instead of the listing\n"
    "  --sha256          add the SHA-256 of each file and of the image it holds\n"
    "  --max-size SIZE   a file larger than SIZE bytes is a problem, and the listing\n"
    "                    says how full that slot is; SIZE is decimal or 0x\n"
    "                    hexadecimal, with an optional binary suffix: K or KiB\n"
    "                    (1024), M or MiB (1024^2), G or GiB (1024^3)\n"
    "  --extract RAW     write the raw image (decoded for image_compress) to RAW, only\n"
    "                    when every check passes; takes exactly one FILE. RAW - is\n"
    "                    standard output, and the listing then goes to standard error\n"
    "  --progress        show a status line on standard error during a long file,\n"
    "                    even when it is not a terminal\n"
    "  --no-progress     never show it (shown by default only on a terminal)\n"
    "  -h, --help        print this help\n"
    "  -V, --version     print the version\n"
    "\n"
    "Exit status: 0 all valid, 1 a check failed, 2 usage error or a file that cannot\n"
    "be read (or RAW that cannot be written).\n"
    "See the ota_info(1) man page.\n";

namespace {

constexpr const char* kNeedsASize = "needs a size: bytes, 0x hexadecimal, with K, KiB, M, MiB, G or GiB";

// A usage failure: what is wrong, naming the argument.
InfoOptions usage_failure(const std::string& problem) {
    InfoOptions failed;
    failed.problem = problem;
    return failed;
}

}  // namespace

bool parse_size(const std::string& text, uint64_t& size) {
    size_t at = 0;
    int base = text.starts_with("0x") || text.starts_with("0X") ? 16 : 10;
    if (base == 16) at = 2;
    uint64_t value = 0;
    size_t digits = 0;
    for (; at < text.size(); at++, digits++) {
        int digit = std::isdigit(static_cast<unsigned char>(text[at])) ? text[at] - '0'
                    : base == 16 && std::isxdigit(static_cast<unsigned char>(text[at]))
                        ? std::tolower(static_cast<unsigned char>(text[at])) - 'a' + 10
                        : -1;
        if (digit < 0) break;
        if (value > (UINT64_MAX - digit) / base) return false;
        value = value * base + digit;
    }
    std::string suffix = text.substr(at);
    // One blank may part the number from its suffix; none may end the size.
    if (suffix.starts_with(' ') && suffix.size() > 1) suffix.erase(0, 1);
    unsigned shift = suffix.empty()                     ? 0
                     : suffix == "K" || suffix == "KiB" ? 10
                     : suffix == "M" || suffix == "MiB" ? 20
                     : suffix == "G" || suffix == "GiB" ? 30
                                                        : 64;
    if (digits == 0 || shift == 64 || value > (UINT64_MAX >> shift)) return false;
    size = value << shift;
    return true;
}

InfoOptions parse_info_arguments(int argc, char** argv) {
    InfoOptions options;
    bool options_done = false;
    std::string max_size_given;  // as typed, to name it if it is given again
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        bool option = !options_done && arg.size() > 1 && arg[0] == '-';
        bool has_value = i + 1 < argc && argv[i + 1][0] != '\0';
        if (option && arg == "--") {
            options_done = true;
        } else if (option && (arg == "--help" || arg == "-h")) {
            options.action = InfoOptions::Action::help;
            return options;
        } else if (option && (arg == "--version" || arg == "-V")) {
            options.action = InfoOptions::Action::version;
            return options;
        } else if (option && arg == "--json") {
            options.json = true;
        } else if (option && arg == "--sha256") {
            options.sha256 = true;
        } else if (option && (arg == "--progress" || arg == "--no-progress")) {
            options.progress = arg == "--progress" ? ProgressChoice::always : ProgressChoice::never;
        } else if (option && (arg == "--extract" || arg.starts_with("--extract="))) {
            bool joined = arg != "--extract";
            if (joined ? arg.size() == 10 : !has_value) {
                return usage_failure(about("--extract", "needs a file name"));
            }
            std::string raw = joined ? arg.substr(10) : argv[++i];
            // "--extract --json FILE" is an option forgotten, not a file named --json.
            if (!joined && raw.size() > 1 && raw[0] == '-') {
                return usage_failure(about("--extract", "RAW " + single_quoted(raw) +
                                                            " looks like an option; name such a file --extract=" + raw +
                                                            " or ./" + raw));
            }
            if (options.extract) {
                return usage_failure(about("--extract", "given twice (" + single_quoted(options.extract->path) +
                                                            " and " + single_quoted(raw) + ")"));
            }
            options.extract = output_arg(raw);
        } else if (option && (arg == "--max-size" || arg.starts_with("--max-size="))) {
            bool joined = arg != "--max-size";
            if (!joined && !has_value) {
                return usage_failure(about(arg, kNeedsASize));
            }
            std::string value = joined ? arg.substr(11) : argv[++i];
            uint64_t size;
            if (!parse_size(value, size)) {
                return usage_failure(about("--max-size", std::string(kNeedsASize) + "; not " + single_quoted(value)));
            }
            if (options.max_size) {
                return usage_failure(about("--max-size", "given twice (" + single_quoted(max_size_given) + " and " +
                                                             single_quoted(value) + ")"));
            }
            options.max_size = size;
            max_size_given = value;
        } else if (option) {
            return usage_failure(about(arg, "unknown option"));
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.files.empty()) {
        return usage_failure("no FILE given");
    }
    if (options.extract && options.files.size() != 1) {
        return usage_failure(about("--extract", "takes exactly one FILE"));
    }
    options.action = InfoOptions::Action::run;
    return options;
}
