// image_gen_header's library: pack raw flash images into OTA files, and
// verify, read and unpack OTA files, in-process. The tools image_gen_header
// and ota_info are built on the same code, so a file packed here is the one
// the tool makes, byte for byte, and a report is the one `ota_info --json`
// prints.
//
// Every call that can fail returns false and fills an `ota::Error`: the kind,
// and the message the tool would print (less its name). Nothing is printed
// and nothing ends the process. Calls on different files may run at once on
// several threads.
//
// The library installs no signal handler and changes no process-wide state;
// the tools do that around it. What a caller loses by that: a process killed
// while it packs (a signal the caller does not handle, SIGKILL) leaves the
// hidden temporary file ".NAME.XXXXXX" beside the output, and a running xz
// (image_compress) is not ended with it. On Windows the temporary file goes
// with the process all the same. A caller that ignores SIGCHLD cannot have
// xz's exit status: image_compress then fails.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#if defined(_WIN32) && !defined(IMAGE_GEN_HEADER_OTA_STATIC)
#if defined(IMAGE_GEN_HEADER_OTA_BUILDING)
#define IMAGE_GEN_HEADER_OTA_API __declspec(dllexport)
#else
#define IMAGE_GEN_HEADER_OTA_API __declspec(dllimport)
#endif
#elif defined(_WIN32)
#define IMAGE_GEN_HEADER_OTA_API
#else
#define IMAGE_GEN_HEADER_OTA_API __attribute__((visibility("default")))
#endif

namespace ota {

// The packing modes: the payload is the image (image_copy), an xz stream of
// it made by the `xz` command (image_compress), or the image with the
// header's remap flag and marker set (flash_remapping).
enum class Mode { image_copy, image_compress, flash_remapping };

// The mode's keyword ("image_copy"), and the mode a keyword names.
IMAGE_GEN_HEADER_OTA_API const char* mode_name(Mode mode);
IMAGE_GEN_HEADER_OTA_API std::optional<Mode> mode_named(const std::string& keyword);

enum class ErrorKind {
    usage,    // the call names no packing (an output name that cannot be formed, the input as output)
    file,     // a file cannot be opened or made, or is no file to pack (a directory, 4 GiB or more)
    read,     // a file cannot be read, or changed while it was read
    write,    // the output cannot be written
    xz,       // xz is missing, failed, or gave back a stream that is not the image
    memory,   // memory ran out
    invalid,  // extract: the OTA file has problems, so no image is given back
};

struct Error {
    ErrorKind kind = ErrorKind::file;
    std::string message;  // "app.bin: No such file or directory"
};

struct PackOptions {
    std::string output;  // empty: the input less its last four bytes, then ".ota.bin"
    // Each likely mistake in the image (an ELF file, an OTA file, a label
    // with no NUL), which is packed all the same: the tool's warnings.
    std::function<void(const std::string& message)> warning;
};

// The values the tool prints.
struct PackResult {
    std::string output;  // where the OTA file is
    uint32_t image_size = 0;
    uint16_t image_crc = 0;
    uint32_t payload_size = 0;  // for image_compress, the xz stream's; else the image's
    uint16_t payload_crc = 0;
};

// Packs `input` into an OTA file, as image_gen_header does: written beside
// its name under a temporary name, synced and renamed into place only when
// whole (for image_compress, once xz's stream has been proven to decode to
// the image); on failure the name holds what it held before.
IMAGE_GEN_HEADER_OTA_API bool pack(const std::string& input, Mode mode, const PackOptions& options, PackResult& result,
                                   Error& error);

struct VerifyOptions {
    std::optional<uint64_t> max_size;  // the flash slot the file must fit
    bool sha256 = false;               // the digests of the file and of its image
};

// The values ota_info computes from the file itself.
struct Computed {
    uint64_t payload_size = 0;
    uint16_t payload_crc = 0;
    std::optional<uint64_t> image_size;  // none when the image cannot be had
    std::optional<uint16_t> image_crc;
};

// One file's report: the fields of `ota_info --json`'s object, with its
// nulls as empty optionals.
struct Report {
    std::string file;
    bool valid = false;
    std::string mode;                  // the keyword, "inconsistent" (flags that name no mode) or "unknown"
    std::optional<std::string> magic;  // printable: "\xNN" for other bytes
    std::optional<std::string> label;  // the label's exact bytes
    std::optional<uint32_t> payload_size, payload_crc, image_size, image_crc;  // as stored
    Computed computed;
    std::optional<std::string> xz_check;
    std::vector<std::string> problems;  // empty when valid
    std::optional<uint64_t> max_size;
    std::optional<int64_t> bytes_free;  // negative when the file is over its slot; saturated past 2^63
    std::optional<std::string> file_sha256, image_sha256;  // hexadecimal
    uint64_t file_size = 0;
};

// Checks `file` as ota_info does. A file that can be read gives a report
// (true), valid or not; false only when it cannot be read.
IMAGE_GEN_HEADER_OTA_API bool verify(const std::string& file, const VerifyOptions& options, Report& report,
                                     Error& error);

// Writes the raw image `file` holds (decoded, for image_compress) to `raw`,
// as `ota_info --extract` does: only when every check passed, atomically.
// The report is filled whenever the file could be read.
IMAGE_GEN_HEADER_OTA_API bool extract(const std::string& file, const std::string& raw, Report& report, Error& error);

// The 128-byte header, for programs that build their own files.
constexpr size_t kHeaderSize = 128;

// What a packing run fills in.
struct Header {
    Mode mode = Mode::image_copy;
    std::string label;  // at most 31 bytes are stored
    uint32_t image_size = 0;
    uint16_t image_crc = 0;
    uint32_t payload_size = 0;
    uint16_t payload_crc = 0;
};

// The header's bytes, the same on every host.
IMAGE_GEN_HEADER_OTA_API std::array<uint8_t, kHeaderSize> encode_header(const Header& header);
// The fields back; false for bytes that are no OTA header (its magic, its
// flags), `error` saying why.
IMAGE_GEN_HEADER_OTA_API bool decode_header(const uint8_t* bytes, Header& header, std::string& error);

// CRC-16/XMODEM, the checksum the header records.
IMAGE_GEN_HEADER_OTA_API uint16_t crc16_xmodem(const uint8_t* data, size_t size, uint16_t crc = 0);

}  // namespace ota
