#include "sys/directory.h"

#include "sys/descriptor.h"
#include "sys/file_stamp.h"

#include <fcntl.h>
#include <windows.h>

#include "sys/stamp_win32.h"
#include "sys/win32_text.h"

bool Directory::open(const std::string& path, std::string& error) {
    path_ = path.empty() ? "." : path;
    // Held without delete sharing: Windows then refuses to move or remove it
    // while the file is made in it. Names in it are still given by path.
    HANDLE handle = CreateFileW(wide_path(path_).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = last_reason();
        return false;
    }
    fd_ = Descriptor(descriptor_of(handle, _O_RDONLY, error));
    resolved_ = path_;
    return fd_.is_open();
}

Directory::Found Directory::stamp(const std::string& name, FileStamp& stamp, std::string& error) const {
    HANDLE handle = CreateFileW(wide_path_in(path_, name).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        // A free name, or a link that points nowhere; a missing folder is told when the file is made.
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return Found::no;
        error = win32_reason(code);
        return Found::failed;
    }
    bool measured = stamp_of(handle, stamp, error);
    CloseHandle(handle);
    return measured ? Found::yes : Found::failed;
}

// Windows has neither /dev nor /proc.
std::string Directory::system_directory() const { return ""; }

// Windows has no permission bits to give: a new file takes its folder's
// inherited access, whatever it replaces, so nothing is kept.
bool Directory::own_regular_file(const std::string&) const { return false; }

namespace {

// Whether the file goes when its last handle closes.
bool mark_for_deletion(HANDLE handle, bool deleted) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = deleted;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

}  // namespace

Directory::Made Directory::create_new(const std::string& name, Descriptor& fd, std::string& error) const {
    // Shared for deletion, so that a console event can remove it while it
    // is open; DELETE access, for the mark that deletes it with its handle.
    HANDLE handle = CreateFileW(wide_path_in(path_, name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS) return Made::exists;
        error = win32_reason(code);
        return Made::failed;
    }
    if (!mark_for_deletion(handle, true)) {
        error = last_reason();
        CloseHandle(handle);
        DeleteFileW(wide_path_in(path_, name).c_str());
        return Made::failed;
    }
    // Deleted with its handle, if the descriptor cannot be had.
    fd = Descriptor(descriptor_of(handle, _O_RDWR, error));
    return fd.is_open() ? Made::made : Made::failed;
}

bool Directory::keep(const Descriptor& fd, std::string& error) const {
    if (mark_for_deletion(handle_of(fd.get()), false)) return true;
    error = last_reason();
    return false;
}

// A read-only file is replaced as any other, and its successor is read-only
// too, as a POSIX rename over a file of mode 0444 keeps the name's bits:
// Windows refuses to replace a read-only file, so the attribute is lifted
// for the rename, and put back whichever way it ends.
bool Directory::rename(const std::string& from, const std::string& to, std::string& error) const {
    const std::wstring target = wide_path_in(path_, to);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool read_only = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
                           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    if (read_only) SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    // A file another process holds open (a scanner, a run that measures the
    // name) cannot be replaced until it lets go: a second of retries.
    const std::wstring source = wide_path_in(path_, from);
    DWORD code = 0;
    for (int attempt = 0; attempt <= 20; attempt++) {
        if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            if (read_only)
                SetFileAttributesW(target.c_str(), GetFileAttributesW(target.c_str()) | FILE_ATTRIBUTE_READONLY);
            return true;
        }
        code = GetLastError();
        if (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) break;
        Sleep(50);
    }
    error = win32_reason(code);
    if (read_only) SetFileAttributesW(target.c_str(), attributes);
    return false;
}

// The rename was written through (MOVEFILE_WRITE_THROUGH).
bool Directory::sync(std::string&) const { return true; }

void Directory::remove(const std::string& name) const { DeleteFileW(wide_path_in(path_, name).c_str()); }

// Windows has no permission bits to carry over.
uint32_t new_file_permissions() { return 0; }
bool file_set_permissions(const Descriptor&, uint32_t, std::string&) { return true; }

bool file_sync(const Descriptor& fd, std::string& error) {
    if (FlushFileBuffers(handle_of(fd.get()))) return true;
    error = last_reason();
    return false;
}
