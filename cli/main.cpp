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
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/ioctl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "filter.hpp"
#include "json_reader.hpp"
#include "json_writer.hpp"
#include "messages.hpp"
#include "quorlina/quorlina.h"
#include "render.hpp"
#include "shell.hpp"
#include "site_root.hpp"
#include "suggest.hpp"

namespace qcli {
namespace {

// Owns a string returned by the library.
class LibText {
public:
    LibText() = default;
    LibText(const LibText &) = delete;
    LibText &operator=(const LibText &) = delete;
    ~LibText() { quorlina_free(p_); }

    char **out() { return &p_; }
    std::string str() const { return p_ ? std::string(p_) : std::string(); }
    std::string_view view() const { return p_ ? std::string_view(p_) : std::string_view(); }

private:
    char *p_ = nullptr;
};

// An optional text option: NULL for the library when it was not given.
struct TextOption {
    CLI::Option *option = nullptr;
    std::string value;

    bool given() const { return option != nullptr && option->count() > 0; }
    const char *orNull() const { return given() ? value.c_str() : nullptr; }
};

// A body text given inline (--code / --content) or read from a file
// (--code-file / --content-file, where "-" is standard input).
struct BodyOption {
    TextOption text;
    TextOption file;
    std::string loaded;

    bool given() const { return text.given() || file.given(); }

    // Loads the file when one was named; NULL when neither option was given.
    const char *resolve();
};

std::string readStream(std::FILE *f, const std::string &name) {
    std::string data;
    char buf[65536];
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, f);
        data.append(buf, n);
        if (n < sizeof buf) break;
    }
    if (std::ferror(f)) throw ToolError{kExitNoInput, cat({"cannot read ", name, ": ", std::strerror(errno)})};
    return data;
}

const char *BodyOption::resolve() {
    if (text.given()) return text.value.c_str();
    if (!file.given()) return nullptr;
    const std::string &path = file.value;
    if (path == "-") {
        loaded = readStream(stdin, "standard input");
    } else {
        std::FILE *f = std::fopen(path.c_str(), "rb");
        if (f == nullptr) throw ToolError{kExitNoInput, cat({"cannot read '", oneLine(path), "': ", std::strerror(errno)})};
        try {
            loaded = readStream(f, cat({"'", oneLine(path), "'"}));
        } catch (...) {
            std::fclose(f);
            throw;
        }
        std::fclose(f);
    }
    // The C interface takes NUL-terminated strings: a NUL byte would cut the
    // text short without anyone noticing.
    if (loaded.find('\0') != std::string::npos) {
        const std::string name = path == "-" ? std::string("standard input") : cat({"'", oneLine(path), "'"});
        throw ToolError{kExitData, cat({name, " holds a NUL byte, which the library cannot store"})};
    }
    return loaded.c_str();
}

// Decimal Unix seconds, optionally negative. Other forms (hex, octal,
// "1e9", spaces) are refused rather than guessed at.
int64_t parseTimestamp(const std::string &text) {
    const ToolError bad{QUORLINA_EINVALID_TIMESTAMP,
                        cat({"invalid timestamp '", oneLine(text), "' (expected Unix seconds)"})};
    const bool negative = !text.empty() && text[0] == '-';
    std::size_t i = negative ? 1 : 0;
    if (i == text.size()) throw bad;
    // Accumulate negatively so that INT64_MIN fits.
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9' || value < (INT64_MIN + (c - '0')) / 10) throw bad;
        value = value * 10 - (c - '0');
    }
    if (!negative) {
        if (value == INT64_MIN) throw bad;
        value = -value;
    }
    return value;
}

// A date option of a list (--since, --until), checked when the list runs.
DateKey dateOption(const TextOption &option, const char *name) {
    std::optional<DateKey> date = parseDateArgument(option.value);
    if (!date) {
        throw ToolError{QUORLINA_EINVALID_DATE,
                        cat({"invalid date '", oneLine(option.value), "' for ", name, " (expected YYYY-MM-DD)"})};
    }
    return *date;
}

// --limit: a decimal count, 0 or more.
std::size_t limitOption(const std::string &text) {
    std::size_t n = 0;
    bool ok = !text.empty() && text.size() <= 18;
    for (char c : text) {
        ok = ok && c >= '0' && c <= '9';
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    if (!ok) throw ToolError{kExitUsage, cat({"invalid --limit '", oneLine(text), "' (expected a whole number, 0 or more)"})};
    return n;
}

struct Options {
    std::string root;
    CLI::Option *rootOption = nullptr;
    std::string format = "table";
    bool json = false;
    std::size_t terminalWidth = 0;  // columns of the terminal on standard output; 0 when not a terminal

    bool wantJson() const { return json || format == "json"; }
    std::optional<std::string> givenRoot() const {
        return rootOption != nullptr && rootOption->count() > 0 ? std::optional<std::string>(root) : std::nullopt;
    }
};

// What a successful command prints; failures throw or return a code.
struct Run {
    const Options &opts;
    std::string out;
    std::string errorText;

    int fail(const Target &target, int code) {
        errorText = failureText(target, code);
        return code;
    }

    // list: the library's JSON unchanged, or a table; with a filter, only
    // the kept elements.
    int list(const Target &target, const std::vector<Column> &columns, const ListFilter &filter,
             const std::function<int(char **)> &call) {
        LibText text;
        const int rc = call(text.out());
        if (rc != QUORLINA_OK) return fail(target, rc);
        const auto table = [&](const JsonValue &v) { return renderTable(v, columns, opts.terminalWidth); };
        if (!filter.active()) return show(text.view(), table);
        std::optional<FilteredList> kept = filterList(text.view(), filter, !opts.wantJson());
        if (!kept) throw ToolError{QUORLINA_EINTERNAL, "the library returned text this tool cannot read"};
        if (opts.wantJson()) {
            out = cat({kept->json, "\n"});
            return QUORLINA_OK;
        }
        std::optional<std::string> rendered = table(kept->items);
        if (!rendered) throw ToolError{QUORLINA_EINTERNAL, "the library returned text this tool cannot read"};
        out = std::move(*rendered);
        return QUORLINA_OK;
    }

    // read: the library's JSON, or the fields and the body. A snippet's code
    // comes as it was written (see withoutCodeLead).
    int read(const Target &target, const std::vector<Field> &fields, const char *bodyKey,
             const std::function<int(char **)> &call) {
        LibText text;
        const int rc = call(text.out());
        if (rc != QUORLINA_OK) return fail(target, rc);
        const auto render = [&](const JsonValue &v) { return renderItem(v, fields, bodyKey); };
        if (target.family == Family::Snippet) return show(withoutCodeLead(text.view()), render);
        return show(text.view(), render);
    }

    // create: the path of the new file; as JSON {"path":..,<key>:..} with
    // the new item's id or slug, which `key` works out from the path.
    int create(const Target &target, const char *keyName,
               const std::function<std::string(const std::string &path)> &key,
               const std::function<int(char **)> &call) {
        LibText text;
        const int rc = call(text.out());
        if (rc != QUORLINA_OK) return fail(target, rc);
        const std::string path = text.str();
        if (opts.wantJson()) {
            out = cat({"{\"path\":", jsonString(path), ",\"", keyName, "\":", jsonString(key(path)), "}\n"});
        } else {
            out = cat({path, "\n"});
        }
        return QUORLINA_OK;
    }

    // update and delete print nothing on success, or {"ok":true} as JSON.
    int change(const Target &target, int rc) {
        if (rc != QUORLINA_OK) return fail(target, rc);
        if (opts.wantJson()) out = "{\"ok\":true}\n";
        return rc;
    }

    template <class Render>
    int show(std::string_view json, Render &&render) {
        if (opts.wantJson()) {
            out = cat({json, "\n"});
            return QUORLINA_OK;
        }
        std::optional<JsonValue> value = parseJson(json);
        std::optional<std::string> text;
        if (value) text = render(*value);
        if (!text) throw ToolError{QUORLINA_EINTERNAL, "the library returned text this tool cannot read"};
        out = std::move(*text);
        return QUORLINA_OK;
    }
};

// The file name of a path without its extension: a new snippet's or note's
// timestamp.
std::string fileStem(const std::string &path) {
    const std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name.resize(dot);
    return name;
}

using Action = std::function<int(Run &)>;

struct Command {
    CLI::App *app;
    Action action;
    bool needsSite;  // family commands work on a site; init, help and completion do not
};

// The filter options of a list command.
struct FilterOptions {
    std::vector<std::string> tags;
    TextOption since;
    TextOption until;
    TextOption limit;

    ListFilter filter() const {
        ListFilter f;
        for (const std::string &t : tags) {
            // Tags are stored trimmed; a tag given as " rust" means "rust".
            const std::size_t first = t.find_first_not_of(' ');
            const std::size_t last = t.find_last_not_of(' ');
            f.tags.push_back(first == std::string::npos ? std::string() : t.substr(first, last - first + 1));
        }
        if (since.given()) f.since = dateOption(since, "--since");
        if (until.given()) f.until = dateOption(until, "--until");
        if (limit.given()) f.limit = limitOption(limit.value);
        return f;
    }
};

// TextOption objects hold the parsed value in place, so they live in
// stable storage owned by main's Builder.
struct Builder {
    Options &opts;
    std::vector<Command> commands;
    std::vector<std::unique_ptr<TextOption>> texts;
    std::vector<std::unique_ptr<BodyOption>> bodies;
    std::vector<std::unique_ptr<std::string>> strings;
    std::vector<std::unique_ptr<bool>> flags;
    std::vector<std::unique_ptr<FilterOptions>> filters;
    std::vector<std::unique_ptr<std::vector<std::string>>> helpWords;
    std::string siteRoot;  // the site that family commands work on, found before they run

    const char *root() const { return siteRoot.c_str(); }

    std::string &positional(CLI::App *app, const std::string &name, const std::string &help) {
        strings.push_back(std::make_unique<std::string>());
        app->add_option(name, *strings.back(), help)->required()->type_name("");
        return *strings.back();
    }

    TextOption &text(CLI::App *app, const std::string &name, const std::string &help,
                     bool required = false) {
        texts.push_back(std::make_unique<TextOption>());
        TextOption &t = *texts.back();
        t.option = app->add_option(name, t.value, help);
        if (required) t.option->required();
        return t;
    }

    BodyOption &body(CLI::App *app, const std::string &what, const std::string &help) {
        bodies.push_back(std::make_unique<BodyOption>());
        BodyOption &b = *bodies.back();
        b.text.option = app->add_option(cat({"--", what}), b.text.value, cat({help, ", given on the command line"}));
        b.file.option = app->add_option(cat({"--", what, "-file"}), b.file.value,
                                        cat({help, ", read from FILE ('-' reads standard input)"}))
                            ->type_name("FILE");
        b.text.option->excludes(b.file.option);
        return b;
    }

    bool &flag(CLI::App *app, const std::string &name, const std::string &help, CLI::Option **option = nullptr) {
        flags.push_back(std::make_unique<bool>(false));
        CLI::Option *o = app->add_flag(name, *flags.back(), help);
        if (option != nullptr) *option = o;
        return *flags.back();
    }

    // --since, --until and --limit, and for posts --tag.
    FilterOptions &filter(CLI::App *list, const char *items, bool withTags) {
        filters.push_back(std::make_unique<FilterOptions>());
        FilterOptions &f = *filters.back();
        if (withTags) {
            list->add_option("--tag", f.tags, cat({"only ", items, " with this tag (repeat: every tag given)"}))
                ->type_name("TAG")
                ->allow_extra_args(false);  // one tag per --tag
        }
        f.since.option = list->add_option("--since", f.since.value, cat({"only ", items, " dated on or after DATE"}))
                             ->type_name("DATE");
        f.until.option = list->add_option("--until", f.until.value, cat({"only ", items, " dated on or before DATE"}))
                             ->type_name("DATE");
        f.limit.option = list->add_option("--limit", f.limit.value, cat({"at most N ", items, " (the newest ones)"}))
                             ->type_name("N");
        return f;
    }

    void add(CLI::App *app, Action action, bool needsSite = true) {
        commands.push_back({app, std::move(action), needsSite});
    }
};

void addSnippetCommands(CLI::App &top, Builder &b) {
    CLI::App *family = top.add_subcommand("snippet", "Code snippets, one file each, keyed by a Unix timestamp");
    family->require_subcommand(1);

    CLI::App *list = family->add_subcommand("list", "List the snippets, newest first");
    FilterOptions &listFilter = b.filter(list, "snippets", false);
    b.add(list, [&b, &listFilter](Run &r) {
        return r.list({Family::Snippet, Target::Kind::All, ""}, kSnippetColumns, listFilter.filter(),
                      [&b](char **out) { return quorlina_snippet_list(b.root(), out); });
    });

    CLI::App *read = family->add_subcommand("read", "Show one snippet: its fields, then its code");
    std::string &readTs = b.positional(read, "TIMESTAMP", "the snippet's timestamp (Unix seconds)");
    b.add(read, [&b, &readTs](Run &r) {
        const int64_t ts = parseTimestamp(readTs);
        return r.read({Family::Snippet, Target::Kind::Key, readTs}, kSnippetFields, kSnippetBody,
                      [&](char **out) { return quorlina_snippet_read(b.root(), ts, out); });
    });

    CLI::App *create = family->add_subcommand("create", "Create a snippet and print the new file's path");
    TextOption &createTs = b.text(create, "--timestamp,-t", "Unix seconds (default: now)");
    createTs.option->type_name("SECONDS");
    TextOption &createDesc = b.text(create, "--description,-d", "one-line description", true);
    TextOption &createName = b.text(create, "--filename,-f", "file name of the code, e.g. sort.py", true);
    BodyOption &createCode = b.body(create, "code", "the code");
    b.add(create, [&b, &createTs, &createDesc, &createName, &createCode](Run &r) {
        const int64_t ts = createTs.given() ? parseTimestamp(createTs.value) : static_cast<int64_t>(std::time(nullptr));
        if (!createCode.given()) throw ToolError{kExitUsage, "snippet create needs --code or --code-file"};
        const char *code = createCode.resolve();
        const std::string id = std::to_string(ts);
        return r.create({Family::Snippet, Target::Kind::New, id}, "id", [&id](const std::string &) { return id; },
                        [&](char **out) {
            return quorlina_snippet_create(b.root(), ts, createDesc.value.c_str(), code, createName.value.c_str(), out);
        });
    });

    CLI::App *update = family->add_subcommand("update", "Change a snippet's description, code or file name");
    std::string &updateTs = b.positional(update, "TIMESTAMP", "the snippet's timestamp (Unix seconds)");
    TextOption &updateDesc = b.text(update, "--description,-d", "new description");
    TextOption &updateName = b.text(update, "--filename,-f", "new file name; another extension renames the file");
    BodyOption &updateCode = b.body(update, "code", "new code");
    b.add(update, [&b, &updateTs, &updateDesc, &updateName, &updateCode](Run &r) {
        const int64_t ts = parseTimestamp(updateTs);
        const char *code = updateCode.resolve();
        return r.change({Family::Snippet, Target::Kind::Key, updateTs},
                        quorlina_snippet_update(b.root(), ts, updateDesc.orNull(), code, updateName.orNull()));
    });

    CLI::App *del = family->add_subcommand("delete", "Delete a snippet");
    std::string &deleteTs = b.positional(del, "TIMESTAMP", "the snippet's timestamp (Unix seconds)");
    b.add(del, [&b, &deleteTs](Run &r) {
        const int64_t ts = parseTimestamp(deleteTs);
        return r.change({Family::Snippet, Target::Kind::Key, deleteTs}, quorlina_snippet_delete(b.root(), ts));
    });
}

void addPostCommands(CLI::App &top, Builder &b) {
    CLI::App *family = top.add_subcommand("post", "Blog posts, filed by date, addressed by slug");
    family->require_subcommand(1);

    CLI::App *list = family->add_subcommand("list", "List the posts, newest first");
    FilterOptions &listFilter = b.filter(list, "posts", true);
    b.add(list, [&b, &listFilter](Run &r) {
        return r.list({Family::Post, Target::Kind::All, ""}, kPostColumns, listFilter.filter(),
                      [&b](char **out) { return quorlina_post_list(b.root(), out); });
    });

    CLI::App *read = family->add_subcommand("read", "Show one post: its fields, then its content");
    std::string &readSlug = b.positional(read, "SLUG", "the post's slug");
    b.add(read, [&b, &readSlug](Run &r) {
        return r.read({Family::Post, Target::Kind::Key, readSlug}, kPostFields, kPostBody,
                      [&](char **out) { return quorlina_post_read(b.root(), readSlug.c_str(), out); });
    });

    CLI::App *create = family->add_subcommand("create", "Create a post with an empty body and print its path");
    std::string &createSlug = b.positional(create, "SLUG", "slug: letters, digits, '_' and '-'");
    TextOption &createTitle = b.text(create, "--title", "title", true);
    TextOption &createDesc = b.text(create, "--description,-d", "description", true);
    TextOption &createTags = b.text(create, "--tags", "comma-separated tags");
    TextOption &createDate = b.text(create, "--date", "YYYY-MM-DD (default: today, UTC)");
    b.add(create, [&b, &createSlug, &createTitle, &createDesc, &createTags, &createDate](Run &r) {
        return r.create({Family::Post, Target::Kind::New, createSlug}, "slug",
                        [&createSlug](const std::string &) { return createSlug; }, [&](char **out) {
            return quorlina_post_create(b.root(), createSlug.c_str(), createTitle.value.c_str(),
                                        createDesc.value.c_str(), createTags.orNull(), createDate.orNull(), out);
        });
    });

    CLI::App *update = family->add_subcommand("update", "Change a post's title, description or tags");
    std::string &updateSlug = b.positional(update, "SLUG", "the post's slug");
    TextOption &updateTitle = b.text(update, "--title", "new title");
    TextOption &updateDesc = b.text(update, "--description,-d", "new description");
    TextOption &updateTags = b.text(update, "--tags", "comma-separated tags replacing all tags ('' clears them)");
    TextOption &updateAdd = b.text(update, "--add-tags", "comma-separated tags to add");
    TextOption &updateRemove = b.text(update, "--remove-tags", "comma-separated tags to remove");
    b.add(update, [&b, &updateSlug, &updateTitle, &updateDesc, &updateTags, &updateAdd, &updateRemove](Run &r) {
        return r.change({Family::Post, Target::Kind::Key, updateSlug},
                        quorlina_post_update(b.root(), updateSlug.c_str(), updateTitle.orNull(),
                                             updateDesc.orNull(), updateTags.orNull(), updateAdd.orNull(),
                                             updateRemove.orNull()));
    });

    CLI::App *del = family->add_subcommand("delete", "Delete a post and its emptied date directories");
    std::string &deleteSlug = b.positional(del, "SLUG", "the post's slug");
    b.add(del, [&b, &deleteSlug](Run &r) {
        return r.change({Family::Post, Target::Kind::Key, deleteSlug},
                        quorlina_post_delete(b.root(), deleteSlug.c_str()));
    });
}

void addNoteCommands(CLI::App &top, Builder &b) {
    CLI::App *family = top.add_subcommand("note", "Short notes, addressed by slug or timestamp");
    family->require_subcommand(1);

    CLI::App *list = family->add_subcommand("list", "List the notes, newest first");
    FilterOptions &listFilter = b.filter(list, "notes", false);
    b.add(list, [&b, &listFilter](Run &r) {
        return r.list({Family::Note, Target::Kind::All, ""}, kNoteColumns, listFilter.filter(),
                      [&b](char **out) { return quorlina_note_list(b.root(), out); });
    });

    CLI::App *read = family->add_subcommand("read", "Show one note: its fields, then its content");
    std::string &readId = b.positional(read, "ID", "the note's slug or timestamp");
    b.add(read, [&b, &readId](Run &r) {
        return r.read({Family::Note, Target::Kind::Key, readId}, kNoteFields, kNoteBody,
                      [&](char **out) { return quorlina_note_read(b.root(), readId.c_str(), out); });
    });

    CLI::App *create = family->add_subcommand("create", "Create a note and print the new file's path");
    TextOption &createTs = b.text(create, "--timestamp,-t", "Unix seconds (default: now)");
    createTs.option->type_name("SECONDS");
    TextOption &createSlug = b.text(create, "--slug", "slug: letters, digits, '_' and '-' (default: none)");
    BodyOption &createContent = b.body(create, "content", "the note's text (default: empty)");
    b.add(create, [&b, &createTs, &createSlug, &createContent](Run &r) {
        // 0 asks the library for the current time.
        const int64_t ts = createTs.given() ? parseTimestamp(createTs.value) : 0;
        const char *content = createContent.resolve();
        const std::string key = ts == 0 ? std::string() : std::to_string(ts);
        // A note's id is its slug, else its file stem (the timestamp, which
        // the library picks when none was given).
        const auto id = [&createSlug](const std::string &path) {
            return createSlug.given() ? createSlug.value : fileStem(path);
        };
        return r.create({Family::Note, Target::Kind::New, key}, "id", id, [&](char **out) {
            return quorlina_note_create(b.root(), ts, createSlug.orNull(), content, out);
        });
    });

    CLI::App *update = family->add_subcommand("update", "Change a note's slug or content");
    std::string &updateId = b.positional(update, "ID", "the note's slug or timestamp");
    TextOption &updateSlug = b.text(update, "--slug", "new slug");
    CLI::Option *clearOption = nullptr;
    bool &clearSlug = b.flag(update, "--clear-slug", "remove the slug", &clearOption);
    clearOption->excludes(updateSlug.option);
    BodyOption &updateContent = b.body(update, "content", "new text");
    b.add(update, [&b, &updateId, &updateSlug, &clearSlug, &updateContent](Run &r) {
        const char *content = updateContent.resolve();
        return r.change({Family::Note, Target::Kind::Key, updateId},
                        quorlina_note_update(b.root(), updateId.c_str(), updateSlug.orNull(), clearSlug ? 1 : 0,
                                             content));
    });

    CLI::App *del = family->add_subcommand("delete", "Delete a note");
    std::string &deleteId = b.positional(del, "ID", "the note's slug or timestamp");
    b.add(del, [&b, &deleteId](Run &r) {
        return r.change({Family::Note, Target::Kind::Key, deleteId}, quorlina_note_delete(b.root(), deleteId.c_str()));
    });
}

// init, help and completion: commands that work without a site.
void addToolCommands(CLI::App &top, Builder &b) {
    CLI::App *init = top.add_subcommand("init", "Make an empty site: content/ with its snippets, blog and notes directories");
    std::string &initDir = *b.strings.emplace_back(std::make_unique<std::string>());
    CLI::Option *initDirOption = init->add_option("DIR", initDir, "the site root to make (default: --root, else the current directory)")
                                     ->type_name("DIR");
    b.add(
        init,
        [&b, &initDir, initDirOption](Run &r) {
            std::string dir = initDirOption->count() > 0 ? initDir : b.opts.givenRoot().value_or(std::string());
            const std::string path = initSite(dir);
            r.out = r.opts.wantJson() ? cat({"{\"path\":", jsonString(path), "}\n"}) : cat({path, "\n"});
            return QUORLINA_OK;
        },
        false);

    CLI::App *help = top.add_subcommand("help", "Show the help of the tool, a command or a verb");
    // The words after help name a command; they are not commands to run.
    help->fallthrough(false);
    auto &helpWords = *b.helpWords.emplace_back(std::make_unique<std::vector<std::string>>());
    help->add_option("COMMAND", helpWords, "a command and a verb, such as: post list")->type_name("COMMAND");
    bool &man = b.flag(help, "--man", "print the manual page quorlina(1) in roff instead");
    b.add(
        help,
        [&top, &helpWords, &man](Run &r) {
            if (man) {
                r.out = manPage(describeCommands(top), kExitStatuses, QUORLINA_VERSION);
                return QUORLINA_OK;
            }
            const CommandMatch match = matchCommand(top, helpWords);
            if (match.command == nullptr) throw ToolError{kExitUsage, match.error};
            // The usage line names the command as --help does: "quorlina post list".
            std::vector<std::string> words;
            for (const CLI::App *a = match.command; a != &top; a = a->get_parent()) words.insert(words.begin(), a->get_name());
            std::string name = "quorlina";
            for (const std::string &w : words) name += cat({" ", w});
            r.out = top.get_formatter()->make_help(match.command, name, CLI::AppFormatMode::Normal);
            return QUORLINA_OK;
        },
        false);

    CLI::App *completion = top.add_subcommand("completion", "Print a shell completion script");
    std::string &shell = *b.strings.emplace_back(std::make_unique<std::string>());
    completion->add_option("SHELL", shell, "bash, zsh or fish")
        ->required()
        ->check(CLI::IsMember({"bash", "zsh", "fish"}))
        ->type_name("SHELL");
    b.add(
        completion,
        [&top, &shell](Run &r) {
            r.out = completionScript(describeCommands(top), shell);
            return QUORLINA_OK;
        },
        false);
}

void printError(const std::string &text) {
    const std::string line = cat({"quorlina: ", text, "\n"});
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

// Everything printed on success goes out in one piece at the end, so a
// failure never leaves partial output behind.
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

    Options opts;
    opts.terminalWidth = terminalWidth();
    CLI::App app{"Manage the snippets, posts and notes of a static site.", "quorlina"};
    app.fallthrough();  // global options may also follow the subcommands
    app.require_subcommand(1);
    app.set_version_flag("--version", cat({"quorlina ", QUORLINA_VERSION}));
    opts.rootOption = app.add_option("--root,-r", opts.root,
                                     "site root directory (default: the nearest site at or above the current directory)")
                          ->type_name("DIR");
    CLI::Option *format = app.add_option("--format", opts.format, "output: table or json")
                              ->check(CLI::IsMember({"table", "json"}))
                              ->type_name("FORMAT");
    app.add_flag("--json", opts.json, "same as --format json")->excludes(format);

    Builder builder{opts, {}, {}, {}, {}, {}, {}, {}, {}};
    addSnippetCommands(app, builder);
    addPostCommands(app, builder);
    addNoteCommands(app, builder);
    addToolCommands(app, builder);
    // Set after the subcommands exist, which would otherwise inherit it.
    app.footer(exitStatusFooter());

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
    }

    for (Command &c : builder.commands) {
        if (!c.app->parsed()) continue;
        Run r{opts, {}, {}};
        int status = 0;
        try {
            if (c.needsSite) builder.siteRoot = resolveSiteRoot(opts.givenRoot());
            status = c.action(r);
        } catch (const ToolError &e) {
            printError(e.text);
            return e.status;
        }
        if (status != 0) {
            printError(r.errorText);
            return status;
        }
        return writeOut(r.out);
    }
    printError("no command given (run with --help for usage)");
    return kExitUsage;
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
