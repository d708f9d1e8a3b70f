// The machinery of the power-loss suite: loop devices over image files,
// mounts, the file-system tools, and copies of what a device holds.
//
// A loop device turns every block request it is sent into a read or write
// of its backing file, at the moment the request is carried out. The file
// systems' own caches (the page cache of their files, the buffer cache of
// /dev/loopN) sit above the loop device, so the backing file holds exactly
// what reached the device: reading it is what an O_DIRECT read of the
// device would give, without the device's caches ever being consulted.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qpl {

// A step of the suite's own machinery failed (not the library under test).
struct SetupError {
    std::string what;
};

// `what: strerror(err)`.
std::string errnoText(std::string_view what, int err);

// The path of a program looked up in PATH, /usr/sbin and /sbin; empty when
// there is none.
std::string findTool(const std::string &name);

// Runs a program with its output appended to `log`; returns its exit status,
// or -1 when it could not be run or was ended by a signal.
int runTool(const std::vector<std::string> &argv, const std::string &log);

// The last lines of a log, for a message.
std::string tailOf(const std::string &log, std::size_t lines = 6);

// A loop device attached to an image file for as long as this lives. It
// detaches itself once closed and no longer mounted.
class LoopDevice {
public:
    explicit LoopDevice(const std::string &image);
    ~LoopDevice();
    LoopDevice(const LoopDevice &) = delete;
    LoopDevice &operator=(const LoopDevice &) = delete;

    const std::string &path() const { return path_; }

    // The device's counts of writes and discards carried out, and whether
    // a request is in flight (from /sys/block/loopN/stat): while the counts
    // stand still and nothing is in flight, the backing file is unchanged.
    struct Activity {
        std::string done;
        bool idle = false;
    };
    Activity activity() const;

private:
    std::string path_;
    std::string stat_;
    int fd_ = -1;
};

// A mount for as long as this lives.
class Mount {
public:
    Mount(const std::string &device, const std::string &dir, const std::string &type, unsigned long flags,
          const std::string &data);
    ~Mount();
    Mount(const Mount &) = delete;
    Mount &operator=(const Mount &) = delete;
    // Unmounts now, reporting a failure.
    void unmount();

private:
    std::string dir_;
    bool mounted_ = false;
};

// The bytes of an image file: its data extents (holes read as zeros).
struct ImageExtent {
    off_t offset = 0;
    std::string bytes;
    bool operator==(const ImageExtent &) const = default;
};
struct Image {
    off_t size = 0;
    std::vector<ImageExtent> extents;
    bool operator==(const Image &) const = default;
};

Image readImage(const std::string &path);
// Writes `image` to a new sparse file `path`.
void writeImage(const Image &image, const std::string &path);

// One file system under test.
struct FileSystem {
    std::string name;  // "ext4", "xfs", "btrfs"
    off_t size = 0;    // of the image
    std::vector<std::string> mkfs;  // the command, the image path appended
    // Mount data for the run: ext4 and btrfs commit their journal only
    // when a program syncs (commit=600); xfs flushes its log within 30 s.
    std::string runOptions;
    // The programs it needs.
    std::vector<std::string> tools;
};

const std::vector<FileSystem> &fileSystems();

// What a file system needs that this machine lacks; empty when nothing.
std::string missingFor(const FileSystem &fs);

// Makes a fresh file system of `fs` on the image file `image`.
void makeFileSystem(const FileSystem &fs, const std::string &image, const std::string &log);

// A copy of a device recovered as the machine would after a power loss
// (e2fsck -fy; the xfs log replayed by mounting, then xfs_repair -n; btrfs
// check, then the log replay of mounting) and mounted read-only at `dir`.
class RecoveredMount {
public:
    RecoveredMount(const FileSystem &fs, const std::string &image, const std::string &dir, const std::string &log);
    ~RecoveredMount();
    RecoveredMount(const RecoveredMount &) = delete;
    RecoveredMount &operator=(const RecoveredMount &) = delete;

    // Empty when the copy was recovered and is mounted.
    const std::string &failure() const { return failure_; }

private:
    std::string recover(const FileSystem &fs, const std::string &image, const std::string &dir,
                        const std::string &log);

    std::string failure_;
    std::unique_ptr<LoopDevice> loop_;
    std::unique_ptr<Mount> mount_;
};

}  // namespace qpl
