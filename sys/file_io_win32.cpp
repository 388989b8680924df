#include "sys/descriptor.h"
#include "sys/file_stamp.h"
#include "sys/input_file.h"
#include "sys/standard_output.h"
#include "sys/system_paths.h"
#include "sys/temp_file.h"
#include "text/paths.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sys/stamp_win32.h"
#include "sys/win32_text.h"

namespace {

// Windows counts file times in 100 ns units since 1601.
void split_time(LARGE_INTEGER time, int64_t& seconds, int64_t& nanoseconds) {
    seconds = time.QuadPart / 10'000'000;
    nanoseconds = time.QuadPart % 10'000'000 * 100;
}

// Opens `path` with `access`, a directory too; a symbolic link itself
// (rather than what it points to) when `follow_links` is false.
HANDLE open_path(const std::string& path, DWORD access, bool follow_links, DWORD flags) {
    DWORD link_flag = follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT;
    return CreateFileW(wide_path(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | link_flag | flags, nullptr);
}

}  // namespace

bool stamp_of(HANDLE handle, FileStamp& stamp, std::string& error) {
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    stamp = FileStamp{};
    if (GetFileType(handle) != FILE_TYPE_DISK)
        return true;  // a pipe, the console or a device: no size, times or identity
    if (!GetFileInformationByHandle(handle, &info) ||
        !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        error = last_reason();
        return false;
    }
    stamp.device = info.dwVolumeSerialNumber;
    stamp.inode = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    bool directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    stamp.kind = directory ? FileKind::directory : link ? FileKind::other : FileKind::regular;
    stamp.size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    // The last write and the last change of the file's record: what the
    // modification and status change times are on a POSIX system.
    split_time(basic.LastWriteTime, stamp.mtime_s, stamp.mtime_ns);
    split_time(basic.ChangeTime, stamp.ctime_s, stamp.ctime_ns);
    return true;
}

void Descriptor::reset() {
    if (fd_ >= 0) _close(fd_);
    fd_ = -1;
}

bool Descriptor::close(std::string& error) {
    int closing = release();
    if (_close(closing) == 0) return true;
    error = std::strerror(errno);
    return false;
}

PathStyle host_path_style() { return PathStyle::windows; }

bool fd_read_some(int fd, uint8_t* data, size_t size, size_t& got, std::string& error) {
    DWORD want = static_cast<DWORD>(std::min<size_t>(size, DWORD{1} << 30));
    DWORD read = 0;
    got = 0;
    if (!ReadFile(handle_of(fd), data, want, &read, nullptr)) {
        DWORD code = GetLastError();
        if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return true;  // the writer closed its end
        error = win32_reason(code);
        return false;
    }
    got = read;
    return true;
}

bool fd_write_some(int fd, const uint8_t* data, size_t size, size_t& wrote, std::string& error) {
    DWORD want = static_cast<DWORD>(std::min<size_t>(size, DWORD{1} << 30));
    DWORD written = 0;
    wrote = 0;
    if (!WriteFile(handle_of(fd), data, want, &written, nullptr)) {
        error = last_reason();
        return false;
    }
    wrote = written;
    return true;
}

bool file_stamp(const Descriptor& fd, FileStamp& stamp, std::string& error) {
    return stamp_of(handle_of(fd.get()), stamp, error);
}

bool InputFile::open(const std::string& path, FifoOpen, std::string& error) {
    HANDLE handle = open_path(path, GENERIC_READ, true, FILE_FLAG_SEQUENTIAL_SCAN);
    if (handle == INVALID_HANDLE_VALUE) {
        error = last_reason();
        return false;
    }
    Descriptor fd(descriptor_of(handle, _O_RDONLY, error));
    if (!fd.is_open() || !stamp_of(handle, stamp_, error)) return false;
    fd_ = std::move(fd);
    return true;
}

bool InputFile::open_standard_input(std::string& error) {
    HANDLE copy = nullptr;
    HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, GetStdHandle(STD_INPUT_HANDLE), self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        error = last_reason();
        return false;
    }
    Descriptor fd(descriptor_of(copy, _O_RDONLY, error));
    if (!fd.is_open() || !stamp_of(copy, stamp_, error)) return false;
    stamp_.kind = FileKind::other;  // what it gives, not its size, tells how long it is
    fd_ = std::move(fd);
    return true;
}

bool path_stamp(const std::string& path, bool follow_links, FileStamp& stamp, std::string& error) {
    HANDLE handle = open_path(path, FILE_READ_ATTRIBUTES, follow_links, 0);
    if (handle == INVALID_HANDLE_VALUE) {
        error = last_reason();
        return false;
    }
    bool measured = stamp_of(handle, stamp, error);
    CloseHandle(handle);
    return measured;
}

bool file_seek(const Descriptor& fd, uint64_t offset, std::string& error) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (SetFilePointerEx(handle_of(fd.get()), position, nullptr, FILE_BEGIN)) return true;
    error = last_reason();
    return false;
}

bool unnamed_temp_file(const std::string& prefix, Descriptor& fd, std::string& where, std::string& error) {
    wchar_t dir[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, dir);
    if (length == 0 || length > MAX_PATH) {
        where = "TEMP";
        error = "no temporary folder";
        return false;
    }
    where = utf8(dir);
    // Removed by the system when the last handle goes, however the run ends.
    for (int attempt = 0; attempt < 100; attempt++) {
        unsigned int random = 0;
        rand_s(&random);
        std::wstring name = std::wstring(dir) + wide(prefix) + L"." + std::to_wstring(random) + L".tmp";
        HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            fd = Descriptor(descriptor_of(handle, _O_RDWR, error));
            return fd.is_open();
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    error = last_reason();
    return false;
}

// Windows has no /dev or /proc to write through by mistake.
std::string system_directory_of(const std::string&) { return ""; }
std::string link_system_directory(const std::string&) { return ""; }

bool stdout_is(const FileStamp& stamp) {
    FileStamp out;
    std::string ignored;
    return stamp_of(GetStdHandle(STD_OUTPUT_HANDLE), out, ignored) && out.kind == FileKind::regular &&
           same_file(out, stamp);
}
