// The platform layer's system-call wrapper: how the fault seam's answer and
// EINTR are handled, and the short write.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/platform_sys.hpp"

using namespace quorlina;
using namespace quorlina::platform;

namespace {

int g_asked = 0;
int g_answer = 0;
int answerForRead(fault::Op op) {
    if (op != fault::Op::Read) return 0;
    ++g_asked;
    return g_answer;
}

struct HookScope {
    explicit HookScope(int answer) {
        g_asked = 0;
        g_answer = answer;
        fault::setHook(answerForRead);
    }
    ~HookScope() { fault::setHook(nullptr); }
};

}  // namespace

TEST(PlatformSys, InjectedFailureSkipsTheCallAndIsNeverRepeated) {
    HookScope hook(EINTR);
    int calls = 0;
    auto r = sys::sysCall(fault::Op::Read, [&] { return ++calls; });
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(g_asked, 1);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.injected);
    EXPECT_EQ(r.err, EINTR);
    // An injected error is never taken for the system's own answer.
    EXPECT_FALSE(r.systemFailedWith(EINTR));
}

TEST(PlatformSys, AnInterruptedCallIsRepeatedUnlessItChangesAName) {
    HookScope hook(0);
    int calls = 0;
    auto interruptedTwice = [&] {
        if (++calls <= 2) {
            errno = EINTR;
            return -1;
        }
        return 7;
    };
    auto r = sys::sysCall(fault::Op::Read, interruptedTwice);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.ret, 7);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(g_asked, 1);

    calls = 0;
    auto once = sys::sysCall(fault::Op::Read, interruptedTwice, sys::OnInterrupt::Report);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(once.systemFailedWith(EINTR));
}

TEST(PlatformSys, ShortWriteWritesAtMostHalf) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        HookScope hook(0);
        fault::setHook([](fault::Op op) { return op == fault::Op::Write ? fault::kShortWrite : 0; });
        EXPECT_EQ(sys::sysWrite(fds[1], "abcdefgh", 8).ret, 4);
        EXPECT_EQ(sys::sysWrite(fds[1], "x", 1).ret, 1);
    }
    char buf[8];
    EXPECT_EQ(::read(fds[0], buf, sizeof buf), 5);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(PlatformSys, SkippedSyncIsReportedDoneWithoutTheCall) {
    // A descriptor that no flush accepts tells whether the call was made.
    const int closed = -1;
    EXPECT_FALSE(sys::syncFd(closed, fault::Op::Sync).ok());
    fault::setHook([](fault::Op op) {
        return op == fault::Op::Sync || op == fault::Op::SyncDir ? fault::kSkipSync : 0;
    });
    EXPECT_TRUE(sys::syncFd(closed, fault::Op::Sync).ok());
    EXPECT_TRUE(sys::syncFd(closed, fault::Op::SyncDir).ok());
    fault::setHook(nullptr);
    EXPECT_FALSE(sys::syncFd(closed, fault::Op::SyncDir).ok());
}

TEST(PlatformSys, SpecialAnswersFailOtherOperationsWithoutTheCall) {
    for (int answer : {fault::kSkipSync, fault::kShortWrite}) {
        g_answer = answer;
        fault::setHook([](fault::Op op) { return op == fault::Op::Rename ? g_answer : 0; });
        int calls = 0;
        auto r = sys::sysCall(fault::Op::Rename, [&] { return ++calls; });
        fault::setHook(nullptr);
        EXPECT_EQ(calls, 0) << answer;
        EXPECT_TRUE(r.injected) << answer;
        EXPECT_EQ(r.err, EINVAL) << answer;
    }
}

// A name reaches a system call only as a C string that holds all of it:
// 1023 bytes are passed whole, 1024 and a NUL byte inside are refused
// before the call.
TEST(PlatformSys, NamesTheCStringCannotHoldAreRefused) {
    struct Row {
        std::string name;
        bool passed;
        Error error;
    } rows[] = {
        {std::string(kPathMax - 1, 'a'), true, Error::Unexpected},
        {"", true, Error::Unexpected},
        {std::string(kPathMax, 'a'), false, Error::NameTooLong},
        {std::string("a\0b", 3), false, Error::InvalidCharacter},
        {std::string(1, '\0'), false, Error::InvalidCharacter},
    };
    for (const Row &r : rows) {
        std::string seen;
        bool called = false;
        Status st = sys::withName(r.name, [&](const char *c) -> Status {
            called = true;
            seen = c;
            return {};
        });
        EXPECT_EQ(called, r.passed) << r.name.size();
        EXPECT_EQ(st.ok(), r.passed) << r.name.size();
        if (r.passed) {
            EXPECT_EQ(seen, r.name);
        } else {
            EXPECT_EQ(st.error(), r.error) << r.name.size();
        }
    }
}

// Asking a success for its error is a bug of the caller: debug builds stop
// at it, and other builds get a defined answer instead of undefined
// behaviour.
TEST(PlatformSys, ErrorOfASuccessIsCaught) {
#ifdef NDEBUG
    EXPECT_EQ(Status{}.error(), Error::Unexpected);
    EXPECT_EQ(Result<int>(1).error(), Error::Unexpected);
    EXPECT_EQ(Status{}.failure().error, Error::Unexpected);
#else
    EXPECT_DEATH((void)Status{}.error(), "error\\(\\) of a successful Status");
    EXPECT_DEATH((void)Result<int>(1).error(), "error\\(\\) of a successful Result");
#endif
    EXPECT_EQ(Status{Error::IsDir}.error(), Error::IsDir);
    EXPECT_EQ(Result<int>(Error::IsDir).failure().error, Error::IsDir);
}
