// Blog posts: one Markdown file per post in a dated tree below the blog
// directory, blog/YYYY/MM/DD/<name>.md, addressed by slug. The date comes
// from the three directory names; the slug from the "slug" key when the
// file has one, else from the file name.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/civil_date.hpp"
#include "core/post_frontmatter.hpp"
#include "core/result.hpp"

namespace quorlina {

// ---------------------------------------------------------------- writing

// Whether a title, description or tag can be written into a block and read
// back unchanged: it must be valid UTF-8 (as TOML requires) and hold no
// "+++" and no control byte but tab (which TOML refuses in a string).
bool isWritableFrontmatterValue(std::string_view value) noexcept;

// Reads a "YYYY-MM-DD" date: exactly 10 bytes, "-" at offsets 4 and 7 and
// nowhere else, a year from 1 to 9999, a month from 1 to 12 and a day that
// exists in that month. The numbers accept a leading "+" and "_" between
// digits. Anything else fails with InvalidDate.
Result<CivilDate> parsePostDate(std::string_view text) noexcept;

// ---------------------------------------------------------------- reading

struct Post {
    std::string path;  // blog directory joined with YYYY/MM/DD/<file name>
    std::string slug;  // front-matter slug, else the file name less ".md"
    std::string date;  // the three directory names joined with "-"
    PostFrontmatter frontmatter;
    std::string raw;  // the whole file as read
    std::size_t bodyOffset = 0;  // where the body starts (after leading blanks)

    std::string_view body() const noexcept { return std::string_view(raw).substr(bodyOffset); }
    // The last component of `path`.
    std::string_view fileName() const noexcept;
};

// Calls `visit` with every post below `blogDir`, newest date first; posts
// of the same date keep the order in which the depth-first walk (directory
// entries in file-system order) met them. Only the front matter of each
// file is read and held, one file at a time: the records carry no text
// (`raw` and so the body are empty). `visit` may have been called for some
// posts before a failure.
//
// A post is a regular file at YYYY/MM/DD/<name>.md where YYYY is 4 bytes
// reading 1..9999, MM 2 bytes reading 1..12, DD 2 bytes reading 1..31, and
// the name is neither "index.md" nor "_index.md". Everything else is passed
// over without being opened; symbolic links are neither followed nor
// considered, and only directories that can lead to a post are entered.
//
// A missing blog directory is an empty list. One post file that fails to
// load fails the whole scan with its failure: the first such file in walk
// order decides.
Status visitPosts(std::string_view blogDir, const std::function<void(const Post &)> &visit);

// A visit of a post with its body: a view of the file as read, valid
// during the call; empty when the scan reads no bodies.
using PostVisit = std::function<void(const Post &, std::string_view body)>;

// visitPosts for full records: each record also has `draft` and `date`
// (PostFrontmatter), and its body when `bodies` is set (each file is then
// read whole, in the same scan).
Status visitPostRecords(std::string_view blogDir, bool bodies, const PostVisit &visit);

// Goes over every post file as visitPosts does, but on past broken ones:
// the failure of each file (or directory below the blog directory) that
// the list or a read would fail on goes to `broken`, in list order. Fails
// only when the blog directory itself cannot be read (or memory runs out).
Status checkPosts(std::string_view blogDir, const BrokenSink &broken);

// The first post in list order whose slug is `slug`, read whole (with
// `draft` and `date`, as a full record has them);
// PostNotFound when no post has that slug (or its file is gone since the
// scan). Every post's front matter is read, so one broken file fails it.
Result<Post> readPost(std::string_view blogDir, std::string_view slug);

// --------------------------------------------------------------- changing

// Writes a new post blog/YYYY/MM/DD/<slug>.md holding the front-matter block
// and one more LF, and returns its path. `date` is "YYYY-MM-DD", or today's
// UTC date when absent. Fails, writing nothing, with InvalidSlug,
// MissingTitle, MissingDescription, InvalidFrontmatterValue (a value that
// isWritableFrontmatterValue refuses), InvalidDate or NameTooLong (a path of
// 1024 bytes or more); an existing entry of that name, or a post of that
// date whose "slug" key is `slug`, fails with DuplicatePost.
//
// `extras` adds what a post written completely has: a body after the block
// (the file is the block, one more LF and the body byte for byte), `draft =
// true`, and the date as a `date` key (a TOML local date). The text is read
// back before it is written: it must give the post that was asked for.
struct NewPostExtras {
    std::string_view body;
    bool draft = false;
    bool dateKey = false;
};
Result<std::string> createPost(std::string_view blogDir, std::string_view slug, std::string_view title,
                               std::string_view description, const std::vector<std::string> &tags,
                               std::optional<std::string_view> date, const NewPostExtras &extras = {});

struct PostUpdate {
    std::optional<std::string_view> title;        // absent: keep
    std::optional<std::string_view> description;  // absent: keep
    std::optional<std::vector<std::string>> tags;  // present: replaces all tags
    std::vector<std::string> addTags;
    std::vector<std::string> removeTags;
    std::optional<std::string_view> body;  // present: replaces the body
    std::optional<bool> draft;             // present: sets (true) or clears the draft flag
    // Present: the whole new text of the file, which cannot come with any
    // other field (InvalidOptions).
    std::optional<std::string_view> text;
};

// The tag list after an update: `base`, then each tag of `add` that is not
// already in the list, then without every tag named in `remove`.
std::vector<std::string> mergeTags(std::vector<std::string> base, const std::vector<std::string> &add,
                                   const std::vector<std::string> &remove);

// Rewrites the front matter of the post `slug` and keeps its body: only
// the values of the keys that change are rewritten, everything else in the
// file stays byte for byte. Only the given values are checked. A new body
// replaces the text after the block's closing line (and the blank lines
// after it); the result must read back with the same front matter. The
// file is replaced atomically and keeps its permission bits; a result equal
// to the file is not written at all.
//
// A new whole `text` replaces the file when it reads as a post (else the
// reader's failure, naming the file) and its slug, when it changes, is not
// that of another post of the same date (DuplicatePost). The file keeps
// its name. No field at all is NoUpdates.
Status updatePost(std::string_view blogDir, std::string_view slug, const PostUpdate &update);

// Renames the tag `oldTag` to `newTag` in every post that has it, or
// removes it when `newTag` is absent, as updatePost removes and adds tags
// (so a renamed tag goes after the post's other tags, and a post that has
// both keeps one `newTag`). One scan under the family lock: every post is
// read before the first write, so a broken file fails the call with
// nothing changed. `changed` counts the files rewritten, also when a write
// fails part way. Equal tags change nothing. Fails with
// InvalidFrontmatterValue for an empty tag, or a new one that a block
// cannot hold or that holds a comma (an old one may hold anything a file
// can).
Status renamePostTag(std::string_view blogDir, std::string_view oldTag, std::optional<std::string_view> newTag,
                     std::size_t &changed);

// Removes the post `slug`, then the day, month and year directories that are
// left empty (never the blog directory itself).
Status deletePost(std::string_view blogDir, std::string_view slug);

}  // namespace quorlina
