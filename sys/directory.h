// A directory held open while a file is made in it, so that the file is
// made, renamed and removed in that directory however the path to it changes
// meanwhile: a directory moved or a link re-pointed can neither strand the
// file nor send it elsewhere. On POSIX systems the names are taken relative
// to the directory's descriptor (openat, renameat, unlinkat); on Windows the
// directory is held without delete sharing, so that it cannot be moved or
// removed while it is held, and names in it are given by path.
#pragma once

#include <string>

#include "sys/descriptor.h"
#include "sys/file_stamp.h"

class Directory {
public:
    // Opens the directory part of a path: "" is the current directory.
    bool open(const std::string& path, std::string& error);
    const std::string& path() const { return path_; }
    // Where it is with its links resolved, as it was when opened (POSIX);
    // on Windows the path as given.
    const std::string& resolved() const { return resolved_; }
    // "/dev" or "/proc" when it lies there, where the tools write no file:
    // by its resolved name, or by its file system, which a bind mount of
    // either elsewhere shares (a chroot's or container's /dev); else empty.
    std::string system_directory() const;

    enum class Found { yes, no, failed };
    // Measures NAME in it, following a symbolic link: `no` when the name is
    // free or a link that points nowhere.
    Found stamp(const std::string& name, FileStamp& stamp, std::string& error) const;

    // Whether NAME is a regular file of the user who runs the tool, named
    // itself, not through a link: only such a file gives its permission bits
    // to the file that replaces it. A link's target, or a file a neighbour
    // planted in a shared directory (a world-writable one, say), must not.
    bool own_regular_file(const std::string& name) const;

    enum class Made { made, exists, failed };
    // Creates NAME, which must not exist yet, for writing, private to its
    // owner (0600); `exists` when the name is taken. On Windows it is marked
    // for deletion when its last handle closes, so that even a tool ended by
    // force leaves nothing; POSIX has no such mark (a SIGKILL leaves it).
    Made create_new(const std::string& name, Descriptor& fd, std::string& error) const;
    // Clears that mark, so that the file outlives its handle: the step before
    // the file is closed for its rename.
    bool keep(const Descriptor& fd, std::string& error) const;

    // Renames FROM over TO, which it replaces as a name.
    bool rename(const std::string& from, const std::string& to, std::string& error) const;

    // Writes the directory's names through to the disk (a rename's new
    // name); true where the file system does not sync directories.
    bool sync(std::string& error) const;

    // Removes NAME, if it can.
    void remove(const std::string& name) const;

    // The descriptor held, for the POSIX signal handler, which removes a
    // registered file relative to it (Windows removes it by path()).
    int descriptor() const { return fd_.get(); }

private:
    Descriptor fd_;
    std::string path_;
    std::string resolved_;
};
