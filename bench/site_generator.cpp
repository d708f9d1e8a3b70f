#include "site_generator.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace qbench {

namespace {

// ------------------------------------------------------------ randomness

std::uint64_t splitmix(std::uint64_t &state) {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

class Rng {
public:
    // One independent stream per (seed, family, item, part).
    Rng(std::uint64_t seed, std::uint64_t family, std::uint64_t item, std::uint64_t part = 0) {
        state_ = seed;
        for (std::uint64_t v : {family, item, part}) {
            state_ ^= v + 0x632be59bd9b4e019ULL;
            splitmix(state_);
        }
    }
    std::uint64_t next() { return splitmix(state_); }
    // Uniform enough in [0, n) for n far below 2^32.
    std::uint64_t below(std::uint64_t n) { return n == 0 ? 0 : next() % n; }
    // In [lo, hi].
    std::int64_t range(std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(below(static_cast<std::uint64_t>(hi - lo + 1)));
    }
    bool chance(int percent) { return below(100) < static_cast<std::uint64_t>(percent); }
    template <class T, std::size_t N>
    const T &pick(const T (&items)[N]) {
        return items[below(N)];
    }

private:
    std::uint64_t state_;
};

enum Family : std::uint64_t { kSnippets = 1, kPosts = 2, kNotes = 3 };

// ---------------------------------------------------------------- words

const char *const kWords[] = {
    "the",      "a",        "list",     "sort",     "cache",    "file",     "parse",    "value",
    "quick",    "simple",   "fast",     "small",    "build",    "test",     "server",   "client",
    "request",  "response", "error",    "handle",   "read",     "write",    "stream",   "buffer",
    "memory",   "thread",   "lock",     "queue",    "table",    "index",    "search",   "tree",
    "graph",    "path",     "string",   "number",   "date",     "time",     "zone",     "page",
    "site",     "post",     "note",     "draft",    "idea",     "garden",   "coffee",   "river",
    "mountain", "city",     "train",    "morning",  "evening",  "winter",   "summer",   "book",
    "review",   "notes",    "release",  "version",  "update",   "config",   "deploy",   "shell",
    "script",   "pattern",  "regex",    "unicode",  "bytes",    "format",   "without",  "with",
    "and",      "for",      "into",     "from",     "over",     "under",    "before",   "after",
};
const char *const kForeign[] = {
    "naïve", "über", "café", "Zürich", "señor", "日本語", "東京", "Ελληνικά", "Привет", "façade", "smørrebrød", "🙂",
};
const char *const kTags[] = {
    "rust",   "cpp",     "python", "go",     "linux",   "travel",  "food",   "books",   "music",    "photo",
    "web",    "css",     "html",   "js",     "db",      "sql",     "devops", "cloud",   "security", "privacy",
    "career", "notes",   "life",   "health", "running", "cycling", "garden", "coffee",  "design",   "ux",
    "math",   "physics", "ai",     "ml",     "data",    "tools",   "editor", "git",     "unix",     "meta",
};
const char *const kExtensions[] = {"py", "js", "rs", "go", "c", "cpp", "sh", "rb", "ts", "java", "sql", "lua"};

std::string words(Rng &r, int lo, int hi, int foreignPercent) {
    std::string out;
    int count = static_cast<int>(r.range(lo, hi));
    for (int i = 0; i < count; ++i) {
        if (i) out.push_back(' ');
        out += r.chance(foreignPercent) ? r.pick(kForeign) : r.pick(kWords);
    }
    return out;
}

// ------------------------------------------------------------- calendar

// Civil date (proleptic Gregorian) of a day count since 1970-01-01.
void civil(std::int64_t z, int &y, int &m, int &d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

// ------------------------------------------------------------- snippets

constexpr std::int64_t kSnippetBase = 1262304000;  // 2010-01-01
constexpr std::int64_t kSnippetSpan = 441504000;   // about 14 years

struct SnippetMeta {
    std::int64_t ts;
    std::string ext;
    std::string description;  // as stored: backslashes doubled
    std::string filename;
};

SnippetMeta snippetMeta(std::uint64_t seed, int n, int i) {
    Rng r(seed, kSnippets, static_cast<std::uint64_t>(i));
    std::int64_t step = std::max<std::int64_t>(2, kSnippetSpan / n);
    SnippetMeta m;
    m.ts = kSnippetBase + i * step + r.range(0, step / 2);
    m.ext = r.pick(kExtensions);
    std::string d = words(r, 3, 9, 8);
    d[0] = static_cast<char>(d[0] >= 'a' && d[0] <= 'z' ? d[0] - 32 : d[0]);
    // Occasionally a backslash, stored doubled as the library writes it.
    if (r.chance(6)) d += " matching \\\\d+ and \\\\s*";
    m.description = d;
    m.filename = std::string(r.pick(kWords)) + "_" + r.pick(kWords) + "." + m.ext;
    return m;
}

std::string codeLine(Rng &r, bool tabs) {
    static const char *const kLines[] = {
        "let total = items.iter().map(|x| x.len()).sum();",
        "for (int i = 0; i < n; ++i) { acc += v[i]; }",
        "print(\"value: {}\\n\".format(value))",
        "if err != nil { return fmt.Errorf(\"read %s: %w\", path, err) }",
        "const re = /^\\d{4}-\\d{2}-\\d{2}$/;",
        "echo \"$HOME/bin\" | tr ':' '\\n'",
        "# sort by the second column, numerically",
        "// Keep the order stable: ties stay where they were.",
        "return a.date > b.date;",
        "result = [x for x in data if x is not None]",
        "SELECT id, title FROM posts WHERE date > '2020-01-01';",
        "map.insert(key.to_string(), \"caf\xc3\xa9\".to_owned());",
        "throw new IllegalStateException(\"unexpected: \" + state);",
        "}",
        "",
        "local t = {} -- a table",
    };
    std::string out;
    int depth = static_cast<int>(r.below(4));
    for (int k = 0; k < depth; ++k) out += tabs ? "\t" : "    ";
    out += r.pick(kLines);
    return out;
}

std::string snippetCode(std::uint64_t seed, int i, const SnippetMeta &m) {
    Rng r(seed, kSnippets, static_cast<std::uint64_t>(i), 1);
    bool tabs = m.ext == "go" || m.ext == "c";
    int lines = static_cast<int>(r.range(20, 80));
    std::string out;
    for (int k = 0; k < lines; ++k) {
        if (k) out.push_back('\n');
        out += codeLine(r, tabs);
    }
    out.push_back('\n');
    return out;
}

std::string snippetFile(std::uint64_t seed, int i, const SnippetMeta &m) {
    return "+++\ndescription = \"" + m.description + "\"\nfilename = \"" + m.filename + "\"\n+++\n\n" +
           snippetCode(seed, i, m);
}

// ---------------------------------------------------------------- posts

constexpr std::int64_t kPostFirstDay = 16071;  // 2014-01-01
constexpr std::int64_t kPostDays = 4018;       // through 2024-12-31

struct PostMeta {
    std::string day;       // YYYY/MM/DD
    std::string date;      // YYYY-MM-DD
    std::string fileStem;  // file name without ".md"
    std::string slug;      // effective slug
    bool slugKey = false;  // slug from a "slug" key
};

PostMeta postMeta(std::uint64_t seed, int i) {
    Rng r(seed, kPosts, static_cast<std::uint64_t>(i));
    int y, mo, d;
    civil(kPostFirstDay + r.range(0, kPostDays - 1), y, mo, d);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", y, mo, d);
    PostMeta m;
    m.day = buf;
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, mo, d);
    m.date = buf;
    std::string base = std::string(r.pick(kWords)) + "-" + r.pick(kWords) + "-" + std::to_string(i);
    m.slugKey = r.chance(10);
    if (m.slugKey) {
        m.fileStem = "draft-" + std::to_string(i);
        m.slug = "p-" + base;
    } else {
        m.fileStem = base;
        m.slug = base;
    }
    return m;
}

// A TOML basic string as the library's writer quotes it.
std::string tomlQuoted(std::string_view v) {
    std::string out = "\"";
    for (char c : v) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

std::string markdownBody(Rng &r, std::size_t target) {
    std::string out;
    while (out.size() < target) {
        switch (r.below(8)) {
            case 0: out += "## " + words(r, 2, 6, 5) + "\n\n"; break;
            case 1:
                for (int k = static_cast<int>(r.range(2, 5)); k > 0; --k) out += "- " + words(r, 3, 10, 5) + "\n";
                out += "\n";
                break;
            case 2:
                out += "```sh\n";
                for (int k = static_cast<int>(r.range(2, 6)); k > 0; --k) out += codeLine(r, false) + "\n";
                out += "```\n\n";
                break;
            default: {
                std::string p = words(r, 40, 120, 3);
                p[0] = static_cast<char>(p[0] >= 'a' && p[0] <= 'z' ? p[0] - 32 : p[0]);
                if (r.chance(30)) p += " See [the " + std::string(r.pick(kWords)) + "](https://example.com/" +
                                       r.pick(kWords) + ") for \"more\".";
                out += p + ".\n\n";
            }
        }
    }
    return out;
}

std::string postFile(std::uint64_t seed, int i, const PostMeta &m) {
    Rng r(seed, kPosts, static_cast<std::uint64_t>(i), 1);
    std::string title = words(r, 3, 10, 15);
    title[0] = static_cast<char>(title[0] >= 'a' && title[0] <= 'z' ? title[0] - 32 : title[0]);
    if (r.chance(10)) title += " \"" + std::string(r.pick(kWords)) + "\"";
    if (r.chance(5)) title += " in C:\\temp\\" + std::string(r.pick(kWords));
    std::string description = words(r, 8, 20, 5) + (r.chance(10) ? " \"quoted\"" : "") + ".";
    std::string out = "+++\ntitle = " + tomlQuoted(title) + "\ndescription = " + tomlQuoted(description) + "\n";
    if (m.slugKey) out += "slug = " + tomlQuoted(m.slug) + "\n";
    int tagCount = static_cast<int>(r.range(0, 5));
    if (tagCount > 0) {
        bool multiLine = r.chance(15);
        out += multiLine ? "tags = [\n" : "tags = [";
        for (int k = 0; k < tagCount; ++k) {
            if (multiLine) {
                out += "  " + tomlQuoted(r.pick(kTags)) + ",\n";
            } else {
                if (k) out += ", ";
                out += tomlQuoted(r.pick(kTags));
            }
        }
        out += "]\n";
    }
    if (r.chance(20)) out += "draft = false\n";
    out += "+++\n\n";
    out += markdownBody(r, static_cast<std::size_t>(r.range(2000, 6000)));
    return out;
}

// ---------------------------------------------------------------- notes

constexpr std::int64_t kNoteBase = 1420070400;  // 2015-01-01
constexpr std::int64_t kNoteSpan = 315360000;   // about 10 years

struct NoteMeta {
    std::int64_t ts;
    std::string slug;  // empty: none
};

NoteMeta noteMeta(std::uint64_t seed, int n, int i) {
    Rng r(seed, kNotes, static_cast<std::uint64_t>(i));
    std::int64_t step = std::max<std::int64_t>(2, kNoteSpan / n);
    NoteMeta m;
    m.ts = kNoteBase + i * step + r.range(0, step / 2);
    if (i % 2 == 0) m.slug = "note-" + std::string(r.pick(kWords)) + "-" + std::to_string(i);
    return m;
}

std::string noteFile(std::uint64_t seed, int i, const NoteMeta &m) {
    Rng r(seed, kNotes, static_cast<std::uint64_t>(i), 1);
    std::size_t target = static_cast<std::size_t>(r.range(200, 2000));
    std::string body;
    while (body.size() < target) {
        std::string p = words(r, 10, 60, 4);
        p[0] = static_cast<char>(p[0] >= 'a' && p[0] <= 'z' ? p[0] - 32 : p[0]);
        if (r.chance(20)) p += " \"" + std::string(r.pick(kWords)) + "\"";
        if (r.chance(10)) p += "\t(tab)";
        body += p + ".\n";
    }
    if (m.slug.empty()) return body;
    return "+++\nslug = " + tomlQuoted(m.slug) + "\n+++\n\n" + body;
}

// ------------------------------------------------------------------ disk

void writeBytes(const std::string &path, const std::string &bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t w = ::write(fd, bytes.data() + off, bytes.size() - off);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            ::close(fd);
            throw std::runtime_error("cannot write " + path);
        }
        off += static_cast<std::size_t>(w);
    }
    ::close(fd);
}

std::string stampText(int n, std::uint64_t seed) {
    return "quorlina bench site v" + std::to_string(kGeneratorVersion) + " n=" + std::to_string(n) +
           " seed=" + std::to_string(seed) + "\n";
}

}  // namespace

SitePlan planSite(int n, std::uint64_t seed) {
    if (n < 4) throw std::runtime_error("a site needs at least 4 items per family");
    SitePlan p;
    p.n = n;
    p.seed = seed;
    p.readSnippet = snippetMeta(seed, n, n / 2).ts;
    p.updateSnippet = snippetMeta(seed, n, n / 3).ts;
    PostMeta rp = postMeta(seed, n / 2);
    PostMeta up = postMeta(seed, n / 3);
    p.readPostSlug = rp.slug;
    p.updatePostSlug = up.slug;
    p.updatePostDate = up.date;
    p.createPostDay = rp.day;
    int readNote = (n / 2) & ~1;  // even items have a slug
    int updateNote = (n / 3) | 1;  // odd items have none
    p.readNoteId = noteMeta(seed, n, readNote).slug;
    p.updateNoteId = std::to_string(noteMeta(seed, n, updateNote).ts);
    return p;
}

SitePlan writeSite(const std::string &root, int n, std::uint64_t seed) {
    namespace fs = std::filesystem;
    SitePlan plan = planSite(n, seed);
    fs::path snippets = fs::path(root) / "content" / "snippets";
    fs::path blog = fs::path(root) / "content" / "blog";
    fs::path notes = fs::path(root) / "content" / "notes";
    fs::create_directories(snippets);
    fs::create_directories(blog);
    fs::create_directories(notes);
    // Interleave the families so that no family's files sit together on
    // disk or in the directory tables more than the others'.
    for (int i = 0; i < n; ++i) {
        SnippetMeta sm = snippetMeta(seed, n, i);
        writeBytes((snippets / (std::to_string(sm.ts) + "." + sm.ext)).string(), snippetFile(seed, i, sm));
        PostMeta pm = postMeta(seed, i);
        fs::path day = blog / pm.day;
        fs::create_directories(day);
        writeBytes((day / (pm.fileStem + ".md")).string(), postFile(seed, i, pm));
        NoteMeta nm = noteMeta(seed, n, i);
        writeBytes((notes / (std::to_string(nm.ts) + ".md")).string(), noteFile(seed, i, nm));
    }
    // Section index pages, as a static site keeps them; every scan skips them.
    writeBytes((snippets / "_index.md").string(), "+++\ntitle = \"Snippets\"\n+++\n");
    writeBytes((blog / "_index.md").string(), "+++\ntitle = \"Blog\"\n+++\n");
    writeBytes((notes / "_index.md").string(), "+++\ntitle = \"Notes\"\n+++\n");
    return plan;
}

SitePlan ensureSite(const std::string &root, int n, std::uint64_t seed) {
    namespace fs = std::filesystem;
    const fs::path stamp = fs::path(root) / ".quorlina-bench-stamp";
    {
        std::ifstream in(stamp);
        std::stringstream have;
        have << in.rdbuf();
        if (in && have.str() == stampText(n, seed)) return planSite(n, seed);
    }
    fs::remove_all(root);
    fs::create_directories(root);
    SitePlan plan = writeSite(root, n, seed);
    writeBytes(stamp.string(), stampText(n, seed));
    return plan;
}

}  // namespace qbench
