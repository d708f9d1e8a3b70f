// Allocation-failure injection. This executable replaces the global
// operator new and delete with counting versions and routes the library's
// one C-heap allocation (the returned text) through the same counter via the
// platform fault seam. For every export over a small fixture site, the N-th
// allocation is made to fail for N = 1, 2, 3, ... until a call completes
// without reaching it, once failing only that allocation and once failing
// it and every later one. Each failing call must return 9 (or its normal
// result when it could do without the allocation), leave *out NULL, free
// everything it allocated, and leave the files either as they were or as
// the successful call leaves them.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>

#include "core/platform.hpp"
#include "reliability_support.hpp"

namespace {

// ----------------------------------------------------------- the counter

struct AllocCounter {
    bool armed = false;
    bool failForever = false;
    long failAt = 0;   // 1-based index of the allocation to fail; 0 = none
    long count = 0;    // allocations seen while armed
    long live = 0;     // operator-new blocks allocated and not yet freed while armed
    bool hit = false;  // the failure was injected

    // True when this allocation must fail.
    bool next() {
        if (!armed) return false;
        ++count;
        if (failAt != 0 && (count == failAt || (failForever && count > failAt))) {
            hit = true;
            return true;
        }
        return false;
    }
};

AllocCounter g_alloc;

void *allocate(std::size_t n, std::size_t align, bool nothrow) {
    if (g_alloc.next()) {
        if (nothrow) return nullptr;
        throw std::bad_alloc();
    }
    void *p = nullptr;
    if (align <= alignof(std::max_align_t)) {
        p = std::malloc(n ? n : 1);
    } else if (::posix_memalign(&p, align, n ? n : 1) != 0) {
        p = nullptr;
    }
    if (!p) {
        if (nothrow) return nullptr;
        throw std::bad_alloc();
    }
    if (g_alloc.armed) ++g_alloc.live;
    return p;
}

void release(void *p) noexcept {
    if (!p) return;
    if (g_alloc.armed) --g_alloc.live;
    std::free(p);
}

int allocHook(quorlina::platform::fault::Op op) {
    if (op == quorlina::platform::fault::Op::Alloc && g_alloc.next()) return ENOMEM;
    return 0;
}

}  // namespace

// Every replaceable form of operator new and delete.
void *operator new(std::size_t n) { return allocate(n, 0, false); }
void *operator new[](std::size_t n) { return allocate(n, 0, false); }
void *operator new(std::size_t n, const std::nothrow_t &) noexcept { return allocate(n, 0, true); }
void *operator new[](std::size_t n, const std::nothrow_t &) noexcept { return allocate(n, 0, true); }
void *operator new(std::size_t n, std::align_val_t a) { return allocate(n, static_cast<std::size_t>(a), false); }
void *operator new[](std::size_t n, std::align_val_t a) { return allocate(n, static_cast<std::size_t>(a), false); }
void *operator new(std::size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
    return allocate(n, static_cast<std::size_t>(a), true);
}
void *operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
    return allocate(n, static_cast<std::size_t>(a), true);
}
void operator delete(void *p) noexcept { release(p); }
void operator delete[](void *p) noexcept { release(p); }
void operator delete(void *p, std::size_t) noexcept { release(p); }
void operator delete[](void *p, std::size_t) noexcept { release(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { release(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { release(p); }
void operator delete(void *p, std::align_val_t) noexcept { release(p); }
void operator delete[](void *p, std::align_val_t) noexcept { release(p); }
void operator delete(void *p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void *p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void *p, std::align_val_t, const std::nothrow_t &) noexcept { release(p); }
void operator delete[](void *p, std::align_val_t, const std::nothrow_t &) noexcept { release(p); }

namespace {

using qrel::Snapshot;

// One export call over the fixture site. `out` is NULL for exports without
// an out-parameter.
struct Scenario {
    const char *name;
    bool hasOut;
    std::function<int(const char *root, char **out)> call;
    // Extra setup on top of the fixture (for failure paths).
    std::function<void(const std::string &root)> setup = nullptr;
};

std::vector<Scenario> scenarios() {
    return {
        // Snippets.
        {"snippet_create", true,
         [](const char *r, char **o) { return quorlina_snippet_create(r, 1710000000, "New one", "print(1)\n", "new.py", o); }},
        {"snippet_list", true, [](const char *r, char **o) { return quorlina_snippet_list(r, o); }},
        {"snippet_read", true, [](const char *r, char **o) { return quorlina_snippet_read(r, 1700000000, o); }},
        {"snippet_update", false,
         [](const char *r, char **) { return quorlina_snippet_update(r, 1700000000, "Sorted", nullptr, nullptr); }},
        {"snippet_update_rename", false,
         [](const char *r, char **) {
             return quorlina_snippet_update(r, 1700000000, nullptr, "y = 2", "a_rather_long_file_name.javascript");
         }},
        {"snippet_delete", false, [](const char *r, char **) { return quorlina_snippet_delete(r, 1700003600); }},
        {"snippet_read_missing", true, [](const char *r, char **o) { return quorlina_snippet_read(r, 42, o); }},
        {"snippet_list_broken", true, [](const char *r, char **o) { return quorlina_snippet_list(r, o); },
         [](const std::string &root) { qtest::writeFile(root + "/content/snippets/1600000000.c", "+++\nno end"); }},
        // Posts.
        {"post_create", true,
         [](const char *r, char **o) {
             return quorlina_post_create(r, "fresh-post", "Fresh \"title\"", "About it", "a, b,c", "2024-05-06", o);
         }},
        {"post_list", true, [](const char *r, char **o) { return quorlina_post_list(r, o); }},
        {"post_read", true, [](const char *r, char **o) { return quorlina_post_read(r, "hello", o); }},
        {"post_update", false,
         [](const char *r, char **) {
             return quorlina_post_update(r, "hello", nullptr, "Changed description", nullptr, "food,travel", "notes");
         }},
        {"post_delete", false, [](const char *r, char **) { return quorlina_post_delete(r, "hello"); }},
        {"post_read_missing", true, [](const char *r, char **o) { return quorlina_post_read(r, "nope", o); }},
        {"post_create_ext", true,
         [](const char *r, char **o) {
             quorlina_post_create_options opts = QUORLINA_POST_CREATE_OPTIONS_INIT;
             opts.body = "A body\n+++\n";
             opts.draft = 1;
             return quorlina_post_create_ext(r, "fresh-post", "Fresh", "About it", "a, b", "2024-05-06", &opts, o);
         }},
        {"post_update_ext", false,
         [](const char *r, char **) {
             quorlina_post_update_options opts = QUORLINA_POST_UPDATE_OPTIONS_INIT;
             opts.body = "New body";
             opts.draft = 1;
             opts.add_tags = "food";
             return quorlina_post_update_ext(r, "hello", &opts);
         }},
        {"post_update_ext_text", false,
         [](const char *r, char **) {
             quorlina_post_update_options opts = QUORLINA_POST_UPDATE_OPTIONS_INIT;
             opts.text = "+++\ntitle = \"Edited\"\ndescription = \"D\"\nslug = \"other\"\n+++\nNew\n";
             return quorlina_post_update_ext(r, "intro", &opts);
         }},
        {"post_rename_tag", false,
         [](const char *r, char **) { return quorlina_post_rename_tag(r, "travel", "trips", nullptr, nullptr); }},
        {"post_rename_tag_broken", false,
         [](const char *r, char **) { return quorlina_post_rename_tag(r, "travel", nullptr, nullptr, nullptr); },
         [](const std::string &root) { qtest::writeFile(root + "/content/blog/2020/01/01/b.md", "+++\ntitle = \"B\"\n+++\n"); }},
        // Notes.
        {"note_create", true,
         [](const char *r, char **o) { return quorlina_note_create(r, 1720000000, "fresh", "Body text", o); }},
        {"note_list", true, [](const char *r, char **o) { return quorlina_note_list(r, o); }},
        {"note_read", true, [](const char *r, char **o) { return quorlina_note_read(r, "hello-world", o); }},
        {"note_update", false,
         [](const char *r, char **) { return quorlina_note_update(r, "1700000000", "now-slugged", 0, nullptr); }},
        {"note_delete", false, [](const char *r, char **) { return quorlina_note_delete(r, "hello-world"); }},
        {"note_update_ext_text", false,
         [](const char *r, char **) {
             quorlina_note_update_options opts = QUORLINA_NOTE_UPDATE_OPTIONS_INIT;
             opts.text = "+++\nslug = \"edited\"\n+++\n\nEdited";
             return quorlina_note_update_ext(r, "1700000000", &opts);
         }},
        {"note_update_missing", false,
         [](const char *r, char **) { return quorlina_note_update(r, "nope", nullptr, 1, "x"); }},
        // Check and full records.
        {"check", true, [](const char *r, char **o) { return quorlina_check(r, nullptr, o); }},
        {"check_broken", true, [](const char *r, char **o) { return quorlina_check(r, nullptr, o); },
         [](const std::string &root) {
             qtest::writeFile(root + "/content/snippets/1600000000.c", "+++\nno end");
             qtest::writeFile(root + "/content/snippets/readme.txt", "x");
             qtest::writeFile(root + "/content/blog/2020/01/01/raw.md", "no block");
             qtest::writeFile(root + "/content/notes/1600000000.md", "+++\nslug = \"a b\"\n+++\n");
         }},
        {"post_list_ext", true,
         [](const char *r, char **o) {
             quorlina_record_options opt = QUORLINA_RECORD_OPTIONS_INIT;
             opt.content = 1;
             return quorlina_post_list_ext(r, &opt, o);
         }},
        {"post_read_ext", true, [](const char *r, char **o) { return quorlina_post_read_ext(r, "hello", nullptr, o); }},
        {"note_list_ext", true,
         [](const char *r, char **o) {
             quorlina_record_options opt = QUORLINA_RECORD_OPTIONS_INIT;
             opt.content = 1;
             return quorlina_note_list_ext(r, &opt, o);
         }},
        {"note_read_ext", true, [](const char *r, char **o) { return quorlina_note_read_ext(r, "hello-world", nullptr, o); }},
    };
}

struct Outcome {
    int code;
    bool outNull;
    std::string text;
};

// Runs the call; with `arm` the counter is armed for the call only.
Outcome invoke(const Scenario &s, const std::string &root, bool arm) {
    char sentinel = 0;
    char *out = &sentinel;
    g_alloc.armed = arm;
    int code = s.call(root.c_str(), s.hasOut ? &out : nullptr);
    // The text of a failure that names a file is held for the thread until
    // its next call, which releases it: one more call (refused for its NULL
    // argument, which allocates nothing) frees it while still counted.
    const bool nullRefused = quorlina_note_delete(nullptr, nullptr) == 100;
    g_alloc.armed = false;
    EXPECT_TRUE(nullRefused);
    Outcome o{code, !s.hasOut || out == nullptr, std::string()};
    if (s.hasOut) {
        EXPECT_NE(out, &sentinel) << s.name << ": *out left untouched";
        if (out && out != &sentinel) o.text = out;
        if (out != &sentinel) quorlina_free(out);
    }
    return o;
}

// The figures of the last run, printed at the end for docs/reliability.md.
std::vector<std::pair<std::string, long>> g_points;

void runScenario(const Scenario &s, bool failForever) {
    qtest::TempSite site;
    const std::string &root = site.root();
    auto fresh = [&] {
        qrel::clearSite(root);
        qrel::writeFixture(root);
        if (s.setup) s.setup(root);
    };

    fresh();
    const Snapshot before = qrel::snapshot(root);
    const Outcome clean = invoke(s, root, false);
    const Snapshot after = qrel::snapshot(root);
    ASSERT_NE(clean.code, 9) << s.name;

    quorlina::platform::fault::setHook(allocHook);
    long n = 1;
    for (; n < 100000; ++n) {
        fresh();
        g_alloc = AllocCounter{};
        g_alloc.failAt = n;
        g_alloc.failForever = failForever;
        Outcome o = invoke(s, root, true);
        const bool hit = g_alloc.hit;
        const long live = g_alloc.live;
        Snapshot now = qrel::snapshot(root);

        SCOPED_TRACE(std::string(s.name) + (failForever ? " (fail forever)" : " (fail once)") +
                     ", allocation " + std::to_string(n));
        EXPECT_EQ(live, 0) << "blocks leaked";
        if (!hit) {
            // The call no longer reaches allocation n: it must behave as the
            // clean run did.
            EXPECT_EQ(o.code, clean.code);
            EXPECT_EQ(o.text, clean.text);
            EXPECT_TRUE(now == after) << qrel::describeDiff(after, now);
            break;
        }
        EXPECT_TRUE(o.code == 9 || o.code == clean.code) << "code " << o.code;
        if (s.hasOut) {
            EXPECT_EQ(o.outNull, o.code != 0);
        }
        if (o.code == 0) {
            EXPECT_EQ(o.text, clean.text);
            EXPECT_TRUE(now == after) << qrel::describeDiff(after, now);
        } else {
            EXPECT_TRUE(qrel::isBeforeOrAfter(now, before, after))
                << "before:\n" << qrel::describeDiff(before, now) << "after:\n" << qrel::describeDiff(after, now);
        }
        if (::testing::Test::HasFailure()) break;
    }
    quorlina::platform::fault::setHook(nullptr);
    EXPECT_LT(n, 100000) << s.name << " never completed";
    if (!failForever) g_points.emplace_back(s.name, n - 1);
}

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name; }

class AllocationFailure : public ::testing::TestWithParam<Scenario> {};

TEST_P(AllocationFailure, FailOnce) { runScenario(GetParam(), false); }
TEST_P(AllocationFailure, FailForever) { runScenario(GetParam(), true); }

INSTANTIATE_TEST_SUITE_P(Exports, AllocationFailure, ::testing::ValuesIn(scenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &i) { return std::string(i.param.name); });

// The counter itself: a test of the harness, so that a silent counter
// cannot make every scenario above pass vacuously.
TEST(AllocationCounter, CountsAndFailsTheChosenAllocation) {
    g_alloc = AllocCounter{};
    g_alloc.failAt = 2;
    g_alloc.armed = true;
    // Direct calls through volatile pointers: an optimiser may drop a
    // new-expression whose result is unused, but not these.
    void *volatile a = ::operator new(16);
    bool threw = false;
    try {
        void *volatile b = ::operator new(16);
        ::operator delete(b);
    } catch (const std::bad_alloc &) {
        threw = true;
    }
    g_alloc.armed = false;
    ::operator delete(a);
    EXPECT_TRUE(threw);
    EXPECT_TRUE(g_alloc.hit);
    EXPECT_EQ(g_alloc.count, 2);
}

}  // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    long total = 0;
    std::printf("allocation-failure points per export (fail once):\n");
    for (const auto &[name, points] : g_points) {
        std::printf("  %-24s %ld\n", name.c_str(), points);
        total += points;
    }
    std::printf("  %-24s %ld\n", "total", total);
    return rc;
}
