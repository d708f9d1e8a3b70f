// The library's benchmark: list, read, update and create of each family on
// generated sites of N snippets, N posts and N notes, each call paired with
// its floor (bench/floors.hpp) in the same iteration.
//
//   quorlina_bench [--sizes=1000,10000] [--site-dir=DIR] [--seed=42] [benchmark flags]
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
// The time column is the call's own time per call; bytes_per_second is JSON
// bytes per second of the call.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
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

// One library call: returns its result code and the bytes of JSON it handed
// back (0 for calls that hand back a path or nothing).
using Call = std::function<int(std::size_t &jsonBytes)>;

// Runs `fn(&out)`, measures the JSON it handed back and frees it.
template <class Fn>
int takeText(Fn fn, std::size_t &jsonBytes, bool isJson) {
    char *out = nullptr;
    int rc = fn(&out);
    if (rc == 0 && out != nullptr && isJson) jsonBytes = std::strlen(out);
    quorlina_free(out);
    return rc;
}

// Runs `call` and `floorFn` alternately (which one goes first flips every
// iteration, so neither always meets the warmer cache), times each, and
// reports the call's time as the iteration time. `cleanup` runs untimed.
void pairedBody(benchmark::State &state, const Call &call, const std::function<void()> &floorFn,
                const std::function<void()> &cleanup, std::size_t largestFile, bool isList) {
    std::size_t json = 0;
    // Warm-up, untimed: the page cache and the allocator's free lists.
    int rc = call(json);
    cleanup();
    if (rc != 0) {
        state.SkipWithError(("library call returned " + std::to_string(rc)).c_str());
        g_failed = true;
        return;
    }
    floorFn();
    cleanup();

    double callSum = 0, floorSum = 0, callCpu = 0, floorCpu = 0;
    long callFaults = 0;
    std::size_t jsonSum = 0;
    bool callFirst = true;
    for (auto _ : state) {
        std::size_t bytes = 0;
        double tc = 0, tf = 0;
        auto timeCall = [&] {
            long f0 = minorFaults();
            double c0 = threadCpuSeconds();
            auto t0 = Clock::now();
            rc = call(bytes);
            tc = seconds(t0, Clock::now());
            callCpu += threadCpuSeconds() - c0;
            callFaults += minorFaults() - f0;
        };
        auto timeFloor = [&] {
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
        jsonSum += bytes;
    }
    if (rc != 0 || state.iterations() == 0) return;

    // One more call with the heap counted.
    std::int64_t peak = -1;
    if (qbench::heap::available()) {
        qbench::heap::start();
        rc = call(json);
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
        state.SetBytesProcessed(static_cast<std::int64_t>(jsonSum));
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

// Timestamps far beyond the generated ones, for created items.
constexpr std::int64_t kCreateTimestamp = 3900000000;

void registerSite(const Site &s) {
    const std::string n = std::to_string(s.plan.n);
    const char *root = s.root.c_str();
    auto reg = [&](const std::string &name, std::function<void(benchmark::State &)> fn) {
        benchmark::RegisterBenchmark(name.c_str(), [fn](benchmark::State &st) { fn(st); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    };
    auto nothing = [] {};

    // ------------------------------------------------------------ snippets
    const std::string readStem = std::to_string(s.plan.readSnippet);
    const std::string updateStem = std::to_string(s.plan.updateSnippet);
    reg("snippet/list/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t &b) { return takeText([&](char **o) { return quorlina_snippet_list(root, o); }, b, true); },
            [=] { qbench::floor::readSnippets(s.snippetsDir); }, nothing, s.largestSnippet, true);
    });
    reg("snippet/read/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t &b) {
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
                [=](std::size_t &) {
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
                [=](std::size_t &b) {
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
    reg("post/list/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t &b) { return takeText([&](char **o) { return quorlina_post_list(root, o); }, b, true); },
            [=] { qbench::floor::readPosts(s.blogDir); }, nothing, s.largestPost, true);
    });
    reg("post/read/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t &b) {
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
                [=](std::size_t &) {
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
                [=](std::size_t &b) {
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
    reg("note/list/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t &b) { return takeText([&](char **o) { return quorlina_note_list(root, o); }, b, true); },
            [=] { qbench::floor::readNotes(s.notesDir); }, nothing, s.largestNote, true);
    });
    reg("note/read/" + n, [=](benchmark::State &st) {
        paired(
            st,
            [=](std::size_t &b) {
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
                [=](std::size_t &) {
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
                [=](std::size_t &b) {
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
    for (const Site &s : sites) registerSite(s);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_failed) std::fprintf(stderr, "some library calls failed (see the error rows)\n");
    return g_failed ? 1 : 0;
}
