// How names show: as typed where that is safe, else quoted as a POSIX shell
// reads them back; in JSON exactly, with the controls escaped.
#include <gtest/gtest.h>

#include "test_support.h"
#include "text/quote.h"

namespace {

TEST(Text, NamesShowAsTypedOrQuotedAndComeBackThroughBash) {
    struct Case {
        std::string name;
        std::string shown;  // on POSIX systems
        std::string json;
    };
    const std::vector<Case> cases = {
        {"out/app.ota.bin", "out/app.ota.bin", "\"out/app.ota.bin\""},
        {"fw v1 (ü).bin", "fw v1 (ü).bin", "\"fw v1 (ü).bin\""},
        {"a\nb", "'a'$'\\n''b'", "\"a\\u000ab\""},
        {"it's", "'it'\\''s'", "\"it's\""},
        {"$HOME", "'$HOME'", "\"$HOME\""},
        {"back\\slash", "'back\\slash'", "\"back\\\\slash\""},
        {"\x7f", "$'\\x7f'", "\"\\u007f\""},
        {"\xc2\x85", "$'\\xc2\\x85'", "\"\\u0085\""},  // NEL, a C1 control
        {"gpj.\xe2\x80\xae"
         "exe",
         "'gpj.'$'\\xe2\\x80\\xae''exe'", "\"gpj.\\u202eexe\""},  // right-to-left override
        {"line\xe2\x80\xa8sep", "'line'$'\\xe2\\x80\\xa8''sep'", "\"line\\u2028sep\""},
        {"odd\xff", "'odd'$'\\xff'", "\"odd\\udcff\""},
    };
    for (const Case& c : cases) {
        if (kPosix) {
            EXPECT_EQ(shown_name(c.name), c.shown) << c.shown;
        }
        EXPECT_EQ(json_name(c.name), c.json) << c.shown;
    }
    SKIP_UNLESS_POSIX("bash");
    // A quoted name, and any argument in a message, pasted into bash, is the
    // name again, byte for byte.
    for (const Case& c : cases) {
        RunResult r;
        if (c.shown != c.name) {
            r = run_program("/bin/bash", {"-c", "printf %s " + shown_name(c.name)});
            EXPECT_EQ(r.out, c.name) << c.shown;
        }
        r = run_program("/bin/bash", {"-c", "printf %s " + single_quoted(c.name)});
        EXPECT_EQ(r.out, c.name) << single_quoted(c.name);
    }
}

}  // namespace
