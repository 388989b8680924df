// pack_and_check IMAGE MODE: packs IMAGE into IMAGE less ".bin", then
// ".ota.bin", checks the file and prints what the packer and the checks say.
#include <image_gen_header/ota.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pack_and_check IMAGE MODE\n");
        return 2;
    }
    const std::optional<ota::Mode> mode = ota::mode_named(argv[2]);
    if (!mode) {
        std::fprintf(stderr, "pack_and_check: %s is no mode\n", argv[2]);
        return 2;
    }
    ota::PackOptions options;
    options.warning = [](const std::string& message) { std::fprintf(stderr, "warning: %s\n", message.c_str()); };
    ota::PackResult packed;
    ota::Error error;
    if (!ota::pack(argv[1], *mode, options, packed, error)) {
        std::fprintf(stderr, "pack_and_check: %s\n", error.message.c_str());
        return 1;
    }
    ota::VerifyOptions checks;
    checks.sha256 = true;
    ota::Report report;
    if (!ota::verify(packed.output, checks, report, error)) {
        std::fprintf(stderr, "pack_and_check: %s\n", error.message.c_str());
        return 1;
    }
    std::printf("%s: %s, image %u bytes crc 0x%x, payload %u bytes crc 0x%x, sha256 %s\n", packed.output.c_str(),
                report.valid ? "valid" : "invalid", packed.image_size, packed.image_crc, packed.payload_size,
                packed.payload_crc, report.file_sha256.value_or("unknown").c_str());
    return report.valid ? 0 : 1;
}
