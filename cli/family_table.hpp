// The three families of content and what the commands know of each: their
// names, the help of their verbs, how one item is named, the columns of
// their lists and the fields of their read views, and the library's calls
// that every family has in the same form. The commands of all families are
// wired from this one table (see family_verbs.hpp).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "render.hpp"

namespace qcli {

enum class Family { Snippet, Post, Note };

// The help line of each verb of a family.
struct VerbHelp {
    const char *list;
    const char *read;
    const char *create;
    const char *update;
    const char *remove;  // the delete verb
};

struct FamilyInfo {
    Family family;
    const char *name;    // the command, and the word in messages: "post"
    const char *plural;  // "posts"
    const char *dir;     // the family's directory below content/
    const char *help;    // the command's help line
    VerbHelp verbs;
    const char *keyName;     // the argument that names one item: "SLUG"
    const char *keyHelp;     // and its help
    const char *createdKey;  // the member naming a new item in create's JSON: "slug"
    bool tagFilter;          // whether list takes --tag
    // The table of list and the field lines of read. The columns are part
    // of the tool's interface: scripts split these tables, so columns are
    // only ever appended.
    std::vector<Column> columns;
    std::vector<Field> fields;
    const char *bodyKey;  // the member read shows after the fields
    // The record read prints, from the library's text of it.
    std::string (*readText)(std::string_view json);
    // The library's calls, given the site root and an item's key as typed
    // (a snippet's is read as a timestamp first; see parseTimestamp).
    int (*list)(const char *root, char **out);
    int (*read)(const char *root, const std::string &key, char **out);
    int (*remove)(const char *root, const std::string &key);
    // The full record of one item, with its file's path (NULL for a family
    // without one), and the whole new text of an item's file, which the
    // library takes only when it reads as an item of the family (NULL for
    // a family without it).
    int (*readRecord)(const char *root, const std::string &key, char **out);
    int (*updateText)(const char *root, const std::string &key, const char *text);
    // Every item with its body, for searching: the list's records plus
    // "content" (snippets: their list, which has "code").
    int (*listBodies)(const char *root, char **out);
    bool draftFilter;  // whether list takes --drafts and --published
};

// The families in the order the tool lists them.
extern const FamilyInfo kFamilies[3];

const FamilyInfo &familyInfo(Family family);

// The keys of the items of a family's list (the JSON array of its list
// call), in list order: the slugs of posts, the ids of notes and snippets.
// None when the text is not a JSON array.
std::vector<std::string> itemKeys(const FamilyInfo &family, std::string_view listJson);

}  // namespace qcli
