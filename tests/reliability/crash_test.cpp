// Crash safety: a child process loops over updates and creates of snippets,
// posts and notes; the parent kills it with SIGKILL at random moments,
// hundreds of times. After every kill:
//   - every item holds exactly the content of one complete write: the last
//     one the child reported as done, or the one it was in the middle of;
//     never a torn mix, never an older one;
//   - every create the child reported is there, complete;
//   - every family lists, as valid JSON, and temporary files left by the
//     killed child are never listed; the next write in their directory
//     removes them, so at the end, after one write in every directory,
//     none is left.
// The random moments come from a fixed seed, printed at the start; set
// QUORLINA_CRASH_SEED to repeat a run and QUORLINA_CRASH_KILLS to change
// the number of kills.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "reliability_support.hpp"

namespace {

using qrel::Family;

constexpr int kItems = 3;  // items of each family that the child keeps updating

std::string snippetKey(int i) { return std::to_string(1700000000 + i); }
std::string postKey(int i) { return "crash-" + std::to_string(i); }
std::string noteKey(int i) { return "note-" + std::to_string(i); }
std::string postBody(const std::string &key) {
    std::string body = "Body of " + key + "\n";
    while (body.size() < 20000) body += "The quick brown fox jumps over the lazy dog. " + key + "\n";
    return body;
}

// The content written at generation `gen`: its size and bytes both depend on
// `gen`, so a mix of two generations or a cut-off write never matches.
std::string payload(const std::string &key, long gen) {
    std::string out = "key=" + key + " gen=" + std::to_string(gen) + "\n";
    std::size_t size = 12000 + static_cast<std::size_t>(gen % 7919);
    char c = static_cast<char>('a' + gen % 26);
    while (out.size() < size) {
        out.push_back(c);
        if (out.size() % 64 == 0) out.push_back('\n');
    }
    return out;
}

// The child: runs until killed, reporting each completed write on `fd` as
// "U <family> <index> <gen>" or "C <family> <gen>".
[[noreturn]] void childLoop(const std::string &root, long genBase, int fd, unsigned seed) {
    std::mt19937 rng(seed);
    const char *r = root.c_str();
    auto report = [&](const std::string &line) {
        std::string l = line + "\n";
        if (::write(fd, l.data(), l.size()) < 0) ::_exit(2);
    };
    for (long n = 1;; ++n) {
        long gen = genBase + n;
        int fam = static_cast<int>(rng() % 3);
        int i = static_cast<int>(rng() % kItems);
        bool create = rng() % 4 == 0;
        int code = 0;
        char *out = nullptr;
        std::string key;
        switch (fam) {
            case 0:
                if (create) {
                    key = std::to_string(1800000000 + gen);
                    code = quorlina_snippet_create(r, 1800000000 + gen, "created", payload(key, gen).c_str(), "c.txt", &out);
                } else {
                    key = snippetKey(i);
                    std::string desc = "gen " + std::to_string(gen);
                    code = quorlina_snippet_update(r, 1700000000 + i, desc.c_str(), payload(key, gen).c_str(), nullptr);
                }
                break;
            case 1:
                if (create) {
                    key = "c" + std::to_string(gen);
                    std::string desc = "gen " + std::to_string(gen);
                    code = quorlina_post_create(r, key.c_str(), "Created", desc.c_str(), "x", "2024-07-07", &out);
                } else {
                    key = postKey(i);
                    std::string desc = "gen " + std::to_string(gen);
                    code = quorlina_post_update(r, key.c_str(), nullptr, desc.c_str(), nullptr, nullptr, nullptr);
                }
                break;
            default:
                if (create) {
                    key = std::to_string(1810000000 + gen);
                    code = quorlina_note_create(r, 1810000000 + gen, nullptr, payload(key, gen).c_str(), &out);
                } else {
                    key = noteKey(i);
                    code = quorlina_note_update(r, key.c_str(), nullptr, 0, payload(key, gen).c_str());
                }
                break;
        }
        quorlina_free(out);
        if (code != 0) {
            report("E " + std::to_string(fam) + " " + key + " " + std::to_string(code));
            continue;
        }
        report(std::string(create ? "C " : "U ") + std::to_string(fam) + " " + std::to_string(create ? 0 : i) + " " +
               std::to_string(gen));
    }
}

struct Call {
    int code;
    qjson::Value v;
    std::string fault;
};

template <class Fn>
Call readRecord(qjson::Record kind, Fn &&fn) {
    char *out = nullptr;
    Call c{fn(&out), {}, {}};
    if ((c.code == 0) != (out != nullptr)) c.fault = "out-parameter does not match the code";
    if (out && c.fault.empty()) c.fault = qjson::checkRecordText(out, kind, &c.v);
    quorlina_free(out);
    return c;
}

// The generation an item's stored content belongs to, or -1 when the
// content is not exactly one generation's.
long generationOf(Family fam, const std::string &key, const qjson::Value &v, std::string &why) {
    auto genFromDescription = [&](const std::string &d) -> long {
        if (d.rfind("gen ", 0) != 0) return -1;
        return std::atol(d.c_str() + 4);
    };
    switch (fam) {
        case Family::Snippets: {
            long gen = genFromDescription(v.get("description")->text);
            if (gen < 0) return gen;  // the setup's content
            if (v.get("code")->text != "\n" + payload(key, gen)) {
                why = "code is not generation " + std::to_string(gen);
                return -2;
            }
            return gen;
        }
        case Family::Posts: {
            long gen = genFromDescription(v.get("description")->text);
            if (v.get("content")->text != postBody(key)) {
                why = "body changed";
                return -2;
            }
            return gen;
        }
        case Family::Notes: {
            const std::string &c = v.get("content")->text;
            std::string prefix = "key=" + key + " gen=";
            if (c.rfind(prefix, 0) != 0) return c == "initial" ? -1 : -2;
            long gen = std::atol(c.c_str() + prefix.size());
            if (c != payload(key, gen)) {
                why = "content is not generation " + std::to_string(gen);
                return -2;
            }
            return gen;
        }
    }
    return -2;
}

TEST(CrashSafety, KilledWritersNeverLeaveATornFile) {
    unsigned seed = 12345;
    if (const char *s = std::getenv("QUORLINA_CRASH_SEED")) seed = static_cast<unsigned>(std::strtoul(s, nullptr, 10));
    // Sanitizer builds fork and check several times slower; they get fewer
    // kills so that the test stays well under a minute.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    int kills = 200;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    int kills = 200;
#else
    int kills = 300;
#endif
#else
    int kills = 300;
#endif
    if (const char *k = std::getenv("QUORLINA_CRASH_KILLS")) kills = std::atoi(k);
    std::printf("crash test seed %u, %d kills\n", seed, kills);
    std::mt19937 rng(seed);

    qtest::TempSite site;
    const std::string &root = site.root();
    const char *r = root.c_str();
    for (int i = 0; i < kItems; ++i) {
        qtest::writeFile(root + "/content/snippets/" + snippetKey(i) + ".txt",
                         "+++\ndescription = \"initial\"\n+++\n\ninitial");
        qtest::writeFile(root + "/content/blog/2024/05/0" + std::to_string(i + 1) + "/" + postKey(i) + ".md",
                         "+++\ntitle = \"T\"\ndescription = \"initial\"\n+++\n" + postBody(postKey(i)));
        qtest::writeFile(root + "/content/notes/" + std::to_string(1750000000 + i) + ".md",
                         "+++\nslug = \"" + noteKey(i) + "\"\n+++\n\ninitial");
    }

    // The last generation the child reported for each updated item.
    std::map<std::pair<int, int>, long> committed;
    long writes = 0, inFlightSeen = 0, createsChecked = 0;
    const auto started = std::chrono::steady_clock::now();

    for (int kill = 0; kill < kills; ++kill) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const long genBase = static_cast<long>(kill + 1) * 100000L;
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            childLoop(root, genBase, fds[1], seed + static_cast<unsigned>(kill));
        }
        ::close(fds[1]);
        // Let it run for a random time, up to ~12 ms, then kill it.
        timespec ts{0, static_cast<long>(rng() % 12000) * 1000L};
        ::nanosleep(&ts, nullptr);
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child ended on its own: " << status;

        std::string reports;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) reports.append(buf, static_cast<std::size_t>(n));
        ::close(fds[0]);

        std::vector<std::pair<Family, long>> created;
        std::istringstream is(reports);
        std::string line;
        while (std::getline(is, line)) {
            std::istringstream ls(line);
            std::string tag;
            int fam = 0;
            ls >> tag >> fam;
            if (tag == "E") {
                ADD_FAILURE() << "the child's call failed: " << line;
            } else if (tag == "U") {
                int i = 0;
                long gen = 0;
                ls >> i >> gen;
                committed[{fam, i}] = gen;
                ++writes;
            } else if (tag == "C") {
                int ignored = 0;
                long gen = 0;
                ls >> ignored >> gen;
                created.emplace_back(static_cast<Family>(fam), gen);
                ++writes;
            }
        }

        SCOPED_TRACE("kill " + std::to_string(kill) + " of " + std::to_string(kills) + ", seed " + std::to_string(seed));
        // Updated items: exactly the last reported generation, or the one
        // the child was writing when it died.
        for (int i = 0; i < kItems; ++i) {
            for (Family fam : {Family::Snippets, Family::Posts, Family::Notes}) {
                std::string key = fam == Family::Snippets ? snippetKey(i) : fam == Family::Posts ? postKey(i) : noteKey(i);
                Call c = fam == Family::Snippets
                             ? readRecord(qjson::Record::Snippet,
                                          [&](char **o) { return quorlina_snippet_read(r, 1700000000 + i, o); })
                         : fam == Family::Posts
                             ? readRecord(qjson::Record::PostFull, [&](char **o) { return quorlina_post_read(r, key.c_str(), o); })
                             : readRecord(qjson::Record::NoteFull, [&](char **o) { return quorlina_note_read(r, key.c_str(), o); });
                ASSERT_EQ(c.code, 0) << key;
                ASSERT_EQ(c.fault, "") << key;
                std::string why;
                long gen = generationOf(fam, key, c.v, why);
                ASSERT_NE(gen, -2) << key << ": torn content: " << why;
                auto it = committed.find({static_cast<int>(fam), i});
                long last = it == committed.end() ? -1 : it->second;
                ASSERT_TRUE(gen == last || gen > genBase) << key << " holds generation " << gen << ", last done " << last;
                if (gen != last) {
                    ++inFlightSeen;
                    committed[{static_cast<int>(fam), i}] = gen;
                }
            }
        }

        // Every family lists; created items (reported or in flight) are
        // complete; temporaries never show.
        for (Family fam : {Family::Snippets, Family::Posts, Family::Notes}) {
            qrel::Listing l = qrel::listFamily(root, fam);
            ASSERT_EQ(l.code, 0) << qrel::familyName(fam);
            ASSERT_EQ(l.fault, "");
            for (const auto &item : l.value.items) {
                const std::string &id = item.get(fam == Family::Posts ? "slug" : "id")->text;
                ASSERT_EQ(id.find(".quorlina-tmp"), std::string::npos) << "a temporary is listed";
                long gen = -1;
                const long number = std::atol(id.c_str());
                if (fam == Family::Snippets && number >= 1800000000L) gen = number - 1800000000L;
                if (fam == Family::Notes && number >= 1810000000L) gen = number - 1810000000L;
                if (fam == Family::Posts && id[0] == 'c' && id.rfind("crash-", 0) != 0) gen = std::atol(id.c_str() + 1);
                if (gen < 0) continue;
                if (fam == Family::Snippets) {
                    ASSERT_EQ(item.get("code")->text, "\n" + payload(id, gen)) << "created snippet " << id << " is torn";
                    ASSERT_EQ(quorlina_snippet_delete(r, 1800000000 + gen), 0);
                } else if (fam == Family::Notes) {
                    Call c = readRecord(qjson::Record::NoteFull, [&](char **o) { return quorlina_note_read(r, id.c_str(), o); });
                    ASSERT_EQ(c.code, 0);
                    ASSERT_EQ(c.v.get("content")->text, payload(id, gen)) << "created note " << id << " is torn";
                    ASSERT_EQ(quorlina_note_delete(r, id.c_str()), 0);
                } else {
                    Call c = readRecord(qjson::Record::PostFull, [&](char **o) { return quorlina_post_read(r, id.c_str(), o); });
                    ASSERT_EQ(c.code, 0);
                    ASSERT_EQ(c.v.get("description")->text, "gen " + std::to_string(gen)) << "created post " << id;
                    ASSERT_EQ(quorlina_post_delete(r, id.c_str()), 0);
                }
                ++createsChecked;
                for (auto &cr : created)
                    if (cr.first == fam && cr.second == gen) cr.second = -1;
            }
        }
        for (const auto &cr : created) ASSERT_EQ(cr.second, -1) << "a reported create is missing";
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // Temporaries of the killed writers that no later write has met yet;
    // one write in every directory removes them.
    const std::size_t temps = qrel::temporaries(qrel::snapshot(root)).size();
    for (int i = 0; i < kItems; ++i) {
        EXPECT_EQ(quorlina_snippet_update(r, 1700000000 + i, "final", nullptr, nullptr), 0);
        EXPECT_EQ(quorlina_post_update(r, postKey(i).c_str(), nullptr, "final", nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(quorlina_note_update(r, noteKey(i).c_str(), nullptr, 0, "final"), 0);
    }
    char *out = nullptr;
    ASSERT_EQ(quorlina_post_create(r, "final", "T", "D", nullptr, "2024-07-07", &out), 0);
    quorlina_free(out);
    ASSERT_EQ(quorlina_post_delete(r, "final"), 0);
    const auto left = qrel::temporaries(qrel::snapshot(root));
    EXPECT_TRUE(left.empty()) << left.size() << " temporaries left, the first " << left[0];
    std::printf("crash test: %d kills, %ld completed writes, %ld writes found done at the kill, %ld creates checked, "
                "%zu temporaries of killed writers not yet met by a later write, %zu after one write in each "
                "directory, %.1f s; no torn file\n",
                kills, writes, inFlightSeen, createsChecked, temps, left.size(), seconds);
}

// A snippet update that changes the extension, killed at random moments:
// the child switches one snippet between two extensions as fast as it can.
// After every kill exactly one file answers to the timestamp (temporaries
// aside), and it holds one complete generation's content.
TEST(CrashSafety, KilledRenamesLeaveOneFilePerTimestamp) {
    unsigned seed = 4242;
    if (const char *s = std::getenv("QUORLINA_CRASH_SEED")) seed = static_cast<unsigned>(std::strtoul(s, nullptr, 10));
    int kills = 200;
    if (const char *k = std::getenv("QUORLINA_CRASH_KILLS")) kills = std::max(200, std::atoi(k));
    std::mt19937 rng(seed);
    qtest::TempSite site;
    const std::string &root = site.root();
    const char *r = root.c_str();
    const std::string dir = root + "/content/snippets";
    const std::string key = "1700000000";
    qtest::writeFile(dir + "/" + key + ".a", "+++\ndescription = \"initial\"\nfilename = \"x.a\"\n+++\n\ninitial");

    long twoFileStates = 0, updates = 0;
    for (int kill = 0; kill < kills; ++kill) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            for (long gen = static_cast<long>(kill + 1) * 100000L;; ++gen) {
                const std::string desc = "gen " + std::to_string(gen);
                const std::string name = gen % 2 ? "x.b" : "x.a";
                if (quorlina_snippet_update(r, 1700000000, desc.c_str(), payload(key, gen).c_str(), name.c_str()) != 0)
                    ::_exit(3);
                if (::write(fds[1], "u", 1) < 0) ::_exit(2);
            }
        }
        ::close(fds[1]);
        timespec ts{0, static_cast<long>(rng() % 4000) * 1000L};
        ::nanosleep(&ts, nullptr);
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "child ended on its own: " << status;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fds[0], buf, sizeof buf)) > 0) updates += n;
        ::close(fds[0]);

        std::vector<std::string> files;
        for (const auto &name : qtest::listDir(dir))
            if (name.rfind(key + ".", 0) == 0) files.push_back(name);
        ASSERT_FALSE(files.empty()) << "kill " << kill << ": the snippet is gone";
        if (files.size() > 1) {
            ++twoFileStates;
            // Back to one file, so that the next round starts from a sound state.
            for (std::size_t i = 1; i < files.size(); ++i) ::unlink((dir + "/" + files[i]).c_str());
        }
        Call c = readRecord(qjson::Record::Snippet, [&](char **o) { return quorlina_snippet_read(r, 1700000000, o); });
        ASSERT_EQ(c.code, 0) << "kill " << kill;
        std::string why;
        ASSERT_NE(generationOf(Family::Snippets, key, c.v, why), -2) << "kill " << kill << ": torn content: " << why;
    }
    std::printf("crash test (renames): %d kills, %ld completed updates, %ld states with two files for one "
                "timestamp\n",
                kills, updates, twoFileStates);
    EXPECT_EQ(twoFileStates, 0);
}

}  // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
