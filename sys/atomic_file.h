// An output file written as a hidden temporary file beside its name and
// renamed into place only when complete, so that the name holds either the
// earlier file or the complete new one, never a partial file, whatever ends
// the run. A symbolic or hard link under the name is replaced as a name: its
// target is never written. Calling sequence:
//
//     AtomicFile out;
//     if (!output_begin(path, out, error)) ...      // made and registered for cleanup on a signal
//     output_write(out, data, size, error); ...    // output_write_at to go back (the header, last)
//     output_close(out, error) && output_rename(out, error);  // in place; or, on any failure road,
//                                                    // nothing: the destructor removes the file
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct AtomicFile {
    std::string path;       // the name it will have
    std::string temp_path;  // where it is written until then
    int fd = -1;

    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();  // abandons a file that was not renamed into place
};

// Creates the temporary file, with the permission bits of the file it will
// replace, or those of a new file (0666 less the umask). The name must be free
// or name a regular file, directly or through a symbolic link.
bool output_begin(const std::string& path, AtomicFile& out, std::string& error);

// Writes at the current position; output_write_at moves it to `offset` first.
bool output_write(AtomicFile& out, const uint8_t* data, size_t size, std::string& error);
bool output_write_at(AtomicFile& out, uint64_t offset, const uint8_t* data, size_t size, std::string& error);

// Closes the temporary file; a failure here is a failed write.
bool output_close(AtomicFile& out, std::string& error);

// Renames the closed temporary file over the name.
bool output_rename(AtomicFile& out, std::string& error);

// Removes the temporary file and leaves the name as it was. Does nothing
// once the file has been renamed or abandoned.
void output_abandon(AtomicFile& out);
