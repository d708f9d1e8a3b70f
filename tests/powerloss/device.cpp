#include "device.hpp"

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qpl {

std::string errnoText(std::string_view what, int err) { return std::string(what) + ": " + std::strerror(err); }

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::vector<std::string> splitOn(const std::string &s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    out.push_back(cur);
    return out;
}

}  // namespace

std::string findTool(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::vector<std::string> dirs = splitOn(path ? path : "", ':');
    for (const char *d : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}) dirs.emplace_back(d);
    for (const auto &d : dirs) {
        if (d.empty()) continue;
        std::string full = d + "/" + name;
        if (::access(full.c_str(), X_OK) == 0) return full;
    }
    return {};
}

int runTool(const std::vector<std::string> &argv, const std::string &log) {
    std::string program = findTool(argv.at(0));
    if (program.empty()) return -1;
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        int out = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out < 0 || in < 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execv(program.c_str(), args.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string tailOf(const std::string &log, std::size_t lines) {
    std::ifstream f(log);
    std::vector<std::string> all;
    for (std::string line; std::getline(f, line);) all.push_back(line);
    std::string out;
    for (std::size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i) out += "\n    " + all[i];
    return out;
}

// ------------------------------------------------------------ loop devices

LoopDevice::LoopDevice(const std::string &image) {
    Fd control(::open("/dev/loop-control", O_RDWR | O_CLOEXEC));
    if (control.get() < 0) throw SetupError{errnoText("/dev/loop-control", errno)};
    Fd backing(::open(image.c_str(), O_RDWR | O_CLOEXEC));
    if (backing.get() < 0) throw SetupError{errnoText(image, errno)};
    // Another program may take the free device first: ask again.
    for (int attempt = 0; attempt < 50; ++attempt) {
        int n = ::ioctl(control.get(), LOOP_CTL_GET_FREE);
        if (n < 0) throw SetupError{errnoText("LOOP_CTL_GET_FREE", errno)};
        std::string path = "/dev/loop" + std::to_string(n);
        int fd = -1;
        for (int wait = 0; wait < 100 && fd < 0; ++wait) {
            fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
            if (fd < 0 && errno != ENOENT) throw SetupError{errnoText(path, errno)};
            if (fd < 0) ::usleep(10000);  // the node appears once the device is added
        }
        if (fd < 0) throw SetupError{path + " did not appear"};
        loop_config config{};
        config.fd = static_cast<__u32>(backing.get());
        config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
        int rc = ::ioctl(fd, LOOP_CONFIGURE, &config);
        if (rc != 0 && (errno == EINVAL || errno == ENOTTY)) {
            // Kernels before 5.8: attach, then set the flag.
            rc = ::ioctl(fd, LOOP_SET_FD, backing.get());
            if (rc == 0) {
                loop_info64 info{};
                info.lo_flags = LO_FLAGS_AUTOCLEAR;
                rc = ::ioctl(fd, LOOP_SET_STATUS64, &info);
                if (rc != 0) ::ioctl(fd, LOOP_CLR_FD, 0);
            }
        }
        if (rc == 0) {
            fd_ = fd;
            path_ = path;
            stat_ = "/sys/block/loop" + std::to_string(n) + "/stat";
            return;
        }
        int e = errno;
        ::close(fd);
        if (e != EBUSY) throw SetupError{errnoText("attaching " + image + " to " + path, e)};
    }
    throw SetupError{"no free loop device for " + image};
}

LoopDevice::~LoopDevice() {
    // With LO_FLAGS_AUTOCLEAR the device lets go of its file once the last
    // user (this descriptor or a mount) is gone.
    if (fd_ >= 0) ::close(fd_);
}

LoopDevice::Activity LoopDevice::activity() const {
    std::ifstream f(stat_);
    std::vector<unsigned long long> v;
    for (unsigned long long x; f >> x;) v.push_back(x);
    Activity a;
    if (v.size() < 14) return a;  // unknown: never taken for idle
    // Fields 5 and 7: writes and sectors written; 12 and 14: discards and
    // sectors discarded; 9: requests in flight.
    a.done = std::to_string(v[4]) + "/" + std::to_string(v[6]) + "/" + std::to_string(v[11]) + "/" +
             std::to_string(v[13]);
    a.idle = v[8] == 0;
    return a;
}

// ------------------------------------------------------------------ mounts

Mount::Mount(const std::string &device, const std::string &dir, const std::string &type, unsigned long flags,
             const std::string &data)
    : dir_(dir) {
    ::mkdir(dir.c_str(), 0755);
    if (::mount(device.c_str(), dir.c_str(), type.c_str(), flags, data.empty() ? nullptr : data.c_str()) != 0) {
        throw SetupError{errnoText("mount -t " + type + (data.empty() ? "" : " -o " + data) + " " + device, errno)};
    }
    mounted_ = true;
}

void Mount::unmount() {
    if (!mounted_) return;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (::umount2(dir_.c_str(), 0) == 0) {
            mounted_ = false;
            return;
        }
        if (errno != EBUSY) break;
        ::usleep(20000);
    }
    int e = errno;
    ::umount2(dir_.c_str(), MNT_DETACH);
    mounted_ = false;
    throw SetupError{errnoText("umount " + dir_, e)};
}

Mount::~Mount() {
    try {
        unmount();
    } catch (const SetupError &) {
        // Detached lazily; nothing more to do here.
    }
}

// ------------------------------------------------------------------ images

Image readImage(const std::string &path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) throw SetupError{errnoText(path, errno)};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) throw SetupError{errnoText(path, errno)};
    Image image;
    image.size = st.st_size;
    auto readRange = [&](off_t from, off_t to) {
        ImageExtent e;
        e.offset = from;
        e.bytes.resize(static_cast<std::size_t>(to - from));
        std::size_t have = 0;
        while (have < e.bytes.size()) {
            ssize_t n = ::pread(fd.get(), e.bytes.data() + have, e.bytes.size() - have,
                                from + static_cast<off_t>(have));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw SetupError{errnoText("reading " + path, n < 0 ? errno : EIO)};
            have += static_cast<std::size_t>(n);
        }
        image.extents.push_back(std::move(e));
    };
    off_t at = 0;
    while (at < image.size) {
        off_t data = ::lseek(fd.get(), at, SEEK_DATA);
        if (data < 0 && errno == ENXIO) break;  // only a hole is left
        if (data < 0) {
            // No hole information: the whole file.
            image.extents.clear();
            readRange(0, image.size);
            break;
        }
        off_t hole = ::lseek(fd.get(), data, SEEK_HOLE);
        if (hole < 0) throw SetupError{errnoText("SEEK_HOLE " + path, errno)};
        readRange(data, hole);
        at = hole;
    }
    return image;
}

void writeImage(const Image &image, const std::string &path) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (fd.get() < 0) throw SetupError{errnoText(path, errno)};
    if (::ftruncate(fd.get(), image.size) != 0) throw SetupError{errnoText("truncating " + path, errno)};
    for (const auto &e : image.extents) {
        std::size_t done = 0;
        while (done < e.bytes.size()) {
            ssize_t n = ::pwrite(fd.get(), e.bytes.data() + done, e.bytes.size() - done,
                                 e.offset + static_cast<off_t>(done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw SetupError{errnoText("writing " + path, n < 0 ? errno : EIO)};
            done += static_cast<std::size_t>(n);
        }
    }
}

// ------------------------------------------------------------ file systems

const std::vector<FileSystem> &fileSystems() {
    static const std::vector<FileSystem> all = {
        // The inode tables and the journal are written by mkfs, not by a
        // kernel thread in the background while a call runs.
        {"ext4", 32 << 20, {"mkfs.ext4", "-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0"},
         "commit=600", {"mkfs.ext4", "e2fsck"}},
        // 300 MB is the smallest xfs that mkfs.xfs makes.
        {"xfs", 320 << 20, {"mkfs.xfs", "-q", "-f"}, "", {"mkfs.xfs", "xfs_repair"}},
        {"btrfs", 128 << 20, {"mkfs.btrfs", "-q", "-f"}, "commit=600", {"mkfs.btrfs", "btrfs"}},
    };
    return all;
}

namespace {

bool kernelHas(const std::string &fs) {
    std::ifstream f("/proc/filesystems");
    for (std::string line; std::getline(f, line);) {
        std::size_t tab = line.rfind('\t');
        if (line.substr(tab == std::string::npos ? 0 : tab + 1) == fs) return true;
    }
    return false;
}

}  // namespace

std::string missingFor(const FileSystem &fs) {
    if (!kernelHas(fs.name)) {
        // A module not loaded yet is loaded by the first mount; modprobe
        // asks for it now so that the answer is known.
        runTool({"modprobe", fs.name}, "/dev/null");
        if (!kernelHas(fs.name)) return "the kernel has no " + fs.name + " (not in /proc/filesystems)";
    }
    for (const auto &t : fs.tools) {
        if (findTool(t).empty()) return t + " is not installed (scripts/install-deps.sh installs it)";
    }
    return {};
}

void makeFileSystem(const FileSystem &fs, const std::string &image, const std::string &log) {
    {
        Fd fd(::open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (fd.get() < 0 || ::ftruncate(fd.get(), fs.size) != 0) throw SetupError{errnoText(image, errno)};
    }
    std::vector<std::string> argv = fs.mkfs;
    argv.push_back(image);
    int rc = runTool(argv, log);
    if (rc != 0) throw SetupError{fs.mkfs[0] + " failed (exit " + std::to_string(rc) + "):" + tailOf(log)};
}

RecoveredMount::RecoveredMount(const FileSystem &fs, const std::string &image, const std::string &dir,
                               const std::string &log) {
    try {
        failure_ = recover(fs, image, dir, log);
    } catch (const SetupError &e) {
        failure_ = e.what;
    }
    if (!failure_.empty()) failure_ += tailOf(log);
}

std::string RecoveredMount::recover(const FileSystem &fs, const std::string &image, const std::string &dir,
                                    const std::string &log) {
    auto exitText = [](int rc) { return rc < 0 ? std::string("could not run") : "exit " + std::to_string(rc); };
    if (fs.name == "ext4") {
        // e2fsck replays the journal and repairs; 0 and 1 are success.
        int rc = runTool({"e2fsck", "-fy", image}, log);
        if (rc < 0 || rc >= 4) return "e2fsck -fy: " + exitText(rc);
        rc = runTool({"e2fsck", "-fn", image}, log);
        if (rc != 0) return "e2fsck -fn still finds errors: " + exitText(rc);
        loop_ = std::make_unique<LoopDevice>(image);
        mount_ = std::make_unique<Mount>(loop_->path(), dir, "ext4", MS_RDONLY, "");
    } else if (fs.name == "xfs") {
        // The copy has the original's UUID: nouuid.
        loop_ = std::make_unique<LoopDevice>(image);
        try {
            Mount replay(loop_->path(), dir, "xfs", 0, "nouuid");
            replay.unmount();
        } catch (const SetupError &e) {
            return "xfs log replay: " + e.what;
        }
        int rc = runTool({"xfs_repair", "-n", loop_->path()}, log);
        if (rc != 0) return "xfs_repair -n: " + exitText(rc);
        mount_ = std::make_unique<Mount>(loop_->path(), dir, "xfs", MS_RDONLY, "nouuid");
    } else {
        int rc = runTool({"btrfs", "check", image}, log);
        if (rc != 0) return "btrfs check: " + exitText(rc);
        // Mounting replays the log tree; the device is writable for it.
        loop_ = std::make_unique<LoopDevice>(image);
        mount_ = std::make_unique<Mount>(loop_->path(), dir, "btrfs", MS_RDONLY, "");
    }
    return {};
}

RecoveredMount::~RecoveredMount() {
    mount_.reset();
    loop_.reset();
}

}  // namespace qpl
