// The completion command, which prints the completion script of a shell,
// and the hidden command the scripts run to offer the site's own items.
#include <string>

#include <CLI/CLI.hpp>

#include "command_tree.hpp"
#include "commands.hpp"
#include "completion_scripts.hpp"
#include "family_table.hpp"
#include "family_verbs.hpp"
#include "quorlina/quorlina.h"
#include "strings.hpp"
#include "tags.hpp"
#include "tool.hpp"

namespace qcli {

namespace {

// The keys of one family's items, or the tags of the posts, one a line, in
// list order (tags most used first). A key that a line cannot hold is left
// out: a shell could not offer it anyway.
std::string candidates(const std::string &kind, const Tool &tool) {
    const std::string root = tool.siteRoot();
    const FamilyInfo *family = nullptr;
    for (const FamilyInfo &f : kFamilies) {
        if (kind == f.name || (kind == "tag" && f.family == Family::Post)) family = &f;
    }
    const LibText list =
        callForText({family->family, Target::Kind::All, ""}, [&](char **out) { return family->list(root.c_str(), out); });
    const std::vector<std::string> words = kind == "tag" ? tagNames(list.view()) : itemKeys(*family, list.view());
    std::string out;
    for (const std::string &w : words) {
        if (!w.empty() && w.find_first_of("\n\r") == std::string::npos) out += cat({w, "\n"});
    }
    return out;
}

}  // namespace

void setupCompletion(CLI::App &app, Tool &tool) {
    CLI::App *completion = app.add_subcommand("completion", "Print a shell completion script");
    std::string &shell = bindCommand<std::string>(*completion, tool, [&app](const std::string &name, const Tool &) {
        return completionScript(describeCommands(app), name);
    });
    completion->add_option("SHELL", shell, "bash, zsh or fish")
        ->required()
        ->check(CLI::IsMember({"bash", "zsh", "fish"}))
        ->type_name("SHELL");

    // Run by the scripts, not by people: not in the help, the manual page
    // or the scripts' list of commands.
    CLI::App *items = app.add_subcommand(completion::kCandidatesCommand, "");
    items->group("");
    std::string &kind = bindCommand<std::string>(*items, tool, candidates);
    items->add_option("KIND", kind)->required()->check(CLI::IsMember({"post", "note", "snippet", "tag"}));
}

}  // namespace qcli
