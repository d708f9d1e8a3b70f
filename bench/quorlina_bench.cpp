// The library's benchmark: list, read, update and create of each family on
// generated sites of N snippets, N posts and N notes, each call paired with
// its floor (bench/floors.hpp) in the same iteration.
//
//   quorlina_bench [--sizes=1000,10000] [--site-dir=DIR] [--seed=42] [--cold]
//                  [--cold-rounds=5] [--peers=auto|off] [--peer-rounds=3] [benchmark flags]
//
// --cold drops the page cache (sync, then 3 into /proc/sys/vm/drop_caches,
// which needs root) before every timed call and every floor, for the lists
// and the reads, in --cold-rounds paired rounds each. Without the right to
// drop it, the run says so and measures nothing.
//
// site/list-all/N lists all three families with the library, with the
// floors and with two peers when they are installed: `hugo list all` (with
// bench/peers/hugo.toml) and a Python script that reads the site with
// tomllib (bench/peers/list_site.py). Each contender runs as a whole
// process except the library and the floors; the order rotates every round.
//
// Counters of every benchmark:
//   floor_ms    mean time of the floor, measured alternately with the call
//   x_floor     time of the call divided by time of the floor (same iterations)
//   x_floor_cpu the same for thread CPU time (user + system), steadier on a
//               busy machine
//   faults      minor page faults per call
//   heap_peak   peak heap of one call (bytes; malloc family of this binary)
//   json        bytes of JSON the call hands back (list and read)
//   heap_budget heap_peak / (json + 2 x largest file + 1 MiB), lists only
//   realloc_moved bytes copied by reallocs that moved their block (shown
//               when there were any)
//   hugo_ms, python_ms, x_hugo, x_python (site/list-all only): the peers'
//               mean times, and their times divided by the floor's
// The time column is the call's own time per call (handing back and freeing
// the text included, measuring its length not); bytes_per_second is JSON
// bytes per second of the call.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "floors.hpp"
#include "heap_counter.hpp"
#include "quorlina/quorlina.h"
#include "site_generator.hpp"

namespace {

using Clock = std::chrono::steady_clock;

struct Site {
    std::string root;
    qbench::SitePlan plan;
    std::string snippetsDir, blogDir, notesDir;
    std::size_t largestSnippet = 0, largestPost = 0, largestNote = 0;
};

// Set when any call fails: the run then exits non-zero, so a smoke run
// catches a broken benchmark or library.
bool g_failed = false;

// The cold mode: the page cache is dropped before every timed run.
bool g_cold = false;
int g_coldRounds = 5;

// The peers of site/list-all, empty when not installed (or --peers=off).
std::string g_hugo, g_python;
std::string g_peersDir = QUORLINA_BENCH_PEERS_DIR;
int g_peerRounds = 3;

// Writes back dirty pages and drops the page cache, dentries and inodes.
// False when this process may not (it must be root).
bool dropPageCache() {
    ::sync();
    int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::write(fd, "3", 1) == 1;
    ::close(fd);
    return ok;
}

// Runs a program with its output thrown away; its exit status (-1 when it
// could not be started).
int runQuietly(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// CPU time of this thread (user and system), which other processes on a
// busy machine disturb less than wall time.
double threadCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long minorFaults() {
    rusage ru{};
    ::getrusage(RUSAGE_THREAD, &ru);
    return ru.ru_minflt;
}

// One library call: returns its result code and, given a place for it,
// the bytes of JSON it handed back (0 for calls that hand back a path or
// nothing). The timed calls give none: measuring the text is no part of
// the call.
using Call = std::function<int(std::size_t *jsonBytes)>;

// Runs `fn(&out)`, measures the JSON it handed back when asked and frees it.
template <class Fn>
int takeText(Fn fn, std::size_t *jsonBytes, bool isJson) {
    char *out = nullptr;
    int rc = fn(&out);
    if (jsonBytes && rc == 0 && out != nullptr && isJson) *jsonBytes = std::strlen(out);
    quorlina_free(out);
    return rc;
}

// Runs `call` and `floorFn` alternately (which one goes first flips every
// iteration, so neither always meets the warmer cache), times each, and
// reports the call's time as the iteration time. `cleanup` runs untimed.
void pairedBody(benchmark::State &state, const Call &call, const std::function<void()> &floorFn,
                const std::function<void()> &cleanup, std::size_t largestFile, bool isList) {
    std::size_t json = 0;
    // Warm-up, untimed: the page cache and the allocator's free lists. Cold
    // rounds start from a dropped cache instead.
    int rc = call(&json);
    cleanup();
    if (rc != 0) {
        state.SkipWithError(("library call returned " + std::to_string(rc)).c_str());
        g_failed = true;
        return;
    }
    floorFn();
    cleanup();
    auto maybeDrop = [] {
        if (g_cold && !dropPageCache()) throw std::runtime_error("cannot drop the page cache");
    };

    double callSum = 0, floorSum = 0, callCpu = 0, floorCpu = 0;
    long callFaults = 0;
    bool callFirst = true;
    for (auto _ : state) {
        double tc = 0, tf = 0;
        auto timeCall = [&] {
            maybeDrop();
            long f0 = minorFaults();
            double c0 = threadCpuSeconds();
            auto t0 = Clock::now();
            rc = call(nullptr);
            tc = seconds(t0, Clock::now());
            callCpu += threadCpuSeconds() - c0;
            callFaults += minorFaults() - f0;
        };
        auto timeFloor = [&] {
            maybeDrop();
            double c0 = threadCpuSeconds();
            auto t0 = Clock::now();
            floorFn();
            tf = seconds(t0, Clock::now());
            floorCpu += threadCpuSeconds() - c0;
        };
        if (callFirst) {
            timeCall();
            timeFloor();
        } else {
            timeFloor();
            timeCall();
        }
        callFirst = !callFirst;
        cleanup();
        if (rc != 0) {
            state.SkipWithError(("library call returned " + std::to_string(rc)).c_str());
            g_failed = true;
            break;
        }
        state.SetIterationTime(tc);
        callSum += tc;
        floorSum += tf;
    }
    if (rc != 0 || state.iterations() == 0) return;

    // One more call with the heap counted.
    std::int64_t peak = -1;
    if (qbench::heap::available() && !g_cold) {
        qbench::heap::start();
        rc = call(&json);
        peak = qbench::heap::stop();
        if (qbench::heap::movedReallocs() > 0)
            state.counters["realloc_moved"] = benchmark::Counter(static_cast<double>(qbench::heap::movedBytes()),
                                                                 benchmark::Counter::kDefaults,
                                                                 benchmark::Counter::OneK::kIs1024);
        cleanup();
    }
    double n = static_cast<double>(state.iterations());
    state.counters["floor_ms"] = floorSum / n * 1e3;
    state.counters["x_floor"] = floorSum > 0 ? callSum / floorSum : 0;
    state.counters["x_floor_cpu"] = floorCpu > 0 ? callCpu / floorCpu : 0;
    state.counters["faults"] = static_cast<double>(callFaults) / n;
    if (peak >= 0)
        state.counters["heap_peak"] = benchmark::Counter(static_cast<double>(peak), benchmark::Counter::kDefaults,
                                                         benchmark::Counter::OneK::kIs1024);
    if (json > 0) {
        state.counters["json"] = benchmark::Counter(static_cast<double>(json), benchmark::Counter::kDefaults,
                                                    benchmark::Counter::OneK::kIs1024);
        state.SetBytesProcessed(static_cast<std::int64_t>(json) * state.iterations());
    }
    if (isList && peak >= 0) {
        double budget = static_cast<double>(json) + 2.0 * static_cast<double>(largestFile) + 1048576.0;
        state.counters["heap_budget"] = static_cast<double>(peak) / budget;
    }
}

void paired(benchmark::State &state, const Call &call, const std::function<void()> &floorFn,
            const std::function<void()> &cleanup, std::size_t largestFile, bool isList) {
    try {
        pairedBody(state, call, floorFn, cleanup, largestFile, isList);
    } catch (const std::exception &e) {
        // A floor's system call failed; the benchmark library does not
        // expect exceptions.
        state.SkipWithError(e.what());
        g_failed = true;
    }
}

void removeQuietly(const std::string &path) { ::unlink(path.c_str()); }

std::string repeatTo(std::string_view unit, std::size_t size) {
    std::string out;
    while (out.size() < size) out += unit;
    out.resize(size);
    return out;
}

std::string dashesToSlashes(std::string s) {
    for (char &c : s)
        if (c == '-') c = '/';
    return s;
}

// site/list-all: the three lists of the library, the three floors, and the
// peers, each timed (from a dropped page cache in the cold mode) in an
// order that rotates every round.
void listAll(benchmark::State &state, const Site &s) {
    const char *root = s.root.c_str();
    struct Contender {
        const char *name;
        std::function<bool()> run;  // false: it failed
        double sum = 0;
    };
    auto list = [](int (*fn)(const char *, char **), const char *r) {
        char *out = nullptr;
        int rc = fn(r, &out);
        quorlina_free(out);
        return rc == 0;
    };
    std::vector<Contender> contenders = {
        {"library",
         [=] {
             return list(quorlina_snippet_list, root) && list(quorlina_post_list, root) && list(quorlina_note_list, root);
         }},
        {"floor",
         [=] {
             qbench::floor::readSnippets(s.snippetsDir);
             qbench::floor::readPosts(s.blogDir);
             qbench::floor::readNotes(s.notesDir);
             return true;
         }},
    };
    if (!g_hugo.empty())
        contenders.push_back({"hugo", [=] {
                                  return runQuietly({g_hugo, "list", "all", "--source", s.root, "--config",
                                                     g_peersDir + "/hugo.toml"}) == 0;
                              }});
    if (!g_python.empty())
        contenders.push_back(
            {"python", [=] { return runQuietly({g_python, g_peersDir + "/list_site.py", s.root}) == 0; }});
    try {
        std::size_t first = 0;
        for (auto _ : state) {
            for (std::size_t k = 0; k < contenders.size(); ++k) {
                Contender &c = contenders[(first + k) % contenders.size()];
                if (g_cold && !dropPageCache()) throw std::runtime_error("cannot drop the page cache");
                auto t0 = Clock::now();
                bool ok = c.run();
                double t = seconds(t0, Clock::now());
                if (!ok) throw std::runtime_error(std::string(c.name) + " failed");
                c.sum += t;
                if (&c == &contenders[0]) state.SetIterationTime(t);
            }
            first = (first + 1) % contenders.size();
        }
    } catch (const std::exception &e) {
        state.SkipWithError(e.what());
        g_failed = true;
        return;
    }
    double n = static_cast<double>(state.iterations());
    double floor = contenders[1].sum;
    state.counters["floor_ms"] = floor / n * 1e3;
    state.counters["x_floor"] = floor > 0 ? contenders[0].sum / floor : 0;
    for (std::size_t k = 2; k < contenders.size(); ++k) {
        std::string name = contenders[k].name;
        state.counters[name + "_ms"] = contenders[k].sum / n * 1e3;
        state.counters["x_" + name] = floor > 0 ? contenders[k].sum / floor : 0;
    }
}

// Timestamps far beyond the generated ones, for created items.
constexpr std::int64_t kCreateTimestamp = 3900000000;

void registerSite(const Site &s) {
    const std::string n = std::to_string(s.plan.n);
    const char *root = s.root.c_str();
    // Every benchmark runs warm; lists and reads also cold, in a fixed
    // number of rounds.
    auto regBoth = [&](const std::string &name, std::function<void(benchmark::State &)> fn) {
        auto *b = benchmark::RegisterBenchmark(name.c_str(), [fn](benchmark::State &st) { fn(st); })
                      ->UseManualTime()
                      ->Unit(benchmark::kMillisecond);
        if (g_cold) b->Iterations(g_coldRounds);
    };
    auto reg = [&](const std::string &name, std::function<void(benchmark::State &)> fn) {
        if (!g_cold) regBoth(name, std::move(fn));
    };
    auto nothing = [] {};

    // ------------------------------------------------------------ snippets
    const std::string readStem = std::to_string(s.plan.readSnippet);
    const std::string updateStem = std::to_string(s.plan.updateSnippet);
    regBoth("snippet/list/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t *b) { return takeText([&](char **o) { return quorlina_snippet_list(root, o); }, b, true); },
            [=] { qbench::floor::readSnippets(s.snippetsDir); }, nothing, s.largestSnippet, true);
    });
    regBoth("snippet/read/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t *b) {
                return takeText([&](char **o) { return quorlina_snippet_read(root, s.plan.readSnippet, o); }, b, true);
            },
            [=] { qbench::floor::findSnippet(s.snippetsDir, readStem); }, nothing, s.largestSnippet, false);
    });
    {
        const std::string codeA = repeatTo("for x in items:\n\tprint(\"x\\n\", x)\n", 1800);
        const std::string codeB = repeatTo("while True:\n\tbreak  # \"y\"\n", 1800);
        auto flip = std::make_shared<bool>(false);
        reg("snippet/update/" + n, [=](benchmark::State &st) {
            paired(
                st,
                [=](std::size_t *) {
                    *flip = !*flip;
                    return quorlina_snippet_update(root, s.plan.updateSnippet, nullptr, (*flip ? codeA : codeB).c_str(),
                                                   nullptr);
                },
                [=] {
                    qbench::floor::findSnippet(s.snippetsDir, updateStem);
                    qbench::floor::replaceFile(s.snippetsDir, ".qbench-floor", codeA);
                },
                nothing, s.largestSnippet, false);
            removeQuietly(s.snippetsDir + "/.qbench-floor");
        });
        reg("snippet/create/" + n, [=](benchmark::State &st) {
            const std::string created = s.snippetsDir + "/" + std::to_string(kCreateTimestamp) + ".py";
            paired(
                st,
                [=](std::size_t *b) {
                    return takeText(
                        [&](char **o) {
                            return quorlina_snippet_create(root, kCreateTimestamp, "Benchmark snippet", codeA.c_str(),
                                                           "bench.py", o);
                        },
                        b, false);
                },
                [=] {
                    qbench::floor::findSnippet(s.snippetsDir, {});
                    qbench::floor::publishFile(s.snippetsDir, ".qbench-floor", codeA);
                },
                [=] {
                    removeQuietly(created);
                    removeQuietly(s.snippetsDir + "/.qbench-floor");
                },
                s.largestSnippet, false);
        });
    }

    // --------------------------------------------------------------- posts
    regBoth("post/list/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t *b) { return takeText([&](char **o) { return quorlina_post_list(root, o); }, b, true); },
            [=] { qbench::floor::readPosts(s.blogDir); }, nothing, s.largestPost, true);
    });
    regBoth("post/list_ext/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t *b) {
                return takeText([&](char **o) { return quorlina_post_list_ext(root, nullptr, o); }, b, true);
            },
            [=] { qbench::floor::readPosts(s.blogDir); }, nothing, s.largestPost, true);
    });
    regBoth("post/check/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t *b) {
                return takeText(
                    [&](char **o) {
                        quorlina_check_options c = QUORLINA_CHECK_OPTIONS_INIT;
                        c.family = "post";
                        return quorlina_check(root, &c, o);
                    },
                    b, true);
            },
            [=] { qbench::floor::readPosts(s.blogDir); }, nothing, s.largestPost, true);
    });
    regBoth("post/read/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t *b) {
                return takeText([&](char **o) { return quorlina_post_read(root, s.plan.readPostSlug.c_str(), o); }, b,
                                true);
            },
            [=] { qbench::floor::readPosts(s.blogDir); }, nothing, s.largestPost, false);
    });
    {
        const std::string dayDir = s.blogDir + "/" + dashesToSlashes(s.plan.updatePostDate);
        auto flip = std::make_shared<bool>(false);
        reg("post/update/" + n, [=](benchmark::State &st) {
            // About the size of a generated post.
            const std::string content(4096, 'p');
            paired(
                st,
                [=](std::size_t *) {
                    *flip = !*flip;
                    return quorlina_post_update(root, s.plan.updatePostSlug.c_str(),
                                                *flip ? "Benchmark title A" : "Benchmark title \"B\"", nullptr, nullptr,
                                                nullptr, nullptr);
                },
                [=] {
                    qbench::floor::readPosts(s.blogDir);
                    qbench::floor::replaceFile(dayDir, ".qbench-floor", content);
                },
                nothing, s.largestPost, false);
            removeQuietly(dayDir + "/.qbench-floor");
        });
        const std::string createDir = s.blogDir + "/" + s.plan.createPostDay;
        std::string date = s.plan.createPostDay;
        for (char &c : date)
            if (c == '/') c = '-';
        reg("post/create/" + n, [=](benchmark::State &st) {
            const std::string created = createDir + "/bench-created-post.md";
            const std::string content(200, 'p');
            paired(
                st,
                [=](std::size_t *b) {
                    return takeText(
                        [&](char **o) {
                            return quorlina_post_create(root, "bench-created-post", "Benchmark post",
                                                        "Created by the benchmark", "bench,tools", date.c_str(), o);
                        },
                        b, false);
                },
                [=] { qbench::floor::publishFile(createDir, ".qbench-floor", content); },
                [=] {
                    removeQuietly(created);
                    removeQuietly(createDir + "/.qbench-floor");
                },
                s.largestPost, false);
        });
    }

    // --------------------------------------------------------------- notes
    regBoth("note/list/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t *b) { return takeText([&](char **o) { return quorlina_note_list(root, o); }, b, true); },
            [=] { qbench::floor::readNotes(s.notesDir); }, nothing, s.largestNote, true);
    });
    regBoth("note/read/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t *b) {
                return takeText([&](char **o) { return quorlina_note_read(root, s.plan.readNoteId.c_str(), o); }, b,
                                true);
            },
            [=] { qbench::floor::readNotes(s.notesDir); }, nothing, s.largestNote, false);
    });
    {
        const std::string bodyA = repeatTo("A note body, \"updated\" by the benchmark.\n", 1000);
        const std::string bodyB = repeatTo("Another body\tfor the same note.\n", 1000);
        auto flip = std::make_shared<bool>(false);
        reg("note/update/" + n, [=](benchmark::State &st) {
            paired(
                st,
                [=](std::size_t *) {
                    *flip = !*flip;
                    return quorlina_note_update(root, s.plan.updateNoteId.c_str(), nullptr, 0,
                                                (*flip ? bodyA : bodyB).c_str());
                },
                [=] {
                    qbench::floor::readNotes(s.notesDir);
                    qbench::floor::replaceFile(s.notesDir, ".qbench-floor", bodyA);
                },
                nothing, s.largestNote, false);
            removeQuietly(s.notesDir + "/.qbench-floor");
        });
        reg("note/create/" + n, [=](benchmark::State &st) {
            const std::string created = s.notesDir + "/" + std::to_string(kCreateTimestamp) + ".md";
            paired(
                st,
                [=](std::size_t *b) {
                    return takeText(
                        [&](char **o) {
                            return quorlina_note_create(root, kCreateTimestamp, "bench-created-note", bodyA.c_str(), o);
                        },
                        b, false);
                },
                [=] { qbench::floor::publishFile(s.notesDir, ".qbench-floor", bodyA); },
                [=] {
                    removeQuietly(created);
                    removeQuietly(s.notesDir + "/.qbench-floor");
                },
                s.largestNote, false);
        });
    }

    // ------------------------------------------------- the site and peers
    benchmark::RegisterBenchmark(("site/list-all/" + n).c_str(), [=](benchmark::State &st) { listAll(st, s); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(g_cold ? g_coldRounds : g_peerRounds);
}

std::vector<int> parseSizes(const std::string &text) {
    std::vector<int> out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t comma = text.find(',', pos);
        std::string piece = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        if (!piece.empty()) out.push_back(std::atoi(piece.c_str()));
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<int> sizes = {1000, 10000};
    std::string siteDir;
    std::uint64_t seed = 42;
    bool peers = true;
    // Take our own flags out before the benchmark library sees the rest.
    std::vector<char *> rest = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--sizes=", 0) == 0)
            sizes = parseSizes(a.substr(8));
        else if (a.rfind("--site-dir=", 0) == 0)
            siteDir = a.substr(11);
        else if (a.rfind("--seed=", 0) == 0)
            seed = std::strtoull(a.c_str() + 7, nullptr, 10);
        else if (a == "--cold")
            g_cold = true;
        else if (a.rfind("--cold-rounds=", 0) == 0)
            g_coldRounds = std::max(1, std::atoi(a.c_str() + 14));
        else if (a.rfind("--peer-rounds=", 0) == 0)
            g_peerRounds = std::max(1, std::atoi(a.c_str() + 14));
        else if (a == "--peers=off")
            peers = false;
        else if (a.rfind("--peers-dir=", 0) == 0)
            g_peersDir = a.substr(12);
        else
            rest.push_back(argv[i]);
    }
    if (siteDir.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        siteDir = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorlina-bench";
    }
    int restc = static_cast<int>(rest.size());
    benchmark::Initialize(&restc, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restc, rest.data())) return 2;

    if (g_cold && !dropPageCache()) {
        std::fprintf(stderr,
                     "cold mode: cannot drop the page cache (needs root to write /proc/sys/vm/drop_caches); "
                     "nothing measured\n");
        return 0;
    }
    if (peers) {
        // A peer counts when it runs here: hugo at all, python with tomllib.
        if (runQuietly({"hugo", "version"}) == 0) g_hugo = "hugo";
        else std::fprintf(stderr, "peer hugo: not installed, left out\n");
        if (runQuietly({"python3", "-c", "import tomllib"}) == 0) g_python = "python3";
        else std::fprintf(stderr, "peer python: no python3 with tomllib, left out\n");
    }

    std::vector<Site> sites;
    try {
        for (int n : sizes) {
            Site s;
            s.root = siteDir + "/site-" + std::to_string(n);
            std::fprintf(stderr, "preparing %s ...\n", s.root.c_str());
            s.plan = qbench::ensureSite(s.root, n, seed);
            s.snippetsDir = s.root + "/content/snippets";
            s.blogDir = s.root + "/content/blog";
            s.notesDir = s.root + "/content/notes";
            // The floors' walks double as the page-cache warm-up.
            s.largestSnippet = qbench::floor::readSnippets(s.snippetsDir).largest;
            s.largestPost = qbench::floor::readPosts(s.blogDir).largest;
            s.largestNote = qbench::floor::readNotes(s.notesDir).largest;
            sites.push_back(std::move(s));
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "cannot prepare the sites: %s\n", e.what());
        return 1;
    }
    benchmark::AddCustomContext("page_cache", g_cold ? "cold" : "warm");
    for (const Site &s : sites) registerSite(s);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_failed) std::fprintf(stderr, "some library calls failed (see the error rows)\n");
    return g_failed ? 1 : 0;
}
