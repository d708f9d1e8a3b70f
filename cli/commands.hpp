// The command groups of the tool, one file each. Each adds its command
// (and the verbs below it) to the tool's command; every command that runs
// has an options struct, filled by the parser and handed to its run
// function by the command's callback, which leaves what it prints in
// Tool::output. main adds the groups in this order, which is the order of
// --help.
//
// A new group is one more file with one more function here, added to
// cli/CMakeLists.txt and called from main. A family's verbs come from its
// row in family_table.cpp (see family_verbs.hpp).
#pragma once

#include "cli11_fwd.hpp"

namespace qcli {

struct Tool;

void setupSnippet(CLI::App &app, Tool &tool);     // snippet.cpp
void setupPost(CLI::App &app, Tool &tool);        // post.cpp
void setupNote(CLI::App &app, Tool &tool);        // note.cpp
void setupCheck(CLI::App &app, Tool &tool);       // check.cpp: check
void setupSearch(CLI::App &app, Tool &tool);      // search.cpp: search
void setupTag(CLI::App &app, Tool &tool);         // tag.cpp: tag list, rename, remove
void setupInit(CLI::App &app, Tool &tool);        // init.cpp: init
void setupHelp(CLI::App &app, Tool &tool);        // help.cpp: help, and the manual page
void setupCompletion(CLI::App &app, Tool &tool);  // completion.cpp: completion

}  // namespace qcli
