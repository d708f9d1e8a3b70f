// quorlina: the command-line tool over libquorlina_ffi's C interface.
//
//   quorlina [--root DIR] [--format table|json] <snippet|post|note> <verb> ...
//   quorlina init [DIR] | help [COMMAND [VERB]] | completion bash|zsh|fish
//
// The exit status is the library's result code (0 on success), or one of
// the tool's own statuses of messages.hpp. Every failure prints exactly one
// line on standard error and nothing on standard output.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include <sys/ioctl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "commands.hpp"
#include "messages.hpp"
#include "quorlina/quorlina.h"
#include "strings.hpp"
#include "tool.hpp"
#include "usage_errors.hpp"

namespace qcli {
namespace {

void printError(const std::string &text) {
    const std::string line = cat({"quorlina: ", text, "\n"});
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

// Writes what a command printed, all in one piece.
int writeOut(const std::string &text) {
    errno = 0;
    bool written = text.empty() || std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    if (written && std::fflush(stdout) != 0) written = false;
    if (written) return 0;
    // A reader that has had enough (`quorlina post list | head -1`) is not
    // a failure: end quietly, as if it had read everything.
    if (errno == EPIPE) return 0;
    printError(cat({"cannot write the output: ", std::strerror(errno)}));
    return kExitOutput;
}

// The columns of the terminal that standard output is, or 0 when it is not
// a terminal (then tables are never cut).
std::size_t terminalWidth() {
    if (!isatty(STDOUT_FILENO)) return 0;
    struct winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char *columns = std::getenv("COLUMNS")) {
        char *end = nullptr;
        const long n = std::strtol(columns, &end, 10);
        if (end != columns && *end == '\0' && n > 0 && n < 100000) return static_cast<std::size_t>(n);
    }
    return 0;
}

std::string exitStatusFooter() {
    std::string out = "Exit status:\n";
    for (const ExitStatus &e : kExitStatuses) {
        std::string status = e.status;
        status.resize(std::max<std::size_t>(status.size(), 11), ' ');
        out += cat({"  ", status, e.meaning, "\n"});
    }
    out += "Run 'quorlina help COMMAND [VERB]' for the options of a command.";
    return out;
}

int run(int argc, char **argv) {
    // Writing to a closed pipe then fails with EPIPE, which writeOut
    // handles, instead of killing the process.
    std::signal(SIGPIPE, SIG_IGN);

    Tool tool;
    tool.terminalWidth = terminalWidth();
    CLI::App app{"Manage the snippets, posts and notes of a static site.", "quorlina"};
    app.fallthrough();  // the tool's options may also follow the commands
    app.require_subcommand(1);
    app.set_version_flag("--version", cat({"quorlina ", QUORLINA_VERSION}));
    addToolOptions(app, tool);

    setupSnippet(app, tool);
    setupPost(app, tool);
    setupNote(app, tool);
    setupTag(app, tool);
    setupCheck(app, tool);
    setupSearch(app, tool);
    setupInit(app, tool);
    setupHelp(app, tool);
    setupCompletion(app, tool);
    // Set after the subcommands exist, which would otherwise inherit it.
    app.footer(exitStatusFooter());

    // The command that was given runs from its callback, once the whole
    // command line has been parsed.
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        if (e.get_exit_code() == 0) {
            // --help and --version: CLI11 prints them on standard output.
            return app.exit(e);
        }
        const std::vector<std::string> args(argv + 1, argv + argc);
        if (std::optional<std::string> why = explainUsage(app, args)) {
            printError(*why);
        } else {
            printError(cat({oneLine(e.what()), " (run with --help for usage)"}));
        }
        return kExitUsage;
    } catch (const ToolError &e) {
        printError(e.text);
        return e.status;
    }
    if (!tool.output) {
        printError("no command given (run with --help for usage)");
        return kExitUsage;
    }
    const int written = writeOut(*tool.output);
    if (written != 0 || tool.status == 0) return written;
    printError(tool.statusLine);
    return tool.status;
}

}  // namespace
}  // namespace qcli

int main(int argc, char **argv) {
    try {
        return qcli::run(argc, argv);
    } catch (const std::bad_alloc &) {
        qcli::printError("out of memory");
        return QUORLINA_ENOMEM;
    } catch (const std::exception &e) {
        qcli::printError(qcli::cat({"internal error: ", qcli::oneLine(e.what())}));
        return QUORLINA_EINTERNAL;
    } catch (...) {
        qcli::printError("internal error");
        return QUORLINA_EINTERNAL;
    }
}
