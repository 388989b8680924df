// The atomic output file when every temporary name it tries is taken: this
// program links a random_bytes of its own in place of the system's, so that
// every name it makes is the same one, which someone else's file holds.
#include <gtest/gtest.h>

#include <cstring>

#include "sys/atomic_file.h"
#include "sys/random_bytes.h"
#include "test_support.h"

void random_bytes(uint8_t* data, size_t size) { std::memset(data, 0, size); }

namespace {

TEST(AtomicNames, RunningOutOfNamesRemovesNoOneElsesFile) {
    TempDir dir;
    write_file(dir / ".out.bin.AAAAAA", Bytes(3, 9));  // the one name it will try, taken
    std::string error;
    {
        AtomicFile out;
        EXPECT_FALSE(out.begin(dir / "out.bin", error));
        EXPECT_EQ(error, "no free temporary file name");
    }
    EXPECT_EQ(read_file(dir / ".out.bin.AAAAAA"), Bytes(3, 9));
}

}  // namespace
