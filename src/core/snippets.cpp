#include "core/snippets.hpp"

#include <algorithm>

#include "core/civil_date.hpp"
#include "core/dated_scan.hpp"
#include "core/last_error.hpp"
#include "core/paths.hpp"
#include "core/text.hpp"

namespace quorlina {

namespace {

constexpr std::string_view kWarningPrefix = "warning: Invalid timestamp in filename '";

std::string_view extensionOf(std::string_view name) noexcept {
    std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

bool isAllDigits(std::string_view s) noexcept {
    if (s.empty()) return false;
    for (char c : s)
        if (!text::isAsciiDigit(c)) return false;
    return true;
}

// Descending by date, byte by byte; a stable sort keeps file-system order
// among equal dates.
void sortNewestFirst(std::vector<Snippet> &snippets) {
    std::stable_sort(snippets.begin(), snippets.end(),
                     [](const Snippet &a, const Snippet &b) { return a.date > b.date; });
}

// The first candidate of an open snippets directory whose stem is
// `timestampText`, read from where the iteration stands.
Result<std::optional<std::string>> findInDir(platform::Dir &dir, std::string_view timestampText) {
    for (;;) {
        auto entry = dir.next();
        if (!entry) return entry.error();
        if (!*entry) return std::optional<std::string>{};
        const platform::DirEntry &e = **entry;
        if (!isSnippetCandidate(e)) continue;
        if (e.name.substr(0, e.name.rfind('.')) == timestampText) return std::optional<std::string>{std::string(e.name)};
    }
}

// The date of a snippet file name, or nothing when loadSnippetFromFile
// would refuse the name (no '.', a stem that is not a timestamp, a bad
// extension). Writes no warning.
std::optional<std::string> dateOfValidName(std::string_view name) {
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    std::string_view stem = name.substr(0, dot);
    if (!isAllDigits(stem)) return std::nullopt;
    auto ts = parseSigned(stem);
    if (!ts) return std::nullopt;
    std::string_view ext = name.substr(dot + 1);
    if (ext.empty()) return std::nullopt;
    for (char c : ext)
        if (!text::isSlugByte(c)) return std::nullopt;
    return dateFromTimestamp(*ts);
}

}  // namespace

Status ensureDescriptionValid(std::string_view d) noexcept {
    if (d.empty() || d.find('"') != std::string_view::npos || text::hasTomlControlByte(d) ||
        d.find("+++") != std::string_view::npos)
        return Error::InvalidDescription;
    return {};
}

Status ensureFilenameValid(std::string_view f) noexcept {
    if (f.empty() || f.find_first_of("\"/\\") != std::string_view::npos || text::hasTomlControlByte(f) ||
        f.find("+++") != std::string_view::npos)
        return Error::InvalidFilename;
    return {};
}

Status ensureExtensionValid(std::string_view filename) noexcept {
    std::size_t dot = filename.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == filename.size()) return Error::InvalidExtension;
    for (char c : filename.substr(dot + 1))
        if (!text::isSlugByte(c)) return Error::InvalidExtension;
    return {};
}

bool isSnippetCandidate(const platform::DirEntry &entry) noexcept {
    if (entry.kind != platform::EntryKind::File) return false;
    std::string_view name = entry.name;
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return false;
    std::string_view stem = name.substr(0, dot);
    return stem != "index" && stem != "_index";
}

namespace {

// loadSnippetFromFile into `s`, reusing the storage its strings hold (a
// scan loads many files one after another). `s` is unspecified after a
// failure.
Status loadSnippetFields(const platform::Dir &dir, std::string_view name, std::optional<std::string_view> fullPath,
                         Snippet &s) {
    QL_TRY(dir.readFileInto(name, s.raw));

    // The front matter is examined before the file name.
    auto parsed = snippet_frontmatter::parse(s.raw);
    if (!parsed) return parsed.error();

    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return Error::InvalidExtension;
    std::string_view stem = name.substr(0, dot);
    if (!isAllDigits(stem)) {
        platform::writeErrorLine(std::string(kWarningPrefix) + std::string(name) + "'\n");
        return Error::InvalidTimestamp;
    }
    auto ts = parseSigned(stem);
    if (!ts) {
        platform::writeErrorLine(std::string(kWarningPrefix) + std::string(name) + "': error." +
                                 std::string(errorName(ts.error())) + "\n");
        return Error::InvalidTimestamp;
    }

    std::string_view ext = name.substr(dot + 1);
    if (ext.empty()) return Error::InvalidExtension;
    s.extension.assign(ext);
    for (char &c : s.extension) {
        c = text::asciiLower(c);
        if (!text::isSlugByte(c)) return Error::InvalidExtension;
    }

    s.frontmatter = std::move(parsed->frontmatter);
    s.codeOffset = parsed->codeOffset;
    s.path.assign(fullPath ? *fullPath : name);
    s.id.assign(stem);
    s.date = dateFromTimestamp(*ts);
    if (s.frontmatter.filename) {
        s.filename.assign(*s.frontmatter.filename);
    } else {
        s.filename.assign(name);
    }
    std::size_t fdot = s.filename.rfind('.');
    if (fdot == std::string::npos) {
        s.language.assign(s.extension);
    } else {
        s.language.assign(std::string_view(s.filename).substr(fdot + 1));
        for (char &c : s.language) c = text::asciiLower(c);
    }
    return {};
}

// loadSnippetFields, recording a failure as this file's.
Status loadSnippetInto(const platform::Dir &dir, std::string_view name, std::optional<std::string_view> fullPath,
                       Snippet &s) {
    Status st = loadSnippetFields(dir, name, fullPath, s);
    if (!st) last_error::setForFile(fullPath ? *fullPath : name, st.error());
    return st;
}

}  // namespace

Result<Snippet> loadSnippetFromFile(const platform::Dir &dir, std::string_view name,
                                    std::optional<std::string_view> fullPath) {
    Snippet s;
    QL_TRY(loadSnippetInto(dir, name, fullPath, s));
    return s;
}

Result<std::optional<std::string>> findSnippetFilenameByTimestamp(std::string_view dirPath,
                                                                  std::string_view timestampText) {
    auto dir = platform::Dir::open(dirPath);
    if (!dir) {
        if (dir.error() == Error::FileNotFound) return std::optional<std::string>{};
        return dir.error();
    }
    return findInDir(*dir, timestampText);
}

Result<std::vector<Snippet>> loadSnippets(std::string_view dirPath) {
    std::vector<Snippet> out;
    auto dir = platform::Dir::open(dirPath);
    if (!dir) {
        if (dir.error() == Error::FileNotFound) return out;
        return dir.error();
    }
    for (;;) {
        auto entry = dir->next();
        if (!entry) return entry.error();
        if (!*entry) break;
        if (!isSnippetCandidate(**entry)) continue;
        std::string name((*entry)->name);
        std::string full = joinPath({dirPath, name});
        auto s = loadSnippetFromFile(*dir, name, std::string_view(full));
        if (!s) {
            if (platform::changedSinceListed(s.error())) continue;
            return s.error();
        }
        out.push_back(std::move(*s));
    }
    sortNewestFirst(out);
    return out;
}

// The list without holding every file: the order of the list follows from
// the file names alone (the date is the stem's), so the names are sorted
// first and the files loaded one at a time in that order. A failure is
// reported as loadSnippets reports it, for the first failing file in
// file-system order: when a file fails, the files before it in
// file-system order that were not loaded yet are loaded first. Names that
// loadSnippetFromFile would refuse (with a warning line) leave the whole
// job to loadSnippets, before any file is read.
Status visitSnippets(std::string_view dirPath, const std::function<void(const Snippet &)> &visit,
                     const std::function<void(std::size_t count)> &expect) {
    auto viaFullLoad = [&]() -> Status {
        auto all = loadSnippets(dirPath);
        if (!all) return all.error();
        if (expect) expect(all->size());
        for (const Snippet &s : *all) visit(s);
        return {};
    };
    auto dir = platform::Dir::open(dirPath);
    if (!dir) {
        if (dir.error() == Error::FileNotFound) return {};
        return dir.error();
    }
    DatedEntries entries;
    for (;;) {
        auto entry = dir->next();
        if (!entry) return viaFullLoad();
        if (!*entry) break;
        if (!isSnippetCandidate(**entry)) continue;
        std::string_view name = (*entry)->name;
        auto date = dateOfValidName(name);
        if (!date || !entries.add(*date, name)) return viaFullLoad();
    }
    entries.sortNewestFirst();
    if (expect) expect(entries.size());

    // One record and one path, reused from file to file. The path prefix is
    // what joinPath puts before a name ("x" stands for it).
    Snippet current;
    std::string prefix = joinPath({dirPath, "x"});
    prefix.pop_back();
    std::string full;
    return loadInOrder(
        entries,
        [&](std::uint32_t i) {
            std::string_view name = entries.name(i);
            full.assign(prefix).append(name);
            return loadSnippetInto(*dir, name, std::string_view(full), current);
        },
        [&](std::uint32_t) { visit(current); });
}

Result<Snippet> readSnippet(std::string_view root, std::int64_t timestamp) {
    std::string dirPath = snippetsDir(root);
    // One open directory serves the lookup and the load.
    auto dir = platform::Dir::open(dirPath);
    if (!dir) return dir.error() == Error::FileNotFound ? Error::SnippetNotFound : dir.error();
    auto name = findInDir(*dir, timestampText(timestamp));
    if (!name) return name.error();
    if (!*name) return Error::SnippetNotFound;
    std::string full = joinPath({dirPath, **name});
    auto loaded = loadSnippetFromFile(*dir, **name, std::string_view(full));
    // Removed or replaced since the lookup found it: not there any more.
    if (!loaded && platform::changedSinceListed(loaded.error())) return Error::SnippetNotFound;
    return loaded;
}

namespace {

// The snippets directory opened and locked for a change to an existing
// snippet; a missing one holds no snippet.
Result<platform::Dir> lockSnippetsDir(std::string_view dirPath) {
    auto dir = platform::Dir::open(dirPath);
    if (!dir) return dir.error() == Error::FileNotFound ? Error::SnippetNotFound : dir.error();
    QL_TRY(dir->lockExclusive());
    return dir;
}

// The entry name of the snippet `timestampText` in the locked `dir`, found
// through a handle of its own (so `dir` keeps its position).
Result<std::optional<std::string>> findInLocked(const platform::Dir &dir, std::string_view timestampText) {
    auto scan = dir.reopen();
    if (!scan) return scan.error();
    return findInDir(*scan, timestampText);
}

}  // namespace

Result<std::string> createSnippet(std::string_view root, std::int64_t timestamp, std::string_view description,
                                  std::string_view code, std::string_view filename) {
    std::string id = timestampText(timestamp);
    if (!isAllDigits(id)) return Error::InvalidTimestamp;
    QL_TRY(ensureDescriptionValid(description));
    QL_TRY(ensureFilenameValid(filename));
    QL_TRY(ensureExtensionValid(filename));

    std::string dirPath = snippetsDir(root);
    std::string name = id + "." + std::string(extensionOf(filename));
    std::string full = joinPath({dirPath, name});
    // Refused before anything is made.
    QL_TRY(platform::checkPathLength(full));
    QL_TRY(platform::checkNameLength(name));
    std::string body = buildSnippetBody(description, filename, code);
    QL_TRY(platform::checkWriteSize(body.size()));

    auto dir = platform::Dir::openMaking(dirPath);
    if (!dir) return dir.error();
    // The lookup and the publish are one step for every caller that
    // changes snippets.
    QL_TRY(dir->lockExclusive());
    auto existing = findInLocked(*dir, id);
    if (!existing) return existing.error();
    if (*existing) return Error::DuplicateSnippet;
    Status st = dir->writeExclusive(name, body);
    if (!st.ok()) return st.error() == Error::PathAlreadyExists ? Error::DuplicateSnippet : st.error();
    return full;
}

Status updateSnippet(std::string_view root, std::int64_t timestamp, std::optional<std::string_view> description,
                     std::optional<std::string_view> code, std::optional<std::string_view> filename) {
    std::string dirPath = snippetsDir(root);
    auto dir = lockSnippetsDir(dirPath);
    if (!dir) return dir.error();
    auto found = findInLocked(*dir, timestampText(timestamp));
    if (!found) return found.error();
    if (!*found) return Error::SnippetNotFound;
    const std::string &oldName = **found;
    auto loaded = loadSnippetFromFile(*dir, oldName, joinPath({dirPath, oldName}));
    if (!loaded) return platform::changedSinceListed(loaded.error()) ? Error::SnippetNotFound : loaded.error();

    // Only what the caller gives is validated; stored values were accepted
    // when they were written.
    if (description) QL_TRY(ensureDescriptionValid(*description));
    if (filename) {
        QL_TRY(ensureFilenameValid(*filename));
        QL_TRY(ensureExtensionValid(*filename));
    }

    std::string_view ext = filename ? extensionOf(*filename) : std::string_view(loaded->extension);
    // Only what changes is written: the other lines of the block, and the
    // code when none is given, stay byte for byte.
    if (description && *description == loaded->frontmatter.description) description.reset();
    if (filename && loaded->frontmatter.filename && *filename == *loaded->frontmatter.filename) filename.reset();

    std::string name = timestampText(timestamp) + "." + std::string(ext);
    std::string full = joinPath({dirPath, name});
    QL_TRY(platform::checkPathLength(full));
    QL_TRY(platform::checkNameLength(name));
    std::string body = snippet_frontmatter::rewrite(loaded->raw, description, filename, code);
    QL_TRY(platform::checkWriteSize(body.size()));

    if (name == oldName) return dir->writeReplace(name, body);

    // On a case-insensitive file system the old and the new name can be one
    // file (1700000000.PY and 1700000000.py): that file is replaced in place,
    // and its name is never removed.
    auto sameFile = [&] {
        auto oldId = dir->fileId(oldName);
        auto newId = dir->fileId(name);
        return oldId.ok() && newId.ok() && *oldId == *newId;
    };
    if (sameFile()) return dir->writeReplace(name, body);
    // A new name is published exclusively: an entry already there is another
    // file, which a rename must never replace.
    bool inPlace = false;
    Status published = dir->writeExclusive(name, body, oldName, &inPlace);
    if (!inPlace) {
        return published.error() == Error::PathAlreadyExists ? Error::DuplicateSnippet : published.error();
    }
    // The new file is in place (even if flushing the directory failed), so
    // the old name goes: two files must never answer to one timestamp. A
    // stale old file is not worth failing for.
    if (!sameFile()) (void)dir->removeFile(oldName);
    return published;
}

Status deleteSnippet(std::string_view root, std::int64_t timestamp) {
    auto dir = lockSnippetsDir(snippetsDir(root));
    if (!dir) return dir.error();
    auto found = findInLocked(*dir, timestampText(timestamp));
    if (!found) return found.error();
    if (!*found) return Error::SnippetNotFound;
    const std::string &name = **found;
    QL_TRY(platform::checkPathLength(joinPath({snippetsDir(root), name})));
    Status st = dir->removeFile(name);
    if (!st.ok() && (st.error() == Error::AccessDenied || st.error() == Error::PermissionDenied) &&
        dir->isChildDirectory(name))
        return Error::IsDir;
    // Removed by someone else since the lookup found it.
    if (!st.ok() && st.error() == Error::FileNotFound) return Error::SnippetNotFound;
    return st;
}

}  // namespace quorlina
