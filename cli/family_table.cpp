#include "family_table.hpp"

#include "json_reader.hpp"
#include "option_values.hpp"
#include "quorlina/quorlina.h"

namespace qcli {

namespace {

std::string unchanged(std::string_view json) { return std::string(json); }

// A snippet record with its code as it was written: a snippet file puts one
// empty line between its front matter and its code, and the library's
// "code" keeps that line's break; this drops it (only that one), so that
// the code read can be written back unchanged.
std::string withoutCodeLead(std::string_view json) {
    // "code" is the record's last member, and `","code":"` can stand
    // nowhere else: inside a string value every '"' is escaped.
    static constexpr std::string_view kMember = "\",\"code\":\"";
    std::string out(json);
    const std::size_t at = out.rfind(kMember);
    if (at != std::string::npos && out.compare(at + kMember.size(), 2, "\\n") == 0) out.erase(at + kMember.size(), 2);
    return out;
}

// read and delete of one item by its key as typed.
int readSnippet(const char *root, const std::string &key, char **out) {
    return quorlina_snippet_read(root, parseTimestamp(key), out);
}
int deleteSnippet(const char *root, const std::string &key) { return quorlina_snippet_delete(root, parseTimestamp(key)); }
int readPost(const char *root, const std::string &key, char **out) { return quorlina_post_read(root, key.c_str(), out); }
int deletePost(const char *root, const std::string &key) { return quorlina_post_delete(root, key.c_str()); }
int readNote(const char *root, const std::string &key, char **out) { return quorlina_note_read(root, key.c_str(), out); }

// Posts are listed with their full records, which say which are drafts.
int listPosts(const char *root, char **out) { return quorlina_post_list_ext(root, nullptr, out); }

const quorlina_record_options kWithBodies = {QUORLINA_RECORD_OPTIONS_VERSION, 1};
int listPostBodies(const char *root, char **out) { return quorlina_post_list_ext(root, &kWithBodies, out); }
int listNoteBodies(const char *root, char **out) { return quorlina_note_list_ext(root, &kWithBodies, out); }

int readPostRecord(const char *root, const std::string &key, char **out) {
    return quorlina_post_read_ext(root, key.c_str(), nullptr, out);
}
int readNoteRecord(const char *root, const std::string &key, char **out) {
    return quorlina_note_read_ext(root, key.c_str(), nullptr, out);
}
int updatePostText(const char *root, const std::string &key, const char *text) {
    quorlina_post_update_options o = QUORLINA_POST_UPDATE_OPTIONS_INIT;
    o.text = text;
    return quorlina_post_update_ext(root, key.c_str(), &o);
}
int updateNoteText(const char *root, const std::string &key, const char *text) {
    quorlina_note_update_options o = QUORLINA_NOTE_UPDATE_OPTIONS_INIT;
    o.text = text;
    return quorlina_note_update_ext(root, key.c_str(), &o);
}
int deleteNote(const char *root, const std::string &key) { return quorlina_note_delete(root, key.c_str()); }

// The parts of the rows below that fill several lines: the help of each
// family's verbs, its list columns and its read fields.
const VerbHelp kSnippetVerbs = {"List the snippets, newest first", "Show one snippet: its fields, then its code",
                                "Create a snippet and print the new file's path",
                                "Change a snippet's description, code or file name", "Delete a snippet"};
const VerbHelp kPostVerbs = {"List the posts, newest first", "Show one post: its fields, then its content",
                             "Create a post and print its path",
                             "Change a post's title, description, tags, body or draft flag",
                             "Delete a post and its emptied date directories"};
const VerbHelp kNoteVerbs = {"List the notes, newest first", "Show one note: its fields, then its content",
                             "Create a note and print the new file's path", "Change a note's slug or content",
                             "Delete a note"};

const std::vector<Column> kSnippetColumns = {
    {"ID", "id"}, {"DATE", "date"}, {"FILENAME", "filename"}, {"DESCRIPTION", "description"}};
const std::vector<Column> kPostColumns = {
    {"DATE", "date"}, {"SLUG", "slug"}, {"TAGS", "tags"}, {"TITLE", "title", "draft", " [draft]"}};
const std::vector<Column> kNoteColumns = {{"DATE", "date"}, {"ID", "id"}, {"SLUG", "slug"}};

const std::vector<Field> kSnippetFields = {
    {"id", "id"}, {"date", "date"}, {"filename", "filename"}, {"description", "description"}};
const std::vector<Field> kPostFields = {
    {"date", "date"}, {"slug", "slug"}, {"title", "title"}, {"description", "description"}, {"tags", "tags"}};
const std::vector<Field> kNoteFields = {{"date", "date"}, {"id", "id"}, {"slug", "slug"}};

}  // namespace

const FamilyInfo kFamilies[3] = {
    {.family = Family::Snippet, .name = "snippet", .plural = "snippets", .dir = "snippets",
     .help = "Code snippets, one file each, keyed by a Unix timestamp", .verbs = kSnippetVerbs,
     .keyName = "TIMESTAMP", .keyHelp = "the snippet's timestamp (Unix seconds)", .createdKey = "id",
     .tagFilter = false, .columns = kSnippetColumns, .fields = kSnippetFields, .bodyKey = "code",
     .readText = withoutCodeLead, .list = quorlina_snippet_list, .read = readSnippet, .remove = deleteSnippet,
     .readRecord = nullptr, .updateText = nullptr, .listBodies = quorlina_snippet_list, .draftFilter = false},
    {.family = Family::Post, .name = "post", .plural = "posts", .dir = "blog",
     .help = "Blog posts, filed by date, addressed by slug", .verbs = kPostVerbs,
     .keyName = "SLUG", .keyHelp = "the post's slug", .createdKey = "slug",
     .tagFilter = true, .columns = kPostColumns, .fields = kPostFields, .bodyKey = "content",
     .readText = unchanged, .list = listPosts, .read = readPost, .remove = deletePost,
     .readRecord = readPostRecord, .updateText = updatePostText, .listBodies = listPostBodies, .draftFilter = true},
    {.family = Family::Note, .name = "note", .plural = "notes", .dir = "notes",
     .help = "Short notes, addressed by slug or timestamp", .verbs = kNoteVerbs,
     .keyName = "ID", .keyHelp = "the note's slug or timestamp", .createdKey = "id",
     .tagFilter = false, .columns = kNoteColumns, .fields = kNoteFields, .bodyKey = "content",
     .readText = unchanged, .list = quorlina_note_list, .read = readNote, .remove = deleteNote,
     .readRecord = readNoteRecord, .updateText = updateNoteText, .listBodies = listNoteBodies, .draftFilter = false},
};

std::vector<std::string> itemKeys(const FamilyInfo &family, std::string_view listJson) {
    std::vector<std::string> keys;
    const std::vector<std::string_view> only = {family.createdKey};
    const bool read = forEachArrayElement(
        listJson,
        [&](JsonValue &&item, std::string_view) {
            const JsonValue *key = item.find(family.createdKey);
            if (key != nullptr && (key->isString() || key->kind == JsonValue::Kind::Number)) keys.push_back(key->text);
            return true;
        },
        &only);
    if (!read) keys.clear();
    return keys;
}

const FamilyInfo &familyInfo(Family family) {
    for (const FamilyInfo &f : kFamilies) {
        if (f.family == family) return f;
    }
    return kFamilies[0];  // not reached: every family has its row
}

}  // namespace qcli
