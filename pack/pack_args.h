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
    std::string output;                  // the derived name unless -o gave one
    bool output_given = false;           // by -o
    ProgressChoice progress = ProgressChoice::automatic;  // --progress, --no-progress
    std::string problem;                 // for a usage failure: what is wrong, naming the argument
    std::vector<std::string> warnings;   // arguments past MODE that are ignored
};

// Reads the arguments. Options (-o OUTPUT, -oOUTPUT, --output OUTPUT,
// --output=OUTPUT, once; --progress, --no-progress) may stand before INPUT or
// after MODE, up to "--".
// In INPUT's place an argument that a MODE follows is INPUT, whatever it
// begins with, so names such as "-x.bin" work as they always have; any other
// that begins with '-' and is no option is an unknown option. OUTPUT cannot
// be standard output: the header is written last. --help and --version act
// only alone.
PackArgs pack_parse_args(int argc, char** argv);

// The output name: the input path less its last four bytes, then ".ota.bin".
std::string ota_output_name(const std::string& input_path);
