#include "messages.hpp"

#include "quorlina/quorlina.h"
#include "strings.hpp"
#include "suggest.hpp"

namespace qcli {

const std::vector<ExitStatus> kExitStatuses = {
    {"0", "success"},
    {"1-14, 100", "the library's result code; an unparsable timestamp argument gives 1, an unparsable "
                  "--since or --until date 11; check ends with the code of the first failing file"},
    {"64", "bad command line: unknown command or option, missing argument, conflicting options"},
    {"65", "the input holds a NUL byte, which the C interface cannot carry"},
    {"66", "an input file cannot be read, or the root is not a site"},
    {"73", "init cannot create the site's directories"},
    {"74", "standard output cannot be written"},
};

const char *resultText(int code) noexcept { return quorlina_strerror(code); }

namespace {

// The existing key nearest to `key`, when one is near enough to be a
// typing mistake (see suggest.hpp). The family is listed once more; when
// that fails there is no suggestion.
std::optional<std::string> nearestKey(const FamilyInfo &family, const std::string &root, const std::string &key) {
    char *list = nullptr;
    if (family.list(root.c_str(), &list) != QUORLINA_OK) return std::nullopt;
    const std::vector<std::string> keys = itemKeys(family, list);
    quorlina_free(list);
    return nearest(key, keys);
}

// Whether a last-error text starts with the path of a file of the site:
// "site/content/blog/2024/11/01/raw.md: no front matter".
bool namesSiteFile(std::string_view detail) {
    const std::size_t colon = detail.find(": ");
    if (colon == std::string_view::npos) return false;
    const std::string_view path = detail.substr(0, colon);
    for (const FamilyInfo &f : kFamilies) {
        const std::string dir = cat({"content/", f.dir, "/"});
        const std::size_t at = path.find(dir);
        if (at != std::string_view::npos && (at == 0 || path[at - 1] == '/') && path.size() > at + dir.size()) return true;
    }
    return false;
}

const char *familyWord(Family f) { return familyInfo(f).name; }

std::string quoted(const std::string &key) { return cat({"'", oneLine(key), "'"}); }

// "snippet 1700000000", "post 'hello'", "note 'todo'", "note 1700000000"
// (one to be created), "new note" (created now), "snippets".
std::string subject(const Target &t) {
    if (t.kind == Target::Kind::All) return familyInfo(t.family).plural;
    if (t.key.empty()) return cat({"new ", familyWord(t.family)});
    // Timestamps go bare; slugs and ids in quotes.
    if (t.family == Family::Snippet || (t.family == Family::Note && t.kind == Target::Kind::New)) {
        return cat({familyWord(t.family), " ", oneLine(t.key)});
    }
    return cat({familyWord(t.family), " ", quoted(t.key)});
}

}  // namespace

std::string libraryReason(int code) {
    const std::string detail = quorlina_last_error();
    if (detail.empty() || detail == resultText(code)) return resultText(code);
    std::string line = oneLine(detail);
    if (namesSiteFile(detail)) line += " (run 'quorlina check' to list every file that fails)";
    return line;
}

std::string failureText(const Target &t, int code, bool checkHint) {
    // The library's text of the failure, read right after the failing call:
    // when it says more than the code's text, it names the file at fault.
    const std::string detail = quorlina_last_error();
    if (!detail.empty() && detail != resultText(code)) {
        std::string line = cat({subject(t), ": ", oneLine(detail)});
        // One broken file fails every call that reads it; check lists them all.
        if (checkHint && namesSiteFile(detail)) line += " (run 'quorlina check' to list every file that fails)";
        return line;
    }
    if (code == QUORLINA_ENOT_FOUND && t.kind == Target::Kind::Key) {
        std::string line;
        switch (t.family) {
            case Family::Snippet: line = cat({"no snippet with timestamp ", oneLine(t.key)}); break;
            case Family::Post: line = cat({"no post with slug ", quoted(t.key)}); break;
            case Family::Note: line = cat({"no note with id ", quoted(t.key)}); break;
        }
        if (t.root) {
            if (std::optional<std::string> near = nearestKey(familyInfo(t.family), *t.root, t.key)) {
                line += cat({" (did you mean ", quoted(*near), "?)"});
            }
        }
        return line;
    }
    if (code == QUORLINA_EDUPLICATE && t.kind == Target::Kind::New) {
        switch (t.family) {
            case Family::Snippet: return cat({"a snippet with timestamp ", oneLine(t.key), " already exists"});
            case Family::Post: return cat({"a post with slug ", quoted(t.key), " already exists on that date"});
            case Family::Note:
                return t.key.empty() ? std::string("a note with the current timestamp already exists")
                                     : cat({"a note with timestamp ", oneLine(t.key), " already exists"});
        }
    }
    if (code == QUORLINA_EINVALID_TIMESTAMP) {
        // Creation refuses a negative timestamp; every other call loads
        // files and fails on a file whose name is not a timestamp.
        if (t.kind == Target::Kind::New) return cat({subject(t), ": invalid timestamp (it must not be negative)"});
        return cat({subject(t), ": a file name in the ", familyInfo(t.family).plural, " directory is not a valid timestamp"});
    }
    return cat({subject(t), ": ", resultText(code)});
}

}  // namespace qcli
