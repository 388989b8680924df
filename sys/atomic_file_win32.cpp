#include "sys/atomic_file.h"

#include <fcntl.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "sys/file_io.h"
#include "sys/signals.h"
#include "sys/win32_text.h"

namespace {

// Whether the name is free or names a regular file, which is replaced. A
// symbolic link is replaced itself; a dangling one is as a free name.
bool name_replaceable(const std::string& path, std::string& error) {
    FileStamp stamp;
    if (!path_stamp(path, true, stamp, error)) {
        if (error != std::strerror(ENOENT)) return false;
        error.clear();
        return true;  // a free name; a missing folder is told when the file is made
    }
    if (stamp.kind == FileKind::directory) {
        error = std::strerror(EISDIR);
        return false;
    }
    if (stamp.kind != FileKind::regular) {
        error = "not a regular file";
        return false;
    }
    return true;
}

// ".NAME.XXXXXX" beside NAME, with six random letters and digits.
std::string temp_name(const std::string& path) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    size_t slash = path.find_last_of(kPathSeparators);
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string name = dir + "." + base + ".";
    for (int i = 0; i < 6; i++) {
        unsigned int random = 0;
        rand_s(&random);
        name += kLetters[random % (sizeof kLetters - 1)];
    }
    return name;
}

}  // namespace

bool output_begin(const std::string& path, AtomicFile& out, std::string& error) {
    out.path = path;
    if (!name_replaceable(path, error)) return false;
    for (int attempt = 0; attempt < 100 && out.fd < 0; attempt++) {
        out.temp_path = temp_name(path);
        DWORD code;
        {
            SignalHold hold;
            // Shared for deletion, so that a console event can remove it while
            // it is open.
            HANDLE handle = CreateFileW(wide_path(out.temp_path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            code = GetLastError();
            if (handle != INVALID_HANDLE_VALUE) {
                out.fd = descriptor_of(handle, _O_RDWR, error);
                if (out.fd < 0) {
                    DeleteFileW(wide_path(out.temp_path).c_str());
                    out.temp_path.clear();
                    return false;
                }
                cleanup_register_file(out.temp_path);
            }
        }
        if (out.fd < 0 && code != ERROR_FILE_EXISTS) {
            out.temp_path.clear();
            error = win32_reason(code);
            return false;
        }
    }
    if (out.fd < 0) {
        out.temp_path.clear();
        error = "no free temporary file name";
        return false;
    }
    return true;
}
