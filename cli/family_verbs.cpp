#include "family_verbs.hpp"

#include <optional>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "command_tree.hpp"
#include "filter.hpp"
#include "json_reader.hpp"
#include "json_writer.hpp"
#include "option_values.hpp"
#include "quorlina/quorlina.h"
#include "render.hpp"
#include "strings.hpp"

namespace qcli {

namespace {

ToolError unreadable() { return ToolError{QUORLINA_EINTERNAL, "the library returned text this tool cannot read"}; }

// The library's JSON as it is, or for people what `render` makes of it.
template <class Render>
std::string shown(const Tool &tool, std::string_view json, Render &&render) {
    if (tool.wantJson()) return cat({json, "\n"});
    std::optional<JsonValue> value = parseJson(json);
    std::optional<std::string> text;
    if (value) text = render(*value);
    if (!text) throw unreadable();
    return std::move(*text);
}

// The options of list: the tag, date and count filters.
struct ListOptions {
    const FamilyInfo *family = nullptr;
    std::vector<std::string> tags;
    TextOption since, until, limit;
    bool drafts = false, published = false;
};

// A date option of a list (--since, --until), checked when the list runs.
DateKey dateOption(const TextOption &option, const char *name) {
    std::optional<DateKey> date = parseDateArgument(option.value);
    if (!date) {
        throw ToolError{QUORLINA_EINVALID_DATE,
                        cat({"invalid date '", oneLine(option.value), "' for ", name, " (expected YYYY-MM-DD)"})};
    }
    return *date;
}

// --limit: a decimal count, 0 or more.
std::size_t limitOption(const std::string &text) {
    std::size_t n = 0;
    bool ok = !text.empty() && text.size() <= 18;
    for (char c : text) {
        ok = ok && c >= '0' && c <= '9';
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    if (!ok) throw ToolError{kExitUsage, cat({"invalid --limit '", oneLine(text), "' (expected a whole number, 0 or more)"})};
    return n;
}

ListFilter filterOf(const ListOptions &o) {
    ListFilter f;
    for (const std::string &t : o.tags) {
        // A post's tags are items of an array, so no tag holds a comma: a
        // comma here is a list meant for --tags, which would match nothing.
        if (t.find(',') != std::string::npos) {
            throw ToolError{kExitUsage, cat({"each --tag takes one tag, not a list: '", oneLine(t),
                                             "' holds a comma (repeat --tag for each tag)"})};
        }
        // Tags are stored trimmed; a tag given as " rust" means "rust".
        const std::size_t first = t.find_first_not_of(' ');
        const std::size_t last = t.find_last_not_of(' ');
        f.tags.push_back(first == std::string::npos ? std::string() : t.substr(first, last - first + 1));
    }
    if (o.since.given()) f.since = dateOption(o.since, "--since");
    if (o.until.given()) f.until = dateOption(o.until, "--until");
    if (o.limit.given()) f.limit = limitOption(o.limit.value);
    if (o.drafts) f.draft = true;
    if (o.published) f.draft = false;
    return f;
}

// list: the library's JSON unchanged, or a table; with a filter, only the
// kept elements.
std::string runList(const ListOptions &o, const Tool &tool) {
    const FamilyInfo &f = *o.family;
    const std::string root = tool.siteRoot();
    const ListFilter filter = filterOf(o);
    const LibText text = callForText({f.family, Target::Kind::All, ""}, [&](char **out) { return f.list(root.c_str(), out); });
    const auto table = [&](const JsonValue &v) { return renderTable(v, f.columns, tool.terminalWidth); };
    if (!filter.active()) return shown(tool, text.view(), table);
    std::optional<FilteredList> kept = filterList(text.view(), filter, !tool.wantJson());
    if (!kept) throw unreadable();
    if (tool.wantJson()) return cat({kept->json, "\n"});
    std::optional<std::string> rendered = table(kept->items);
    if (!rendered) throw unreadable();
    return std::move(*rendered);
}

void addList(CLI::App &command, const FamilyInfo &f, Tool &tool) {
    CLI::App *verb = command.add_subcommand("list", f.verbs.list);
    ListOptions &o = bindCommand<ListOptions>(*verb, tool, runList);
    o.family = &f;
    const std::string items = f.plural;
    if (f.tagFilter) {
        CLI::Option *tag =
            verb->add_option("--tag", o.tags, cat({"only ", items, " with this tag (repeat: every tag given)"}))
                ->type_name("TAG")
                ->allow_extra_args(false);  // one tag per --tag
        offerItems(*verb, *tag, "tag");
    }
    addText(*verb, o.since, "--since", cat({"only ", items, " dated on or after DATE"}));
    o.since.option->type_name("DATE");
    addText(*verb, o.until, "--until", cat({"only ", items, " dated on or before DATE"}));
    o.until.option->type_name("DATE");
    addText(*verb, o.limit, "--limit", cat({"at most N ", items, " (the newest ones)"}));
    o.limit.option->type_name("N");
    if (f.draftFilter) {
        CLI::Option *drafts = verb->add_flag("--drafts", o.drafts, "only the drafts (draft = true)");
        verb->add_flag("--published", o.published, cat({"only the ", items, " that are no drafts"}))->excludes(drafts);
    }
}

struct ReadOptions : ItemOptions {
    bool path = false;
};

// read: the library's JSON, or the fields and the body; with --path only
// the file's path.
std::string runRead(const ReadOptions &o, const Tool &tool) {
    const FamilyInfo &f = *o.family;
    const std::string root = tool.siteRoot();
    if (o.path) {
        const std::string path = recordPath(f, root, o.key);
        return tool.wantJson() ? cat({"{\"path\":", jsonString(path), "}\n"}) : cat({path, "\n"});
    }
    const LibText text =
        callForText({f.family, Target::Kind::Key, o.key, root}, [&](char **out) { return f.read(root.c_str(), o.key, out); });
    return shown(tool, f.readText(text.view()), [&](const JsonValue &v) { return renderItem(v, f.fields, f.bodyKey); });
}

std::string runDelete(const ItemOptions &o, const Tool &tool) {
    const FamilyInfo &f = *o.family;
    const std::string root = tool.siteRoot();
    return changedOutput(tool, {f.family, Target::Kind::Key, o.key, root}, f.remove(root.c_str(), o.key));
}

// read and delete, which take nothing but the item's key.
void addKeyVerb(CLI::App &command, const char *name, const char *help, const FamilyInfo &f, Tool &tool,
                std::string (*run)(const ItemOptions &, const Tool &)) {
    bindItemCommand<ItemOptions>(*command.add_subcommand(name, help), f, tool, run);
}

}  // namespace

void setupFamily(CLI::App &app, Tool &tool, const FamilyInfo &family, const OwnVerbs &own) {
    CLI::App *command = app.add_subcommand(family.name, family.help);
    command->require_subcommand(1);
    addList(*command, family, tool);
    CLI::App *read = command->add_subcommand("read", family.verbs.read);
    ReadOptions &readOptions = bindItemCommand<ReadOptions>(*read, family, tool, runRead);
    if (family.readRecord != nullptr) read->add_flag("--path", readOptions.path, "print only the path of the item's file");
    own.create(*command->add_subcommand("create", family.verbs.create), family, tool);
    own.update(*command->add_subcommand("update", family.verbs.update), family, tool);
    addKeyVerb(*command, "delete", family.verbs.remove, family, tool, runDelete);
    if (own.more != nullptr) own.more(*command, family, tool);
}

void addKey(CLI::App &verb, const FamilyInfo &family, std::string &key) {
    offerItems(verb, *addRequired(verb, key, family.keyName, family.keyHelp), family.name);
}

std::string recordPath(const FamilyInfo &f, const std::string &root, const std::string &key) {
    const LibText text =
        callForText({f.family, Target::Kind::Key, key, root}, [&](char **out) { return f.readRecord(root.c_str(), key, out); });
    const std::optional<JsonValue> record = parseJson(text.view());
    const JsonValue *path = record ? record->find("path") : nullptr;
    if (path == nullptr || !path->isString()) throw unreadable();
    return path->text;
}

LibText::LibText(LibText &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}

LibText::~LibText() { quorlina_free(p_); }

LibText callForText(const Target &target, const std::function<int(char **out)> &call) {
    LibText text;
    const int code = call(text.out());
    if (code != QUORLINA_OK) throw ToolError{code, failureText(target, code)};
    return text;
}

std::string createdOutput(const Tool &tool, const FamilyInfo &family, const std::string &path,
                          const std::string &key) {
    if (!tool.wantJson()) return cat({path, "\n"});
    return cat({"{\"path\":", jsonString(path), ",\"", family.createdKey, "\":", jsonString(key), "}\n"});
}

std::string changedOutput(const Tool &tool, const Target &target, int code) {
    if (code != QUORLINA_OK) throw ToolError{code, failureText(target, code)};
    return tool.wantJson() ? "{\"ok\":true}\n" : "";
}

}  // namespace qcli
