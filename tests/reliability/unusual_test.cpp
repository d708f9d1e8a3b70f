// Writes in unusual processes and file systems:
//   - a process without /proc (a chroot or container): new files and
//     directories take the umask all the same;
//   - a process forked while another thread is inside a write: the child
//     never holds the family lock, so its own writes finish and the
//     parent's writes never wait for the child;
//   - a file system without hard links or exclusive renames (exFAT, SMB),
//     simulated through the fault seam: creates stay exclusive, publish the
//     complete file at once, and a reader never sees a partial file.
#include <fcntl.h>
#include <poll.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "core/platform.hpp"
#include "reliability_support.hpp"

namespace {

using quorlina::platform::fault::Op;
using quorlina::platform::fault::setHook;

constexpr int kSkip = 77;

unsigned modeOf(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 0xFFFFFFFFu;
    return st.st_mode & 07777;
}

// ------------------------------------------------------------ no /proc

// In a private mount namespace with an empty tmpfs over /proc, under umask
// 077, every kind of new file and directory is private: 0600 and 0700.
TEST(Unusual, TheUmaskHoldsWithoutProc) {
    qtest::TempSite site;
    const std::string root = site.root();
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0) ::_exit(kSkip);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ::_exit(kSkip);
        if (::mount("none", "/proc", "tmpfs", 0, nullptr) != 0) ::_exit(kSkip);
        if (::access("/proc/self/status", F_OK) == 0) ::_exit(kSkip);
        ::umask(077);
        const char *r = root.c_str();
        char *out = nullptr;
        int failures = 0;
        failures += quorlina_note_create(r, 1700000000, nullptr, "x", &out) != 0;
        quorlina_free(out);
        failures += quorlina_post_create(r, "p", "T", "D", nullptr, "2024-03-09", &out) != 0;
        quorlina_free(out);
        failures += quorlina_snippet_create(r, 1700000000, "D", "x", "a.py", &out) != 0;
        quorlina_free(out);
        ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    if (WEXITSTATUS(status) == kSkip) GTEST_SKIP() << "cannot hide /proc in a private mount namespace here";
    ASSERT_EQ(WEXITSTATUS(status), 0) << "calls failed in the child";
    for (const char *file : {"content/notes/1700000000.md", "content/blog/2024/03/09/p.md",
                             "content/snippets/1700000000.py"})
        EXPECT_EQ(modeOf(site.path(file)), 0600u) << file;
    for (const char *dir : {"content", "content/notes", "content/blog/2024", "content/blog/2024/03/09"})
        EXPECT_EQ(modeOf(site.path(dir)), 0700u) << dir;
}

// ------------------------------------------------------------ fork

std::mutex g_forkMutex;
std::condition_variable g_forkCv;
bool g_inWrite = false;
bool g_forked = false;
pid_t g_parent = 0;

// Holds the first write of the parent's writer thread until the fork is done.
int holdFirstWrite(Op op) {
    if (op != Op::Write || ::getpid() != g_parent) return 0;
    std::unique_lock<std::mutex> lock(g_forkMutex);
    if (g_inWrite) return 0;
    g_inWrite = true;
    g_forkCv.notify_all();
    g_forkCv.wait(lock, [] { return g_forked; });
    return 0;
}

// Whether the notes directory's lock can be taken at once by a new handle.
bool lockIsFree(const std::string &dir) {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

TEST(Unusual, AForkDuringAWriteNeverHoldsTheLock) {
    qtest::TempSite site;
    const std::string root = site.root();
    const char *r = root.c_str();
    const std::string notes = root + "/content/notes";
    ASSERT_EQ(qtest::callText([&](char **o) { return quorlina_note_create(r, 1700000000, nullptr, "a", o); }).code, 0);

    g_inWrite = g_forked = false;
    g_parent = ::getpid();
    setHook(holdFirstWrite);
    std::thread writer([&] { EXPECT_EQ(quorlina_note_update(r, "1700000000", nullptr, 0, "changed"), 0); });
    {
        std::unique_lock<std::mutex> lock(g_forkMutex);
        g_forkCv.wait(lock, [] { return g_inWrite; });
    }
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    // The writer thread is inside its write, holding the lock.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The child's own write must finish; it then stays alive until the
        // parent is done.
        ::close(toChild[1]);
        ::close(fromChild[0]);
        ::alarm(10);
        char *out = nullptr;
        int code = quorlina_note_create(r, 1700000001, nullptr, "child", &out);
        quorlina_free(out);
        // Its write is done (and its lock released): the parent may look.
        char c = 'd';
        (void)::write(fromChild[1], &c, 1);
        (void)::read(toChild[0], &c, 1);
        ::_exit(code == 0 ? 0 : 1);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    {
        std::lock_guard<std::mutex> lock(g_forkMutex);
        g_forked = true;
    }
    g_forkCv.notify_all();
    writer.join();
    setHook(nullptr);

    // Once the child's own write is done (it takes the lock for that
    // write, as it should), the child lives on; the lock is free, and the
    // parent's next writes do not wait for it.
    pollfd done{fromChild[0], POLLIN, 0};
    EXPECT_EQ(::poll(&done, 1, 10000), 1) << "the child's own write did not finish";
    ::close(fromChild[0]);
    EXPECT_TRUE(lockIsFree(notes)) << "the forked child holds the family lock";
    auto parentWrite = std::async(std::launch::async, [&] {
        return qtest::callText([&](char **o) { return quorlina_note_create(r, 1700000002, nullptr, "parent", o); }).code;
    });
    const bool finished = parentWrite.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
    EXPECT_TRUE(finished) << "the parent's write waits for the child";
    ::close(toChild[1]);
    int status = 0;
    if (!finished) ::kill(pid, SIGKILL);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(parentWrite.get(), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's own write did not finish: " << status;
    EXPECT_EQ(qtest::listDir(notes), (std::vector<std::string>{"1700000000.md", "1700000001.md", "1700000002.md"}));
}

// ------------------------------------------------- no hard links, no renameat2

// link(2) is refused as on a file system without hard links, and every
// other rename fails with EINVAL as an exclusive rename does there (a
// publish takes two renames: the refused exclusive one, then the plain
// one). At every write, the hook looks at the directory as a reader would:
// the note's final name must not be there yet.
std::string g_watchedDir;
std::string g_finalName;
long g_renames = 0, g_writes = 0, g_seenEarly = 0;

int noLinksNoExclusiveRename(Op op) {
    if (op == Op::Link) return EPERM;
    if (op == Op::Rename) return ++g_renames % 2 == 1 ? EINVAL : 0;
    if (op == Op::Write && !g_finalName.empty()) {
        ++g_writes;
        if (qtest::exists(g_watchedDir + "/" + g_finalName)) ++g_seenEarly;
    }
    return 0;
}

TEST(Unusual, WithoutHardLinksOrExclusiveRenamesCreatesStayWhole) {
    qtest::TempSite site;
    const std::string root = site.root();
    const char *r = root.c_str();
    g_watchedDir = root + "/content/notes";
    ASSERT_EQ(::mkdir((root + "/content").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(g_watchedDir.c_str(), 0755), 0);
    const std::string body(100000, 'n');
    g_renames = g_writes = g_seenEarly = 0;
    setHook(noLinksNoExclusiveRename);
    for (int i = 0; i < 20; ++i) {
        const std::string stem = std::to_string(1700000000 + i);
        g_finalName = stem + ".md";
        g_renames = 0;
        auto made = qtest::callText([&](char **o) { return quorlina_note_create(r, 1700000000 + i, nullptr, body.c_str(), o); });
        EXPECT_EQ(made.code, 0) << stem;
        // Exclusive all the same: a second create of the name is refused.
        g_finalName.clear();
        g_renames = 0;
        EXPECT_EQ(qtest::callText([&](char **o) { return quorlina_note_create(r, 1700000000 + i, nullptr, "other", o); }).code, 2);
    }
    setHook(nullptr);
    EXPECT_GT(g_writes, 0);
    EXPECT_EQ(g_seenEarly, 0) << "a reader could see a note before it was complete";
    auto names = qtest::listDir(g_watchedDir);
    EXPECT_EQ(names.size(), 20u);
    for (const auto &name : names) {
        EXPECT_EQ(qtest::readFile(g_watchedDir + "/" + name), std::optional<std::string>(body)) << name;
        EXPECT_EQ(name.rfind(".quorlina-tmp-", 0), std::string::npos) << "temporary left: " << name;
    }
}

}  // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
