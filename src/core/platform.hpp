// The platform layer: the only module that talks to the operating system.
// POSIX file and directory access, the real-time clock and the warning
// line on standard error.
//
// Every system call that can fail goes through a fault seam that tests can
// switch on to make a chosen operation fail; in normal use the seam is a
// null pointer. Closing a descriptor is the one exception: a close cannot
// be skipped without leaking the descriptor, so it is never failed on
// purpose (a real failure of the last write-back is still reported).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/result.hpp"

namespace quorlina::platform {

// Every path handed to the operating system must be shorter than this.
inline constexpr std::size_t kPathMax = 1024;
// Largest content file the library reads.
inline constexpr std::size_t kReadLimit = 10 * 1024 * 1024;

Error errorFromErrno(int err) noexcept;

// The system's own text for the errno `err` ("No space left on device").
std::string systemReason(int err);

// NameTooLong when the path is kPathMax bytes or longer.
Status checkPathLength(std::string_view path) noexcept;

enum class EntryKind { File, Directory, SymLink, Other };

struct DirEntry {
    std::string_view name;  // valid until the next call to Dir::next
    EntryKind kind;
    std::uint64_t ino = 0;  // the inode number the directory gives (0 when unknown)
};

struct FileId {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    bool operator==(const FileId &) const = default;
};

// An open directory. All file operations on content files go through an
// open directory and a plain entry name, and none of them follows a
// symbolic link at that name.
//
// A Dir knows its path as the caller would write it: the path it was opened
// by, joined with the names of the levels opened below it. Every failure of
// an operation names the entry it failed on (pathOf(name)), or the
// directory itself for operations on the whole directory, and carries the
// system's errno when the system failed it.
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

    // Takes an exclusive advisory lock (flock) on this directory, waiting
    // for it; it is released when the handle is closed, or when the process
    // ends. Every change to a family directory is made under its lock. The
    // lock is held through a descriptor of its own that a forked child
    // never keeps: the child closes it at once (pthread_atfork), so a
    // process forked while a write is in flight never holds the lock.
    Status lockExclusive();

    // The next entry in file-system order, or nothing at the end. "." and
    // ".." and entries with inode 0 are never returned. Entries whose kind
    // the file system does not report are resolved with lstat.
    Result<std::optional<DirEntry>> next();

    // Reads the regular file `name` whole into a string of its own. A file
    // larger than `limit` bytes fails with FileTooBig; a directory with
    // IsDir, anything else but a regular file with NotRegularFile (a
    // symbolic link with SymLinkLoop). For one file; scans read with a
    // FileReader.
    Result<std::string> readFile(std::string_view name, std::size_t limit = kReadLimit) const;

    // Atomically replaces (or creates) `name` with `content`: the text is
    // written to a hidden temporary file in this directory, created with
    // mode 0600 and given the permission bits of the file it replaces (only
    // its 0777 bits, never set-id or sticky) and, in a process running as
    // root, its owner and group, all before any content is written. It is
    // then flushed to disk and renamed over the old file, and the directory
    // is flushed. A new file's temporary is instead created 0666, and the
    // kernel applies the umask (or a default ACL), so the umask is honoured
    // without /proc and the temporary is never wider than the file it
    // becomes. Content larger than kReadLimit fails with FileTooBig. On
    // failure the old file is untouched and no temporary is left.
    Status writeReplace(std::string_view name, std::string_view content) const;

    // Publishes a complete new file `name` holding `content`, written as by
    // writeReplace, failing with PathAlreadyExists when any entry of that
    // name exists (a symbolic link included). On failure nothing is left
    // behind, except when the failure came after the file was published
    // (flushing the directory).
    Status writeExclusive(std::string_view name, std::string_view content) const;

    // Removes the temporaries that writers killed in this directory left:
    // regular files named exactly as this library names its temporaries
    // (never a link, a directory or another name). Only under the family
    // lock, which no live writer then holds. Failures are passed over: a
    // temporary that stays is only litter. Every write marks the directory
    // with an empty file for as long as its temporary may exist, and the
    // entries are read only when a mark is found (one lookup otherwise); the
    // mark goes once its temporaries have gone. A power loss can keep a
    // temporary whose mark was not yet on the disk, and that one stays.
    void removeTemporaries() const;

    // Renames the entry `from` to `to` atomically, never over an existing
    // entry (PathAlreadyExists), and flushes the directory. The file keeps
    // its inode, so its owner, bits and content. Where the file system
    // cannot refuse to replace, `to` is checked before a plain rename.
    Status renameExclusive(std::string_view from, std::string_view to) const;

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

    int fd() const noexcept;

    // The directory's path, and the path of its entry `name`.
    const std::string &path() const noexcept { return path_; }
    std::string pathOf(std::string_view name) const;

private:
    Dir(void *d, std::string path) noexcept : dir_(d), path_(std::move(path)) {}
    static Result<Dir> adopt(int fd, std::string path);
    void releaseLock() noexcept;
    void *dir_ = nullptr;  // DIR *
    std::string path_;
    int lockFd_ = -1;      // the descriptor holding the lock, when taken
};

// Reads content files one after another into one buffer that it keeps, so
// a scan allocates nothing per file. A file that fits the buffer (64 KiB at
// first; it grows to the largest file read) takes one read, since a read of
// a regular file that returns less than it asked for has reached the end.
// The file's status (fstat) is asked for only when a read returns all it
// asked for, to hold the file to the size limit before reading more, or
// nothing at all, to tell an empty file from a device.
//
// The first read of a file does not wait for the disk (on Linux, preadv2
// with RWF_NOWAIT). When the file is not in the page cache, the reader
// reads it the usual way and counts it. A warm cache has a few such files
// (a system that reclaims idle pages on its own evicts some now and then,
// in runs of a few neighbours), and for them a plain read costs what it
// costs anyone; so the cache counts as cold only when a quarter of the
// recent files (kColdEvidence of the last 64) were missing. From then on the
// scan opens the files it reads next ahead of their turn (openAhead), each
// with a hint to the system to start reading it (posix_fadvise WILLNEED, on
// macOS fcntl F_RDADVISE), so that the disk fetches many files at once
// while the scan reads and parses them in order on the caller's thread. In
// a warm cache none of this costs a system call.
class FileReader {
public:
    // Given the bytes read so far from a file's start, whether they are all
    // the caller needs (for readers of the front matter only).
    using Settled = bool (*)(std::string_view head);
    // Names a file read without a read-ahead.
    static constexpr std::uint32_t kNoTag = UINT32_MAX;
    // The most files a cold scan keeps open ahead of their turn.
    static constexpr std::size_t kAheadWindow = 128;
    // How many of the last 64 files read must have missed the page cache
    // for the scan to read ahead.
    static constexpr int kColdEvidence = 16;

    FileReader() noexcept;
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;
    ~FileReader();

    // Reads the regular file `name` of `dir`: whole when `settled` is null,
    // else from its start until settled(bytes so far) is true or the file
    // ends. A file larger than `limit` bytes fails with FileTooBig, even when
    // only its start is read; a directory with IsDir; anything else but a
    // regular file with NotRegularFile (a symbolic link with SymLinkLoop).
    // The file opened ahead with `tag` is read when it is the oldest one
    // open ahead; otherwise `name` is opened now. The view is valid until
    // the next read.
    Result<std::string_view> read(const Dir &dir, std::string_view name, Settled settled = nullptr,
                                  std::uint32_t tag = kNoTag, std::size_t limit = kReadLimit);

    // Whether the scan should open a file ahead now: a read found the page
    // cache cold, and fewer files than the window are open ahead.
    bool wantsAhead() const noexcept { return cold_ && aheadCount_ < aheadLimit_; }
    // Whether enough recent reads found the page cache cold.
    bool foundCold() const noexcept { return cold_; }

    // Opens `name` of `dir` for its read in turn (with the same `tag` and
    // `settled`) and asks the system to start reading it; true when it is
    // open. Nothing fails here: a file that cannot be opened now is opened
    // again in its turn, which reports why. Running out of file descriptors
    // shrinks the window to the files already open ahead.
    bool openAhead(const Dir &dir, std::string_view name, std::uint32_t tag, Settled settled);

    // Asks the system to bring the metadata of `name` of `dir` (its inode)
    // into memory, without opening it: a cold scan does this for the files
    // still to come in the order of their inode numbers, which is the order
    // of the metadata on the disk, before it opens them in its own order.
    // A hint: nothing fails.
    static void fetchMetadata(const Dir &dir, std::string_view name) noexcept;

    // Reads the file opened ahead with `tag` as read does; it must be the
    // oldest one open ahead (Unexpected otherwise).
    Result<std::string_view> readAhead(std::uint32_t tag, Settled settled = nullptr,
                                       std::size_t limit = kReadLimit);

private:
    struct Ahead {
        int fd;
        std::uint32_t tag;
    };
    Result<std::size_t> readOpened(int fd, Settled settled, std::size_t limit, bool probe);
    bool isNextAhead(std::uint32_t tag) const noexcept;
    void reserve(std::size_t capacity);

    char *buffer_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t page_;
    bool probe_ = true;  // the system may be asked for reads that do not wait
    bool cold_ = false;  // enough recent reads had to wait for the disk
    std::uint64_t misses_ = 0;  // one bit per recent probe, 1 where it missed
    std::size_t aheadLimit_ = kAheadWindow;
    Ahead ahead_[kAheadWindow];  // a ring, oldest at aheadFirst_
    std::size_t aheadFirst_ = 0;
    std::size_t aheadCount_ = 0;
};

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
    Alloc,     // a C-heap block of the C interface (see injectedError), fdopendir(3)
    SyncDir,   // fsync(2) of a directory after a change in it
    Chown,     // fchown(2)
    Lock,      // flock(2)
    ReadNoWait,  // a read that does not wait for the disk (preadv2 with
                 // RWF_NOWAIT): EAGAIN tells that the file is not in the
                 // page cache, which makes the scan read ahead
    Advise,    // the hint to start reading a file (posix_fadvise WILLNEED);
               // its failure costs speed only
    Clock,     // clock_gettime(2)
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

// The seam's answer for one use of `op` outside the platform layer: 0, or
// the errno to fail with. The C interface asks it before each C-heap
// allocation of a returned text (Op::Alloc), so that tests can fail those
// allocations like system calls.
int injectedError(Op op) noexcept;

}  // namespace fault

}  // namespace quorlina::platform
