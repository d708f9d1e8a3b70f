// Concurrency: threads and processes creating, updating, deleting, listing
// and reading on one site at once.
//   - Every worker owns its own items and checks, while the others run, that
//     each of them reads back with the content it last wrote; at the end
//     every item that was created and not deleted is still there.
//   - Lists never fail (the files on disk are always complete) and are
//     always valid JSON.
//   - Creates of one shared key race: exactly one wins, the others get 2.
// Worker processes are this executable started again with --worker.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "reliability_support.hpp"

namespace {

using qrel::Family;

// ------------------------------------------------------------- the worker

struct Item {
    Family family;
    std::string key;  // timestamp text or slug
    int version = 0;
    bool alive = true;
    std::string ext = "py";  // snippets only
};

struct Report {
    long ops = 0;
    long creates = 0;
    std::vector<std::string> failures;
    std::vector<Item> items;
};

std::string snippetCode(int worker, const std::string &key, int version) {
    return "# worker " + std::to_string(worker) + " item " + key + " version " + std::to_string(version) + "\n";
}
std::string postDescription(const std::string &key, int version) { return key + " version " + std::to_string(version); }
std::string noteBody(const std::string &key, int version) {
    return "note " + key + " version " + std::to_string(version) + "\nsecond line";
}

// Calls an export with an out-parameter; returns the code and the text.
template <class Fn>
std::pair<int, std::string> withOut(Fn &&fn) {
    char *out = nullptr;
    int code = fn(&out);
    std::string text = out ? out : "";
    if ((code == 0) != (out != nullptr)) text = "<out-parameter does not match code>";
    quorlina_free(out);
    return {code, text};
}

// Reads an item and returns the field that carries its content, or the
// failure.
std::pair<int, std::string> readContent(const std::string &root, const Item &it) {
    const char *r = root.c_str();
    std::pair<int, std::string> res;
    const char *field = "";
    qjson::Record kind = qjson::Record::Snippet;
    switch (it.family) {
        case Family::Snippets:
            res = withOut([&](char **o) { return quorlina_snippet_read(r, std::stoll(it.key), o); });
            field = "code";
            break;
        case Family::Posts:
            res = withOut([&](char **o) { return quorlina_post_read(r, it.key.c_str(), o); });
            field = "description";
            kind = qjson::Record::PostFull;
            break;
        case Family::Notes:
            res = withOut([&](char **o) { return quorlina_note_read(r, it.key.c_str(), o); });
            field = "content";
            kind = qjson::Record::NoteFull;
            break;
    }
    if (res.first != 0) return {res.first, ""};
    qjson::Value v;
    std::string fault = qjson::checkRecordText(res.second, kind, &v);
    if (!fault.empty()) return {-1, fault};
    return {0, v.get(field)->text};
}

std::string expectedContent(int worker, const Item &it) {
    switch (it.family) {
        case Family::Snippets: return "\n" + snippetCode(worker, it.key, it.version);
        case Family::Posts: return postDescription(it.key, it.version);
        case Family::Notes: return noteBody(it.key, it.version);
    }
    return {};
}

// `ops` random operations by worker `id` on the site `root`.
Report runWorker(const std::string &root, int id, int ops, unsigned seed) {
    Report rep;
    std::mt19937 rng(seed + 7919u * static_cast<unsigned>(id));
    const char *r = root.c_str();
    std::vector<Item> &items = rep.items;
    int next = 0;
    auto fail = [&](const std::string &what) {
        if (rep.failures.size() < 20) rep.failures.push_back("worker " + std::to_string(id) + ": " + what);
    };
    auto pickAlive = [&]() -> Item * {
        std::vector<Item *> alive;
        for (auto &it : items)
            if (it.alive) alive.push_back(&it);
        if (alive.empty()) return nullptr;
        return alive[rng() % alive.size()];
    };

    for (int op = 0; op < ops; ++op, ++rep.ops) {
        unsigned roll = rng() % 100;
        Family fam = static_cast<Family>(rng() % 3);
        if (roll < 20) {  // create one of our own
            int n = next++;
            Item it;
            it.family = fam;
            int code = -1;
            switch (fam) {
                case Family::Snippets: {
                    it.key = std::to_string(1600000000LL + id * 100000LL + n);
                    code = withOut([&](char **o) {
                               return quorlina_snippet_create(r, std::stoll(it.key), "own", snippetCode(id, it.key, 0).c_str(),
                                                              "a.py", o);
                           }).first;
                    break;
                }
                case Family::Posts: {
                    it.key = "w" + std::to_string(id) + "-p" + std::to_string(n);
                    std::string date = "2024-01-" + std::string(n % 28 < 9 ? "0" : "") + std::to_string(n % 28 + 1);
                    code = withOut([&](char **o) {
                               return quorlina_post_create(r, it.key.c_str(), "Own", postDescription(it.key, 0).c_str(),
                                                           "t", date.c_str(), o);
                           }).first;
                    break;
                }
                case Family::Notes: {
                    it.key = std::to_string(1650000000LL + id * 100000LL + n);
                    code = withOut([&](char **o) {
                               return quorlina_note_create(r, std::stoll(it.key), nullptr, noteBody(it.key, 0).c_str(), o);
                           }).first;
                    break;
                }
            }
            if (code != 0) {
                fail("create " + it.key + " returned " + std::to_string(code));
                continue;
            }
            ++rep.creates;
            items.push_back(it);
        } else if (roll < 40) {  // update one of our own
            Item *it = pickAlive();
            if (!it) continue;
            int v = it->version + 1;
            int code = -1;
            switch (it->family) {
                case Family::Snippets: {
                    std::string ext = (v % 3 == 0) ? (it->ext == "py" ? "rb" : "py") : it->ext;
                    std::string name = "b." + ext;
                    code = quorlina_snippet_update(r, std::stoll(it->key), nullptr, snippetCode(id, it->key, v).c_str(),
                                                   name.c_str());
                    if (code == 0) it->ext = ext;
                    break;
                }
                case Family::Posts:
                    code = quorlina_post_update(r, it->key.c_str(), nullptr, postDescription(it->key, v).c_str(), nullptr,
                                                "u", nullptr);
                    break;
                case Family::Notes:
                    code = quorlina_note_update(r, it->key.c_str(), nullptr, 0, noteBody(it->key, v).c_str());
                    break;
            }
            if (code != 0) fail("update " + it->key + " returned " + std::to_string(code));
            else it->version = v;
        } else if (roll < 48) {  // delete one of our own
            Item *it = pickAlive();
            if (!it) continue;
            int code = -1;
            switch (it->family) {
                case Family::Snippets: code = quorlina_snippet_delete(r, std::stoll(it->key)); break;
                case Family::Posts: code = quorlina_post_delete(r, it->key.c_str()); break;
                case Family::Notes: code = quorlina_note_delete(r, it->key.c_str()); break;
            }
            if (code != 0) fail("delete " + it->key + " returned " + std::to_string(code));
            else it->alive = false;
        } else if (roll < 68) {  // list
            qrel::Listing l = qrel::listFamily(root, fam);
            if (l.code != 0 || !l.fault.empty())
                fail(std::string("list ") + qrel::familyName(fam) + " returned " + std::to_string(l.code) + " " + l.fault);
        } else if (roll < 85) {  // read one of our own
            Item *it = pickAlive();
            if (!it) continue;
            auto [code, content] = readContent(root, *it);
            if (code != 0) fail("read " + it->key + " returned " + std::to_string(code) + " " + content);
            else if (content != expectedContent(id, *it)) fail("read " + it->key + " gave stale content: " + content);
        } else {  // a shared key: create, read or delete; anyone may win
            int k = static_cast<int>(rng() % 3);
            unsigned what = rng() % 3;
            int code = -1;
            std::string key;
            switch (fam) {
                case Family::Snippets: {
                    std::int64_t ts = 1690000000 + k;
                    if (what == 0) code = withOut([&](char **o) { return quorlina_snippet_create(r, ts, "hot", "x", "h.c", o); }).first;
                    else if (what == 1) code = withOut([&](char **o) { return quorlina_snippet_read(r, ts, o); }).first;
                    else code = quorlina_snippet_delete(r, ts);
                    break;
                }
                case Family::Posts: {
                    key = "hot-" + std::to_string(k);
                    if (what == 0)
                        code = withOut([&](char **o) {
                                   return quorlina_post_create(r, key.c_str(), "Hot", "D", nullptr, "2024-06-01", o);
                               }).first;
                    else if (what == 1) code = withOut([&](char **o) { return quorlina_post_read(r, key.c_str(), o); }).first;
                    else code = quorlina_post_delete(r, key.c_str());
                    break;
                }
                case Family::Notes: {
                    std::int64_t ts = 1700000000 + k;
                    key = std::to_string(ts);
                    if (what == 0) code = withOut([&](char **o) { return quorlina_note_create(r, ts, nullptr, "hot", o); }).first;
                    else if (what == 1) code = withOut([&](char **o) { return quorlina_note_read(r, key.c_str(), o); }).first;
                    else code = quorlina_note_delete(r, key.c_str());
                    break;
                }
            }
            int other = what == 0 ? 2 : 3;
            if (code != 0 && code != other)
                fail(std::string("shared key op ") + std::to_string(what) + " on " + qrel::familyName(fam) + " returned " +
                     std::to_string(code));
        }
    }
    // Our own items, checked while the other workers may still run.
    for (const Item &it : items) {
        auto [code, content] = readContent(root, it);
        if (it.alive && (code != 0 || content != expectedContent(id, it)))
            fail("lost " + it.key + ": read returned " + std::to_string(code));
        if (!it.alive && code != 3) fail("deleted " + it.key + " still reads: " + std::to_string(code));
    }
    return rep;
}

// A report as text lines, for worker processes.
std::string serialize(const Report &rep) {
    std::ostringstream os;
    os << "ops " << rep.ops << " " << rep.creates << "\n";
    for (const auto &f : rep.failures) os << "fail " << f << "\n";
    for (const auto &it : rep.items)
        os << "item " << static_cast<int>(it.family) << " " << it.key << " " << it.version << " " << it.alive << " "
           << it.ext << "\n";
    return os.str();
}

Report parse(const std::string &text) {
    Report rep;
    std::istringstream is(text);
    std::string line;
    while (std::getline(is, line)) {
        std::istringstream ls(line);
        std::string tag;
        ls >> tag;
        if (tag == "ops") {
            ls >> rep.ops >> rep.creates;
        } else if (tag == "fail") {
            rep.failures.push_back(line.substr(5));
        } else if (tag == "item") {
            Item it;
            int fam = 0;
            ls >> fam >> it.key >> it.version >> it.alive >> it.ext;
            it.family = static_cast<Family>(fam);
            rep.items.push_back(it);
        }
    }
    return rep;
}

std::string g_self;  // path of this executable

// Starts `this --worker root id ops seed` with its stdout on a pipe.
struct Child {
    pid_t pid;
    int fd;
};

Child spawnWorker(const std::string &root, int id, int ops, unsigned seed, int startFd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return {-1, -1};
    pid_t pid = ::fork();
    if (pid == 0) {
        // Only stdout and the gate's read end survive the exec: a worker
        // holding the gate's write end would never see it close.
        ::dup2(fds[1], STDOUT_FILENO);
        if (startFd >= 0) ::fcntl(startFd, F_SETFD, 0);
        std::string sid = std::to_string(id), sops = std::to_string(ops), sseed = std::to_string(seed),
                    sstart = std::to_string(startFd);
        ::execl(g_self.c_str(), g_self.c_str(), "--worker", root.c_str(), sid.c_str(), sops.c_str(), sseed.c_str(),
                sstart.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    return {pid, fds[0]};
}

Report collect(const Child &c) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(c.fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    ::close(c.fd);
    int status = 0;
    ::waitpid(c.pid, &status, 0);
    Report rep = parse(text);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        rep.failures.push_back("worker process exited with status " + std::to_string(status));
    return rep;
}

// Figures of the last run, for docs/reliability.md.
std::atomic<long> g_ops{0}, g_creates{0}, g_checked{0};

// After every worker finished: each item that was created and not deleted
// is there with its last content, each deleted one is gone, and every list
// is valid.
void verifyFinal(const std::string &root, const std::vector<std::pair<int, Report>> &reports) {
    for (const auto &[id, rep] : reports) {
        for (const auto &f : rep.failures) ADD_FAILURE() << f;
        g_ops += rep.ops;
        g_creates += rep.creates;
        for (const Item &it : rep.items) {
            auto [code, content] = readContent(root, it);
            if (it.alive) {
                EXPECT_EQ(code, 0) << "lost " << it.key;
                EXPECT_EQ(content, expectedContent(id, it)) << it.key;
                ++g_checked;
            } else {
                EXPECT_EQ(code, 3) << "deleted " << it.key << " still reads";
            }
        }
    }
    for (auto fam : {Family::Snippets, Family::Posts, Family::Notes}) {
        qrel::Listing l = qrel::listFamily(root, fam);
        EXPECT_EQ(l.code, 0);
        EXPECT_EQ(l.fault, "");
    }
    EXPECT_TRUE(qrel::temporaries(qrel::snapshot(root)).empty());
}

constexpr unsigned kSeed = 20240601;

TEST(Concurrency, ThreadsShareOneSite) {
    qtest::TempSite site;
    qrel::writeFixture(site.root());
    constexpr int kThreads = 6, kOps = 250;
    std::vector<std::pair<int, Report>> reports(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { reports[t] = {t, runWorker(site.root(), t, kOps, kSeed)}; });
    for (auto &th : threads) th.join();
    verifyFinal(site.root(), reports);
}

TEST(Concurrency, ProcessesAndThreadsShareOneSite) {
    qtest::TempSite site;
    qrel::writeFixture(site.root());
    constexpr int kProcesses = 3, kThreads = 2, kOps = 250;
    std::vector<Child> children;
    for (int p = 0; p < kProcesses; ++p) children.push_back(spawnWorker(site.root(), 10 + p, kOps, kSeed, -1));
    std::vector<std::pair<int, Report>> reports(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { reports[t] = {20 + t, runWorker(site.root(), 20 + t, kOps, kSeed)}; });
    for (auto &th : threads) th.join();
    for (int p = 0; p < kProcesses; ++p) {
        ASSERT_GT(children[p].pid, 0);
        reports.emplace_back(10 + p, collect(children[p]));
    }
    verifyFinal(site.root(), reports);
}

// Exactly one of many simultaneous creates of one key succeeds, and the
// stored item is the winner's.
TEST(Concurrency, SimultaneousCreatesOfOneKeyHaveOneWinner) {
    qtest::TempSite site;
    const char *r = site.c_root();
    constexpr int kThreads = 8, kRounds = 15;
    for (int round = 0; round < kRounds; ++round) {
        for (Family fam : {Family::Snippets, Family::Posts, Family::Notes}) {
            std::atomic<int> ready{0};
            std::atomic<bool> go{false};
            std::vector<int> codes(kThreads, -1);
            std::vector<std::thread> threads;
            const std::string slug = "race-" + std::to_string(round);
            const std::int64_t ts = 1700000000 + round;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] {
                    std::string mark = "thread " + std::to_string(t);
                    ++ready;
                    while (!go.load()) std::this_thread::yield();
                    codes[t] = withOut([&](char **o) {
                                   switch (fam) {
                                       case Family::Snippets:
                                           return quorlina_snippet_create(r, ts, mark.c_str(), "x", "a.py", o);
                                       case Family::Posts:
                                           return quorlina_post_create(r, slug.c_str(), "T", mark.c_str(), nullptr,
                                                                       "2024-02-02", o);
                                       case Family::Notes: return quorlina_note_create(r, ts, nullptr, mark.c_str(), o);
                                   }
                                   return -1;
                               }).first;
                });
            }
            while (ready.load() < kThreads) std::this_thread::yield();
            go = true;
            for (auto &th : threads) th.join();
            int winners = 0, winner = -1;
            for (int t = 0; t < kThreads; ++t) {
                if (codes[t] == 0) {
                    ++winners;
                    winner = t;
                } else {
                    EXPECT_EQ(codes[t], 2) << qrel::familyName(fam) << " round " << round;
                }
            }
            ASSERT_EQ(winners, 1) << qrel::familyName(fam) << " round " << round;
            Item it{fam, fam == Family::Posts ? slug : std::to_string(ts)};
            std::string mark = "thread " + std::to_string(winner);
            std::pair<int, std::string> got;
            switch (fam) {
                case Family::Snippets:
                    got = withOut([&](char **o) { return quorlina_snippet_read(r, ts, o); });
                    EXPECT_NE(got.second.find("\"description\":\"" + mark + "\""), std::string::npos) << got.second;
                    break;
                case Family::Posts:
                    got = readContent(site.root(), it);
                    EXPECT_EQ(got.second, mark);
                    break;
                case Family::Notes:
                    got = readContent(site.root(), it);
                    EXPECT_EQ(got.second, mark);
                    break;
            }
        }
    }
}

// The same across processes: children wait on a pipe that the parent closes
// to start them all at once.
TEST(Concurrency, SimultaneousCreatesAcrossProcessesHaveOneWinner) {
    qtest::TempSite site;
    constexpr int kProcesses = 4, kRounds = 10;
    for (int round = 0; round < kRounds; ++round) {
        int gate[2];
        ASSERT_EQ(::pipe2(gate, O_CLOEXEC), 0);
        std::vector<Child> children;
        for (int p = 0; p < kProcesses; ++p)
            children.push_back(spawnWorker(site.root(), round, -1 - p, 0, gate[0]));
        ::close(gate[0]);
        ::close(gate[1]);  // start
        int winners = 0;
        for (const Child &c : children) {
            Report rep = collect(c);
            for (const auto &f : rep.failures) ADD_FAILURE() << f;
            winners += static_cast<int>(rep.creates);
        }
        EXPECT_EQ(winners, 3) << "one winner per family in round " << round;
    }
}

// Deleting a post prunes its empty date directories while another post of
// the same date is being created in them: the create must still succeed.
TEST(Concurrency, CreatesAndDeletesOnOneDateNeverFailSpuriously) {
    qtest::TempSite site;
    const char *r = site.c_root();
    constexpr int kThreads = 3, kRounds = 300;
    std::vector<std::string> failures[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::string slug = "same-day-" + std::to_string(t);
            for (int i = 0; i < kRounds && failures[t].size() < 5; ++i) {
                int c = withOut([&](char **o) {
                            return quorlina_post_create(r, slug.c_str(), "T", "D", nullptr, "2024-08-08", o);
                        }).first;
                if (c != 0) failures[t].push_back("create returned " + std::to_string(c));
                int d = quorlina_post_delete(r, slug.c_str());
                if (d != 0) failures[t].push_back("delete returned " + std::to_string(d));
            }
        });
    }
    for (auto &th : threads) th.join();
    for (const auto &f : failures)
        for (const auto &msg : f) ADD_FAILURE() << msg;
    g_ops += kThreads * kRounds * 2;
}

// The race worker: creates the round's snippet, post and note once each,
// after the gate opens. `creates` counts its successes.
Report runRacer(const std::string &root, int round, int racer, int gateFd) {
    char c;
    while (::read(gateFd, &c, 1) > 0) {
    }
    Report rep;
    const char *r = root.c_str();
    std::string mark = "process " + std::to_string(racer);
    std::string slug = "prace-" + std::to_string(round);
    std::int64_t ts = 1710000000 + round;
    int codes[3] = {
        withOut([&](char **o) { return quorlina_snippet_create(r, ts, mark.c_str(), "x", "a.py", o); }).first,
        withOut([&](char **o) { return quorlina_post_create(r, slug.c_str(), "T", mark.c_str(), nullptr, "2024-02-03", o); })
            .first,
        withOut([&](char **o) { return quorlina_note_create(r, ts, nullptr, mark.c_str(), o); }).first,
    };
    for (int code : codes) {
        if (code == 0) ++rep.creates;
        else if (code != 2) rep.failures.push_back(mark + ": create returned " + std::to_string(code));
    }
    return rep;
}

}  // namespace

int main(int argc, char **argv) {
    g_self = argv[0];
    if (argc == 7 && std::strcmp(argv[1], "--worker") == 0) {
        int id = std::atoi(argv[3]), ops = std::atoi(argv[4]), gateFd = std::atoi(argv[6]);
        unsigned seed = static_cast<unsigned>(std::strtoul(argv[5], nullptr, 10));
        Report rep = ops >= 0 ? runWorker(argv[2], id, ops, seed) : runRacer(argv[2], id, -ops, gateFd);
        std::string text = serialize(rep);
        std::fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    std::printf("concurrent operations: %ld (creates %ld); items checked intact afterwards: %ld\n", g_ops.load(),
                g_creates.load(), g_checked.load());
    return rc;
}
