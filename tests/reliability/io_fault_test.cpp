// I/O-fault injection through the platform layer's fault seam. For every
// export over the fixture site and every kind of system-call failure (short
// writes, ENOSPC and EIO on write, failing fsync, fchmod, rename, link,
// unlink, mkdir, rmdir, open, read, stat, the probing read and the hint to
// read ahead), the k-th such call is made to fail for every k the export
// reaches, once alone and once together with every later call of that
// kind, with a warm page cache and again with a cold one (every probing
// read answered EAGAIN, so scans open their files ahead). Afterwards:
//   - the code is 0 or the one mapped from the injected errno;
//   - a failed update leaves the old files byte for byte, a failed create
//     leaves no file (directories it made may stay), and a call that reports
//     success leaves exactly what the clean call leaves;
//   - no temporary file is left anywhere, except a second name of a
//     published file whose removal was the failed call;
//   - every family still lists, as valid JSON.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>

#include "core/platform.hpp"
#include "ffi/frame.hpp"
#include "reliability_support.hpp"

namespace {

using quorlina::platform::fault::Op;
using qrel::Snapshot;

struct FaultPlan {
    Op op = Op::Open;
    int err = 0;
    long failAt = 0;  // 1-based index among calls of `op`; 0 = only count
    bool forever = false;
    long seen = 0;
    bool hit = false;
};

FaultPlan g_plan;

// In a cold run every read that must not wait for the disk finds the file
// out of the page cache (EAGAIN), so every scan opens its files ahead.
bool g_cold = false;

int hook(Op op) {
    if (g_cold && op == Op::ReadNoWait && g_plan.op != Op::ReadNoWait) return EAGAIN;
    if (op != g_plan.op) return 0;
    ++g_plan.seen;
    if (g_plan.failAt != 0 && (g_plan.seen == g_plan.failAt || (g_plan.forever && g_plan.seen > g_plan.failAt))) {
        g_plan.hit = true;
        return g_plan.err;
    }
    return 0;
}

struct FaultKind {
    const char *name;
    Op op;
    int err;
    // The directory is flushed after the change is in place: a failure then
    // reports that the change may not survive a power loss, not that it was
    // not made.
    bool afterCommit = false;
};

const FaultKind kFaults[] = {
    {"write_enospc", Op::Write, ENOSPC},
    {"write_eio", Op::Write, EIO},
    {"write_short", Op::Write, quorlina::platform::fault::kShortWrite},
    {"fsync_eio", Op::Sync, EIO},
    {"fchmod_eperm", Op::Chmod, EPERM},
    {"rename_eio", Op::Rename, EIO},
    {"rename_enospc", Op::Rename, ENOSPC},
    {"link_eio", Op::Link, EIO},
    {"link_enospc", Op::Link, ENOSPC},
    {"unlink_eio", Op::Unlink, EIO},
    {"unlink_eacces", Op::Unlink, EACCES},
    {"mkdir_enospc", Op::Mkdir, ENOSPC},
    {"mkdir_eacces", Op::Mkdir, EACCES},
    {"rmdir_eio", Op::Rmdir, EIO},
    {"open_eacces", Op::Open, EACCES},
    {"open_emfile", Op::Open, EMFILE},
    {"read_eio", Op::Read, EIO},
    {"stat_eio", Op::Stat, EIO},
    {"dirsync_eio", Op::SyncDir, EIO, true},
    {"fchown_eperm", Op::Chown, EPERM},
    {"flock_enolck", Op::Lock, ENOLCK},
    {"probe_eio", Op::ReadNoWait, EIO},
    // A failed hint to read ahead costs speed only: the call must succeed.
    {"advise_eio", Op::Advise, EIO},
    {"clock_einval", Op::Clock, EINVAL},
};

struct Scenario {
    const char *name;
    qrel::Family family;
    bool hasOut;
    std::function<int(const char *root, char **out)> call;
    // A failure may come after the change was committed (post delete prunes
    // directories after removing the file).
    bool failureMayCommit = false;
    // A snippet whose extension changes gets its new content under the old
    // name first, then moves: a failure of the move leaves that one file,
    // the new content under the old name {old, new}.
    std::pair<std::string, std::string> moved = {};
    bool cold = false;
    // A check reports a file it cannot read as an entry and succeeds: a
    // success may list the files the fault hit, each with the fault's code.
    bool faultsAreEntries = false;
};

std::vector<Scenario> scenarios() {
    using qrel::Family;
    std::vector<Scenario> all = {
        {"snippet_create", Family::Snippets, true,
         [](const char *r, char **o) { return quorlina_snippet_create(r, 1710000000, "New", "print(1)\n", "new.py", o); }},
        {"snippet_create_fresh_site", Family::Snippets, true,
         [](const char *r, char **o) {
             return quorlina_snippet_create((std::string(r) + "/sub/site").c_str(), 1710000000, "New", "x", "n.c", o);
         }},
        {"snippet_update", Family::Snippets, false,
         [](const char *r, char **) { return quorlina_snippet_update(r, 1700000000, "Sorted", "y = 2\n", nullptr); }},
        {"snippet_update_rename", Family::Snippets, false,
         [](const char *r, char **) { return quorlina_snippet_update(r, 1700000000, nullptr, nullptr, "sort.rb"); },
         false, {"content/snippets/1700000000.py", "content/snippets/1700000000.rb"}},
        {"snippet_delete", Family::Snippets, false, [](const char *r, char **) { return quorlina_snippet_delete(r, 1700003600); }},
        {"snippet_list", Family::Snippets, true, [](const char *r, char **o) { return quorlina_snippet_list(r, o); }},
        {"snippet_read", Family::Snippets, true, [](const char *r, char **o) { return quorlina_snippet_read(r, 1700000000, o); }},
        {"post_create", Family::Posts, true,
         [](const char *r, char **o) { return quorlina_post_create(r, "fresh", "T", "D", "a,b", "2025-01-02", o); }},
        {"post_update", Family::Posts, false,
         [](const char *r, char **) { return quorlina_post_update(r, "hello", "New title", nullptr, nullptr, "x", nullptr); }},
        {"post_delete", Family::Posts, false, [](const char *r, char **) { return quorlina_post_delete(r, "hello"); }, true},
        {"post_create_ext", Family::Posts, true,
         [](const char *r, char **o) {
             quorlina_post_create_options opts = QUORLINA_POST_CREATE_OPTIONS_INIT;
             opts.body = "Body\n";
             opts.draft = 1;
             return quorlina_post_create_ext(r, "fresh", "T", "D", "a", "2025-01-02", &opts, o);
         }},
        {"post_update_ext_body_draft", Family::Posts, false,
         [](const char *r, char **) {
             quorlina_post_update_options opts = QUORLINA_POST_UPDATE_OPTIONS_INIT;
             opts.body = "New body\n";
             opts.draft = 1;
             return quorlina_post_update_ext(r, "hello", &opts);
         }},
        {"post_update_ext_text", Family::Posts, false,
         [](const char *r, char **) {
             quorlina_post_update_options opts = QUORLINA_POST_UPDATE_OPTIONS_INIT;
             opts.text = "+++\ntitle = \"Edited\"\ndescription = \"D\"\nslug = \"intro\"\n+++\nNew\n";
             return quorlina_post_update_ext(r, "intro", &opts);
         }},
        {"post_rename_tag", Family::Posts, false,
         [](const char *r, char **) { return quorlina_post_rename_tag(r, "notes", "journal", nullptr, nullptr); }},
        {"post_list", Family::Posts, true, [](const char *r, char **o) { return quorlina_post_list(r, o); }},
        {"post_read", Family::Posts, true, [](const char *r, char **o) { return quorlina_post_read(r, "intro", o); }},
        {"note_create", Family::Notes, true,
         [](const char *r, char **o) { return quorlina_note_create(r, 1720000000, "fresh", "Body", o); }},
        {"note_update", Family::Notes, false,
         [](const char *r, char **) { return quorlina_note_update(r, "hello-world", nullptr, 1, "New body"); }},
        {"note_delete", Family::Notes, false, [](const char *r, char **) { return quorlina_note_delete(r, "1700000000"); }},
        {"note_update_ext_text", Family::Notes, false,
         [](const char *r, char **) {
             quorlina_note_update_options opts = QUORLINA_NOTE_UPDATE_OPTIONS_INIT;
             opts.text = "+++\nslug = \"edited\"\n+++\n\nEdited body";
             return quorlina_note_update_ext(r, "hello-world", &opts);
         }},
        {"note_list", Family::Notes, true, [](const char *r, char **o) { return quorlina_note_list(r, o); }},
        {"note_read", Family::Notes, true, [](const char *r, char **o) { return quorlina_note_read(r, "hello-world", o); }},
        {"post_list_ext", Family::Posts, true,
         [](const char *r, char **o) {
             quorlina_record_options opt = QUORLINA_RECORD_OPTIONS_INIT;
             opt.content = 1;
             return quorlina_post_list_ext(r, &opt, o);
         }},
        {"post_read_ext", Family::Posts, true,
         [](const char *r, char **o) { return quorlina_post_read_ext(r, "intro", nullptr, o); }},
        {"note_list_ext", Family::Notes, true,
         [](const char *r, char **o) {
             quorlina_record_options opt = QUORLINA_RECORD_OPTIONS_INIT;
             opt.content = 1;
             return quorlina_note_list_ext(r, &opt, o);
         }},
        {"note_read_ext", Family::Notes, true,
         [](const char *r, char **o) { return quorlina_note_read_ext(r, "hello-world", nullptr, o); }},
    };
    Scenario check{"check", Family::Posts, true, [](const char *r, char **o) { return quorlina_check(r, nullptr, o); }};
    check.faultsAreEntries = true;
    all.push_back(check);
    return all;
}

// Every scenario again with a cold page cache.
std::vector<Scenario> coldScenarios() {
    std::vector<Scenario> all = scenarios();
    for (Scenario &s : all) s.cold = true;
    return all;
}

void PrintTo(const Scenario &s, std::ostream *os) { *os << s.name << (s.cold ? " (cold)" : ""); }

struct Outcome {
    int code;
    bool outNull;
    std::string text;
};

Outcome invoke(const Scenario &s, const std::string &root) {
    char sentinel = 0;
    char *out = &sentinel;
    int code = s.call(root.c_str(), s.hasOut ? &out : nullptr);
    Outcome o{code, true, {}};
    if (s.hasOut) {
        EXPECT_NE(out, &sentinel) << "*out left untouched";
        if (out == &sentinel) out = nullptr;
        o.outNull = out == nullptr;
        if (out) o.text = out;
        quorlina_free(out);
    }
    return o;
}

int mappedCode(int err) { return quorlina::ffi::mapError(quorlina::platform::errorFromErrno(err)); }

long g_faultPoints = 0;

class IoFaults : public ::testing::TestWithParam<Scenario> {};

TEST_P(IoFaults, EveryFaultPointKeepsTheTreeWhole) {
    const Scenario &s = GetParam();
    qtest::TempSite site;
    const std::string &root = site.root();
    auto fresh = [&] {
        qrel::clearSite(root);
        qrel::writeFixture(root);
    };
    fresh();
    g_cold = s.cold;
    struct ColdOff {
        ~ColdOff() { g_cold = false; }
    } coldOff;
    const Snapshot before = qrel::snapshot(root);
    // The clean call, through the seam (which makes the cache cold, if so).
    g_plan = FaultPlan{};
    quorlina::platform::fault::setHook(hook);
    const Outcome clean = invoke(s, root);
    quorlina::platform::fault::setHook(nullptr);
    const Snapshot after = qrel::snapshot(root);
    ASSERT_EQ(clean.code, 0) << s.name;

    // The state between the two steps of a move: one file, the new
    // content, the old name.
    Snapshot unmoved = after;
    if (!s.moved.first.empty()) {
        unmoved[s.moved.first] = after.at(s.moved.second);
        unmoved.erase(s.moved.second);
    }

    for (const FaultKind &f : kFaults) {
        // How many calls of this kind the export makes.
        fresh();
        g_plan = FaultPlan{f.op, f.err};
        quorlina::platform::fault::setHook(hook);
        (void)invoke(s, root);
        quorlina::platform::fault::setHook(nullptr);
        const long calls = g_plan.seen;

        for (bool forever : {false, true}) {
            for (long k = 1; k <= calls; ++k) {
                SCOPED_TRACE(std::string(s.name) + " / " + f.name + (forever ? " from" : " at") + " call " +
                             std::to_string(k) + " of " + std::to_string(calls));
                fresh();
                g_plan = FaultPlan{f.op, f.err, k, forever};
                quorlina::platform::fault::setHook(hook);
                Outcome o = invoke(s, root);
                quorlina::platform::fault::setHook(nullptr);
                ASSERT_TRUE(g_plan.hit);
                ++g_faultPoints;
                Snapshot now = qrel::snapshot(root);

                // A temporary stays only when its removal, after the file
                // was published from it, is the call that failed: the call
                // succeeded, and the temporary is a second name of the
                // published file, with the (empty) mark of the write beside
                // it. The mark alone stays when its own removal failed.
                const std::vector<std::string> temps = qrel::temporaries(now);
                if (!temps.empty() && f.op == Op::Unlink && o.code == 0) {
                    for (const std::string &t : temps) {
                        if (t.ends_with("/.quorlina-tmp-writing")) {
                            EXPECT_TRUE(now.at(t).kind == 'f' && now.at(t).bytes.empty()) << t << " is not an empty mark";
                            now.erase(t);
                            continue;
                        }
                        bool secondName = false;
                        for (const auto &[name, entry] : after) secondName = secondName || entry == now.at(t);
                        EXPECT_TRUE(secondName) << t << " is not a copy of a file the call published";
                        EXPECT_TRUE(now.count(t.substr(0, t.rfind('/') + 1) + ".quorlina-tmp-writing"))
                            << t << " stays without the mark of its write";
                        now.erase(t);
                    }
                } else {
                    EXPECT_TRUE(temps.empty()) << "temporary left: " << temps[0];
                }
                if (s.hasOut) {
                    EXPECT_EQ(o.outNull, o.code != 0);
                }
                if (f.err == quorlina::platform::fault::kShortWrite) {
                    // Short writes are retried: the call must behave as if
                    // nothing happened.
                    EXPECT_EQ(o.code, 0);
                    EXPECT_EQ(o.text, clean.text);
                    EXPECT_TRUE(now == after) << qrel::describeDiff(after, now);
                } else if (o.code == 0 && s.faultsAreEntries && o.text != clean.text) {
                    // Every entry is a file the fault hit: its code is the
                    // fault's, and nothing was written.
                    std::size_t entries = 0, withCode = 0;
                    const std::string code = "\"code\":" + std::to_string(mappedCode(f.err)) + ",";
                    for (std::size_t at = 0; (at = o.text.find("{\"family\":", at)) != std::string::npos; ++at) ++entries;
                    for (std::size_t at = 0; (at = o.text.find(code, at)) != std::string::npos; ++at) ++withCode;
                    EXPECT_GT(entries, 0u) << o.text;
                    EXPECT_EQ(withCode, entries) << o.text;
                    EXPECT_TRUE(now == after) << qrel::describeDiff(after, now);
                } else if (o.code == 0) {
                    EXPECT_EQ(o.text, clean.text);
                    EXPECT_TRUE(now == after) << qrel::describeDiff(after, now);
                } else {
                    EXPECT_EQ(o.code, mappedCode(f.err)) << "code " << o.code;
                    bool filesAsBefore = qrel::filesOnly(now) == qrel::filesOnly(before);
                    if (s.failureMayCommit || f.afterCommit) filesAsBefore = qrel::isBeforeOrAfter(now, before, after);
                    const bool unmovedState = !s.moved.first.empty() && qrel::filesOnly(now) == qrel::filesOnly(unmoved);
                    EXPECT_TRUE(unmovedState || (filesAsBefore && qrel::isBeforeOrAfter(now, before, after)))
                        << qrel::describeDiff(before, now);
                }
                for (auto fam : {qrel::Family::Snippets, qrel::Family::Posts, qrel::Family::Notes}) {
                    qrel::Listing l = qrel::listFamily(root, fam);
                    EXPECT_EQ(l.code, 0) << qrel::familyName(fam) << " no longer lists";
                    EXPECT_EQ(l.fault, "");
                }
                if (::testing::Test::HasFailure()) return;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Exports, IoFaults, ::testing::ValuesIn(scenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &i) { return std::string(i.param.name); });
INSTANTIATE_TEST_SUITE_P(ColdCache, IoFaults, ::testing::ValuesIn(coldScenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &i) { return std::string(i.param.name); });

// An entry that disappears between the directory listing and the open (a
// concurrent delete or rename) is not an error: every open a list makes is
// failed in turn with ENOENT, and the list still succeeds with the items
// that remain.
TEST(VanishingEntries, ListsPassOverWhatWasRemovedMeanwhile) {
    qtest::TempSite site;
    qrel::writeFixture(site.root());
    for (auto fam : {qrel::Family::Snippets, qrel::Family::Posts, qrel::Family::Notes}) {
        qrel::Listing full = qrel::listFamily(site.root(), fam);
        ASSERT_EQ(full.code, 0);
        g_plan = FaultPlan{Op::Open, ENOENT};
        quorlina::platform::fault::setHook(hook);
        (void)qrel::listFamily(site.root(), fam);
        quorlina::platform::fault::setHook(nullptr);
        const long opens = g_plan.seen;
        ASSERT_GE(opens, 3) << qrel::familyName(fam);
        for (long k = 1; k <= opens; ++k) {
            g_plan = FaultPlan{Op::Open, ENOENT, k};
            quorlina::platform::fault::setHook(hook);
            qrel::Listing l = qrel::listFamily(site.root(), fam);
            quorlina::platform::fault::setHook(nullptr);
            EXPECT_EQ(l.code, 0) << qrel::familyName(fam) << ", open " << k;
            EXPECT_EQ(l.fault, "");
            EXPECT_LT(l.value.items.size(), full.value.items.size()) << qrel::familyName(fam) << ", open " << k;
        }
    }
}

// A read or update whose item is deleted by someone else while the call
// runs: the file is really removed just before the call's k-th open, for
// every k. The call finds the item (0), finds it gone (3), or (an update)
// writes it again; it never fails with a file-system error.
std::string g_victim;
long g_victimAt = 0, g_opens = 0;

int removeVictimHook(Op op) {
    if (op == Op::Open && ++g_opens == g_victimAt) ::unlink(g_victim.c_str());
    return 0;
}

TEST(VanishingEntries, ReadsAndUpdatesOfAnItemDeletedMeanwhileAreNotFound) {
    qtest::TempSite site;
    const char *r = site.c_root();
    struct Case {
        const char *file;
        std::function<int()> call;
    };
    const Case cases[] = {
        {"content/snippets/1700000000.py",
         [&] { return qtest::callText([&](char **o) { return quorlina_snippet_read(r, 1700000000, o); }).code; }},
        {"content/blog/2024/03/09/hello.md",
         [&] { return qtest::callText([&](char **o) { return quorlina_post_read(r, "hello", o); }).code; }},
        {"content/notes/1733570000.md",
         [&] { return qtest::callText([&](char **o) { return quorlina_note_read(r, "hello-world", o); }).code; }},
        {"content/snippets/1700000000.py", [&] { return quorlina_snippet_update(r, 1700000000, nullptr, nullptr, nullptr); }},
        {"content/blog/2024/03/09/hello.md",
         [&] { return quorlina_post_update(r, "hello", nullptr, "D", nullptr, nullptr, nullptr); }},
        {"content/notes/1733570000.md", [&] { return quorlina_note_update(r, "hello-world", "s", 0, nullptr); }},
    };
    for (const Case &c : cases) {
        qrel::clearSite(site.root());
        qrel::writeFixture(site.root());
        g_victim = site.root() + "/" + c.file;
        g_victimAt = -1;
        g_opens = 0;
        quorlina::platform::fault::setHook(removeVictimHook);
        ASSERT_EQ(c.call(), 0);
        quorlina::platform::fault::setHook(nullptr);
        const long opens = g_opens;
        for (long k = 1; k <= opens; ++k) {
            qrel::clearSite(site.root());
            qrel::writeFixture(site.root());
            g_victimAt = k;
            g_opens = 0;
            quorlina::platform::fault::setHook(removeVictimHook);
            int code = c.call();
            quorlina::platform::fault::setHook(nullptr);
            EXPECT_TRUE(code == 0 || code == 3) << c.file << ", deleted before open " << k << " of " << opens << ": " << code;
        }
    }
}

// A delete that finds its item and then sees it removed by someone else
// reports that the item is not there.
TEST(VanishingEntries, DeleteOfAnItemRemovedMeanwhileIsNotFound) {
    qtest::TempSite site;
    qrel::writeFixture(site.root());
    const char *r = site.c_root();
    g_plan = FaultPlan{Op::Unlink, ENOENT, 1, true};
    quorlina::platform::fault::setHook(hook);
    EXPECT_EQ(quorlina_snippet_delete(r, 1700000000), 3);
    EXPECT_EQ(quorlina_post_delete(r, "hello"), 3);
    EXPECT_EQ(quorlina_note_delete(r, "hello-world"), 3);
    quorlina::platform::fault::setHook(nullptr);
    EXPECT_EQ(g_plan.seen, 3);
}

// The mapping the checks above rely on.
TEST(IoFaultCodes, InjectedErrorsMapAsDocumented) {
    EXPECT_EQ(mappedCode(ENOSPC), 100);
    EXPECT_EQ(mappedCode(EIO), 100);
    EXPECT_EQ(mappedCode(EPERM), 100);
    EXPECT_EQ(mappedCode(EMFILE), 100);
    EXPECT_EQ(mappedCode(EACCES), 8);
}

}  // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    std::printf("I/O fault points exercised: %ld\n", g_faultPoints);
    return rc;
}
