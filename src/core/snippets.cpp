#include "core/snippets.hpp"

#include <utility>

#include "core/civil_date.hpp"
#include "core/content.hpp"
#include "core/dated_scan.hpp"
#include "core/paths.hpp"
#include "core/text.hpp"
#include "core/toml_lexer.hpp"

namespace quorlina {

namespace {

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

// Whether a directory entry can be a snippet: a regular file whose last '.'
// is neither its first nor its last byte, and whose stem is not "index" or
// "_index".
bool isSnippetCandidate(const platform::DirEntry &entry) noexcept {
    if (entry.kind != platform::EntryKind::File) return false;
    std::string_view name = entry.name;
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return false;
    std::string_view stem = name.substr(0, dot);
    return stem != "index" && stem != "_index";
}

// The first candidate of an open snippets directory whose stem is
// `timestampText`, read from where the iteration stands.
Result<std::optional<std::string>> findInDir(platform::Dir &dir, std::string_view timestampText) {
    for (;;) {
        auto entry = dir.next();
        if (!entry) return std::move(entry).failure();
        if (!*entry) return std::optional<std::string>{};
        const platform::DirEntry &e = **entry;
        if (!isSnippetCandidate(e)) continue;
        if (e.name.substr(0, e.name.rfind('.')) == timestampText) return std::optional<std::string>{std::string(e.name)};
    }
}

// The date of a snippet file name, or nothing when loading the file would
// fail on its name (no '.', a stem that is not a timestamp, a bad
// extension).
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
        d.find("+++") != std::string_view::npos || !toml::isValidUtf8(d))
        return Error::InvalidDescription;
    return {};
}

Status ensureFilenameValid(std::string_view f) noexcept {
    if (f.empty() || f.find_first_of("\"/\\") != std::string_view::npos || text::hasTomlControlByte(f) ||
        f.find("+++") != std::string_view::npos || !toml::isValidUtf8(f))
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

namespace {

// Fills `s` from the text of the snippet file `name` (s.raw, or the text
// of a scan's record without text, to which s.codeOffset then refers),
// reusing the storage its strings hold (a scan loads many files one after
// another); `fullPath` is its path for the record. `s` is unspecified after
// a failure. A name that is not a timestamp fails with InvalidTimestamp.
// `date`, when not empty, is the date of a name already found to be a
// snippet's (dateOfValidName).
Status parseSnippetFields(std::string_view name, std::string_view fullPath, std::string_view text, Snippet &s,
                         std::string_view date = {}) {
    // The front matter is examined before the file name.
    auto parsed = snippet_frontmatter::parse(text);
    if (!parsed) return std::move(parsed).failure();

    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return Error::InvalidExtension;
    std::string_view stem = name.substr(0, dot);
    if (date.empty()) {
        if (!isAllDigits(stem)) return Error::InvalidTimestamp;
        auto ts = parseSigned(stem);
        if (!ts) return Error::InvalidTimestamp;
        s.date = dateFromTimestamp(*ts);
    } else {
        s.date.assign(date);
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
    s.path.assign(fullPath);
    s.id.assign(stem);
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

// The failure of loading a snippet that a lookup found: SnippetNotFound
// when the file was removed or replaced since (it is not there any more).
Failure gone(Status loaded) {
    if (content::changedSinceListed(loaded.error())) return Error::SnippetNotFound;
    return std::move(loaded).failure();
}

// The failure of the snippet file `name` at `fullPath`, whose name is not a
// timestamp, with the warning line: its reason is the number reader's when
// the stem is all digits (too large a number).
Failure badName(std::string_view name, std::string_view fullPath) {
    std::string_view stem = name.substr(0, name.rfind('.'));
    std::optional<Error> why;
    if (isAllDigits(stem)) why = parseSigned(stem).error();
    return content::badTimestampName(std::string(fullPath), why);
}

// `st`, the outcome of loading the snippet file `name` at `fullPath`, with
// a failure as that file's; a name that is not a timestamp asks for the
// warning line, whichever call loads the file.
Status fileOutcome(std::string_view name, std::string_view fullPath, Status st) {
    if (st) return st;
    if (st.error() == Error::InvalidTimestamp) return badName(name, fullPath);
    return concerning(std::string(fullPath), std::move(st).failure());
}

// Loads the snippet file `name` of `dir` into `s`; see parseSnippetFields.
Status loadSnippetInto(const platform::Dir &dir, std::string_view name, std::string_view fullPath, Snippet &s) {
    auto raw = dir.readFile(name);
    if (!raw) return fileOutcome(name, fullPath, std::move(raw).failure());
    s.raw = std::move(*raw);
    return fileOutcome(name, fullPath, parseSnippetFields(name, fullPath, s.raw, s));
}

Status scanSnippets(platform::Dir &dir, std::string_view dirPath,
                    const std::function<void(const Snippet &, std::string_view code)> &visit,
                    const std::function<void(std::size_t count)> &expect, const BrokenSink *broken = nullptr);

// The entry name of the snippet `timestampText` in `dir`, found through a
// handle of its own (so `dir` keeps its position).
Result<std::string> findName(const platform::Dir &dir, std::string_view timestampText) {
    auto scan = dir.reopen();
    if (!scan) return std::move(scan).failure();
    auto found = findInDir(*scan, timestampText);
    if (!found) return std::move(found).failure();
    if (!*found) return Error::SnippetNotFound;
    return std::move(**found);
}

}  // namespace

// The order of the list follows from the file names alone (the date is the
// stem's), so the names are sorted first and the files loaded one at a
// time in that order. A name that is not a snippet's is an entry that
// fails when it is loaded (after its front matter, which is examined
// first), so a failure is reported for the first failing file in
// file-system order, with the warning line when its name decides.
Status visitSnippets(std::string_view dirPath,
                     const std::function<void(const Snippet &, std::string_view code)> &visit,
                     const std::function<void(std::size_t count)> &expect) {
    return content::scanIfPresent(dirPath, [&](platform::Dir &dir) { return scanSnippets(dir, dirPath, visit, expect); });
}

Status checkSnippets(std::string_view dirPath, const BrokenSink &broken) {
    return content::scanIfPresent(dirPath, [&](platform::Dir &dir) {
        return scanSnippets(dir, dirPath, [](const Snippet &, std::string_view) {}, {}, &broken);
    });
}

namespace {

Status scanSnippets(platform::Dir &dir, std::string_view dirPath,
                    const std::function<void(const Snippet &, std::string_view code)> &visit,
                    const std::function<void(std::size_t count)> &expect, const BrokenSink *broken) {
    DatedEntries entries;
    QL_TRY(listDated(dir, entries, [](const platform::DirEntry &e) -> std::optional<std::string> {
        if (!isSnippetCandidate(e)) return std::nullopt;
        return dateOfValidName(e.name).value_or(std::string());
    }));
    if (expect) expect(entries.size());

    // One record and one path, reused from file to file, and the code of the
    // record, in the reader's buffer. The path prefix is what joinPath puts
    // before a name ("x" stands for it).
    Snippet current;
    std::string_view code;
    std::string prefix = joinPath({dirPath, "x"});
    prefix.pop_back();
    std::string full;
    platform::FileReader reader;
    return loadInOrder(
        entries, reader, [&](std::uint32_t i) { platform::FileReader::fetchMetadata(dir, entries.name(i)); },
        [&](std::uint32_t i) { reader.openAhead(dir, entries.name(i), i, nullptr); },
        [&](std::uint32_t i) -> Status {
            std::string_view name = entries.name(i);
            full.assign(prefix).append(name);
            auto text = reader.read(dir, name, nullptr, i);
            if (!text) return fileOutcome(name, full, std::move(text).failure());
            QL_TRY(fileOutcome(name, full, parseSnippetFields(name, full, *text, current, entries.key(i))));
            code = text->substr(current.codeOffset);
            current.codeOffset = 0;  // no text, so no code
            return Status{};
        },
        [&](std::uint32_t) { visit(current, code); }, broken);
}

}  // namespace

Result<Snippet> readSnippet(std::string_view dirPath, std::int64_t timestamp) {
    // One open directory serves the lookup and the load.
    auto dir = content::openIfPresent(dirPath);
    if (!dir) return std::move(dir).failure();
    if (!*dir) return Error::SnippetNotFound;
    auto name = findInDir(**dir, timestampText(timestamp));
    if (!name) return std::move(name).failure();
    if (!*name) return Error::SnippetNotFound;
    Snippet s;
    Status loaded = loadSnippetInto(**dir, **name, joinPath({dirPath, **name}), s);
    // Removed or replaced since the lookup found it: not there any more.
    if (!loaded) return gone(std::move(loaded));
    return s;
}

Result<std::string> createSnippet(std::string_view dirPath, std::int64_t timestamp, std::string_view description,
                                  std::string_view code, std::string_view filename) {
    std::string id = timestampText(timestamp);
    if (!isAllDigits(id)) return Error::InvalidTimestamp;
    QL_TRY(ensureDescriptionValid(description));
    QL_TRY(ensureFilenameValid(filename));
    QL_TRY(ensureExtensionValid(filename));

    std::string name = id + "." + std::string(extensionOf(filename));
    std::string full = joinPath({dirPath, name});
    // Refused before anything is made.
    QL_TRY(platform::checkPathLength(full));
    QL_TRY(platform::checkNameLength(name));
    std::string body = buildSnippetBody(description, filename, code);
    QL_TRY(platform::checkWriteSize(body.size()));

    // The lookup and the publish are one step for every caller that
    // changes snippets.
    auto dir = content::openLockedMaking(dirPath);
    if (!dir) return std::move(dir).failure();
    auto existing = findName(*dir, id);
    if (existing) return Error::DuplicateSnippet;
    if (existing.error() != Error::SnippetNotFound) return std::move(existing).failure();
    Status st = dir->writeExclusive(name, body);
    if (!st.ok()) return st.error() == Error::PathAlreadyExists ? Failure(Error::DuplicateSnippet) : std::move(st).failure();
    return full;
}

Status updateSnippet(std::string_view dirPath, std::int64_t timestamp, std::optional<std::string_view> description,
                     std::optional<std::string_view> code, std::optional<std::string_view> filename) {
    auto dir = content::openLocked(dirPath, Error::SnippetNotFound);
    if (!dir) return std::move(dir).failure();
    auto oldName = findName(*dir, timestampText(timestamp));
    if (!oldName) return std::move(oldName).failure();
    Snippet loaded;
    Status st = loadSnippetInto(*dir, *oldName, joinPath({dirPath, *oldName}), loaded);
    if (!st) return gone(std::move(st));

    // Only what the caller gives is validated; stored values were accepted
    // when they were written.
    if (description) QL_TRY(ensureDescriptionValid(*description));
    if (filename) {
        QL_TRY(ensureFilenameValid(*filename));
        QL_TRY(ensureExtensionValid(*filename));
    }
    std::string_view ext = filename ? extensionOf(*filename) : std::string_view(loaded.extension);
    // Only what changes is written: the other lines of the block, and the
    // code when none is given, stay byte for byte.
    if (description && *description == loaded.frontmatter.description) description.reset();
    if (filename && loaded.frontmatter.filename && *filename == *loaded.frontmatter.filename) filename.reset();

    std::string name = timestampText(timestamp) + "." + std::string(ext);
    QL_TRY(platform::checkPathLength(joinPath({dirPath, name})));
    QL_TRY(platform::checkNameLength(name));
    std::string body = snippet_frontmatter::rewrite(loaded.raw, description, filename, code);
    QL_TRY(platform::checkWriteSize(body.size()));

    if (name == *oldName) {
        // A result equal to the file, byte for byte, is not written.
        if (body == loaded.raw) return {};
        return dir->writeReplace(name, body);
    }

    // On a case-insensitive file system the old and the new name can be one
    // file (1700000000.PY and 1700000000.py): that file is replaced in place,
    // and its name is never removed.
    auto oldId = dir->fileId(*oldName);
    auto newId = dir->fileId(name);
    if (oldId.ok() && newId.ok() && *oldId == *newId) return dir->writeReplace(name, body);
    // A new name is never taken from another file.
    if (newId.ok()) return Error::DuplicateSnippet;
    if (newId.error() != Error::FileNotFound) return std::move(newId).failure();
    // The content is replaced under the old name first, then the file moves
    // to the new name in one exclusive rename: a process killed at any
    // point leaves one file for the timestamp. When the file cannot move,
    // the call fails and the one file keeps its old name.
    QL_TRY(dir->writeReplace(*oldName, body));
    Status moved = dir->renameExclusive(*oldName, name);
    if (!moved && moved.error() == Error::PathAlreadyExists) return Error::DuplicateSnippet;
    return moved;
}

Status deleteSnippet(std::string_view dirPath, std::int64_t timestamp) {
    auto dir = content::openLocked(dirPath, Error::SnippetNotFound);
    if (!dir) return std::move(dir).failure();
    auto name = findName(*dir, timestampText(timestamp));
    if (!name) return std::move(name).failure();
    QL_TRY(platform::checkPathLength(joinPath({dirPath, *name})));
    return content::removeContentFile(*dir, *name, Error::SnippetNotFound);
}

}  // namespace quorlina
