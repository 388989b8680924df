// libFuzzer target: any bytes through the OTA file reader and both report
// forms. Decoding is capped lower than in ota_info so that a small stream
// that expands hugely stays within the fuzzer's memory.
#include <cstddef>
#include <cstdint>

#include "format/ota_verify.h"
#include "tool/ota_info_print.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OtaVerifyLimits limits;
    limits.max_image_size = uint64_t{16} << 20;
    OtaImage image;
    OtaReport report = ota_verify(data, size, size, limits, &image);
    if (report.valid() && image.size > 0) {
        volatile uint8_t last = image.data[image.size - 1];  // the view must cover real bytes
        (void)last;
    }
    ota_listing("fuzz.ota.bin", report);
    ota_json("fuzz.ota.bin", report);
    return 0;
}
