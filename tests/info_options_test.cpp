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

}  // namespace
