#include "sys/win32_text.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <string_view>

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    return text;
}

std::string utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    int size =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size, nullptr, nullptr);
    return text;
}

std::wstring wide_path(const std::string& utf8_path) {
    std::wstring path = wide(utf8_path);
    if (path.size() < MAX_PATH - 12 || path.starts_with(L"\\\\?\\")) return path;  // room for a temporary's suffix
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return path;
    full.resize(length);
    if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
    return L"\\\\?\\" + full;
}

std::wstring wide_path_in(const std::string& dir, const std::string& name) {
    bool ends_a_folder = !dir.empty() && std::string_view("/\\:").find(dir.back()) != std::string_view::npos;
    return wide_path(ends_a_folder ? dir + name : dir + "\\" + name);
}

std::wstring quoted_argument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring text = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            backslashes++;
            continue;
        }
        text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, L'\\');
    return text + L"\"";
}

std::wstring environment_block(const std::vector<std::string>& drop) {
    std::wstring block;
    wchar_t* all = GetEnvironmentStringsW();
    for (const wchar_t* entry = all; *entry != L'\0'; entry += wcslen(entry) + 1) {
        bool dropped = false;
        for (const std::string& name : drop) {
            std::wstring prefix = wide(name) + L"=";
            dropped = dropped || _wcsnicmp(entry, prefix.c_str(), prefix.size()) == 0;
        }
        if (!dropped) block += std::wstring(entry) + L'\0';
    }
    FreeEnvironmentStringsW(all);
    return block + L'\0';
}

HANDLE inheritable_copy(HANDLE handle) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

std::string win32_reason(DWORD code) {
    // The errors a user meets most, in the words the tools use everywhere.
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH: return std::strerror(ENOENT);
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return std::strerror(EACCES);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return std::strerror(ENOSPC);
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return std::strerror(EEXIST);
        case ERROR_DIRECTORY: return std::strerror(EISDIR);
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return std::strerror(ENOMEM);
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA: return std::strerror(EPIPE);
        default: break;
    }
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = length > 0 ? utf8(std::wstring(text, length)) : "";
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.'))
        reason.pop_back();
    return reason.empty() ? "Windows error " + std::to_string(code) : reason;
}

int descriptor_of(HANDLE handle, int flags, std::string& error) {
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        error = std::strerror(errno);
        CloseHandle(handle);
    }
    return fd;
}
