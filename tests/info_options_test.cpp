// ota_info's option parsing on its own.
#include <gtest/gtest.h>

#include <optional>

#include "info/options.h"

namespace {

TEST(InfoOptions, SizeParserTakesBinarySuffixesUpTo64Bits) {
    struct Case {
        std::string text;
        std::optional<uint64_t> size;  // none: refused
    };
    for (const Case& c : std::vector<Case>{
             {"0", 0},
             {"0X10", 16},
             {"4 K", 4096},
             {"3GiB", uint64_t{3} << 30},
             {"18446744073709551615", UINT64_MAX},
             {"0xFFFFFFFFFFFFFFFF", UINT64_MAX},
             {"17179869183G", ((uint64_t{1} << 34) - 1) << 30},
             {"18446744073709551616", std::nullopt},
             {"0x10000000000000000", std::nullopt},
             {"17179869184G", std::nullopt},
             {"4  K", std::nullopt},
             {" 4K", std::nullopt},
             {"4 ", std::nullopt},  // a blank ends no size, with a suffix or without
             {"4K ", std::nullopt},
             {"4KB", std::nullopt},
             {"0x", std::nullopt},
             {"K", std::nullopt},
         }) {
        uint64_t size = 0;
        bool parsed = parse_size(c.text, size);
        EXPECT_EQ(parsed, c.size.has_value()) << c.text;
        if (parsed && c.size) {
            EXPECT_EQ(size, *c.size) << c.text;
        }
    }
}

// The parser only reads: what the command line asks for comes back as an
// action, a usage failure with what is wrong, and nothing is printed.
TEST(InfoOptions, TheCommandLineBecomesAnActionAndPrintsNothing) {
    using Action = InfoOptions::Action;
    struct Case {
        std::vector<std::string> args;
        Action action;
        std::string problem;
    };
    for (const Case& c : std::vector<Case>{
             {{"a.ota.bin", "--json"}, Action::run, ""},
             {{"--help", "a.ota.bin"}, Action::help, ""},
             {{"-V"}, Action::version, ""},
             {{}, Action::usage_failure, "no FILE given"},
             {{"--max-size", "4Q", "a"},
              Action::usage_failure,
              "--max-size: needs a size: bytes, 0x hexadecimal, with K, KiB, M, MiB, G or GiB; not '4Q'"},
             {{"--extract", "raw", "a", "b"}, Action::usage_failure, "--extract: takes exactly one FILE"},
             {{"--bogus", "a"}, Action::usage_failure, "--bogus: unknown option"},
         }) {
        std::vector<char*> argv = {const_cast<char*>("ota_info")};
        for (const std::string& arg : c.args) argv.push_back(const_cast<char*>(arg.c_str()));
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        InfoOptions options = parse_info_arguments(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");
        const std::string shown = c.args.empty() ? "(none)" : c.args[0];
        EXPECT_EQ(options.action, c.action) << shown;
        EXPECT_EQ(options.problem, c.problem) << shown;
    }
}

}  // namespace
