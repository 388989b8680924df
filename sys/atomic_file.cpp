// The atomic output file, the same on every system, on the platform's
// directory primitives (directory_*.cpp).
#include "sys/atomic_file.h"

#include <algorithm>

#include "sys/descriptor.h"
#include "sys/directory.h"
#include "sys/file_stamp.h"
#include "sys/misuse.h"
#include "sys/random_bytes.h"
#include "sys/signals.h"
#include "sys/system_paths.h"
#include "text/paths.h"
#include "text/quote.h"

namespace {

constexpr int kNameAttempts = 100;
constexpr char kNoFile[] = "an output file used before it was begun, or after its commit";
// The longest file name most file systems take, in bytes.
constexpr size_t kNameMax = 255;

// ".NAME.XXXXXX" with six random letters and digits. NAME is cut so that the
// whole stays within a file name's limit, and not inside a UTF-8 character.
std::string temp_name_for(const std::string& name) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    size_t keep = std::min(name.size(), kNameMax - 8);
    while (keep < name.size() && keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) keep--;
    uint8_t random[6];
    random_bytes(random, sizeof random);
    std::string temp = ".";  // appended: GCC 12 warns falsely (-Wrestrict) on "." + string
    temp.append(name, 0, keep);
    temp += '.';
    for (uint8_t r : random) temp += kLetters[r % (sizeof kLetters - 1)];
    return temp;
}

// A directory named where a file was meant, and how to name one in it.
std::string is_a_directory(const std::string& path) {
    const std::string_view separators = path_separators(host_path_style());
    const bool ends_in_separator = !path.empty() && separators.find(path.back()) != std::string_view::npos;
    return "Is a directory; name a file in it (" +
           shown_name(path + (ends_in_separator ? "" : std::string(1, separators[0])) + "NAME") + ")";
}

}  // namespace

bool AtomicFile::begin(const std::string& path, std::string& error) {
    if (!temp_name_.empty()) return misuse("an output file begun twice", error);
    path_ = path;
    PathParts parts = split_path(path, host_path_style());
    if (parts.name.empty() || parts.name == "." || parts.name == "..") {
        error = is_a_directory(path);
        return false;
    }
    // A directory that cannot be opened or written in is named: the file's
    // own name would say nothing of where it could not be made.
    const std::string where = parts.directory.empty() ? "the current directory" : shown_name(parts.directory);
    if (!dir_.open(parts.directory, error)) {
        error = "cannot make it in " + where + ": " + error;
        return false;
    }
    std::string system = dir_.system_directory();
    if (!system.empty()) {
        error = "is in " + system + ", where no file is written";
        return false;
    }
    name_ = parts.name;

    // The user's own file it replaces gives its permission bits; a new file,
    // or one that replaces a link or someone else's file, gets the usual ones.
    FileStamp replaced;
    switch (dir_.stamp(name_, replaced, error)) {
        case Directory::Found::failed: return false;
        case Directory::Found::no: permissions_ = new_file_permissions(); break;
        case Directory::Found::yes:
            if (replaced.kind == FileKind::directory) {
                error = is_a_directory(path);
                return false;
            }
            if (replaced.kind != FileKind::regular) {
                error = "not a regular file";
                return false;
            }
            permissions_ = dir_.own_regular_file(name_) ? replaced.permissions : new_file_permissions();
            break;
    }

    // A name is taken only once the file is made under it, and registered
    // in the same breath: a name that was someone else's is never removed.
    for (int attempt = 0; attempt < kNameAttempts; attempt++) {
        std::string candidate = temp_name_for(name_);
        Directory::Made made;
        {
            SignalHold hold;
            made = dir_.create_new(candidate, fd_, error);
            if (made == Directory::Made::failed) error = "cannot make it in " + where + ": " + error;
            if (made == Directory::Made::made) {
                temp_name_ = candidate;
                cleanup_register_file(dir_, temp_name_);
            }
        }
        if (made == Directory::Made::made) return true;
        if (made == Directory::Made::failed) return false;
    }
    error = "no free temporary file name";
    return false;
}

bool AtomicFile::write(const uint8_t* data, size_t size, std::string& error) {
    if (!fd_.is_open()) return misuse(kNoFile, error);
    return file_write_all(fd_, data, size, error);
}

bool AtomicFile::write_at(uint64_t offset, const uint8_t* data, size_t size, std::string& error) {
    if (!fd_.is_open()) return misuse(kNoFile, error);
    return file_seek(fd_, offset, error) && file_write_all(fd_, data, size, error);
}

AtomicFile::Commit AtomicFile::commit(std::string& error) {
    if (!fd_.is_open()) {
        misuse(kNoFile, error);
        return Commit::write_failed;
    }
    // Private while written; its final bits just before it takes the name.
    if (!file_set_permissions(fd_, permissions_, error) || !file_sync(fd_, error) || !dir_.keep(fd_, error) ||
        !fd_.close(error)) {
        abandon();
        return Commit::write_failed;
    }
    bool renamed;
    {
        SignalHold hold;
        renamed = dir_.rename(temp_name_, name_, error);
        if (renamed) {
            cleanup_forget_file();
            temp_name_.clear();
        }
    }
    if (!renamed) {
        abandon();
        return Commit::rename_failed;
    }
    // The whole file is under its name; a name the disk may lose is a
    // failed write all the same.
    return dir_.sync(error) ? Commit::done : Commit::write_failed;
}

void AtomicFile::abandon() {
    fd_.reset();
    if (temp_name_.empty()) return;
    SignalHold hold;
    dir_.remove(temp_name_);
    cleanup_forget_file();
    temp_name_.clear();
}
