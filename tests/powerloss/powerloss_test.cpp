// Power loss, not only kill -9: every mutating export runs on loop-mounted
// ext4 and btrfs (commit=600, so nothing reaches the device unless the
// program syncs) and xfs (which flushes its log within 30 s). The library's
// fault seam stops the call before each of its system calls; there, and
// once more after the call returns, the suite copies what the device holds
// (never the page cache: see device.hpp). Each distinct copy is then
// recovered as after a power cut (fsck, log replay), mounted read-only and
// compared with the tree before and after the call:
//   - every item is its old or its new complete content, never torn, empty
//     or missing, and a file is only ever found under one of its names;
//   - there are never two files for one key;
//   - after a call returned 0 its change is there, whole, and no temporary
//     file is left; after a failed call the old state is there.
//
// usage: powerloss_test [--fs ext4,xfs,btrfs] [--case NAME,...]
//                       [--skip-sync file|dir] [--expect KIND,...]
//                       [--known CASE=KIND]
//   --skip-sync  the seam reports the temporary file's flush (file) or the
//                directory's flush after a change (dir) as done without
//                making it; only the states after return are checked.
//   --expect     pass only if a violation of one of these kinds is found
//                (what a run with a flush left out must report).
//   --known      a violation of KIND in CASE is expected and reported, but
//                fails the run only when it is no longer found.
// Environment: QUORLINA_POWERLOSS_SAMPLE=N checks at most N device states
// per call (the state after return always among them); QUORLINA_POWERLOSS_FS
// and QUORLINA_POWERLOSS_CASES narrow the defaults of --fs and --case;
// QUORLINA_REQUIRE_POWERLOSS=1 makes a missing facility (root, loop
// devices, a file system or its tools) a failure instead of a skip.
//
// Exit status: 0 passed, 1 failed, 77 skipped (also when only some file
// systems could be tested).
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/platform.hpp"
#include "device.hpp"
#include "quorlina/quorlina.h"
#include "reliability_support.hpp"

namespace {

namespace fault = quorlina::platform::fault;
using fault::Op;
using qpl::SetupError;

constexpr int kSkipped = 77;

const char *opName(Op op) {
    switch (op) {
        case Op::Open: return "open";
        case Op::Read: return "read";
        case Op::Write: return "write";
        case Op::Sync: return "fsync";
        case Op::Chmod: return "fchmod";
        case Op::Rename: return "rename";
        case Op::Link: return "link";
        case Op::Unlink: return "unlink";
        case Op::Mkdir: return "mkdir";
        case Op::Rmdir: return "rmdir";
        case Op::Stat: return "stat";
        case Op::Alloc: return "alloc";
        case Op::SyncDir: return "directory fsync";
        case Op::Chown: return "fchown";
        case Op::Lock: return "flock";
        default: break;  // a kind added later: named by its number
    }
    return nullptr;
}

std::string opText(Op op) {
    const char *name = opName(op);
    return name ? name : "operation " + std::to_string(static_cast<int>(op));
}

std::vector<std::string> splitList(const std::string &s) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at <= s.size()) {
        std::size_t comma = std::min(s.find(',', at), s.size());
        if (comma > at) out.push_back(s.substr(at, comma - at));
        at = comma + 1;
    }
    return out;
}

// ------------------------------------------------------------------ calls

// One call of an export on the fixture site (tests/reliability's: two items
// of each family; the post "second" is the only one of its year).
struct Case {
    const char *name;
    std::function<int(const char *root)> call;
    std::set<std::string> changes;  // the keys it changes
    int code = 0;                   // what it returns
    std::optional<Op> failAt = {};  // EIO injected at its first call of this kind
};

int freed(int rc, char *out) {
    quorlina_free(out);
    return rc;
}

const std::vector<Case> &allCases() {
    static const std::vector<Case> cases = {
        {"snippet_create",
         [](const char *r) {
             char *o = nullptr;
             return freed(quorlina_snippet_create(r, 1710000000, "New", "print(1)\n", "new.py", &o), o);
         },
         {"snippet 1710000000"}},
        {"snippet_update", [](const char *r) { return quorlina_snippet_update(r, 1700000000, "Sorted", "y = 2\n", nullptr); },
         {"snippet 1700000000"}},
        {"snippet_extension_change",
         [](const char *r) { return quorlina_snippet_update(r, 1700000000, nullptr, nullptr, "sort.rb"); },
         {"snippet 1700000000"}},
        {"snippet_delete", [](const char *r) { return quorlina_snippet_delete(r, 1700003600); }, {"snippet 1700003600"}},
        {"post_create_new_date_dirs",
         [](const char *r) {
             char *o = nullptr;
             return freed(quorlina_post_create(r, "fresh", "Fresh", "A new post", "a, b", "2025-01-02", &o), o);
         },
         {"post fresh"}},
        {"post_update",
         [](const char *r) { return quorlina_post_update(r, "hello", "New title", nullptr, nullptr, "x", nullptr); },
         {"post hello"}},
        {"post_delete_pruning", [](const char *r) { return quorlina_post_delete(r, "intro"); }, {"post second"}},
        {"note_create",
         [](const char *r) {
             char *o = nullptr;
             return freed(quorlina_note_create(r, 1720000000, "fresh", "Body", &o), o);
         },
         {"note 1720000000"}},
        {"note_update", [](const char *r) { return quorlina_note_update(r, "hello-world", nullptr, 1, "New body"); },
         {"note 1733570000"}},
        {"note_delete", [](const char *r) { return quorlina_note_delete(r, "1700000000"); }, {"note 1700000000"}},
        {"post_create_ext",
         [](const char *r) {
             char *o = nullptr;
             quorlina_post_create_options opts = QUORLINA_POST_CREATE_OPTIONS_INIT;
             opts.body = "Body\n";
             opts.draft = 1;
             return freed(quorlina_post_create_ext(r, "fresh", "Fresh", "A new post", "a", "2025-01-02", &opts, &o), o);
         },
         {"post fresh"}},
        {"post_update_ext_body",
         [](const char *r) {
             quorlina_post_update_options opts = QUORLINA_POST_UPDATE_OPTIONS_INIT;
             opts.body = "New body\n";
             opts.draft = 1;
             return quorlina_post_update_ext(r, "hello", &opts);
         },
         {"post hello"}},
        {"post_rename_tag", [](const char *r) { return quorlina_post_rename_tag(r, "notes", "journal", nullptr, nullptr); },
         {"post hello"}},
        {"note_update_ext_text",
         [](const char *r) {
             quorlina_note_update_options opts = QUORLINA_NOTE_UPDATE_OPTIONS_INIT;
             opts.text = "+++\nslug = \"hello-world\"\n+++\n\nEdited";
             return quorlina_note_update_ext(r, "hello-world", &opts);
         },
         {"note 1733570000"}},
        // Failing calls: the temporary file is written and flushed, then
        // publishing it fails.
        {"post_update_failing_rename",
         [](const char *r) { return quorlina_post_update(r, "hello", "New title", nullptr, nullptr, "x", nullptr); },
         {}, QUORLINA_EINTERNAL, Op::Rename},
        {"note_create_failing_link",
         [](const char *r) {
             char *o = nullptr;
             return freed(quorlina_note_create(r, 1720000000, "fresh", "Body", &o), o);
         },
         {}, QUORLINA_EINTERNAL, Op::Link},
    };
    return cases;
}

// ------------------------------------------------------------ tree model

// A tree by item: each key ("snippet 1700000000", "post hello", ...) with
// the files that answer to it (path -> bytes), plus directories and
// temporary files.
struct Tree {
    std::map<std::string, std::map<std::string, std::string>> items;
    std::set<std::string> dirs;
    std::vector<std::string> temporaries;
};

Tree treeOf(const qtest::Snapshot &s) {
    Tree t;
    for (const auto &[path, e] : s) {
        if (e.kind == 'd') {
            t.dirs.insert(path);
            continue;
        }
        std::size_t slash = path.rfind('/');
        std::string dir = slash == std::string::npos ? "" : path.substr(0, slash);
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (name.rfind(".quorlina-tmp-", 0) == 0) {
            t.temporaries.push_back(path);
            continue;
        }
        std::string stem = name.substr(0, name.find('.'));
        std::string key;
        if (dir == "content/snippets") key = "snippet " + stem;
        else if (dir == "content/notes") key = "note " + stem;
        else if (dir.rfind("content/blog/", 0) == 0 && name.ends_with(".md")) key = "post " + stem;
        else key = "file " + path;
        t.items[key][path] = e.kind == 'f' ? e.bytes : std::string("<not a regular file>");
    }
    return t;
}

const std::map<std::string, std::string> &filesOf(const Tree &t, const std::string &key) {
    static const std::map<std::string, std::string> none;
    auto it = t.items.find(key);
    return it == t.items.end() ? none : it->second;
}

std::string pathsOf(const std::map<std::string, std::string> &files) {
    std::string out;
    for (const auto &[p, b] : files) out += (out.empty() ? "" : ", ") + p + " (" + std::to_string(b.size()) + " bytes)";
    return out.empty() ? "nothing" : out;
}

struct Finding {
    std::string kind;
    std::string detail;
};

// The kinds of violation.
const char *const kTwoFiles = "two files for one key";
const char *const kMissing = "missing item";
const char *const kStray = "file under a name it never had";
const char *const kTorn = "torn file";
const char *const kEmpty = "empty file";
const char *const kLost = "lost after return";
const char *const kChangedByFailure = "changed by a failed call";
const char *const kTemporary = "temporary file after return";
const char *const kUnrecoverable = "unrecoverable";
const char *const kWrongCall = "call did not do what it should";

// What is wrong with the recovered tree `s`, given the trees before and
// after the call.
std::vector<Finding> judge(const Tree &s, const Tree &before, const Tree &after, bool afterReturn, bool succeeded) {
    std::vector<Finding> out;
    std::set<std::string> keys;
    for (const Tree *t : {&s, &before, &after})
        for (const auto &[k, f] : t->items) keys.insert(k);
    for (const auto &key : keys) {
        const auto &now = filesOf(s, key), &b = filesOf(before, key), &a = filesOf(after, key);
        const std::size_t findings = out.size();
        if (now.size() > 1) {
            out.push_back({kTwoFiles, key + ": " + pathsOf(now)});
        } else if (now.empty()) {
            if (!b.empty() && !a.empty()) out.push_back({kMissing, key + ": had " + pathsOf(b)});
        } else {
            const auto &[path, bytes] = *now.begin();
            bool knownName = b.count(path) || a.count(path);
            bool whole = false;
            for (const auto *side : {&b, &a})
                for (const auto &[p, content] : *side) whole = whole || content == bytes;
            if (!knownName) out.push_back({kStray, key + ": " + pathsOf(now) + ", expected " + pathsOf(a)});
            else if (!whole) out.push_back({bytes.empty() ? kEmpty : kTorn, key + ": " + pathsOf(now)});
        }
        if (afterReturn && out.size() == findings) {
            const auto &target = succeeded ? a : b;
            if (now != target) {
                out.push_back({succeeded ? kLost : kChangedByFailure,
                               key + ": " + pathsOf(now) + " where the call left " + pathsOf(target)});
            }
        }
    }
    if (afterReturn && succeeded) {
        for (const auto &d : s.dirs)
            if (!after.dirs.count(d)) out.push_back({kLost, "directory " + d + " is still there"});
        for (const auto &d : after.dirs)
            if (!s.dirs.count(d)) out.push_back({kLost, "directory " + d + " is gone"});
        for (const auto &t : s.temporaries) out.push_back({kTemporary, t});
    }
    return out;
}

// ------------------------------------------------------------ stop hook

// A copy of the device at a stop, kept when it differs from the one before.
struct DeviceState {
    std::string file;
    std::vector<std::string> stops;  // where the device held this
    bool afterReturn = false;
};

// What the seam hook does during one call.
struct Recorder {
    const qpl::LoopDevice *loop = nullptr;
    std::string image;
    std::string dir;
    bool everyStop = true;
    std::optional<Op> skipSync;
    std::optional<Op> failAt;
    bool failed = false;
    long calls = 0;
    std::vector<DeviceState> states;
    qpl::Image last;
    qpl::LoopDevice::Activity lastActivity;
    // The hook runs inside the library's noexcept system-call wrapper: a
    // failure of the suite's own machinery is kept here, not thrown.
    std::optional<std::string> error;

    void capture(const std::string &stop, bool afterReturn) noexcept {
        try {
            auto activity = loop->activity();
            bool same = !states.empty() && activity.idle && lastActivity.idle && activity.done == lastActivity.done;
            if (!same) {
                qpl::Image image = qpl::readImage(this->image);
                lastActivity = activity;
                same = !states.empty() && image == last;
                if (!same) {
                    DeviceState st;
                    st.file = dir + "/state-" + std::to_string(states.size()) + ".img";
                    qpl::writeImage(image, st.file);
                    states.push_back(std::move(st));
                    last = std::move(image);
                }
            }
            states.back().stops.push_back(stop);
            states.back().afterReturn = states.back().afterReturn || afterReturn;
        } catch (const SetupError &e) {
            if (!error) error = "copying the device: " + e.what;
        } catch (const std::exception &e) {
            if (!error) error = std::string("copying the device: ") + e.what();
        }
    }
};

Recorder *g_recorder = nullptr;

int stopHook(Op op) {
    Recorder &r = *g_recorder;
    if (op == Op::Alloc) return 0;  // not a system call
    ++r.calls;
    int answer = 0;
    if (r.skipSync && op == *r.skipSync) answer = fault::kSkipSync;
    if (r.failAt && op == *r.failAt && !r.failed) {
        r.failed = true;
        answer = EIO;
    }
    if (r.everyStop) r.capture("before system call " + std::to_string(r.calls) + " (" + opText(op) + ")", false);
    return answer;
}

// ------------------------------------------------------------------ runs

struct Options {
    std::vector<std::string> fs;
    std::vector<std::string> cases;
    std::optional<Op> skipSync;
    std::set<std::string> expect;
    std::map<std::string, std::string> known;  // case -> kind
    std::size_t sample = 0;                    // 0: every state
};

struct Violation {
    std::string fs, call, where, kind, detail;
};

struct FsTally {
    int calls = 0;
    long stops = 0, states = 0, checked = 0, violations = 0, known = 0;
    double seconds = 0;
};

struct Report {
    std::map<std::string, FsTally> tally;
    std::vector<Violation> violations;  // the unexpected ones
    std::vector<Violation> known;
};

std::string joinStops(const std::vector<std::string> &stops) {
    if (stops.size() == 1) return stops[0];
    return stops.front() + " .. " + stops.back() + " (" + std::to_string(stops.size()) + " stops)";
}

// The states to check: all, or at most `limit` spread evenly over the call,
// the state after return always among them.
std::vector<const DeviceState *> chooseStates(const std::vector<DeviceState> &states, std::size_t limit) {
    std::vector<const DeviceState *> out;
    if (limit == 0 || states.size() <= limit) {
        for (const auto &s : states) out.push_back(&s);
        return out;
    }
    std::vector<const DeviceState *> during;
    for (const auto &s : states)
        if (!s.afterReturn) during.push_back(&s);
    std::size_t take = limit > 1 ? limit - 1 : 0;
    for (std::size_t i = 0; i < take && !during.empty(); ++i) {
        std::size_t at = take == 1 ? during.size() / 2 : i * (during.size() - 1) / (take - 1);
        if (out.empty() || out.back() != during[at]) out.push_back(during[at]);
    }
    for (const auto &s : states)
        if (s.afterReturn) out.push_back(&s);
    return out;
}

void runCase(const qpl::FileSystem &fs, const Case &c, const Options &opt, const std::string &work, Report &report) {
    const auto started = std::chrono::steady_clock::now();
    FsTally &tally = report.tally[fs.name];
    const std::string dir = work + "/" + fs.name + "-" + c.name;
    qtest::removeTree(dir);
    if (::mkdir(dir.c_str(), 0700) != 0) throw SetupError{qpl::errnoText(dir, errno)};
    const std::string image = dir + "/device.img", log = dir + "/tools.log", mnt = dir + "/mnt",
                      site = mnt + "/site";
    qpl::makeFileSystem(fs, image, log);

    Recorder rec;
    int rc = -1;
    std::string lastError;
    Tree before, after;
    {
        qpl::LoopDevice loop(image);
        {
            // The fixture is written and unmounted, so all of it is on the
            // device and nothing is in flight when the call starts.
            qpl::Mount m(loop.path(), mnt, fs.name, 0, fs.runOptions);
            qrel::writeFixture(site);
            m.unmount();
        }
        qpl::Mount m(loop.path(), mnt, fs.name, 0, fs.runOptions);
        before = treeOf(qtest::snapshot(site));

        rec.loop = &loop;
        rec.image = image;
        rec.dir = dir;
        rec.everyStop = !opt.skipSync;
        rec.skipSync = opt.skipSync;
        rec.failAt = c.failAt;
        g_recorder = &rec;
        fault::setHook(stopHook);
        rc = c.call(site.c_str());
        fault::setHook(nullptr);
        g_recorder = nullptr;
        lastError = quorlina_last_error();
        rec.capture("after return", true);
        if (rec.error) throw SetupError{*rec.error};
        after = treeOf(qtest::snapshot(site));
        m.unmount();
    }

    auto violation = [&](const std::string &where, const std::string &kind, const std::string &detail) {
        Violation v{fs.name, c.name, where, kind, detail};
        auto known = opt.known.find(c.name);
        if (known != opt.known.end() && known->second == kind) {
            ++tally.known;
            report.known.push_back(v);
        } else {
            ++tally.violations;
            report.violations.push_back(v);
        }
    };

    // The call itself: its code, and the keys it changed.
    const bool succeeded = rc == 0;
    if (rc != c.code) {
        violation("the call", kWrongCall,
                  "returned " + std::to_string(rc) + " (" + lastError + "), not " + std::to_string(c.code));
    }
    if (c.failAt && !rec.failed) throw SetupError{std::string(c.name) + " never reached " + opText(*c.failAt)};
    std::set<std::string> changed;
    for (const Tree *t : {&before, &after})
        for (const auto &[k, f] : t->items)
            if (filesOf(before, k) != filesOf(after, k)) changed.insert(k);
    if (changed != c.changes) {
        std::string keys;
        for (const auto &k : changed) keys += " '" + k + "'";
        violation("the call", kWrongCall, "changed" + (keys.empty() ? std::string(" nothing") : keys));
    }

    // Every distinct state the device went through.
    auto chosen = chooseStates(rec.states, opt.sample);
    for (const DeviceState *st : chosen) {
        if (opt.skipSync && !st->afterReturn) continue;
        ++tally.checked;
        const std::string where = joinStops(st->stops);
        qpl::RecoveredMount recovered(fs, st->file, dir + "/check", log);
        if (!recovered.failure().empty()) {
            violation(where, kUnrecoverable, recovered.failure());
            continue;
        }
        Tree now = treeOf(qtest::snapshot(dir + "/check/site"));
        for (const auto &f : judge(now, before, after, st->afterReturn, succeeded)) violation(where, f.kind, f.detail);
    }

    ++tally.calls;
    tally.stops += rec.calls + 1;
    tally.states += static_cast<long>(rec.states.size());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    tally.seconds += seconds;
    std::printf("%-6s %-28s %4ld stops %3zu device states %3zu checked  %.1f s\n", fs.name.c_str(), c.name,
                rec.calls + 1, rec.states.size(), chosen.size(), seconds);
    std::fflush(stdout);
    qtest::removeTree(dir);
}

// ------------------------------------------------------------------ main

[[noreturn]] void usage(const std::string &why) {
    std::fprintf(stderr, "powerloss_test: %s\n", why.c_str());
    std::exit(2);
}

Options parseOptions(int argc, char **argv) {
    Options o;
    auto env = [](const char *name) {
        const char *v = std::getenv(name);
        return std::string(v ? v : "");
    };
    o.fs = splitList(env("QUORLINA_POWERLOSS_FS"));
    o.cases = splitList(env("QUORLINA_POWERLOSS_CASES"));
    if (!env("QUORLINA_POWERLOSS_SAMPLE").empty()) o.sample = std::stoul(env("QUORLINA_POWERLOSS_SAMPLE"));
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(a + " needs a value");
            return argv[++i];
        };
        if (a == "--fs") o.fs = splitList(value());
        else if (a == "--case") o.cases = splitList(value());
        else if (a == "--skip-sync") {
            std::string v = value();
            if (v == "file") o.skipSync = Op::Sync;
            else if (v == "dir") o.skipSync = Op::SyncDir;
            else usage("--skip-sync takes file or dir");
        } else if (a == "--expect") {
            for (const auto &k : splitList(value())) o.expect.insert(k);
        } else if (a == "--known") {
            std::string v = value();
            std::size_t eq = v.find('=');
            if (eq == std::string::npos) usage("--known takes CASE=KIND");
            o.known[v.substr(0, eq)] = v.substr(eq + 1);
        } else {
            usage("unknown argument " + a);
        }
    }
    if (o.fs.empty())
        for (const auto &f : qpl::fileSystems()) o.fs.push_back(f.name);
    if (o.cases.empty())
        for (const auto &c : allCases()) o.cases.push_back(c.name);
    for (const auto &name : o.cases) {
        bool found = false;
        for (const auto &c : allCases()) found = found || name == c.name;
        if (!found) usage("no case " + name);
    }
    return o;
}

// Whether this process may attach loop devices and mount; the reason when
// it may not.
std::string missingFacility(const std::string &work) {
    if (::geteuid() != 0) return "not running as root (loop devices and mounts need it)";
    if (::access("/dev/loop-control", R_OK | W_OK) != 0)
        return qpl::errnoText("no loop devices: /dev/loop-control", errno);
    const std::string probe = work + "/probe";
    ::mkdir(probe.c_str(), 0700);
    if (::mount("quorlina-probe", probe.c_str(), "tmpfs", 0, "size=1m") != 0)
        return qpl::errnoText("mounting is not allowed here", errno);
    ::umount2(probe.c_str(), 0);
    return {};
}

std::string workDir() {
    // Images live in memory when there is a tmpfs for them: the copies are
    // read and written at every stop.
    const char *tmp = std::getenv("TMPDIR");
    std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (tmp && *tmp ? tmp : "/tmp");
    std::string tmpl = base + "/quorlina-powerloss-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) throw SetupError{qpl::errnoText("mkdtemp " + tmpl, errno)};
    return buf.data();
}

int run(int argc, char **argv) {
    const Options opt = parseOptions(argc, argv);
    const char *req = std::getenv("QUORLINA_REQUIRE_POWERLOSS");
    const bool required = req && std::string(req) == "1";
    const std::string work = workDir();
    struct Cleanup {
        std::string dir;
        ~Cleanup() { qtest::removeTree(dir); }
    } cleanup{work};

    auto missing = [&](const std::string &why) {
        std::printf("%s: %s\n", required ? "FAILED (QUORLINA_REQUIRE_POWERLOSS=1)" : "SKIPPED", why.c_str());
        return required ? 1 : kSkipped;
    };
    if (std::string why = missingFacility(work); !why.empty()) return missing(why);

    Report report;
    std::vector<std::string> skippedFs;
    const auto started = std::chrono::steady_clock::now();
    for (const auto &name : opt.fs) {
        const qpl::FileSystem *fs = nullptr;
        for (const auto &f : qpl::fileSystems())
            if (f.name == name) fs = &f;
        if (!fs) usage("no file system " + name);
        if (std::string why = qpl::missingFor(*fs); !why.empty()) {
            std::printf("%s %s: %s\n", required ? "FAILED" : "SKIPPED", name.c_str(), why.c_str());
            skippedFs.push_back(name);
            continue;
        }
        for (const auto &c : allCases())
            for (const auto &wanted : opt.cases)
                if (wanted == c.name) runCase(*fs, c, opt, work, report);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    auto print = [](const char *tag, const Violation &v) {
        std::printf("%s %s %s, %s: %s: %s\n", tag, v.fs.c_str(), v.call.c_str(), v.where.c_str(), v.kind.c_str(),
                    v.detail.c_str());
    };
    for (const auto &v : report.known) print("KNOWN", v);
    for (const auto &v : report.violations) print(opt.expect.empty() ? "VIOLATION" : "FOUND", v);

    std::printf("\n%-6s %6s %8s %8s %8s %11s\n", "", "calls", "stops", "states", "checked", "violations");
    FsTally total;
    for (const auto &[name, t] : report.tally) {
        std::printf("%-6s %6d %8ld %8ld %8ld %11ld%s  %.0f s\n", name.c_str(), t.calls, t.stops, t.states, t.checked,
                    t.violations, t.known ? (" (+" + std::to_string(t.known) + " known)").c_str() : "", t.seconds);
        total.calls += t.calls;
        total.stops += t.stops;
        total.states += t.states;
        total.checked += t.checked;
        total.violations += t.violations;
    }
    std::printf("%-6s %6d %8ld %8ld %8ld %11ld  %.0f s\n", "all", total.calls, total.stops, total.states,
                total.checked, total.violations, seconds);

    bool ok = true;
    if (opt.expect.empty()) {
        ok = report.violations.empty();
    } else {
        std::set<std::string> where;
        for (const auto &v : report.violations)
            if (opt.expect.count(v.kind)) where.insert(v.fs + " " + v.call);
        for (const auto &w : where) std::printf("caught: %s\n", w.c_str());
        ok = !where.empty();
        if (!ok) std::printf("FAILED: no violation of the expected kind was found\n");
    }
    for (const auto &[call, kind] : opt.known) {
        bool ran = false, seen = false;
        for (const auto &c : opt.cases) ran = ran || c == call;
        for (const auto &v : report.known) seen = seen || v.call == call;
        if (ran && !seen) {
            std::printf("FAILED: the known violation '%s' of %s is no longer found: drop --known\n", kind.c_str(),
                        call.c_str());
            ok = false;
        }
    }
    if (!ok) return 1;
    if (!skippedFs.empty()) {
        std::string names;
        for (const auto &n : skippedFs) names += " " + n;
        return missing("not tested on" + names);
    }
    std::printf("passed\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    try {
        return run(argc, argv);
    } catch (const SetupError &e) {
        fault::setHook(nullptr);
        std::printf("FAILED: %s\n", e.what.c_str());
        return 1;
    } catch (const std::exception &e) {
        fault::setHook(nullptr);
        std::printf("FAILED: %s\n", e.what());
        return 1;
    }
}
