// End to end through the C interface: the fuzz input is written as a
// snippet, a post and a note file of a fresh site (and as a second post
// whose file name comes from the input's first line), then every family is
// listed and read. Each call must return a documented code, leave *out NULL
// exactly when it fails, and hand back valid JSON records; reads never
// change the files, and list and read agree with each other.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "fuzz_check.hpp"
#include "quorlina/quorlina.h"
#include "record_check.hpp"

using qjson::Record;

namespace {

void removeTree(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR *d = ::opendir(path.c_str())) {
            std::vector<std::string> names;
            while (dirent *e = ::readdir(d)) {
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
            }
            ::closedir(d);
            for (const auto &n : names) removeTree(path + "/" + n);
        }
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

void makeDirs(const std::string &path) {
    for (std::size_t i = 1; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
}

void writeFile(const std::string &path, std::string_view bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(f.good(), "cannot write " + path);
}

std::string readFile(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// One site directory per process, removed at exit.
const std::string &siteRoot() {
    static const std::string root = [] {
        // Memory-backed /dev/shm when there is one: each input rebuilds a
        // small tree, which is many times faster there than on a disk.
        const char *base = std::getenv("TMPDIR");
        if (!base || !*base) base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = std::string(base) + "/quorlina-fuzz-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        FUZZ_CHECK(::mkdtemp(buf.data()) != nullptr, "mkdtemp failed");
        std::atexit([] { removeTree(siteRoot()); });
        return std::string(buf.data());
    }();
    return root;
}

struct Call {
    int code;
    std::string text;
};

// Runs an export with an out-parameter and checks the out-parameter rules.
template <class Fn>
Call call(const char *what, Fn &&fn) {
    char sentinel = 0;
    char *out = &sentinel;
    int code = fn(&out);
    FUZZ_CHECK(out != &sentinel, std::string(what) + " left *out untouched");
    FUZZ_CHECK(qjson::isDocumentedCode(code), std::string(what) + " returned " + std::to_string(code));
    FUZZ_CHECK((code == 0) == (out != nullptr), std::string(what) + ": *out NULL does not match code " +
                                                   std::to_string(code));
    Call c{code, out ? std::string(out) : std::string()};
    quorlina_free(out);
    return c;
}

void checkList(const char *what, const Call &c, Record kind, qjson::Value &v) {
    if (c.code != 0) return;
    std::string fault = qjson::checkListText(c.text, kind, &v);
    FUZZ_CHECK(fault.empty(), std::string(what) + ": " + fault + " in " + qfuzz::show(c.text));
}

void checkRead(const char *what, const Call &c, Record kind, qjson::Value &v) {
    if (c.code != 0) return;
    std::string fault = qjson::checkRecordText(c.text, kind, &v);
    FUZZ_CHECK(fault.empty(), std::string(what) + ": " + fault + " in " + qfuzz::show(c.text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view in = qfuzz::asView(data, size);
    const std::string &root = siteRoot();
    const char *r = root.c_str();
    removeTree(root + "/content");

    const std::string snippet = root + "/content/snippets/1700000000.md";
    const std::string post = root + "/content/blog/2024/03/09/fuzz.md";
    const std::string note = root + "/content/notes/1700000000.md";
    makeDirs(root + "/content/snippets");
    makeDirs(root + "/content/blog/2024/03/09");
    makeDirs(root + "/content/notes");
    writeFile(snippet, in);
    writeFile(post, in);
    writeFile(note, in);

    // The first line, cut at a NUL, names a second post file and is used as
    // an id to look up.
    std::string firstLine(in.substr(0, std::min(in.find('\n'), std::size_t{64})));
    firstLine = firstLine.substr(0, firstLine.find('\0'));
    std::string nameStem = firstLine;
    for (char &c : nameStem)
        if (c == '/') c = '_';
    std::string namedPost;
    std::size_t expectedPosts = 1;
    if (!nameStem.empty()) {
        if (nameStem != "index" && nameStem != "_index") expectedPosts = 2;
        makeDirs(root + "/content/blog/2024/03/10");
        namedPost = root + "/content/blog/2024/03/10/" + nameStem + ".md";
        writeFile(namedPost, in);
    }

    qjson::Value v;
    // Snippets: the one file is listed exactly when it reads.
    Call sl = call("snippet_list", [&](char **o) { return quorlina_snippet_list(r, o); });
    checkList("snippet_list", sl, Record::Snippet, v);
    Call sr = call("snippet_read", [&](char **o) { return quorlina_snippet_read(r, 1700000000, o); });
    checkRead("snippet_read", sr, Record::Snippet, v);
    FUZZ_CHECK(sl.code == sr.code, "snippet list " + std::to_string(sl.code) + " but read " + std::to_string(sr.code));
    if (sl.code == 0) FUZZ_CHECK(sl.text == "[" + sr.text + "]", "snippet list and read differ");

    // Posts: every listed slug reads.
    Call pl = call("post_list", [&](char **o) { return quorlina_post_list(r, o); });
    checkList("post_list", pl, Record::PostSummary, v);
    if (pl.code == 0) {
        FUZZ_CHECK(v.items.size() == expectedPosts, "posts missing from the list");
        for (const auto &item : v.items) {
            const std::string &slug = item.get("slug")->text;
            if (slug.find('\0') != std::string::npos) continue;
            qjson::Value full;
            Call pr = call("post_read", [&](char **o) { return quorlina_post_read(r, slug.c_str(), o); });
            FUZZ_CHECK(pr.code == 0, "listed post '" + qfuzz::show(slug) + "' reads as " + std::to_string(pr.code));
            checkRead("post_read", pr, Record::PostFull, full);
        }
    }
    Call pr = call("post_read", [&](char **o) { return quorlina_post_read(r, "fuzz", o); });
    checkRead("post_read", pr, Record::PostFull, v);
    FUZZ_CHECK(pl.code == 0 ? (pr.code == 0 || pr.code == 3) : pr.code == pl.code, "post read and list disagree");
    Call pr2 = call("post_read", [&](char **o) { return quorlina_post_read(r, firstLine.c_str(), o); });
    checkRead("post_read", pr2, Record::PostFull, v);

    // Notes: the file is always found by its stem when the list works.
    Call nl = call("note_list", [&](char **o) { return quorlina_note_list(r, o); });
    checkList("note_list", nl, Record::NoteSummary, v);
    if (nl.code == 0) FUZZ_CHECK(v.items.size() == 1, "note missing from the list");
    Call nr = call("note_read", [&](char **o) { return quorlina_note_read(r, "1700000000", o); });
    checkRead("note_read", nr, Record::NoteFull, v);
    FUZZ_CHECK(nl.code == nr.code, "note list " + std::to_string(nl.code) + " but read " + std::to_string(nr.code));
    Call nr2 = call("note_read", [&](char **o) { return quorlina_note_read(r, firstLine.c_str(), o); });
    checkRead("note_read", nr2, Record::NoteFull, v);

    // Reading never writes.
    FUZZ_CHECK(readFile(snippet) == in && readFile(post) == in && readFile(note) == in, "a read changed a file");
    if (!namedPost.empty()) FUZZ_CHECK(readFile(namedPost) == in, "a read changed a file");
    return 0;
}
