#include "command_lookup.hpp"

#include <optional>

#include <CLI/CLI.hpp>

#include "strings.hpp"
#include "suggest.hpp"

namespace qcli {

std::vector<const CLI::App *> visibleSubcommands(const CLI::App &app) {
    return app.get_subcommands([](const CLI::App *sub) { return !sub->get_group().empty(); });
}

std::vector<std::string> commandNames(const std::vector<const CLI::App *> &apps) {
    std::vector<std::string> out;
    for (const CLI::App *a : apps) out.push_back(a->get_name());
    return out;
}

bool takesValue(const CLI::Option &option) { return option.get_type_size_max() > 0 && option.get_expected_max() > 0; }

namespace {

const CLI::App *subcommandNamed(const CLI::App &app, const std::string &name) {
    for (const CLI::App *sub : visibleSubcommands(app)) {
        if (sub->get_name() == name) return sub;
    }
    return nullptr;
}

}  // namespace

CommandMatch matchCommand(const CLI::App &top, const std::vector<std::string> &words) {
    CommandMatch match;
    const CLI::App *current = &top;
    std::vector<std::string> typed;
    std::vector<std::string> meant;
    for (const std::string &word : words) {
        const std::vector<const CLI::App *> subs = visibleSubcommands(*current);
        if (subs.empty()) break;  // the rest are the command's own arguments
        typed.push_back(word);
        const CLI::App *next = subcommandNamed(*current, word);
        if (next == nullptr) {
            const std::optional<std::string> guess = nearest(word, commandNames(subs));
            if (!guess) {
                match.guessed = false;
                match.error = cat({"unknown command '", oneLine(joined(typed, " ")), "' (expected one of: ",
                                   joined(commandNames(subs), ", "), ")"});
                return match;
            }
            match.guessed = true;
            next = subcommandNamed(*current, *guess);
        }
        meant.push_back(next->get_name());
        current = next;
    }
    if (match.guessed) {
        match.error = cat({"unknown command '", oneLine(joined(typed, " ")), "' (did you mean '",
                           joined(meant, " "), "'?)"});
    } else {
        match.command = current;
    }
    return match;
}

}  // namespace qcli
