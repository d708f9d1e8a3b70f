#include "command_tree.hpp"

#include <CLI/CLI.hpp>

#include "command_lookup.hpp"
#include "strings.hpp"

namespace qcli {

namespace {

// The parts of a type name such as "FORMAT:{table,json}": the value's name
// and the choices that a membership check lists in braces.
void splitTypeName(const std::string &typeName, OptionInfo &info) {
    const std::size_t colon = typeName.find(':');
    info.valueName = typeName.substr(0, colon);
    const std::size_t open = typeName.find('{');
    const std::size_t close = typeName.find('}', open);
    if (open == std::string::npos || close == std::string::npos) return;
    std::string item;
    for (std::size_t i = open + 1; i <= close; ++i) {
        if (typeName[i] == ',' || typeName[i] == '}') {
            if (!item.empty()) info.choices.push_back(item);
            item.clear();
        } else {
            item.push_back(typeName[i]);
        }
    }
}

// The options marked by offerItems, by the names of their command and
// their own: "post read SLUG". Names rather than the objects, which a
// later command tree may reuse the memory of.
std::map<std::string, std::string> &itemOptions() {
    static std::map<std::string, std::string> marked;
    return marked;
}

std::string optionKey(const CLI::App &command, const CLI::Option &option) {
    std::string key = option.get_name(true, true);
    for (const CLI::App *a = &command; a != nullptr; a = a->get_parent()) key = cat({a->get_name(), " ", key});
    return key;
}

void describe(const CLI::App &app, std::vector<std::string> path, std::vector<CommandInfo> &out) {
    CommandInfo info;
    info.path = path;
    info.help = app.get_description();
    info.takesToolOptions = app.get_parent() == nullptr || app.get_fallthrough();
    for (const CLI::Option *opt : app.get_options()) {
        if (opt->get_group().empty()) continue;  // hidden
        OptionInfo o;
        o.positional = !opt->nonpositional();
        if (o.positional) {
            o.names.push_back(opt->get_name(true));
        } else {
            for (const std::string &l : opt->get_lnames()) o.names.push_back(cat({"--", l}));
            for (const std::string &s : opt->get_snames()) o.names.push_back(cat({"-", s}));
        }
        o.takesValue = takesValue(*opt);
        if (o.takesValue) splitTypeName(opt->get_type_name(), o);
        o.help = opt->get_description();
        const auto marked = itemOptions().find(optionKey(app, *opt));
        if (marked != itemOptions().end()) o.items = marked->second;
        info.options.push_back(std::move(o));
    }
    const std::vector<const CLI::App *> subs = visibleSubcommands(app);
    for (const CLI::App *sub : subs) info.subcommands.push_back(sub->get_name());
    out.push_back(std::move(info));
    for (const CLI::App *sub : subs) {
        std::vector<std::string> subPath = path;
        subPath.push_back(sub->get_name());
        describe(*sub, std::move(subPath), out);
    }
}

}  // namespace

void offerItems(const CLI::App &command, const CLI::Option &option, const char *kind) {
    itemOptions()[optionKey(command, option)] = kind;
}

std::vector<CommandInfo> describeCommands(const CLI::App &top) {
    std::vector<CommandInfo> out;
    describe(top, {}, out);
    return out;
}

}  // namespace qcli
