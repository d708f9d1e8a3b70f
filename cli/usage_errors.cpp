#include "usage_errors.hpp"

#include <algorithm>

#include <CLI/CLI.hpp>

#include "command_lookup.hpp"
#include "strings.hpp"
#include "suggest.hpp"

namespace qcli {

namespace {

// The option `name` ("--root", "-r") of the command or of a command above
// it: options of the tool are accepted after any subcommand.
const CLI::Option *findOption(const std::vector<const CLI::App *> &chain, const std::string &name) {
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const CLI::Option *opt = (*it)->get_option_no_throw(name);
        if (opt != nullptr && !opt->get_group().empty()) return opt;
    }
    return nullptr;
}

std::vector<std::string> longOptionNames(const std::vector<const CLI::App *> &chain) {
    std::vector<std::string> out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        for (const CLI::Option *opt : (*it)->get_options()) {
            if (opt->get_group().empty()) continue;
            for (const std::string &l : opt->get_lnames()) {
                const std::string name = cat({"--", l});
                if (std::find(out.begin(), out.end(), name) == out.end()) out.push_back(name);
            }
        }
    }
    return out;
}

std::string commandName(const std::vector<const CLI::App *> &chain) { return joined(commandNames(chain), " "); }

// A negative number ("-5") is an argument, not an option.
bool looksLikeOption(const std::string &arg) {
    return arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
}

}  // namespace

std::optional<std::string> explainUsage(const CLI::App &top, const std::vector<std::string> &args) {
    std::vector<const CLI::App *> chain{&top};
    std::vector<std::string> words;  // the subcommand words, for matchCommand
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--") break;
        if (looksLikeOption(arg)) {
            const bool isLong = arg[1] == '-';
            const std::size_t eq = isLong ? arg.find('=') : std::string::npos;
            const std::string name = isLong ? arg.substr(0, eq) : arg.substr(0, 2);
            const bool attached = isLong ? eq != std::string::npos : arg.size() > 2;
            const CLI::Option *opt = findOption(chain, name);
            if (opt == nullptr) {
                std::string text = cat({"unknown option '", oneLine(name), "' for '", commandName(chain), "'"});
                std::optional<std::string> guess;
                if (isLong) guess = nearest(name, longOptionNames(chain));
                if (guess) return cat({text, " (did you mean '", *guess, "'?)"});
                return cat({text, " (run '", commandName(chain), " --help' for its options)"});
            }
            if (takesValue(*opt) && !attached) ++i;
            continue;
        }
        if (visibleSubcommands(*chain.back()).empty()) continue;  // an argument of the command
        words.push_back(arg);
        CommandMatch match = matchCommand(top, words);
        if (match.command == nullptr) {
            // Take the following words too while they fit a suggestion, so
            // that it covers the whole command ("pots lsit" -> "post list").
            for (std::size_t j = i + 1; match.guessed && j < args.size() && !looksLikeOption(args[j]) && args[j] != "--";
                 ++j) {
                std::vector<std::string> more = words;
                more.push_back(args[j]);
                CommandMatch longer = matchCommand(top, more);
                if (longer.command != nullptr || !longer.guessed) break;
                words = std::move(more);
                match = std::move(longer);
            }
            return match.error;
        }
        chain.push_back(match.command);
    }
    const CLI::App &last = *chain.back();
    const std::vector<const CLI::App *> subs = visibleSubcommands(last);
    if (!subs.empty() && last.get_require_subcommand_min() > 0) {
        if (chain.size() == 1) return cat({"a subcommand is required: ", joined(commandNames(subs), ", ")});
        return cat({"a subcommand is required after '", commandName(chain), "': ", joined(commandNames(subs), ", ")});
    }
    return std::nullopt;
}

}  // namespace qcli
