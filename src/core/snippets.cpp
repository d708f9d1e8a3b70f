#include "core/snippets.hpp"

#include <algorithm>

#include "core/civil_date.hpp"
#include "core/paths.hpp"
#include "core/text.hpp"

namespace quorlina {

namespace {

constexpr std::string_view kWarningPrefix = "warning: Invalid timestamp in filename '";

std::string_view extensionOf(std::string_view name) noexcept {
    std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
}

std::string lowerCopy(std::string_view s) {
    std::string out(s);
    for (char &c : out) c = text::asciiLower(c);
    return out;
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

// The code as it should be written back when the caller gives none: the
// loaded code less its one leading line break, which the writer's empty
// line after the front matter puts back. Without this every update would
// add a line.
std::string_view storedCodeForRewrite(std::string_view code) noexcept {
    if (code.substr(0, 2) == "\r\n") return code.substr(2);
    if (code.substr(0, 1) == "\n") return code.substr(1);
    return code;
}

Result<std::string> findExisting(const std::string &dirPath, std::int64_t timestamp) {
    auto found = findSnippetFilenameByTimestamp(dirPath, timestampText(timestamp));
    if (!found) return found.error();
    if (!*found) return Error::SnippetNotFound;
    return std::move(**found);
}

}  // namespace

std::string buildSnippetBody(std::string_view description, std::optional<std::string_view> filename,
                             std::string_view code) {
    std::string out;
    out.reserve(64 + description.size() + (filename ? filename->size() : 0) + code.size());
    out += "+++\ndescription = \"";
    for (char c : description) {
        if (c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    out += "\"\n";
    if (filename) {
        out += "filename = \"";
        out += *filename;
        out += "\"\n";
    }
    out += "+++\n\n";
    out += code;
    return out;
}

Status ensureDescriptionValid(std::string_view d) noexcept {
    if (d.empty() || d.find_first_of("\n\r\"") != std::string_view::npos ||
        d.find("+++") != std::string_view::npos)
        return Error::InvalidDescription;
    return {};
}

Status ensureFilenameValid(std::string_view f) noexcept {
    if (f.empty() || f.find_first_of("\n\r\"/\\") != std::string_view::npos ||
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

Result<Snippet> loadSnippetFromFile(const platform::Dir &dir, std::string_view name,
                                    std::optional<std::string_view> fullPath) {
    auto raw = dir.readFile(name);
    if (!raw) return raw.error();

    // The front matter is examined before the file name.
    auto parsed = snippet_frontmatter::parse(*raw);
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
    std::string extension = lowerCopy(ext);
    for (char c : extension)
        if (!text::isSlugByte(c)) return Error::InvalidExtension;

    Snippet s;
    s.frontmatter = std::move(parsed->frontmatter);
    s.codeOffset = parsed->codeOffset;
    s.raw = std::move(*raw);
    s.path = std::string(fullPath ? *fullPath : name);
    s.id = std::string(stem);
    s.date = dateFromTimestamp(*ts);
    s.filename = s.frontmatter.filename ? *s.frontmatter.filename : std::string(name);
    std::size_t fdot = s.filename.rfind('.');
    s.language = fdot == std::string::npos ? extension : lowerCopy(std::string_view(s.filename).substr(fdot + 1));
    s.extension = std::move(extension);
    return s;
}

Result<std::optional<std::string>> findSnippetFilenameByTimestamp(std::string_view dirPath,
                                                                  std::string_view timestampText) {
    auto dir = platform::Dir::open(dirPath);
    if (!dir) {
        if (dir.error() == Error::FileNotFound) return std::optional<std::string>{};
        return dir.error();
    }
    for (;;) {
        auto entry = dir->next();
        if (!entry) return entry.error();
        if (!*entry) return std::optional<std::string>{};
        const platform::DirEntry &e = **entry;
        if (!isSnippetCandidate(e)) continue;
        if (e.name.substr(0, e.name.rfind('.')) == timestampText) return std::optional<std::string>{std::string(e.name)};
    }
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

Result<Snippet> readSnippet(std::string_view root, std::int64_t timestamp) {
    std::string dirPath = snippetsDir(root);
    auto name = findExisting(dirPath, timestamp);
    if (!name) return name.error();
    auto dir = platform::Dir::open(dirPath);
    if (!dir) return dir.error();
    std::string full = joinPath({dirPath, *name});
    return loadSnippetFromFile(*dir, *name, std::string_view(full));
}

Result<std::string> createSnippet(std::string_view root, std::int64_t timestamp, std::string_view description,
                                  std::string_view code, std::string_view filename) {
    std::string id = timestampText(timestamp);
    if (!isAllDigits(id)) return Error::InvalidTimestamp;
    QL_TRY(ensureDescriptionValid(description));
    QL_TRY(ensureFilenameValid(filename));
    QL_TRY(ensureExtensionValid(filename));

    std::string dirPath = snippetsDir(root);
    auto existing = findSnippetFilenameByTimestamp(dirPath, id);
    if (!existing) return existing.error();
    if (*existing) return Error::DuplicateSnippet;

    std::string name = id + "." + std::string(extensionOf(filename));
    std::string full = joinPath({dirPath, name});
    QL_TRY(platform::checkPathLength(full));
    QL_TRY(platform::makeDirPath(dirPath));
    std::string body = buildSnippetBody(description, filename, code);
    auto dir = platform::Dir::open(dirPath);
    if (!dir) return dir.error();
    Status st = dir->writeExclusive(name, body);
    if (!st.ok()) return st.error() == Error::PathAlreadyExists ? Error::DuplicateSnippet : st.error();
    return full;
}

Status updateSnippet(std::string_view root, std::int64_t timestamp, std::optional<std::string_view> description,
                     std::optional<std::string_view> code, std::optional<std::string_view> filename) {
    std::string dirPath = snippetsDir(root);
    auto found = findExisting(dirPath, timestamp);
    if (!found) return found.error();
    auto dir = platform::Dir::open(dirPath);
    if (!dir) return dir.error();
    auto loaded = loadSnippetFromFile(*dir, *found, std::nullopt);
    if (!loaded) return loaded.error();

    // Only what the caller gives is validated; stored values were accepted
    // when they were written.
    if (description) QL_TRY(ensureDescriptionValid(*description));
    if (filename) {
        QL_TRY(ensureFilenameValid(*filename));
        QL_TRY(ensureExtensionValid(*filename));
    }

    std::string_view newDescription = description ? *description : loaded->frontmatter.description;
    std::string_view newCode = code ? *code : storedCodeForRewrite(loaded->code());
    std::string_view newFilename = filename ? *filename : std::string_view(loaded->filename);
    std::string_view ext = filename ? extensionOf(*filename) : std::string_view(loaded->extension);

    std::string name = timestampText(timestamp) + "." + std::string(ext);
    std::string full = joinPath({dirPath, name});
    QL_TRY(platform::checkPathLength(full));
    std::string body = buildSnippetBody(newDescription, newFilename, newCode);

    // On a case-insensitive file system the old and the new name can be one
    // file (1700000000.PY and 1700000000.py): removing the old name would
    // then remove what was just written. Names that are one file before or
    // after the write are never removed.
    auto sameFile = [&] {
        auto oldId = dir->fileId(*found);
        auto newId = dir->fileId(name);
        return oldId.ok() && newId.ok() && *oldId == *newId;
    };
    bool renamed = name != *found;
    bool sameBefore = renamed && sameFile();
    QL_TRY(dir->writeReplace(name, body, *found));

    if (renamed) {
        bool same = sameBefore || sameFile();
        std::string oldFull = joinPath({dirPath, *found});
        if (!same && platform::checkPathLength(oldFull).ok()) {
            // The new file is in place; a stale old file is not worth failing for.
            (void)dir->removeFile(*found);
        }
    }
    return {};
}

Status deleteSnippet(std::string_view root, std::int64_t timestamp) {
    std::string dirPath = snippetsDir(root);
    auto found = findExisting(dirPath, timestamp);
    if (!found) return found.error();
    std::string full = joinPath({dirPath, *found});
    QL_TRY(platform::checkPathLength(full));
    Status st = platform::removeFile(full);
    if (!st.ok() && (st.error() == Error::AccessDenied || st.error() == Error::PermissionDenied) &&
        platform::isDirectory(full))
        return Error::IsDir;
    return st;
}

}  // namespace quorlina
