// The packer's command line: image_gen_header [-o OUTPUT] INPUT MODE.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "format/ota_header.h"
#include "text/progress.h"

struct PackArgs {
    enum class Action { pack, help, version, usage_failure };
    Action action = Action::usage_failure;
    std::string input;
    OtaMode mode = OtaMode::image_copy;
    std::string output;                                   // the derived name unless -o gave one
    bool output_given = false;                            // by -o
    ProgressChoice progress = ProgressChoice::automatic;  // --progress, --no-progress
    std::string problem;                                  // for a usage failure: what is wrong, naming the argument
};

// Reads the arguments. Options (-o OUTPUT, -oOUTPUT, --output OUTPUT,
// --output=OUTPUT, once; --progress, --no-progress) may stand before INPUT or
// after MODE, up to "--".
// In INPUT's place an argument that a MODE follows is INPUT, whatever it
// begins with, so names such as "-x.bin" work as they always have; any other
// that begins with '-' and is no option is an unknown option. OUTPUT cannot
// be standard output: the header is written last. --help and --version act
// only alone. An argument past MODE is refused: it is most often an output
// named last, which would otherwise be silently not written. The output
// name, unless -o gives it, is derived apart (pack_derive_output), once the
// input is known to be a file.
PackArgs pack_parse_args(int argc, char** argv);

// Sets OUTPUT from INPUT's name (ota_output_name), or fills `problem` and
// returns false when none can be formed: a name too short, one whose cut
// would reach into its directory or fall inside a UTF-8 character.
bool pack_derive_output(PackArgs& args);

// The output name: the input path less its last four bytes, then ".ota.bin".
std::string ota_output_name(const std::string& input_path);

// Why OUTPUT can take no OTA file (it names standard output), or empty.
std::string pack_output_problem(const std::string& output);
