#include "sys/file_io.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

#include "sys/win32_text.h"

namespace {

// Windows counts file times in 100 ns units since 1601.
void split_time(LARGE_INTEGER time, int64_t& seconds, int64_t& nanoseconds) {
    seconds = time.QuadPart / 10'000'000;
    nanoseconds = time.QuadPart % 10'000'000 * 100;
}

bool stamp_of(HANDLE handle, FileStamp& stamp, std::string& error) {
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        // A pipe, the console or a device: no size, no times, no identity.
        stamp = FileStamp{};
        stamp.kind = FileKind::other;
        return true;
    }
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

// Opens `path` with `access`, a directory too; a symbolic link itself
// (rather than what it points to) when `follow_links` is false.
HANDLE open_path(const std::string& path, DWORD access, bool follow_links, DWORD flags) {
    DWORD link_flag = follow_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT;
    return CreateFileW(wide_path(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | link_flag | flags, nullptr);
}

}  // namespace

bool file_stamp(int fd, FileStamp& stamp, std::string& error) { return stamp_of(handle_of(fd), stamp, error); }

bool input_open(const std::string& path, FifoOpen, InputFile& in, std::string& error) {
    HANDLE handle = open_path(path, GENERIC_READ, true, FILE_FLAG_SEQUENTIAL_SCAN);
    if (handle == INVALID_HANDLE_VALUE) {
        error = last_reason();
        return false;
    }
    in.fd = descriptor_of(handle, _O_RDONLY, error);
    if (in.fd < 0) return false;
    if (!file_stamp(in.fd, in.stamp, error)) {
        file_close(in.fd);
        return false;
    }
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

bool file_read_up_to(int fd, uint8_t* data, size_t size, size_t& done, std::string& error) {
    done = 0;
    HANDLE handle = handle_of(fd);
    while (done < size) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(size - done, DWORD{1} << 30));
        DWORD got = 0;
        if (!ReadFile(handle, data + done, want, &got, nullptr)) {
            DWORD code = GetLastError();
            if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) break;  // the writer closed its end
            error = win32_reason(code);
            return false;
        }
        if (got == 0) break;
        done += got;
    }
    return true;
}

bool file_write_all(int fd, const uint8_t* data, size_t size, std::string& error) {
    HANDLE handle = handle_of(fd);
    size_t done = 0;
    while (done < size) {
        DWORD want = static_cast<DWORD>(std::min<size_t>(size - done, DWORD{1} << 30));
        DWORD wrote = 0;
        if (!WriteFile(handle, data + done, want, &wrote, nullptr) || wrote == 0) {
            error = wrote == 0 && GetLastError() == 0 ? "write made no progress" : last_reason();
            return false;
        }
        done += wrote;
    }
    return true;
}

void file_close(int& fd) {
    if (fd >= 0) _close(fd);
    fd = -1;
}

bool file_close_checked(int& fd, std::string& error) {
    int closing = fd;
    fd = -1;
    if (_close(closing) == 0) return true;
    error = std::strerror(errno);
    return false;
}

bool file_seek(int fd, uint64_t offset, std::string& error) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (SetFilePointerEx(handle_of(fd), position, nullptr, FILE_BEGIN)) return true;
    error = last_reason();
    return false;
}

bool path_replace(const std::string& from, const std::string& to, std::string& error) {
    if (MoveFileExW(wide_path(from).c_str(), wide_path(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    error = last_reason();
    return false;
}

void path_remove(const std::string& path) { DeleteFileW(wide_path(path).c_str()); }

int unnamed_temp_file(std::string& error) {
    wchar_t dir[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, dir);
    if (length == 0 || length > MAX_PATH) {
        error = "no temporary directory";
        return -1;
    }
    // Removed by the system when the last handle goes, however the run ends.
    for (int attempt = 0; attempt < 100; attempt++) {
        unsigned int random = 0;
        rand_s(&random);
        std::wstring name = std::wstring(dir) + L"ota_info." + std::to_wstring(random) + L".tmp";
        HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return descriptor_of(handle, _O_RDWR, error);
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    error = last_reason();
    return -1;
}

// Windows has no /dev or /proc to write through by mistake.
std::string path_links_into_system(const std::string&) { return ""; }
