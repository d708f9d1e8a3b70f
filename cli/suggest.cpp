#include "suggest.hpp"

#include <algorithm>
#include <numeric>

#include <CLI/CLI.hpp>

#include "render.hpp"

namespace qcli {

std::size_t editDistance(std::string_view a, std::string_view b) {
    // Three rows of the dynamic programme: two back, one back, current.
    std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), row(b.size() + 1);
    std::iota(previous.begin(), previous.end(), std::size_t{0});
    for (std::size_t i = 1; i <= a.size(); ++i) {
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                row[j] = std::min(row[j], before[j - 2] + 1);
            }
        }
        std::swap(before, previous);
        std::swap(previous, row);
    }
    return previous[b.size()];
}

std::optional<std::string> nearest(std::string_view word, const std::vector<std::string> &candidates) {
    const std::size_t allowed = word.size() < 5 ? 1 : 2;
    const std::string *best = nullptr;
    std::size_t bestDistance = allowed + 1;
    for (const std::string &c : candidates) {
        const std::size_t d = editDistance(word, c);
        if (d < bestDistance) {
            best = &c;
            bestDistance = d;
        }
    }
    if (best != nullptr) return *best;
    const std::string *prefixed = nullptr;
    for (const std::string &c : candidates) {
        if (word.empty() || c.compare(0, word.size(), word) != 0) continue;
        if (prefixed != nullptr) return std::nullopt;  // ambiguous
        prefixed = &c;
    }
    if (prefixed != nullptr) return *prefixed;
    return std::nullopt;
}

std::vector<const CLI::App *> visibleSubcommands(const CLI::App &app) {
    return app.get_subcommands([](const CLI::App *sub) { return !sub->get_group().empty(); });
}

namespace {

std::string joined(const std::vector<std::string> &words, const char *separator) {
    std::string out;
    for (const std::string &w : words) {
        if (!out.empty()) out += separator;
        out += w;
    }
    return out;
}

std::vector<std::string> names(const std::vector<const CLI::App *> &apps) {
    std::vector<std::string> out;
    for (const CLI::App *a : apps) out.push_back(a->get_name());
    return out;
}

const CLI::App *subcommandNamed(const CLI::App &app, const std::string &name) {
    for (const CLI::App *sub : visibleSubcommands(app)) {
        if (sub->get_name() == name) return sub;
    }
    return nullptr;
}

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

std::string commandName(const std::vector<const CLI::App *> &chain) {
    std::vector<std::string> words;
    for (const CLI::App *a : chain) words.push_back(a->get_name());
    return joined(words, " ");
}

// A negative number ("-5") is an argument, not an option.
bool looksLikeOption(const std::string &arg) {
    return arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9');
}

bool takesValue(const CLI::Option &opt) { return opt.get_type_size_max() > 0 && opt.get_expected_max() > 0; }

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
            const std::optional<std::string> guess = nearest(word, names(subs));
            if (!guess) {
                match.guessed = false;
                match.error = cat({"unknown command '", oneLine(joined(typed, " ")), "' (expected one of: ",
                                   joined(names(subs), ", "), ")"});
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
        if (chain.size() == 1) return cat({"a subcommand is required: ", joined(names(subs), ", ")});
        return cat({"a subcommand is required after '", commandName(chain), "': ", joined(names(subs), ", ")});
    }
    return std::nullopt;
}

}  // namespace qcli
