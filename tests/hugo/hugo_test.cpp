// Hugo reads what this library writes. The program creates and updates posts
// through the C interface with titles, descriptions and tags full of double
// quotes, backslashes, brackets and non-ASCII text, builds the site with hugo
// and a template that dumps every page's title, description, tags, date,
// draft flag and body in base64, and checks that hugo saw exactly the
// values that were passed in.
//
// Exit status: 0 when hugo agrees, 1 when it does not or a step fails, 77
// (skipped) when no hugo binary is found on PATH or in $QUORLINA_HUGO.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "quorlina/quorlina.h"

extern char **environ;

namespace {

constexpr int kSkipped = 77;

struct PostValues {
    std::string path;  // relative to the content directory, as hugo reports it
    std::string title;
    std::string description;
    std::vector<std::string> tags;
};

// What a page holds beyond those, compared only where a value is expected:
// its date, its draft flag, and its body without the blank lines before it.
struct PageExtras {
    std::optional<std::string> date;
    std::optional<std::string> draft;  // "true" or "false"
    std::optional<std::string> body;
};

std::optional<std::string> findHugo() {
    if (const char *h = std::getenv("QUORLINA_HUGO"); h && *h) return std::string(h);
    const char *path = std::getenv("PATH");
    if (!path) return std::nullopt;
    std::string_view rest = path;
    for (;;) {
        std::size_t colon = rest.find(':');
        std::string dir(rest.substr(0, colon));
        if (dir.empty()) dir = ".";
        std::string candidate = dir + "/hugo";
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (colon == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(colon + 1);
    }
}

void removeTree(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        std::vector<std::string> names;
        if (DIR *d = ::opendir(path.c_str())) {
            while (dirent *e = ::readdir(d)) {
                std::string n = e->d_name;
                if (n != "." && n != "..") names.push_back(n);
            }
            ::closedir(d);
        }
        for (const auto &n : names) removeTree(path + "/" + n);
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

bool makeDirs(const std::string &path) {
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

bool writeText(const std::string &path, const std::string &text) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    return static_cast<bool>(f);
}

std::optional<std::string> readText(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return std::nullopt;
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::optional<std::string> base64Decode(std::string_view in) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    while (!in.empty() && in.back() == '=') in.remove_suffix(1);
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : in) {
        int v = value(c);
        if (v < 0) return std::nullopt;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.push_back(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    return out;
}

// Shows a value with its control bytes visible, for failure messages.
std::string show(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out + "\"";
}

std::string showTags(const std::vector<std::string> &tags) {
    std::string out = "[";
    for (std::size_t i = 0; i < tags.size(); ++i) out += (i ? ", " : "") + show(tags[i]);
    return out + "]";
}

// Runs a program with its output going to `logPath`; returns its exit status
// or -1.
int runProgram(const std::vector<std::string> &args, const std::string &logPath) {
    std::vector<char *> argv;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const char *kConfig =
    "baseURL = \"http://example.invalid/\"\n"
    "disableKinds = [\"taxonomy\", \"term\", \"RSS\", \"sitemap\", \"robotsTXT\", \"404\", \"section\"]\n"
    "[outputFormats.dump]\n"
    "mediaType = \"text/plain\"\n"
    "baseName = \"dump\"\n"
    "isPlainText = true\n"
    "[outputs]\n"
    "home = [\"dump\"]\n"
    "page = [\"dump\"]\n";

// One record per page; every value in base64 so that any byte survives.
const char *kHomeTemplate =
    "{{ range .Site.RegularPages }}page {{ .File.Path | base64Encode }}\n"
    "title {{ .Title | base64Encode }}\n"
    "description {{ .Description | base64Encode }}\n"
    "{{ range .Params.tags }}tag {{ . | base64Encode }}\n{{ end }}"
    "date {{ .Date.Format \"2006-01-02\" | base64Encode }}\n"
    "draft {{ printf \"%t\" .Draft | base64Encode }}\n"
    "body {{ .RawContent | base64Encode }}\n"
    "end\n"
    "{{ end }}";

// Parses the dump into records keyed by page path.
std::optional<std::map<std::string, PostValues>> parseDump(const std::string &dump,
                                                           std::map<std::string, PageExtras> &extras) {
    std::map<std::string, PostValues> pages;
    PostValues current;
    bool open = false;
    std::istringstream in(dump);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::size_t space = line.find(' ');
        std::string key = line.substr(0, space);
        if (key == "end") {
            if (!open) return std::nullopt;
            pages[current.path] = current;
            open = false;
            continue;
        }
        if (space == std::string::npos) return std::nullopt;
        auto value = base64Decode(std::string_view(line).substr(space + 1));
        if (!value) return std::nullopt;
        if (key == "page") {
            current = PostValues{*value, {}, {}, {}};
            open = true;
        } else if (!open) {
            return std::nullopt;
        } else if (key == "title") {
            current.title = *value;
        } else if (key == "description") {
            current.description = *value;
        } else if (key == "tag") {
            current.tags.push_back(*value);
        } else if (key == "date") {
            extras[current.path].date = *value;
        } else if (key == "draft") {
            extras[current.path].draft = *value;
        } else if (key == "body") {
            std::size_t start = value->find_first_not_of(" \t\r\n");
            extras[current.path].body = start == std::string::npos ? std::string() : value->substr(start);
        } else {
            return std::nullopt;
        }
    }
    if (open) return std::nullopt;
    return pages;
}

struct CreateCase {
    const char *slug;
    const char *date;
    const char *title;
    const char *description;
    const char *tagsCsv;
    std::vector<std::string> tags;  // what the comma-separated text stands for
};

int fail(const std::string &message) {
    std::fprintf(stderr, "hugo_posts: %s\n", message.c_str());
    return 1;
}

int runTest(const std::string &hugo, const std::string &work) {
    const std::string site = work + "/site";
    const std::vector<CreateCase> cases = {
        {"quotes", "2024-03-09", "Say \"hi\" to \"everyone\"", "She said: \"ok\" \"\"", "\"quoted\",a\"b, plain ",
         {"\"quoted\"", "a\"b", "plain"}},
        {"backslashes", "2024-03-09", "C:\\Users\\x\\ and \\\\server\\",
         "\\n is no line break, \\u00e9 is no accent, \\\" no quote, ends with \\", "back\\slash,\\,x\\\"y,\\\\",
         {"back\\slash", "\\", "x\\\"y", "\\\\"}},
        {"unicode", "2023-12-31", "Caf\xC3\xA9 \xE2\x80\x94 na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE2\x9C\x93",
         "\xC3\x9Cn\xC3\xAF \xE2\x80\x9C" "curly\xE2\x80\x9D \xF0\x9F\x98\x80",
         "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E, caf\xC3\xA9 ,emoji\xF0\x9F\x98\x80",
         {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "caf\xC3\xA9", "emoji\xF0\x9F\x98\x80"}},
        {"mixed", "2000-02-29", "[draft] #1 = \"x\" ++ tags = [\"no\"]", "tab\there [x] ' single", "x]y,c++,c#,a=b,[z]",
         {"x]y", "c++", "c#", "a=b", "[z]"}},
        {"notags", "2024-03-09", "No tags", "Nothing", nullptr, {}},
        {"updated", "2024-03-10", "Before", "Old", "old,keep", {"old", "keep"}},
    };

    std::map<std::string, PostValues> expected;
    for (const auto &c : cases) {
        char *path = nullptr;
        int rc = quorlina_post_create(site.c_str(), c.slug, c.title, c.description, c.tagsCsv, c.date, &path);
        if (rc != 0) return fail(std::string("quorlina_post_create ") + c.slug + " returned " + std::to_string(rc));
        quorlina_free(path);
        std::string d = c.date;
        std::string rel = "blog/" + d.substr(0, 4) + "/" + d.substr(5, 2) + "/" + d.substr(8, 2) + "/" + c.slug + ".md";
        expected[rel] = PostValues{rel, c.title, c.description, c.tags};
    }

    // Updates rewrite the block in place; hugo must read the new one.
    const char *newTitle = "After \"quoted\" \\ again";
    const char *newDescription = "Second \"update\" \\";
    int rc = quorlina_post_update(site.c_str(), "updated", newTitle, nullptr, nullptr, "new,\"q\",keep", "old");
    if (rc != 0) return fail("first quorlina_post_update returned " + std::to_string(rc));
    rc = quorlina_post_update(site.c_str(), "updated", nullptr, newDescription, nullptr, nullptr, nullptr);
    if (rc != 0) return fail("second quorlina_post_update returned " + std::to_string(rc));
    expected["blog/2024/03/10/updated.md"] =
        PostValues{"blog/2024/03/10/updated.md", newTitle, newDescription, {"keep", "new", "\"q\""}};

    // A file written by hand keeps what the library does not manage through
    // a tag update: literal strings, a multi-line array, comments, other
    // keys and a table. Hugo must still read it, with the new tags.
    const std::string handDir = site + "/content/blog/2024/10/01";
    if (!makeDirs(handDir) ||
        !writeText(handDir + "/drafty.md",
                   "+++\n# written by hand\ntitle = 'Lit \\ \"raw\"'\ndate = 2024-10-01\ndraft = true\n"
                   "description = \"Kept\"\ntags = [\n  \"one\",\n  \"two\",\n]\nweight = 2\n\n[params]\n"
                   "  mood = \"calm\"\n+++\n\nBody\n")) {
        return fail("cannot write the hand-written post");
    }
    rc = quorlina_post_update(site.c_str(), "drafty", nullptr, nullptr, nullptr, "wip", "one");
    if (rc != 0) return fail("quorlina_post_update of the hand-written post returned " + std::to_string(rc));
    expected["blog/2024/10/01/drafty.md"] =
        PostValues{"blog/2024/10/01/drafty.md", "Lit \\ \"raw\"", "Kept", {"two", "wip"}};

    // Hand-written TOML in every form people write, updated: literal and
    // multi-line strings, escapes, comments after values and inside arrays,
    // quoted keys, "+++" inside strings, CRLF line ends, an array closed on
    // its last item's line. Hugo must build them all after the updates, and
    // see exactly the requested changes.
    struct HandCase {
        const char *slug;
        const char *text;
        const char *title;     // update, or nullptr
        const char *add;       // tags to add, or nullptr
        const char *remove;    // tags to remove, or nullptr
        PostValues after;      // path filled in below
    };
    const std::string formsDir = site + "/content/blog/2024/10/02";
    const std::vector<HandCase> hand = {
        {"forms",
         "+++\n'title' = 'Lit \\ \"raw\" C+++'   # a comment\ndescription = \"\"\"\nFirst line\n[not a table]\n"
         "title = \"inside\"\n\"\"\"\ntags = [\n  \"one\",  # the first\n  'two', \"thr\\u00e9e\",\n  # a comment line\n]\n"
         "draft = true\nweight = 5\n[params]\n  mood = \"calm\"\n+++\nBody\n",
         "New \"t\" \\ C++", "four", "two",
         {"", "New \"t\" \\ C++", "First line\n[not a table]\ntitle = \"inside\"\n", {"one", "thr\xC3\xA9" "e", "four"}}},
        {"crlf", "+++\r\ntitle = \"CRLF\"\r\ndescription = 'd' # kept\r\ntags = ['a', \"b\"] # t\r\n+++\r\n\r\nBody\r\n",
         nullptr, "c", nullptr, {"", "CRLF", "d", {"a", "b", "c"}}},
        {"quotedkey", "+++\n\"title\" = \"Q\"\n\"description\" = \"\\tD\\u00e9\"\n\"tags\" = [\"x\"]\n+++\n", nullptr, "y",
         nullptr, {"", "Q", "\tD\xC3\xA9", {"x", "y"}}},
        {"closed",
         "+++\ntitle = \"\"\"Triple\"\"\"\ntags = [\"a\",\n  \"b\"]\ndraft = true\ndescription = \"C+++ and more\"\n+++\n",
         "Triple", "c", nullptr, {"", "Triple", "C+++ and more", {"a", "b", "c"}}},
    };
    if (!makeDirs(formsDir)) return fail("cannot make " + formsDir);
    for (const HandCase &h : hand) {
        if (!writeText(formsDir + "/" + h.slug + ".md", h.text)) return fail("cannot write a hand-written post");
        rc = quorlina_post_update(site.c_str(), h.slug, h.title, nullptr, nullptr, h.add, h.remove);
        if (rc != 0) return fail(std::string("quorlina_post_update of ") + h.slug + " returned " + std::to_string(rc));
        std::string rel = std::string("blog/2024/10/02/") + h.slug + ".md";
        PostValues v = h.after;
        v.path = rel;
        expected[rel] = v;
    }

    // Posts written completely: a body, a draft flag and the date key that
    // dates the page, from a create; a draft published, a body replaced and
    // a tag renamed across every post, from updates.
    quorlina_post_create_options full = QUORLINA_POST_CREATE_OPTIONS_INIT;
    full.body = "Body with \"quotes\", \\ and\n+++\nlines of its own.\n";
    full.draft = 1;
    {
        char *path = nullptr;
        rc = quorlina_post_create_ext(site.c_str(), "complete", "Complete", "All of it", "keep", "2021-07-04", &full, &path);
        if (rc != 0) return fail("quorlina_post_create_ext returned " + std::to_string(rc));
        quorlina_free(path);
    }
    const std::string completePath = "blog/2021/07/04/complete.md";
    std::map<std::string, PageExtras> expectedExtras;
    expectedExtras[completePath] = PageExtras{"2021-07-04", "true", full.body};
    quorlina_post_update_options publish = QUORLINA_POST_UPDATE_OPTIONS_INIT;
    publish.draft = 0;
    rc = quorlina_post_update_ext(site.c_str(), "drafty", &publish);
    if (rc != 0) return fail("publishing the hand-written draft returned " + std::to_string(rc));
    expectedExtras["blog/2024/10/01/drafty.md"] = PageExtras{"2024-10-01", "false", "Body\n"};
    quorlina_post_update_options body = QUORLINA_POST_UPDATE_OPTIONS_INIT;
    body.body = "New body\r\n";
    body.draft = 1;
    rc = quorlina_post_update_ext(site.c_str(), "crlf", &body);
    if (rc != 0) return fail("replacing the CRLF post's body returned " + std::to_string(rc));
    expectedExtras["blog/2024/10/02/crlf.md"] = PageExtras{std::nullopt, "true", "New body\r\n"};
    std::size_t changed = 0;
    rc = quorlina_post_rename_tag(site.c_str(), "keep", "kept", nullptr, &changed);
    if (rc != 0 || changed != 2)
        return fail("renaming a tag returned " + std::to_string(rc) + " with " + std::to_string(changed) + " changed");
    expected["blog/2024/03/10/updated.md"].tags = {"new", "\"q\"", "kept"};
    expected[completePath] = PostValues{completePath, "Complete", "All of it", {"kept"}};

    if (!makeDirs(site + "/layouts/_default")) return fail("cannot create the layouts directory");
    if (!writeText(site + "/config.toml", kConfig) || !writeText(site + "/layouts/index.dump.txt", kHomeTemplate) ||
        !writeText(site + "/layouts/_default/single.dump.txt", "")) {
        return fail("cannot write the hugo configuration");
    }

    const std::string out = work + "/public";
    const std::string log = work + "/hugo.log";
    int status = runProgram({hugo, "--source", site, "--destination", out, "--cacheDir", work + "/cache", "--quiet",
                             "--buildDrafts"},
                            log);
    if (status != 0) {
        return fail("hugo exited with " + std::to_string(status) + ":\n" + readText(log).value_or("(no output)"));
    }
    auto dump = readText(out + "/dump.txt");
    if (!dump) return fail("hugo wrote no dump.txt");
    std::map<std::string, PageExtras> extras;
    auto pages = parseDump(*dump, extras);
    if (!pages) return fail("cannot parse hugo's dump:\n" + *dump);

    int mismatches = 0;
    for (const auto &entry : expected) {
        const std::string &path = entry.first;
        const PostValues &want = entry.second;
        auto it = pages->find(path);
        if (it == pages->end()) {
            std::fprintf(stderr, "hugo_posts: hugo did not see %s\n", path.c_str());
            ++mismatches;
            continue;
        }
        const PostValues &got = it->second;
        auto check = [&](const char *what, const std::string &w, const std::string &g) {
            if (w == g) return;
            std::fprintf(stderr, "hugo_posts: %s %s: expected %s, hugo saw %s\n", path.c_str(), what, show(w).c_str(),
                         show(g).c_str());
            ++mismatches;
        };
        check("title", want.title, got.title);
        check("description", want.description, got.description);
        auto checkGiven = [&](const char *what, const std::optional<std::string> &w, const std::optional<std::string> &g) {
            if (w) check(what, *w, g.value_or("(none)"));
        };
        const PageExtras &wantMore = expectedExtras[path];
        const PageExtras &gotMore = extras[path];
        checkGiven("date", wantMore.date, gotMore.date);
        checkGiven("draft", wantMore.draft, gotMore.draft);
        checkGiven("body", wantMore.body, gotMore.body);
        if (want.tags != got.tags) {
            std::fprintf(stderr, "hugo_posts: %s tags: expected %s, hugo saw %s\n", path.c_str(),
                         showTags(want.tags).c_str(), showTags(got.tags).c_str());
            ++mismatches;
        }
    }
    for (const auto &[path, got] : *pages) {
        if (!expected.count(path)) {
            std::fprintf(stderr, "hugo_posts: hugo saw an unexpected page %s\n", path.c_str());
            ++mismatches;
        }
    }
    if (mismatches) return 1;
    std::printf("hugo_posts: hugo read all %zu posts exactly as written\n", expected.size());
    return 0;
}

}  // namespace

int main() {
    auto hugo = findHugo();
    if (!hugo) {
        std::printf("hugo_posts: no hugo binary on PATH (or in QUORLINA_HUGO); skipped\n");
        return kSkipped;
    }
    const char *base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quorlina-hugo-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) return fail("mkdtemp failed");
    const std::string work = buf.data();
    int rc = runTest(*hugo, work);
    if (rc == 0) {
        removeTree(work);
    } else {
        std::fprintf(stderr, "hugo_posts: files kept in %s\n", work.c_str());
    }
    return rc;
}
