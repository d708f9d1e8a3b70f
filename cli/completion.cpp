// The completion command, which prints the completion script of a shell.
#include <string>

#include <CLI/CLI.hpp>

#include "command_tree.hpp"
#include "commands.hpp"
#include "completion_scripts.hpp"
#include "tool.hpp"

namespace qcli {

void setupCompletion(CLI::App &app, Tool &tool) {
    CLI::App *completion = app.add_subcommand("completion", "Print a shell completion script");
    std::string &shell = bindCommand<std::string>(*completion, tool, [&app](const std::string &name, const Tool &) {
        return completionScript(describeCommands(app), name);
    });
    completion->add_option("SHELL", shell, "bash, zsh or fish")
        ->required()
        ->check(CLI::IsMember({"bash", "zsh", "fish"}))
        ->type_name("SHELL");
}

}  // namespace qcli
