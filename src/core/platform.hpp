// The platform layer: the only module that talks to the operating system.
// POSIX file and directory access, the real-time clock, the C heap for
// strings handed to callers, and the warning line on standard error.
//
// Every system call goes through a fault seam that tests can switch on to
// make a chosen operation fail; in normal use the seam is a null pointer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.hpp"

namespace quorlina::platform {

// Every path handed to the operating system must be shorter than this.
inline constexpr std::size_t kPathMax = 1024;
// Largest content file the library reads.
inline constexpr std::size_t kReadLimit = 10 * 1024 * 1024;

Error errorFromErrno(int err) noexcept;

// NameTooLong when the path is kPathMax bytes or longer.
Status checkPathLength(std::string_view path) noexcept;

enum class EntryKind { File, Directory, SymLink, Other };

struct DirEntry {
    std::string_view name;  // valid until the next call to Dir::next
    EntryKind kind;
};

struct FileId {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool operator==(const FileId &) const = default;
};

// An open directory. All file operations on content files go through an
// open directory and a plain entry name, and none of them follows a
// symbolic link at that name.
class Dir {
public:
    Dir() = default;
    Dir(Dir &&other) noexcept;
    Dir &operator=(Dir &&other) noexcept;
    Dir(const Dir &) = delete;
    Dir &operator=(const Dir &) = delete;
    ~Dir();

    // Opens a directory by path (relative paths against the current
    // directory). Fails with NameTooLong for paths of kPathMax bytes or more.
    static Result<Dir> open(std::string_view path);

    // Opens the directory at `path` as open does, first making it and every
    // missing parent (mode 0755 less the umask), each in its opened parent.
    // For the levels down to a family directory; existing links on the way
    // are followed.
    static Result<Dir> openMaking(std::string_view path);

    // Opens the subdirectory `name`; a symbolic link is refused.
    Result<Dir> openChild(std::string_view name) const;

    // openChild, first making the subdirectory `name` (mode 0755 less the
    // umask) when there is none. A link at `name` is refused, never followed.
    Result<Dir> openOrMakeChild(std::string_view name) const;

    // A second handle on this directory, with its own position and lock.
    Result<Dir> reopen() const;

    // Takes an exclusive advisory lock (flock) on this handle, waiting for
    // it; it is released when the handle is closed, or when the process
    // ends. Every change to a family directory is made under its lock.
    Status lockExclusive() const;

    // The next entry in file-system order, or nothing at the end. "." and
    // ".." and entries with inode 0 are never returned. Entries whose kind
    // the file system does not report are resolved with lstat.
    Result<std::optional<DirEntry>> next();

    // Reads the regular file `name` whole. A file larger than `limit` bytes
    // fails with FileTooBig; anything but a regular file with
    // NotRegularFile (a symbolic link with SymLinkLoop).
    Result<std::string> readFile(std::string_view name, std::size_t limit = kReadLimit) const;

    // readFile into `data`, replacing what it held and reusing its storage
    // (for callers that read many files one after another).
    Status readFileInto(std::string_view name, std::string &data, std::size_t limit = kReadLimit) const;

    // Reads the start of the regular file `name` into `buffer` (replacing
    // what it held, keeping its capacity): from the first block on, until
    // `settled` is true for the bytes read so far or the file ends. For
    // callers that need only a file's front matter. The file is opened and
    // checked as by readFile, so a file larger than `limit` fails with
    // FileTooBig although it is not read to its end. Returns a view of the
    // bytes read, valid while `buffer` is unchanged.
    Result<std::string_view> readFileHead(std::string_view name, std::string &buffer,
                                          bool (*settled)(std::string_view head),
                                          std::size_t limit = kReadLimit) const;

    // Atomically replaces (or creates) `name` with `content`: the text is
    // written to a hidden temporary file in this directory, created with
    // mode 0600 and given the permission bits of the file it replaces (only
    // its 0777 bits, never set-id or sticky) and, in a process running as
    // root, its owner and group, all before any content is written. It is
    // then flushed to disk and renamed over the old file, and the directory
    // is flushed. A new file takes 0666 less the umask. Content larger than
    // kReadLimit fails with FileTooBig. On failure the old file is untouched
    // and no temporary is left.
    Status writeReplace(std::string_view name, std::string_view content) const;

    // Publishes a complete new file `name` holding `content`, written as by
    // writeReplace, failing with PathAlreadyExists when any entry of that
    // name exists (a symbolic link included). `attrsFrom`, when not empty,
    // names the file whose owner and permission bits the new one takes (for
    // a rename to a new name). On failure nothing is left behind, except
    // when the failure came after the file was published (flushing the
    // directory): `published`, when given, tells whether it was.
    Status writeExclusive(std::string_view name, std::string_view content,
                          std::string_view attrsFrom = {}, bool *published = nullptr) const;

    // Removes the entry `name` (never a directory, never what a link points
    // to), and flushes the directory.
    Status removeFile(std::string_view name) const;

    // Removes the empty subdirectory `name` (DirNotEmpty otherwise), never
    // what a link points to, and flushes this directory.
    Status removeChildDir(std::string_view name) const;

    // Whether the entry `name` is a directory (a link is not followed).
    bool isChildDirectory(std::string_view name) const noexcept;

    // Device and inode of the entry `name`, without following a link.
    Result<FileId> fileId(std::string_view name) const;

    bool isOpen() const noexcept { return dir_ != nullptr; }
    int fd() const noexcept;

private:
    explicit Dir(void *d) noexcept : dir_(d) {}
    static Result<Dir> adopt(int fd);
    void *dir_ = nullptr;  // DIR *
};

// Whether a failure to read an entry that a scan listed as a regular file
// means the entry changed since it was listed (removed, or replaced by a
// link, a directory or another kind). Scans skip such entries: a file
// removed during a scan is simply not seen.
inline bool changedSinceListed(Error e) noexcept {
    return e == Error::FileNotFound || e == Error::SymLinkLoop || e == Error::NotRegularFile ||
           e == Error::IsDir;
}

// Creates `path` and every missing parent as Dir::openMaking does.
// Existing directories are fine.
Status makeDirPath(std::string_view path);

// Longest name of one directory entry.
inline constexpr std::size_t kNameMax = 255;

// NameTooLong when an entry name is longer than kNameMax bytes.
inline Status checkNameLength(std::string_view name) noexcept {
    if (name.size() > kNameMax) return Error::NameTooLong;
    return {};
}

// FileTooBig when a file of `size` bytes could not be read back.
inline Status checkWriteSize(std::size_t size) noexcept {
    if (size > kReadLimit) return Error::FileTooBig;
    return {};
}

// Whole seconds since the Unix epoch from the real-time clock, rounded
// toward minus infinity; 0 when the clock cannot be read.
std::int64_t nowSeconds() noexcept;

// Writes one complete line to standard error under a process-wide
// re-entrant lock, so lines from several threads never interleave. Write
// failures are ignored.
void writeErrorLine(std::string_view line) noexcept;

// Copies `s` into a new NUL-terminated block on the C heap (free with
// free()). Returns nullptr when the heap is exhausted.
char *copyToCHeap(std::string_view s) noexcept;

// Resizes a C-heap block as realloc does (nullptr: a new block), for text
// that is built in place and handed to the caller without a copy. Returns
// nullptr when the heap is exhausted; the old block then stays valid.
void *resizeCHeap(void *block, std::size_t size) noexcept;

// ---------------------------------------------------------------- fault seam
namespace fault {

enum class Op {
    Open,      // opening a file or directory
    Read,      // read(2) and readdir
    Write,     // write(2)
    Sync,      // fsync(2)
    Chmod,     // fchmod(2)
    Rename,    // renameat(2)
    Link,      // linkat(2)
    Unlink,    // unlinkat(2)
    Mkdir,     // mkdirat(2)
    Rmdir,     // unlinkat(2) with AT_REMOVEDIR
    Stat,      // fstat/lstat
    Alloc,     // copyToCHeap, resizeCHeap
    SyncDir,   // fsync(2) of a directory after a change in it
    Chown,     // fchown(2)
    Lock,      // flock(2)
};

// Return 0 to let the operation run, an errno value to make it fail with
// that error, kShortWrite (for Op::Write only) to make it write at most
// half of the bytes asked for, or kSkipSync (for Op::Sync and Op::SyncDir
// only) to report the flush as done without making it, which is how the
// power-loss tests show that they notice a missing flush. Either special
// answer given for another operation fails it with EINVAL.
using Hook = int (*)(Op op);
inline constexpr int kShortWrite = -1;
inline constexpr int kSkipSync = -2;

// Installs a hook for the whole process (nullptr removes it). For tests.
void setHook(Hook hook) noexcept;

}  // namespace fault

}  // namespace quorlina::platform
