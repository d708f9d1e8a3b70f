// The verbs every family has, wired from the family table: list, read and
// delete in full, and the frame of create and update, whose options and
// library calls differ by family (snippet.cpp, post.cpp, note.cpp).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "cli11_fwd.hpp"
#include "family_table.hpp"
#include "messages.hpp"
#include "tool.hpp"

namespace qcli {

// What a family's own file adds to its create and update verbs: their
// options and the callbacks that run them.
struct OwnVerbs {
    void (*create)(CLI::App &verb, const FamilyInfo &family, Tool &tool);
    void (*update)(CLI::App &verb, const FamilyInfo &family, Tool &tool);
    // Verbs only this family has, added after delete; may be NULL.
    void (*more)(CLI::App &command, const FamilyInfo &family, Tool &tool) = nullptr;
};

// Adds the command of `family` with its verbs, in the order list, read,
// create, update, delete, then the family's own.
void setupFamily(CLI::App &app, Tool &tool, const FamilyInfo &family, const OwnVerbs &own);

// The options of a verb on one existing item: its family, and its key as
// typed (a timestamp, slug or id).
struct ItemOptions {
    const FamilyInfo *family = nullptr;
    std::string key;
};

// Adds the argument that names one existing item of `family` ("SLUG").
void addKey(CLI::App &verb, const FamilyInfo &family, std::string &key);

// bindCommand (see tool.hpp) for a verb on one existing item: `Options`, an
// ItemOptions or a struct derived from it, gets the family, and the key is
// the verb's first argument.
template <class Options, class Run>
Options &bindItemCommand(CLI::App &verb, const FamilyInfo &family, Tool &tool, Run run) {
    Options &options = bindCommand<Options>(verb, tool, run);
    options.family = &family;
    addKey(verb, family, options.key);
    return options;
}

// Adds the options and callback of the edit verb `verb` (edit.cpp): the
// item's file is copied, the copy edited in $VISUAL or $EDITOR, and the
// edited text published through the family's updateText when it reads as
// an item of the family.
void addEdit(CLI::App &verb, const FamilyInfo &family, Tool &tool);

// The path of the file of the item `key`, from the family's readRecord
// (which it must have). A failure is thrown as a ToolError.
std::string recordPath(const FamilyInfo &family, const std::string &root, const std::string &key);

// Owns a string returned by the library.
class LibText {
public:
    LibText() = default;
    LibText(LibText &&other) noexcept;
    LibText(const LibText &) = delete;
    LibText &operator=(const LibText &) = delete;
    ~LibText();

    char **out() { return &p_; }
    std::string str() const { return std::string(view()); }
    std::string_view view() const { return p_ ? std::string_view(p_) : std::string_view(); }

private:
    char *p_ = nullptr;
};

// Runs a library call that returns a text through `out`: the text, or the
// failure thrown as a ToolError whose line names `target`.
LibText callForText(const Target &target, const std::function<int(char **out)> &call);

// What create prints: the new file's path; as JSON {"path":..,<key>:..}
// with the new item's id or slug under the family's createdKey.
std::string createdOutput(const Tool &tool, const FamilyInfo &family, const std::string &path,
                          const std::string &key);

// What update and delete print for the library's result `code`: nothing,
// or {"ok":true} as JSON. A failure is thrown as a ToolError whose line
// names `target`.
std::string changedOutput(const Tool &tool, const Target &target, int code);

}  // namespace qcli
