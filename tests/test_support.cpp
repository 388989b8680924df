#include "test_support.h"

#include "format/crc16_xmodem.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace {

// A UTF-8 name as the file system's own.
std::filesystem::path fs_path(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

bool under_qemu() {
    static const bool qemu = std::getenv("QEMU_LD_PREFIX") != nullptr;
    return qemu;
}

RunResult run_program(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
    Running running = start_program(program, args, options);
    return wait_program(running);
}

TempDir::TempDir(const std::string& parent) {
    std::filesystem::path base = parent.empty() ? std::filesystem::temp_directory_path() : fs_path(parent);
    std::random_device random;
    for (int attempt = 0; attempt < 100; attempt++) {
        std::filesystem::path dir = base / ("ota_test_" + std::to_string(random()));
        if (std::filesystem::create_directory(dir)) {
            std::u8string name = dir.generic_u8string();
            path.assign(name.begin(), name.end());
            return;
        }
    }
    throw std::runtime_error("no temporary directory");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(fs_path(path), ignored);
}

Bytes read_file(const std::string& path) {
    std::ifstream in(fs_path(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string man_synopsis(const std::string& page, const std::string& indent) {
    Bytes bytes = read_file(std::string(DOCS_DIR) + "/" + page);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line, text;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.starts_with(".SH")) {
            inside = line == ".SH SYNOPSIS";
            if (!inside && !text.empty()) break;
            continue;
        }
        if (!inside) continue;
        if (line == ".br") {
            text += "\n" + indent;
            continue;
        }
        // A font macro's arguments run together; a quoted one keeps its blanks.
        std::string words;
        bool quoted = false;
        for (size_t i = line.find(' ') + 1; i > 0 && i < line.size(); i++) {
            if (line[i] == '"') {
                quoted = !quoted;
            } else if (line.compare(i, 2, "\\-") == 0) {
                words += '-';
                i++;
            } else if (line[i] != ' ' || quoted) {
                words += line[i];
            }
        }
        if (!text.empty() && !text.ends_with(indent)) text += ' ';
        text += words;
    }
    return text + "\n";
}

Bytes read_file_if_any(const std::string& path) { return file_exists(path) ? read_file(path) : Bytes{}; }

void write_file(const std::string& path, const Bytes& data) {
    std::ofstream out(fs_path(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::symlink_status(fs_path(path), ignored).type() != std::filesystem::file_type::not_found;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(fs_path(path))) {
        std::u8string name = entry.path().filename().u8string();
        names.emplace_back(name.begin(), name.end());
    }
    std::sort(names.begin(), names.end());
    return names;
}

RunResult pack(const std::string& dir, const std::vector<std::string>& args, RunOptions options) {
    options.cwd = dir;
    return run_program(IMAGE_GEN_HEADER_PATH, args, options);
}

Bytes pack_image(const std::string& dir, const std::string& name, const Bytes& image, const std::string& mode) {
    write_file(dir + "/" + name + ".bin", image);
    RunResult r = pack(dir, {name + ".bin", mode});
    if (r.status != 0) throw std::runtime_error("packing failed: " + r.out + r.err);
    return read_file(dir + "/" + name + ".ota.bin");
}

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

std::string raw_image_lines(const Bytes& image) {
    return "image size:" + hex32(static_cast<uint32_t>(image.size())) +
           "\nimage crc:" + hex32(CRC16_XMODEM(image.data(), image.size())) + "\n";
}

Bytes payload_of(const Bytes& ota) { return Bytes(ota.begin() + 128, ota.end()); }

Bytes decompress(const TempDir& dir, const Bytes& stream) {
    write_file(dir / "stream.xz", stream);
    RunResult r = run_program(XZ_PATH, {"-dc", "--", dir / "stream.xz"});
    if (r.status != 0) throw std::runtime_error("xz -dc failed: " + r.err);
    std::filesystem::remove(fs_path(dir / "stream.xz"));
    return Bytes(r.out.begin(), r.out.end());
}

void make_sparse(const std::string& path, uint64_t size) {
    write_file(path, {});
    std::filesystem::resize_file(fs_path(path), size);
}

Bytes make_image(size_t size, const std::string& label, uint32_t seed) {
    Bytes image(size);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : image) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    for (size_t i = 0; i <= label.size() && 0x100 + i < size; i++) {
        image[0x100 + i] = i < label.size() ? static_cast<uint8_t>(label[i]) : 0;
    }
    return image;
}

void write_at(const std::string& path, uint64_t offset, const Bytes& data) {
    std::fstream file(fs_path(path), std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!file) throw std::runtime_error("cannot write into " + path);
}
