// The help command: the help of the tool, of a command or of a verb, as
// --help shows it, and with --man the manual page.
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "command_lookup.hpp"
#include "command_tree.hpp"
#include "commands.hpp"
#include "man_page.hpp"
#include "messages.hpp"
#include "quorlina/quorlina.h"
#include "strings.hpp"
#include "tool.hpp"

namespace qcli {

namespace {

struct HelpOptions {
    std::vector<std::string> words;
    bool man = false;
};

std::string runHelp(const HelpOptions &o, const CLI::App &top) {
    if (o.man) return manPage(describeCommands(top), kExitStatuses, QUORLINA_VERSION);
    const CommandMatch match = matchCommand(top, o.words);
    if (match.command == nullptr) throw ToolError{kExitUsage, match.error};
    // The usage line names the command as --help does: "quorlina post list".
    std::vector<std::string> words;
    for (const CLI::App *a = match.command; a != &top; a = a->get_parent()) words.insert(words.begin(), a->get_name());
    std::string name = "quorlina";
    for (const std::string &w : words) name += cat({" ", w});
    return top.get_formatter()->make_help(match.command, name, CLI::AppFormatMode::Normal);
}

}  // namespace

void setupHelp(CLI::App &app, Tool &tool) {
    CLI::App *help = app.add_subcommand("help", "Show the help of the tool, a command or a verb");
    // The words after help name a command; they are not commands to run.
    help->fallthrough(false);
    HelpOptions &o =
        bindCommand<HelpOptions>(*help, tool, [&app](const HelpOptions &options, const Tool &) { return runHelp(options, app); });
    help->add_option("COMMAND", o.words, "a command and a verb, such as: post list")->type_name("COMMAND");
    help->add_flag("--man", o.man, "print the manual page quorlina(1) in roff instead");
}

}  // namespace qcli
