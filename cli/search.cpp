// The search command: the items whose titles, descriptions, tags or bodies
// hold a text, with the first line that holds it, in one list per family.
#include "search.hpp"

#include <string>

#include <CLI/CLI.hpp>

#include "commands.hpp"
#include "family_verbs.hpp"
#include "json_writer.hpp"
#include "option_values.hpp"
#include "quorlina/quorlina.h"
#include "render.hpp"
#include "strings.hpp"

namespace qcli {

const std::vector<const char *> &searchedFields(Family family) {
    static const std::vector<const char *> kPost = {"title", "description", "tags", "content"};
    static const std::vector<const char *> kNote = {"slug", "content"};
    static const std::vector<const char *> kSnippet = {"description", "filename", "code"};
    switch (family) {
        case Family::Post: return kPost;
        case Family::Note: return kNote;
        case Family::Snippet: break;
    }
    return kSnippet;
}

namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The first line of `text` that holds `needle`.
std::optional<std::string> matchingLine(std::string_view text, std::string_view needle) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (containsIgnoringAsciiCase(line, needle)) return std::string(line);
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace

bool containsIgnoringAsciiCase(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) return true;
    if (needle.size() > haystack.size()) return false;
    for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        std::size_t j = 0;
        while (j < needle.size() && lowerAscii(haystack[i + j]) == lowerAscii(needle[j])) ++j;
        if (j == needle.size()) return true;
    }
    return false;
}

std::optional<SearchHit> firstMatch(const JsonValue &record, Family family, std::string_view needle) {
    for (const char *field : searchedFields(family)) {
        const JsonValue *value = record.find(field);
        if (value == nullptr) continue;
        if (value->isString()) {
            if (std::optional<std::string> line = matchingLine(value->text, needle)) return SearchHit{field, std::move(*line)};
        } else if (value->isArray()) {
            for (const JsonValue &item : value->items) {
                if (item.isString() && containsIgnoringAsciiCase(item.text, needle)) return SearchHit{field, item.text};
            }
        }
    }
    return std::nullopt;
}

namespace {

struct SearchOptions {
    std::string text;
    std::string in;  // a family's name, or empty for all
};

const std::vector<Column> kHitColumns = {{"FAMILY", "family"}, {"ID", "id"}, {"FIELD", "field"}, {"LINE", "line"}};

// The hits of every family searched, in the tool's order of families and
// each family's list order: [{"family":..,"id":..,"field":..,"line":..}].
std::string runSearch(const SearchOptions &o, const Tool &tool) {
    if (o.text.empty()) throw ToolError{kExitUsage, "search needs a text to look for"};
    if (o.text.find_first_of("\r\n") != std::string::npos) {
        throw ToolError{kExitUsage, "search looks within lines: the text cannot hold a line break"};
    }
    const std::string root = tool.siteRoot();
    std::string json = "[";
    std::size_t hits = 0;
    for (const FamilyInfo &f : kFamilies) {
        if (!o.in.empty() && o.in != f.name) continue;
        const LibText list =
            callForText({f.family, Target::Kind::All, ""}, [&](char **out) { return f.listBodies(root.c_str(), out); });
        const bool read = forEachArrayElement(list.view(), [&](JsonValue &&record, std::string_view) {
            const std::optional<SearchHit> hit = firstMatch(record, f.family, o.text);
            if (!hit) return true;
            const JsonValue *id = record.find(f.createdKey);
            json += cat({hits++ ? "," : "", "{\"family\":\"", f.name, "\",\"id\":", jsonString(id ? id->text : ""),
                         ",\"field\":\"", hit->field, "\",\"line\":", jsonString(hit->line), "}"});
            return true;
        });
        if (!read) throw ToolError{QUORLINA_EINTERNAL, "the library returned text this tool cannot read"};
    }
    json += "]";
    if (tool.wantJson()) return cat({json, "\n"});
    const std::optional<JsonValue> value = parseJson(json);
    std::optional<std::string> table;
    if (value) table = renderTable(*value, kHitColumns, tool.terminalWidth);
    if (!table) throw ToolError{QUORLINA_EINTERNAL, "the search results cannot be shown"};
    return std::move(*table);
}

}  // namespace

void setupSearch(CLI::App &app, Tool &tool) {
    CLI::App *search = app.add_subcommand(
        "search", "Find the items whose titles, descriptions, tags or bodies hold a text (ASCII letters in any case)");
    SearchOptions &o = bindCommand<SearchOptions>(*search, tool, runSearch);
    addRequired(*search, o.text, "TEXT", "the text to look for, within one line");
    search->add_option("--in", o.in, "only this family: snippet, post or note (default: all three)")
        ->check(CLI::IsMember({"snippet", "post", "note"}))
        ->type_name("FAMILY");
}

}  // namespace qcli
