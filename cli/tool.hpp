// What every command sees: the options of the tool itself, which may stand
// before or after any command, and the output of the command that ran.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

namespace qcli {

struct Tool {
    std::string root;  // --root
    CLI::Option *rootOption = nullptr;
    std::string format = "table";  // --format
    bool json = false;             // --json
    std::size_t terminalWidth = 0;  // columns of the terminal on standard output; 0 when not a terminal

    // What the command prints on success, set by its callback. Everything
    // goes out in one piece at the end, so a failure never leaves partial
    // output behind.
    std::optional<std::string> output;
    // A command whose output is its finding (check) may end with a status
    // other than 0 after printing it, and one line on standard error.
    int status = 0;
    std::string statusLine;

    bool wantJson() const { return json || format == "json"; }

    // The root named with --root, if it was given.
    std::optional<std::string> givenRoot() const;

    // The site that family commands work on: the one --root names, else
    // the nearest at or above the current directory (see site_root.hpp).
    std::string siteRoot() const;
};

// Adds --root, --format and --json to the tool's command.
void addToolOptions(CLI::App &app, Tool &tool);

// Makes the options struct of `command`, for the caller to bind its options
// and arguments to, and sets the command's callback: once the whole command
// line is parsed, `run(options, tool)` runs and what it returns becomes the
// tool's output. Failures are thrown as a ToolError.
template <class Options, class Run>
Options &bindCommand(CLI::App &command, Tool &tool, Run run) {
    auto options = std::make_shared<Options>();
    command.callback([options, &tool, run] { tool.output = run(*options, tool); });
    return *options;
}

}  // namespace qcli
