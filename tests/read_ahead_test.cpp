// Reading files one after another (FileReader) and ahead of their turn in a
// cold page cache. A cold cache is made on a warm one through the fault
// seam: every read that must not wait for the disk is answered EAGAIN, so
// each scan opens its files ahead with a hint to fetch them. Every list,
// read and failure must then be what it is in a warm cache, byte for byte
// and code for code, and the read-ahead must be seen to happen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "core/dated_scan.hpp"
#include "core/platform.hpp"
#include "quorlina/quorlina.h"
#include "support/test_support.hpp"

using qtest::callText;
using qtest::TempSite;
using quorlina::Status;
using quorlina::platform::FileReader;
using quorlina::platform::fault::Op;

namespace {

// What the seam answers to the probing read, and what it saw.
struct Seam {
    int probeAnswer = 0;  // 0: the read is made
    // When set, only the probes numbered 1, 2, ... for which it is true are
    // answered probeAnswer: the scattered misses of a mostly warm cache.
    bool (*misses)(long probe) = nullptr;
    long probes = 0, advice = 0, opens = 0;
    std::string unlinkAtOpen;  // removed when the open numbered `unlinkAt` comes
    long unlinkAt = 0;
    long failOpenAt = 0;  // the open of that number fails with `failErr`
    int failErr = 0;
};
Seam g_seam;

int hook(Op op) {
    if (op == Op::ReadNoWait) {
        ++g_seam.probes;
        if (g_seam.misses && !g_seam.misses(g_seam.probes)) return 0;
        return g_seam.probeAnswer;
    }
    if (op == Op::Advise) ++g_seam.advice;
    if (op == Op::Open) {
        ++g_seam.opens;
        if (g_seam.opens == g_seam.unlinkAt) ::unlink(g_seam.unlinkAtOpen.c_str());
        if (g_seam.opens == g_seam.failOpenAt) return g_seam.failErr;
    }
    return 0;
}

// Installs the hook for a scope, answering `probeAnswer` to every probe.
class SeamScope {
public:
    explicit SeamScope(int probeAnswer) {
        g_seam = Seam{};
        g_seam.probeAnswer = probeAnswer;
        quorlina::platform::fault::setHook(hook);
    }
    ~SeamScope() { quorlina::platform::fault::setHook(nullptr); }
    SeamScope(const SeamScope &) = delete;
    SeamScope &operator=(const SeamScope &) = delete;
};

qtest::TextResult listOf(const std::string &family, const TempSite &site) {
    return callText([&](char **out) {
        if (family == "snippet") return quorlina_snippet_list(site.c_root(), out);
        if (family == "post") return quorlina_post_list(site.c_root(), out);
        return quorlina_note_list(site.c_root(), out);
    });
}

// A site with `n` items per family: more than the read-ahead window, some
// larger than the reader's first buffer and some with front matter past
// the first head read.
void writeSite(const TempSite &site, int n) {
    for (int i = 0; i < n; ++i) {
        const std::string k = std::to_string(i);
        const std::string big = i % 37 == 0 ? std::string(70000, 'c') : std::string(static_cast<std::size_t>(i % 500), 'c');
        qtest::writeFile(site.path("content/snippets/" + std::to_string(1600000000 + i * 3607) + ".py"),
                         "+++\ndescription = \"d " + k + "\"\n+++\n\n\"code\"\t" + k + "\n" + big);
        char day[32];
        std::snprintf(day, sizeof day, "20%02d/%02d/%02d", 15 + i % 9, 1 + i % 12, 1 + i % 28);
        const std::string longKey = i % 29 == 0 ? "# " + std::string(20000, 'x') + "\n" : "";
        qtest::writeFile(site.path("content/blog/" + std::string(day) + "/p" + k + ".md"),
                         "+++\ntitle = \"T " + k + "\"\ndescription = \"D\"\n" + longKey + "tags = [\"a\"]\n+++\n\nbody " + big);
        qtest::writeFile(site.path("content/notes/" + std::to_string(1600000000 + i * 7211) + ".md"),
                         i % 2 ? "+++\n" + longKey + "slug = \"n" + k + "\"\n+++\n\nnote" : "plain " + big);
    }
}

const char *const kFamilies[] = {"snippet", "post", "note"};

// Whether this system has a read that does not wait for the disk: without
// one the reader never finds the cache cold, and nothing is read ahead.
bool systemProbesTheCache() {
    TempSite site;
    qtest::writeFile(site.path("f"), "x");
    auto dir = quorlina::platform::Dir::open(site.path(""));
    if (!dir.ok()) return false;
    SeamScope scope(0);
    FileReader reader;
    (void)reader.read(*dir, "f");
    return g_seam.probes > 0;
}

#define SKIP_WITHOUT_PROBE()                                                                        \
    if (!systemProbesTheCache())                                                                    \
    GTEST_SKIP() << "this system has no read that does not wait for the disk; nothing is read ahead"

}  // namespace

TEST(ReadAhead, ColdListsAndReadsAreTheWarmOnes) {
    SKIP_WITHOUT_PROBE();
    TempSite site;
    writeSite(site, 400);
    for (const char *family : kFamilies) {
        SCOPED_TRACE(family);
        auto warm = listOf(family, site);
        ASSERT_EQ(warm.code, 0);
        {
            SeamScope cold(EAGAIN);
            auto list = listOf(family, site);
            EXPECT_EQ(list.code, 0);
            EXPECT_EQ(list.text, warm.text);
            EXPECT_GT(g_seam.advice, 300) << "the files were not read ahead";
        }
        {
            // Without the probing read, nothing is read ahead and the probe
            // is asked for once.
            SeamScope unsupported(EOPNOTSUPP);
            auto list = listOf(family, site);
            EXPECT_EQ(list.text, warm.text);
            EXPECT_EQ(g_seam.probes, 1);
            EXPECT_EQ(g_seam.advice, 0);
        }
        {
            // A warm cache makes no call beyond the reads themselves.
            SeamScope warmAgain(0);
            auto list = listOf(family, site);
            EXPECT_EQ(list.text, warm.text);
            EXPECT_EQ(g_seam.advice, 0);
        }
    }
    auto reads = [&] {
        std::vector<qtest::TextResult> out;
        out.push_back(callText([&](char **o) { return quorlina_snippet_read(site.c_root(), 1600000000 + 7 * 3607, o); }));
        out.push_back(callText([&](char **o) { return quorlina_post_read(site.c_root(), "p123", o); }));
        out.push_back(callText([&](char **o) { return quorlina_note_read(site.c_root(), "n201", o); }));
        return out;
    };
    auto warmReads = reads();
    SeamScope cold(EAGAIN);
    auto coldReads = reads();
    for (std::size_t i = 0; i < warmReads.size(); ++i) {
        EXPECT_EQ(warmReads[i].code, 0) << i;
        EXPECT_EQ(coldReads[i].code, warmReads[i].code) << i;
        EXPECT_EQ(coldReads[i].text, warmReads[i].text) << i;
    }
}

// A mostly warm cache, whose misses are scattered or come in short runs
// (a system that reclaims idle pages evicts some files now and then), is
// read file by file: nothing is advised, and each miss is read in its turn.
// A quarter of misses in a row of files makes the scan read ahead.
TEST(ReadAhead, ScatteredMissesDoNotMakeTheScanReadAhead) {
    SKIP_WITHOUT_PROBE();
    TempSite site;
    writeSite(site, 400);
    struct Case {
        const char *what;
        bool (*misses)(long probe);
        bool readsAhead;
    };
    const Case cases[] = {
        {"every tenth file", [](long p) { return p % 10 == 0; }, false},
        {"runs of eight in every 64", [](long p) { return p % 64 < 8; }, false},
        {"fifteen in every 64", [](long p) { return p % 64 < 15; }, false},
        {"sixteen in every 64", [](long p) { return p % 64 < 16; }, true},
        {"every other file", [](long p) { return p % 2 == 0; }, true},
    };
    for (const char *family : kFamilies) {
        auto warm = listOf(family, site);
        ASSERT_EQ(warm.code, 0);
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(family) + ": " + c.what);
            SeamScope scope(EAGAIN);
            g_seam.misses = c.misses;
            auto list = listOf(family, site);
            EXPECT_EQ(list.code, 0);
            EXPECT_EQ(list.text, warm.text);
            if (c.readsAhead) {
                EXPECT_GT(g_seam.advice, 200);
            } else {
                EXPECT_EQ(g_seam.advice, 0);
                EXPECT_GE(g_seam.probes, 400);
            }
        }
    }
}

// Once the reader finds the cache cold, the scan first asks for the
// metadata of every entry still to come, once each and in the order of
// their inode numbers; a warm scan asks for none. The inode numbers travel
// with their entries through the sort.
TEST(ReadAhead, AColdScanFetchesTheRestInInodeOrder) {
    SKIP_WITHOUT_PROBE();
    TempSite site;
    for (int i = 0; i < FileReader::kColdEvidence; ++i) qtest::writeFile(site.path("f" + std::to_string(i)), "x");
    auto dir = quorlina::platform::Dir::open(site.path(""));
    ASSERT_TRUE(dir.ok());
    // 300 entries, dates in a scrambled order, inode numbers in another.
    const std::uint32_t n = 300;
    quorlina::DatedEntries entries;
    for (std::uint32_t i = 0; i < n; ++i) {
        char key[16];
        std::snprintf(key, sizeof key, "20%02u-%02u-01", 10 + (i * 7) % 89 / 10, 1 + (i * 7) % 12);
        ASSERT_TRUE(entries.add(key, "e" + std::to_string(i), 1000 + (i * 113) % n));
    }
    entries.sortNewestFirst();
    for (std::uint32_t at = 0; at < n; ++at)
        EXPECT_EQ(entries.ino(at), 1000 + (entries.addedAt(at) * 113) % n) << "place " << at;

    for (bool cold : {false, true}) {
        SCOPED_TRACE(cold ? "cold" : "warm");
        SeamScope scope(cold ? EAGAIN : 0);
        FileReader reader;
        const std::uint32_t loadedFirst = 5;  // loads before the reader turns cold
        std::uint32_t loads = 0;
        std::vector<std::uint32_t> fetched;
        std::uint32_t fetchedBeforeLoad = 0;
        Status st = quorlina::loadInOrder(
            entries, reader, [&](std::uint32_t i) { fetched.push_back(i); }, [](std::uint32_t) {},
            [&](std::uint32_t) -> Status {
                if (++loads == loadedFirst) {
                    for (int i = 0; i < FileReader::kColdEvidence; ++i) (void)reader.read(*dir, "f" + std::to_string(i));
                }
                if (loads == loadedFirst + 1) fetchedBeforeLoad = static_cast<std::uint32_t>(fetched.size());
                return {};
            },
            [](std::uint32_t) {});
        ASSERT_TRUE(st.ok());
        EXPECT_EQ(loads, n);
        if (!cold) {
            EXPECT_TRUE(fetched.empty());
            continue;
        }
        // Every entry after the ones loaded warm, each once, before the next load.
        ASSERT_EQ(fetched.size(), n - loadedFirst - 1);
        EXPECT_EQ(fetchedBeforeLoad, fetched.size());
        std::vector<std::uint32_t> places = fetched;
        std::sort(places.begin(), places.end());
        for (std::uint32_t k = 0; k < places.size(); ++k) EXPECT_EQ(places[k], loadedFirst + 1 + k);
        for (std::size_t k = 1; k < fetched.size(); ++k)
            EXPECT_LT(entries.ino(fetched[k - 1]), entries.ino(fetched[k])) << "fetch " << k;
    }
}

TEST(ReadAhead, ABrokenFileInTheWindowFailsAsInAWarmCache) {
    SKIP_WITHOUT_PROBE();
    TempSite site;
    writeSite(site, 300);
    // Broken files at places the window reaches long before their turn.
    qtest::writeFile(site.path("content/snippets/1600361000.py"), "no front matter");
    qtest::writeFile(site.path("content/blog/2016/05/05/broken.md"), "+++\ntitle = \"x\"\n");
    qtest::writeFile(site.path("content/notes/1600721100.md"), "+++\nslug = \"bad slug\"\n+++\n");
    for (const char *family : kFamilies) {
        SCOPED_TRACE(family);
        auto warm = listOf(family, site);
        EXPECT_NE(warm.code, 0);
        SeamScope cold(EAGAIN);
        auto list = listOf(family, site);
        EXPECT_EQ(list.code, warm.code);
        EXPECT_EQ(list.text, "");
        EXPECT_GT(g_seam.advice, 0);
    }
}

TEST(ReadAhead, AFileRemovedWhileOthersAreOpenAheadIsPassedOver) {
    SKIP_WITHOUT_PROBE();
    TempSite site;
    writeSite(site, 300);
    for (const char *family : kFamilies) {
        SCOPED_TRACE(family);
        const std::string victim = std::string(family) == "snippet"
                                       ? site.path("content/snippets/" + std::to_string(1600000000 + 150 * 3607) + ".py")
                                   : std::string(family) == "post" ? site.path("content/blog/2021/07/11/p150.md")
                                                                   : site.path("content/notes/" + std::to_string(1600000000 + 150 * 7211) + ".md");
        ASSERT_TRUE(qtest::readFile(victim).has_value()) << victim;
        const std::string saved = *qtest::readFile(victim);
        auto before = listOf(family, site);
        ::unlink(victim.c_str());
        auto without = listOf(family, site);
        qtest::writeFile(victim, saved);
        ASSERT_EQ(before.code, 0);
        ASSERT_EQ(without.code, 0);
        ASSERT_NE(before.text, without.text);
        // Removed at every tenth open of a cold list in turn: the list is
        // either the one with it or the one without it.
        for (long at = 2; at < 330; at += 10) {
            qtest::writeFile(victim, saved);
            SeamScope cold(EAGAIN);
            g_seam.unlinkAtOpen = victim;
            g_seam.unlinkAt = at;
            auto list = listOf(family, site);
            EXPECT_EQ(list.code, 0) << "removed at open " << at;
            EXPECT_TRUE(list.text == before.text || list.text == without.text) << "removed at open " << at;
        }
        qtest::writeFile(victim, saved);
    }
}

TEST(ReadAhead, AFileThatCannotBeOpenedAheadIsOpenedInItsTurn) {
    SKIP_WITHOUT_PROBE();
    TempSite site;
    writeSite(site, 300);
    // The families of one directory: after the directory and the files read
    // in turn until the cache counts as cold, every open is one ahead of its
    // turn (the post walk opens directories among them, which fail as they
    // should).
    for (const char *family : {"snippet", "note"}) {
        SCOPED_TRACE(family);
        auto warm = listOf(family, site);
        ASSERT_EQ(warm.code, 0);
        // One open fails; out of descriptors, the window shrinks too.
        for (int err : {EACCES, EMFILE}) {
            for (long at = FileReader::kColdEvidence + 3; at < 320; at += 23) {
                SeamScope cold(EAGAIN);
                g_seam.failOpenAt = at;
                g_seam.failErr = err;
                auto list = listOf(family, site);
                EXPECT_EQ(list.code, 0) << "open " << at << " failed with " << err;
                EXPECT_EQ(list.text, warm.text) << "open " << at << " failed with " << err;
            }
        }
    }
}

// The reader on its own: what counts as a file, where a read ends, and how
// the size limit holds, warm and cold.
TEST(FileReaderTest, RegularFilesOnlyAndEveryBufferEdge) {
    TempSite site;
    const std::string dir = site.path("d");
    qtest::makeParents(dir + "/x");
    struct Case {
        std::string name;
        std::size_t size;
    };
    std::vector<Case> cases = {{"empty", 0},        {"one", 1},           {"page", 4096},
                               {"page2", 8192},     {"head", 16 * 1024},  {"head1", 16 * 1024 + 1},
                               {"buffer", 65536},   {"buffer1", 65537},   {"large", 300000}};
    for (auto &c : cases) {
        std::string bytes(c.size, 'x');
        for (std::size_t i = 0; i < bytes.size(); i += 97) bytes[i] = static_cast<char>('a' + i % 26);
        qtest::writeFile(dir + "/" + c.name, bytes);
    }
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0666), 0);
    ASSERT_EQ(::mkdir((dir + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("one", (dir + "/link").c_str()), 0);
    const bool devices = ::mknod((dir + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;

    auto opened = quorlina::platform::Dir::open(dir);
    ASSERT_TRUE(opened.ok());
    for (int probe : {0, EAGAIN, EOPNOTSUPP}) {
        SCOPED_TRACE("probe answer " + std::to_string(probe));
        SeamScope scope(probe);
        FileReader reader;
        for (const auto &c : cases) {
            auto whole = reader.read(*opened, c.name);
            ASSERT_TRUE(whole.ok()) << c.name;
            EXPECT_EQ(std::string(*whole), *qtest::readFile(dir + "/" + c.name)) << c.name;
            // A head read stops once settled: here at the first byte read.
            auto head = reader.read(*opened, c.name, [](std::string_view h) { return !h.empty(); });
            ASSERT_TRUE(head.ok()) << c.name;
            EXPECT_EQ(head->size(), std::min<std::size_t>(c.size, 16 * 1024)) << c.name;
            // The size limit holds for both, even when a head read stops early.
            if (c.size > 1) {
                auto limited = reader.read(*opened, c.name, nullptr, FileReader::kNoTag, c.size - 1);
                EXPECT_FALSE(limited.ok()) << c.name;
                if (!limited.ok()) {
                    EXPECT_EQ(limited.error(), quorlina::Error::FileTooBig) << c.name;
                }
                auto limitedHead = reader.read(*opened, c.name, [](std::string_view) { return true; },
                                               FileReader::kNoTag, c.size - 1);
                EXPECT_FALSE(limitedHead.ok()) << c.name;
            }
            auto exact = reader.read(*opened, c.name, nullptr, FileReader::kNoTag, c.size);
            EXPECT_TRUE(exact.ok()) << c.name;
        }
        EXPECT_EQ(reader.read(*opened, "fifo").error(), quorlina::Error::NotRegularFile);
        EXPECT_EQ(reader.read(*opened, "sub").error(), quorlina::Error::IsDir);
        EXPECT_EQ(reader.read(*opened, "link").error(), quorlina::Error::SymLinkLoop);
        EXPECT_EQ(reader.read(*opened, "missing").error(), quorlina::Error::FileNotFound);
        if (devices) {
            EXPECT_EQ(reader.read(*opened, "null").error(), quorlina::Error::NotRegularFile);
        }
    }
    if (!devices) GTEST_SKIP() << "device nodes cannot be made here (mknod refused); the rest was checked";
}

TEST(FileReaderTest, FilesOpenedAheadAreReadByTheirTags) {
    SKIP_WITHOUT_PROBE();
    TempSite site;
    const std::string dir = site.path("d");
    for (int i = 0; i < 300; ++i) qtest::writeFile(dir + "/f" + std::to_string(i), "file " + std::to_string(i));
    auto opened = quorlina::platform::Dir::open(dir);
    ASSERT_TRUE(opened.ok());
    SeamScope cold(EAGAIN);
    FileReader reader;
    // Cold once enough files in a row missed the cache.
    const auto evidence = static_cast<std::uint32_t>(FileReader::kColdEvidence);
    for (std::uint32_t i = 0; i < evidence; ++i) {
        EXPECT_FALSE(reader.wantsAhead()) << i;
        ASSERT_EQ(std::string(*reader.read(*opened, "f" + std::to_string(i))), "file " + std::to_string(i));
    }
    ASSERT_TRUE(reader.wantsAhead());
    std::uint32_t next = evidence;
    for (std::uint32_t i = evidence; i < 300; ++i) {
        while (next < 300 && reader.wantsAhead()) {
            EXPECT_TRUE(reader.openAhead(*opened, "f" + std::to_string(next), next, nullptr));
            ++next;
        }
        // A file read out of turn, or under another tag, is opened anew.
        if (i % 50 == 0) {
            EXPECT_EQ(std::string(*reader.read(*opened, "f3", nullptr, 12345)), "file 3");
        }
        auto text = reader.read(*opened, "f" + std::to_string(i), nullptr, i);
        ASSERT_TRUE(text.ok()) << i;
        EXPECT_EQ(std::string(*text), "file " + std::to_string(i));
    }
    EXPECT_EQ(g_seam.advice, 300 - evidence);
    // A file opened ahead and never read is closed with the reader; reading
    // ahead with a tag that is not the oldest is refused.
    EXPECT_TRUE(reader.openAhead(*opened, "f1", 7, nullptr));
    EXPECT_EQ(reader.readAhead(8).error(), quorlina::Error::Unexpected);
}
