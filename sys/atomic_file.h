// An output file written as a hidden temporary file beside its name and
// renamed into place only when complete, so that the name holds either the
// earlier file or the complete new one, never a partial file, whatever ends
// the run. A symbolic or hard link under the name is replaced as a name: its
// target is never written. Calling sequence:
//
//     AtomicFile out;
//     if (!out.begin(path, error)) ...   // made, private, registered for cleanup on a signal
//     out.write(data, size, error); ...  // out.write_at to go back (the header, last)
//     out.commit(error);                 // synced, given its mode, closed and renamed into place;
//                                        // or, on any failure road, nothing: the destructor removes it
//
// The temporary file is ".NAME.XXXXXX" beside NAME, XXXXXX six random letters
// and digits. It is made relative to its directory, held open for the
// file's life (see directory.h), so it lands where NAME was when begun.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sys/descriptor.h"
#include "sys/directory.h"

class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile() { abandon(); }

    // Makes the temporary file. The name must be free or name a regular
    // file, directly or through a symbolic link, in a directory outside /dev
    // and /proc.
    bool begin(const std::string& path, std::string& error);

    const std::string& path() const { return path_; }

    // Writes at the current position; write_at moves it to `offset` first.
    bool write(const uint8_t* data, size_t size, std::string& error);
    bool write_at(uint64_t offset, const uint8_t* data, size_t size, std::string& error);

    // Which step of the commit failed: a write (the file's data never made
    // it whole, or its new name may not reach the disk) or the rename (the
    // file was whole, its name not free).
    enum class Commit { done, write_failed, rename_failed };
    // Syncs the file, gives it its final permission bits (those of the
    // user's own file it replaces, or a new file's), closes it, renames it
    // over the name and syncs the directory. On a failure before the rename
    // the temporary file is removed and the name left as it was; a directory
    // that cannot be synced leaves the whole file under its name, and fails.
    Commit commit(std::string& error);

    // Removes the temporary file and leaves the name as it was. Does nothing
    // once the file has been renamed or abandoned.
    void abandon();

private:
    std::string path_;       // the name it will have
    Directory dir_;          // where it is made, held
    std::string name_;       // its name in dir_, within path_
    std::string temp_name_;  // its name in dir_ until then; empty when there is no file
    Descriptor fd_;
    uint32_t permissions_ = 0;  // what it gets before the rename
};
