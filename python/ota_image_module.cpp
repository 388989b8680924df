// _ota_image: the library's calls for the Python package ota_image, which
// wraps them (ota_image/__init__.py). Names come and go as bytes, exactly as
// the file system has them; the package turns them into str and back with
// os.fsencode and os.fsdecode. The interpreter's lock is let go for the
// file work, so that threads pack and verify at once.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "image_gen_header/ota.h"

namespace py = pybind11;

namespace {

const char* kind_name(ota::ErrorKind kind) {
    switch (kind) {
        case ota::ErrorKind::usage: return "usage";
        case ota::ErrorKind::file: return "file";
        case ota::ErrorKind::read: return "read";
        case ota::ErrorKind::write: return "write";
        case ota::ErrorKind::xz: return "xz";
        case ota::ErrorKind::memory: return "memory";
        case ota::ErrorKind::invalid: return "invalid";
    }
    return "file";
}

// A failure as the package raises it: (None, kind, message).
py::tuple failure(const ota::Error& error) { return py::make_tuple(py::none(), kind_name(error.kind), error.message); }

template <class T>
py::object or_none(const std::optional<T>& value) {
    return value ? py::cast(*value) : py::none();
}

// The report as ota_info's JSON object has it, but for the names and the
// label, given as bytes (the package decodes them as JSON does).
py::dict report_dict(const ota::Report& r) {
    py::dict computed;
    computed["payload_size"] = r.computed.payload_size;
    computed["payload_crc"] = r.computed.payload_crc;
    computed["image_size"] = or_none(r.computed.image_size);
    computed["image_crc"] = or_none(r.computed.image_crc);
    py::dict d;
    d["file"] = py::bytes(r.file);
    d["valid"] = r.valid;
    d["mode"] = r.mode;
    d["magic"] = or_none(r.magic);
    d["label"] = r.label ? py::object(py::bytes(*r.label)) : py::none();
    d["payload_size"] = or_none(r.payload_size);
    d["payload_crc"] = or_none(r.payload_crc);
    d["image_size"] = or_none(r.image_size);
    d["image_crc"] = or_none(r.image_crc);
    d["computed"] = computed;
    d["xz_check"] = or_none(r.xz_check);
    d["problems"] = r.problems;
    d["max_size"] = or_none(r.max_size);
    d["bytes_free"] = or_none(r.bytes_free);
    d["file_sha256"] = or_none(r.file_sha256);
    d["image_sha256"] = or_none(r.image_sha256);
    d["file_size"] = r.file_size;
    return d;
}

// Runs `call` with the interpreter's lock let go: it touches no Python object.
template <class Call>
bool unlocked(Call call) {
    py::gil_scoped_release released;
    return call();
}

py::tuple pack(const std::string& input, const std::string& mode_keyword, const std::optional<std::string>& output) {
    const std::optional<ota::Mode> mode = ota::mode_named(mode_keyword);
    if (!mode) {
        return py::make_tuple(py::none(), "usage",
                              "unknown mode '" + mode_keyword + "': image_copy, image_compress or flash_remapping");
    }
    ota::PackOptions options;
    if (output) options.output = *output;
    std::vector<std::string> warnings;
    options.warning = [&](const std::string& message) { warnings.push_back(message); };
    ota::PackResult result;
    ota::Error error;
    if (!unlocked([&] { return ota::pack(input, *mode, options, result, error); })) return failure(error);
    py::dict d;
    d["output"] = py::bytes(result.output);
    d["image_size"] = result.image_size;
    d["image_crc"] = result.image_crc;
    d["payload_size"] = result.payload_size;
    d["payload_crc"] = result.payload_crc;
    d["warnings"] = warnings;
    return py::make_tuple(d, py::none(), py::none());
}

py::tuple verify(const std::string& path, std::optional<uint64_t> max_size, bool sha256) {
    ota::VerifyOptions options;
    options.max_size = max_size;
    options.sha256 = sha256;
    ota::Report report;
    ota::Error error;
    if (!unlocked([&] { return ota::verify(path, options, report, error); })) return failure(error);
    return py::make_tuple(report_dict(report), py::none(), py::none());
}

py::tuple extract(const std::string& path, const std::string& raw) {
    ota::Report report;
    ota::Error error;
    if (!unlocked([&] { return ota::extract(path, raw, report, error); })) return failure(error);
    return py::make_tuple(report_dict(report), py::none(), py::none());
}

}  // namespace

PYBIND11_MODULE(_ota_image, m) {
    m.doc() = "The calls under ota_image; use that package.";
    m.def("pack", &pack, py::arg("input"), py::arg("mode"), py::arg("output"));
    m.def("verify", &verify, py::arg("path"), py::arg("max_size"), py::arg("sha256"));
    m.def("extract", &extract, py::arg("path"), py::arg("raw"));
}
