// libFuzzer target: any bytes through the OTA file reader and both report
// forms, fed in chunks whose size the first byte picks, so that fields and
// blocks straddle chunk boundaries. Decoding is capped lower than in ota_info
// so that a small stream that expands hugely stays quick.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "info/report_print.h"
#include "verify/ota_verify.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t chunk = 1 + data[0] % 64 * 37;
    data++;
    size--;
    OtaVerifyLimits limits;
    limits.max_image_size = uint64_t{16} << 20;
    uint64_t image_bytes = 0;
    OtaVerify verify;
    ota_verify_begin(verify, limits, [&](const uint8_t*, size_t n) { image_bytes += n; });
    for (size_t at = 0; at < size; at += chunk) ota_verify_feed(verify, data + at, std::min(chunk, size - at));
    ota_verify_end(verify, size);
    const OtaReport& report = verify.report;
    if (report.valid() && report.computed.image_size != image_bytes) __builtin_trap();  // the sink saw the image
    ota_listing("fuzz.ota.bin", report);
    ota_json("fuzz.ota.bin", report);
    return 0;
}
