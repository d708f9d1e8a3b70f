#include "core/posts.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <unordered_set>

#include "core/content.hpp"
#include "core/paths.hpp"
#include "core/platform.hpp"
#include "core/text.hpp"
#include "core/toml_lexer.hpp"

namespace quorlina {

using platform::Dir;
using platform::EntryKind;

// ---------------------------------------------------------------- writing

bool isWritableFrontmatterValue(std::string_view value) noexcept {
    return !text::hasTomlControlByte(value) && value.find("+++") == std::string_view::npos &&
           toml::isValidUtf8(value);
}

Result<CivilDate> parsePostDate(std::string_view s) noexcept {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return Error::InvalidDate;
    if (std::count(s.begin(), s.end(), '-') != 2) return Error::InvalidDate;
    auto year = parseUnsigned(s.substr(0, 4), 9999);
    auto month = parseUnsigned(s.substr(5, 2), 12);
    auto day = parseUnsigned(s.substr(8, 2), 31);
    if (!year || !month || !day) return Error::InvalidDate;
    // Year 0 is refused too: the scan lists only years 1 to 9999, so such a
    // post could never be found again.
    if (*year == 0 || *month == 0 || *day == 0) return Error::InvalidDate;
    CivilDate d{static_cast<std::int64_t>(*year), static_cast<int>(*month), static_cast<int>(*day)};
    if (d.day > daysInMonth(d.year, d.month)) return Error::InvalidDate;
    return d;
}

// ---------------------------------------------------------------- reading

std::string_view Post::fileName() const noexcept { return content::baseName(path); }

namespace {

// Whether a directory name of `size` bytes reading 1..max can stand at a
// level of the dated tree.
bool isDateComponent(std::string_view name, std::size_t size, std::uint64_t max) noexcept {
    if (name.size() != size) return false;
    auto n = parseUnsigned(name, max);
    return n.ok() && *n >= 1;
}

bool isPostFileName(std::string_view name) noexcept {
    return name.size() >= 3 && name.substr(name.size() - 3) == ".md" && name != "index.md" &&
           name != "_index.md";
}

// The sort key of a post: its three date directory names (4, 2 and 2
// bytes), which with their fixed sizes order posts as their date texts do.
std::string_view yearOf(std::string_view key) noexcept { return key.substr(0, 4); }
std::string_view monthOf(std::string_view key) noexcept { return key.substr(4, 2); }
std::string_view dayOf(std::string_view key) noexcept { return key.substr(6, 2); }

std::string postPath(std::string_view blogDir, std::string_view key, std::string_view name) {
    return joinPath({blogDir, yearOf(key), monthOf(key), dayOf(key), name});
}

// Fills `post` (reusing the storage of its strings: a scan fills one record
// file after file) for the post file `name` in the day directory of `key`
// from its text: the whole file (the caller then keeps it in `raw`, to
// which the body offset refers), or the start of it up to the end of its
// front matter for a record without text. With `recordKeys` the record
// gets `draft` and `date` too. `post` is unspecified after a failure.
Status fillPost(Post &post, std::string_view blogDir, std::string_view key, std::string_view name,
                std::string_view text, bool recordKeys = false) {
    auto rest = post_frontmatter::parseInto(text, recordKeys, post.frontmatter);
    if (!rest) return concerning(postPath(blogDir, key, name), std::move(rest).failure());
    post.bodyOffset = static_cast<std::size_t>(text::trimLeft(*rest, text::isW4).data() - text.data());
    // A post of the same day as the one before keeps its date and the day
    // directory's part of its path: the blog directory, a slash unless it
    // ends in one, and "YYYY/MM/DD/".
    const std::string_view date = post.date;
    const std::size_t cut = blogDir.size() + (blogDir.ends_with('/') ? 0 : 1) + 10;
    if (date.size() == 10 && date.substr(0, 4) == yearOf(key) && date.substr(5, 2) == monthOf(key) &&
        date.substr(8, 2) == dayOf(key) && post.path.size() > cut && post.path[cut] == '/') {
        post.path.resize(cut + 1);
        post.path.append(name);
    } else {
        joinPathInto(post.path, {blogDir, yearOf(key), monthOf(key), dayOf(key), name});
        post.date.assign(yearOf(key)).append("-").append(monthOf(key)).append("-").append(dayOf(key));
    }
    if (post.frontmatter.slug) {
        post.slug.assign(*post.frontmatter.slug);
    } else {
        post.slug.assign(name.substr(0, name.size() - 3));
    }
    return {};
}

// The depth-first walk of the dated tree. `onFile` gets every regular file
// at a post's place with its open day directory and the key of its date.
// In list order, each level's directories are taken newest first (their
// names have fixed sizes, so byte order is date order) and a day's files in
// file-system order: that is the order of the list, with no file read out
// of turn and no directory opened twice. Otherwise everything is taken in
// file-system order (the walk order that decides which broken file a
// failure reports).
//
// With `broken`, a directory below the blog directory that cannot be
// listed or opened does not end the walk: its failure goes to `broken` and
// the walk goes on without it.
class PostWalk {
public:
    using OnFile = std::function<Status(const Dir &day, std::string_view key, std::string_view name)>;

    // With `reader`, a walk in a cold page cache asks for the metadata of
    // each directory's subdirectories in the order of their inode numbers
    // before it opens them in its own order (see loadInOrder).
    PostWalk(bool listOrder, OnFile onFile, const BrokenSink *broken = nullptr,
             const platform::FileReader *reader = nullptr)
        : listOrder_(listOrder), onFile_(std::move(onFile)), broken_(broken), reader_(reader) {}

    // Visits `dir`, which stands at `level` (0 = the blog directory, 3 = a
    // day directory).
    Status visit(Dir &dir, int level) {
        static constexpr std::size_t kSize[3] = {4, 2, 2};
        static constexpr std::size_t kAt[3] = {0, 4, 6};
        static constexpr std::uint64_t kMax[3] = {9999, 12, 31};
        std::vector<std::pair<std::string, std::uint64_t>> children;  // names and inode numbers
        for (;;) {
            auto next = dir.next();
            if (!next) {
                if (level > 0 && passedOver(next.failure())) break;
                return std::move(next).failure();
            }
            if (!*next) break;
            const platform::DirEntry entry = **next;
            if (level == 3) {
                if (entry.kind == EntryKind::File && isPostFileName(entry.name)) QL_TRY(onFile_(dir, key_, entry.name));
            } else if (entry.kind == EntryKind::Directory &&
                       isDateComponent(entry.name, kSize[level], kMax[level])) {
                children.emplace_back(entry.name, entry.ino);
            }
        }
        if (listOrder_) {
            std::stable_sort(children.begin(), children.end(),
                             [](const auto &a, const auto &b) { return a.first > b.first; });
        }
        if (reader_ && reader_->foundCold() && children.size() > 1) {
            content::inInodeOrder(
                0, static_cast<std::uint32_t>(children.size()), [&](std::uint32_t k) { return children[k].second; },
                [&](std::uint32_t k) { platform::FileReader::fetchMetadata(dir, children[k].first); });
        }
        for (const auto &[name, ino] : children) {
            auto child = dir.openChild(name);
            if (!child) {
                // Removed since it was listed: nothing to visit.
                if (child.error() == Error::FileNotFound) continue;
                if (passedOver(child.failure())) continue;
                return std::move(child).failure();
            }
            key_.replace(kAt[level], kSize[level], name);
            QL_TRY(visit(*child, level + 1));
        }
        return {};
    }

private:
    // Whether the failure of a directory goes to `broken_` (and the walk
    // passes the directory over).
    bool passedOver(const Failure &f) const {
        if (!broken_ || !content::isBrokenFile(f)) return false;
        (*broken_)(Failure(f));
        return true;
    }

    bool listOrder_;
    OnFile onFile_;
    const BrokenSink *broken_;
    const platform::FileReader *reader_;
    std::string key_ = std::string(8, '0');
};

// Opens <year>/<month>/<day> below the opened blog directory one level at
// a time, never following a symbolic link. With `create`, missing levels
// are made on the way, each in its opened parent.
Result<Dir> openDayDir(const Dir &blog, std::string_view year, std::string_view month, std::string_view day,
                       bool create) {
    auto yearDir = create ? blog.openOrMakeChild(year) : blog.openChild(year);
    if (!yearDir) return std::move(yearDir).failure();
    auto monthDir = create ? yearDir->openOrMakeChild(month) : yearDir->openChild(month);
    if (!monthDir) return std::move(monthDir).failure();
    return create ? monthDir->openOrMakeChild(day) : monthDir->openChild(day);
}

// The files a cold scan opened ahead of their turn, oldest first, with
// what their records need: a ring of the reader's window, whose strings
// keep their storage from file to file.
class PendingPosts {
public:
    bool empty() const noexcept { return count_ == 0; }
    void push(std::uint32_t tag, std::string_view key, std::string_view name) {
        Entry &e = ring_[(first_ + count_++) % ring_.size()];
        e.tag = tag;
        e.key.assign(key);
        e.name.assign(name);
    }
    const auto &front() const noexcept { return ring_[first_]; }
    void pop() noexcept {
        first_ = (first_ + 1) % ring_.size();
        --count_;
    }

private:
    struct Entry {
        std::uint32_t tag = 0;
        std::string key, name;
    };
    std::vector<Entry> ring_ = std::vector<Entry>(platform::FileReader::kAheadWindow);
    std::size_t first_ = 0, count_ = 0;
};

// How a scan goes over the posts.
struct PostScan {
    bool bodies = false;                  // read each file whole and hand on its body
    bool recordKeys = false;              // read `draft` and `date` too
    const BrokenSink *broken = nullptr;  // go on past broken files and directories
};

// Calls `visit` with every post below the open blog directory in list
// order, reading each file from its open day directory only up to the end
// of its front matter (a record without text) unless `how` asks for
// bodies. Files removed or replaced since their directory was listed are
// passed over. When a file fails, the tree is walked again in file-system
// order, and the first file that fails in that order decides, as a walk
// that stops at the first broken file would report. With `how.broken`,
// every broken file and directory goes there in list order instead, and
// only the blog directory itself fails the scan.
//
// In a cold page cache the files are opened ahead as the walk meets them
// and read in the same order once the reader's window is full, so that the
// disk fetches them while the walk goes on.
Status scanPosts(Dir &blog, std::string_view blogDir, const PostScan &how, const PostVisit &visit) {
    const platform::FileReader::Settled settled = how.bodies ? nullptr : post_frontmatter::headSettled;
    Post current;
    std::string_view body;
    // Makes the record of a post from its text, or from the failure to read it.
    auto make = [&](std::string_view key, std::string_view name, Result<std::string_view> text) -> Status {
        if (!text) return concerning(postPath(blogDir, key, name), std::move(text).failure());
        QL_TRY(fillPost(current, blogDir, key, name, *text, how.recordKeys));
        body = how.bodies ? text->substr(current.bodyOffset) : std::string_view();
        current.bodyOffset = 0;  // no text, so no body
        return {};
    };
    // A post's record visited, or the reason it is not: a file changed since
    // its directory was listed is none, and neither is a broken file when
    // the scan goes on past them.
    auto visitMade = [&](Status made) -> Status {
        if (made) {
            visit(current, body);
            return made;
        }
        if (content::changedSinceListed(made.error())) return {};
        if (how.broken && content::isBrokenFile(made.failure())) {
            (*how.broken)(std::move(made).failure());
            return {};
        }
        return made;
    };

    platform::FileReader reader;
    PendingPosts pending;
    std::uint32_t tag = 0;
    bool failedOnFile = false;  // the walk stopped at a file, not at a directory
    auto readPending = [&]() -> Status {
        const auto &next = pending.front();
        Status st = visitMade(make(next.key, next.name, reader.readAhead(next.tag, settled)));
        pending.pop();
        failedOnFile = !st;
        return st;
    };
    PostWalk inListOrder(true, [&](const Dir &day, std::string_view key, std::string_view name) -> Status {
        if (reader.wantsAhead() || !pending.empty()) {
            while (!reader.wantsAhead() && !pending.empty()) QL_TRY(readPending());
            if (reader.openAhead(day, name, tag, settled)) {
                pending.push(tag++, key, name);
                return {};
            }
            // Not open: read in its turn, while its directory is.
            while (!pending.empty()) QL_TRY(readPending());
        }
        Status st = visitMade(make(key, name, reader.read(day, name, settled)));
        failedOnFile = !st;
        return st;
    }, how.broken, &reader);
    Status listed = inListOrder.visit(blog, 0);
    // The files still pending come before where the walk ended, or failed
    // on a directory, in list order.
    while (!pending.empty() && (listed || !failedOnFile)) {
        Status st = readPending();
        if (!st) listed = st;
        if (!st) break;
    }
    if (listed || how.broken) return listed;

    auto again = blog.reopen();
    if (!again) return listed;
    platform::FileReader rereader;
    PostWalk inWalkOrder(false, [&](const Dir &day, std::string_view key, std::string_view name) -> Status {
        Status st = make(key, name, rereader.read(day, name, settled));
        return !st && content::changedSinceListed(st.error()) ? Status{} : st;
    });
    Status decider = inWalkOrder.visit(*again, 0);
    return decider ? listed : decider;
}

// The first post in list order with the slug, as a record without text,
// found by a scan through its own handle on the blog directory.
Result<Post> findPostIn(const Dir &blog, std::string_view blogDir, std::string_view slug) {
    auto scan = blog.reopen();
    if (!scan) return std::move(scan).failure();
    std::optional<Post> found;
    QL_TRY(scanPosts(*scan, blogDir, {}, [&](const Post &post, std::string_view) {
        if (!found && post.slug == slug) found = post;
    }));
    if (!found) return Error::PostNotFound;
    return std::move(*found);
}

}  // namespace

Status visitPosts(std::string_view blogDir, const std::function<void(const Post &)> &visit) {
    return content::scanIfPresent(blogDir, [&](Dir &blog) {
        return scanPosts(blog, blogDir, {}, [&](const Post &post, std::string_view) { visit(post); });
    });
}

Status visitPostRecords(std::string_view blogDir, bool bodies, const PostVisit &visit) {
    return content::scanIfPresent(blogDir,
                                  [&](Dir &blog) { return scanPosts(blog, blogDir, {bodies, true, nullptr}, visit); });
}

Status checkPosts(std::string_view blogDir, const BrokenSink &broken) {
    return content::scanIfPresent(blogDir, [&](Dir &blog) {
        return scanPosts(blog, blogDir, {false, false, &broken}, [](const Post &, std::string_view) {});
    });
}

// --------------------------------------------------------------- changing

namespace {

// The date directories of a post. A post's date is its three directory
// names joined with "-", and they are exactly 4, 2 and 2 bytes long.
Result<Dir> openPostDir(const Dir &blog, const Post &post) {
    std::string_view date = post.date;
    return openDayDir(blog, date.substr(0, 4), date.substr(5, 2), date.substr(8, 2), false);
}

// The failure of opening or reading a post that a scan found: PostNotFound
// when the file or a directory on its way was removed or replaced since.
Failure gone(Failure f) {
    if (content::changedSinceListed(f.error)) return Error::PostNotFound;
    return f;
}

// Reads the file of a post met by a scan (a record without text) whole. A
// file gone since then is PostNotFound.
Result<Post> reloadPost(const Dir &blog, std::string_view blogDir, const Post &found) {
    auto dir = openPostDir(blog, found);
    if (!dir) return gone(std::move(dir).failure());
    std::string_view name = found.fileName();
    auto raw = dir->readFile(name);
    if (!raw) return gone(concerning(found.path, std::move(raw).failure()));
    std::string key;
    for (char c : std::string_view(found.date))
        if (c != '-') key.push_back(c);
    Post post;
    QL_TRY(fillPost(post, blogDir, key, name, *raw, true));
    post.raw = std::move(*raw);
    return post;
}

Status checkValues(const std::vector<std::string> &values) noexcept {
    for (const auto &v : values)
        if (!isWritableFrontmatterValue(v)) return Error::InvalidFrontmatterValue;
    return {};
}

// The post `slug` below the blog directory, read whole.
Result<Post> findWholePost(const Dir &blog, std::string_view blogDir, std::string_view slug) {
    auto found = findPostIn(blog, blogDir, slug);
    if (!found) return std::move(found).failure();
    return reloadPost(blog, blogDir, *found);
}

}  // namespace

namespace {

// Whether a post of the open day directory `day` other than <slug>.md
// answers to `slug` by its "slug" key. A file whose front matter cannot be
// read as a post's answers to nothing (every lookup fails while it is
// broken); a file that cannot be read at all fails the check.
Result<bool> slugTakenIn(const Dir &day, std::string_view slug) {
    return content::anyFileAnswers(day, post_frontmatter::headSettled, isPostFileName, [&](std::string_view, std::string_view head) {
        auto parsed = post_frontmatter::parse(head);
        return parsed && parsed->frontmatter.slug && *parsed->frontmatter.slug == slug;
    });
}

// Whether the text of a new post reads as one with these values: the block
// holds exactly them, and everything after its closing line is one LF and
// the body.
bool readsBackAs(std::string_view content, std::string_view title, std::string_view description,
                 const std::vector<std::string> &tags, std::string_view dateKey, const NewPostExtras &extras) {
    auto back = post_frontmatter::parse(content, true);
    if (!back) return false;
    const PostFrontmatter &fm = back->frontmatter;
    if (fm.title != title || fm.description != description || fm.tags != tags || fm.slug) return false;
    if (fm.draft != extras.draft || fm.dateKey.value_or("") != dateKey) return false;
    const std::string_view rest = back->rest;  // the closing line's break, the one more LF, the body
    return rest.size() == extras.body.size() + 2 && rest.starts_with("\n\n") && rest.substr(2) == extras.body;
}

// Whether a post file of the open day directory `day` other than `self`
// answers to `slug`: by its "slug" key, or by its file name when it has
// none. A file that does not read as a post answers to nothing.
Result<bool> otherPostAnswersIn(const Dir &day, std::string_view slug, std::string_view self) {
    return content::anyFileAnswers(
        day, post_frontmatter::headSettled, [&](std::string_view name) { return isPostFileName(name) && name != self; },
        [&](std::string_view name, std::string_view head) {
            auto parsed = post_frontmatter::parse(head);
            if (!parsed) return false;
            const auto &key = parsed->frontmatter.slug;
            return key ? *key == slug : name.substr(0, name.size() - 3) == slug;
        });
}

}  // namespace

Result<Post> readPost(std::string_view blogDir, std::string_view slug) {
    auto blog = content::openIfPresent(blogDir);
    if (!blog) return std::move(blog).failure();
    if (!*blog) return Error::PostNotFound;
    return findWholePost(**blog, blogDir, slug);
}

Result<std::string> createPost(std::string_view blogDir, std::string_view slug, std::string_view title,
                               std::string_view description, const std::vector<std::string> &tags,
                               std::optional<std::string_view> date, const NewPostExtras &extras) {
    // The scan passes over the section pages index.md and _index.md, so a
    // post of that name could never be found again.
    if (!text::isValidSlug(slug) || slug == "index" || slug == "_index") return Error::InvalidSlug;
    if (title.empty()) return Error::MissingTitle;
    if (!isWritableFrontmatterValue(title)) return Error::InvalidFrontmatterValue;
    if (description.empty()) return Error::MissingDescription;
    if (!isWritableFrontmatterValue(description)) return Error::InvalidFrontmatterValue;
    QL_TRY(checkValues(tags));

    CivilDate d{};
    if (date) {
        auto parsed = parsePostDate(*date);
        if (!parsed) return std::move(parsed).failure();
        d = *parsed;
    } else {
        d = civilFromTimestamp(platform::nowSeconds());
        if (d.year < 1 || d.year > 9999) return Error::InvalidDate;
    }
    char year[16], month[16], day[16];
    std::snprintf(year, sizeof year, "%04d", static_cast<int>(d.year));
    std::snprintf(month, sizeof month, "%02d", d.month);
    std::snprintf(day, sizeof day, "%02d", d.day);

    std::string fileName;
    fileName.reserve(slug.size() + 3);
    fileName.append(slug).append(".md");
    std::string path = joinPath({blogDir, year, month, day, fileName});
    // Checked before any directory is made, so a refused call leaves no trace.
    QL_TRY(platform::checkPathLength(path));
    QL_TRY(platform::checkNameLength(fileName));

    std::string dateKey;
    if (extras.dateKey) dateKey.append(year).append("-").append(month).append("-").append(day);
    std::string content = buildPostFrontmatter(title, description, tags, dateKey, extras.draft);
    content.push_back('\n');
    content.append(extras.body);
    QL_TRY(platform::checkWriteSize(content.size()));
    // Nothing is written that would not read back as the post asked for.
    if (!readsBackAs(content, title, description, tags, dateKey, extras)) return Error::InvalidFrontmatterValue;

    auto blog = content::openLockedMaking(blogDir);
    if (!blog) return std::move(blog).failure();
    Status written;
    for (int attempt = 0; attempt < 8; ++attempt) {
        // A process that does not take the lock may prune the date
        // directories while they are being made or opened, or between
        // opening and writing: both show as FileNotFound, and the
        // directories are made again (a bounded number of times).
        auto dir = openDayDir(*blog, year, month, day, true);
        if (!dir) {
            written = std::move(dir).failure();
        } else {
            dir->removeTemporaries();
            // One answer per slug and date: a post of the date that answers
            // to the slug by its "slug" key refuses it, as its file name does.
            auto taken = slugTakenIn(*dir, slug);
            if (!taken) return std::move(taken).failure();
            if (*taken) return Error::DuplicatePost;
            written = dir->writeExclusive(fileName, content);
        }
        if (written.ok() || written.error() != Error::FileNotFound) break;
    }
    if (!written) {
        return written.error() == Error::PathAlreadyExists ? Failure(Error::DuplicatePost)
                                                           : std::move(written).failure();
    }
    return path;
}

std::vector<std::string> mergeTags(std::vector<std::string> base, const std::vector<std::string> &add,
                                   const std::vector<std::string> &remove) {
    // Hash sets keep the merge linear in the number of tags.
    std::unordered_set<std::string_view> present(base.begin(), base.end());
    std::vector<std::string_view> added;
    for (const auto &t : add)
        if (present.insert(t).second) added.push_back(t);
    base.reserve(base.size() + added.size());
    for (std::string_view t : added) base.emplace_back(t);
    if (!remove.empty()) {
        const std::unordered_set<std::string_view> gone(remove.begin(), remove.end());
        std::erase_if(base, [&](const std::string &t) { return gone.count(t) != 0; });
    }
    return base;
}

namespace {

// Replaces the file of `post` (read whole, below the locked blog directory)
// with `text` when that reads as a post and keeps one answer per slug and
// date.
Status replacePostText(const Dir &blog, const Post &post, std::string_view text) {
    if (text == post.raw) return {};
    QL_TRY(platform::checkWriteSize(text.size()));
    auto parsed = post_frontmatter::parse(text);
    if (!parsed) return concerning(post.path, std::move(parsed).failure());
    // The block is written as given, so it must be what TOML allows: UTF-8.
    if (!toml::isValidUtf8(text.substr(0, static_cast<std::size_t>(parsed->rest.data() - text.data()))))
        return concerning(post.path, Error::InvalidFrontmatterValue);
    const std::string_view name = post.fileName();
    const std::string_view slug =
        parsed->frontmatter.slug ? std::string_view(*parsed->frontmatter.slug) : name.substr(0, name.size() - 3);
    auto dir = openPostDir(blog, post);
    if (!dir) return gone(std::move(dir).failure());
    if (slug != post.slug) {
        auto taken = otherPostAnswersIn(*dir, slug, name);
        if (!taken) return std::move(taken).failure();
        if (*taken) return Error::DuplicatePost;
    }
    dir->removeTemporaries();
    return dir->writeReplace(name, text);
}

// Whether the front matter of `after` reads as that of `before`: the same
// block closing at the same place, so the same values.
bool sameFrontmatter(std::string_view before, std::string_view after) {
    auto a = post_frontmatter::parse(before);
    auto b = post_frontmatter::parse(after);
    if (!a || !b) return false;
    const std::size_t blockA = static_cast<std::size_t>(a->rest.data() - before.data());
    const std::size_t blockB = static_cast<std::size_t>(b->rest.data() - after.data());
    return blockA == blockB && before.substr(0, blockA) == after.substr(0, blockB);
}

}  // namespace

Status updatePost(std::string_view blogDir, std::string_view slug, const PostUpdate &u) {
    const bool fields = u.title || u.description || u.tags || !u.addTags.empty() || !u.removeTags.empty() ||
                        u.body || u.draft;
    if (u.text && fields) return Error::InvalidOptions;
    if (!u.text && !fields) return Error::NoUpdates;

    // The lookup, the read and the write are one step for every caller
    // that changes posts. Every post's front matter is read (one broken
    // file fails the update), the found one's whole text only for its body.
    auto blog = content::openLocked(blogDir, Error::PostNotFound);
    if (!blog) return std::move(blog).failure();
    auto whole = findWholePost(*blog, blogDir, slug);
    if (!whole) return std::move(whole).failure();
    const Post *post = &*whole;
    if (u.text) {
        QL_TRY(platform::checkPathLength(post->path));
        return replacePostText(*blog, *post, *u.text);
    }

    // Only the values the caller gives are checked for what a block cannot
    // hold; values carried over stay as the file has them.
    const PostFrontmatter &old = post->frontmatter;
    if (u.title && !isWritableFrontmatterValue(*u.title)) return Error::InvalidFrontmatterValue;
    if (u.description && !isWritableFrontmatterValue(*u.description)) return Error::InvalidFrontmatterValue;
    if ((u.title ? *u.title : std::string_view(old.title)).empty()) return Error::MissingTitle;
    if ((u.description ? *u.description : std::string_view(old.description)).empty())
        return Error::MissingDescription;
    if (u.tags) QL_TRY(checkValues(*u.tags));
    QL_TRY(checkValues(u.addTags));
    QL_TRY(platform::checkPathLength(post->path));

    post_frontmatter::Changes changes;
    if (u.title && *u.title != old.title) changes.title = u.title;
    if (u.description && *u.description != old.description) changes.description = u.description;
    std::vector<std::string> tags = mergeTags(u.tags ? *u.tags : old.tags, u.addTags, u.removeTags);
    if (tags != old.tags) changes.tags = std::move(tags);
    changes.draft = u.draft;
    changes.body = u.body;
    std::string content = post_frontmatter::rewrite(post->raw, changes);
    // A result equal to the file, byte for byte, is not written.
    if (content == post->raw) return {};
    QL_TRY(platform::checkWriteSize(content.size()));
    // A body cannot reach back into the block: were the block to close
    // elsewhere with it (a string the old block left open, closed in the
    // new body), the post would read differently. The block must read as
    // the same edit with the old body does.
    if (u.body) {
        changes.body.reset();
        if (!sameFrontmatter(post_frontmatter::rewrite(post->raw, changes), content))
            return concerning(post->path, Error::InvalidFrontmatterValue);
    }

    auto dir = openPostDir(*blog, *post);
    if (!dir) return gone(std::move(dir).failure());
    dir->removeTemporaries();
    return dir->writeReplace(post->fileName(), content);
}

Status renamePostTag(std::string_view blogDir, std::string_view oldTag, std::optional<std::string_view> newTag,
                     std::size_t &changed) {
    changed = 0;
    if (oldTag.empty()) return Error::InvalidFrontmatterValue;
    if (newTag && (newTag->empty() || newTag->find(',') != std::string_view::npos ||
                   !isWritableFrontmatterValue(*newTag)))
        return Error::InvalidFrontmatterValue;
    if (newTag && *newTag == oldTag) return {};

    auto blog = content::openLocked(blogDir, Error::PostNotFound);
    if (!blog) return blog.error() == Error::PostNotFound ? Status{} : Status{std::move(blog).failure()};
    // One scan finds the posts that have the tag; every one of them is then
    // read whole and edited before the first write.
    std::vector<Post> having;
    {
        auto scan = blog->reopen();
        if (!scan) return std::move(scan).failure();
        QL_TRY(scanPosts(*scan, blogDir, {}, [&](const Post &post, std::string_view) {
            const auto &tags = post.frontmatter.tags;
            if (std::find(tags.begin(), tags.end(), oldTag) != tags.end()) having.push_back(post);
        }));
    }
    const std::vector<std::string> remove{std::string(oldTag)};
    std::vector<std::string> add;
    if (newTag) add.emplace_back(*newTag);
    struct Rewrite {
        Post post;
        std::string content;
    };
    std::vector<Rewrite> rewrites;
    for (const Post &found : having) {
        auto whole = reloadPost(*blog, blogDir, found);
        if (!whole) {
            // Gone since the scan: it has no tag to change.
            if (whole.error() == Error::PostNotFound) continue;
            return std::move(whole).failure();
        }
        QL_TRY(platform::checkPathLength(whole->path));
        post_frontmatter::Changes changes;
        std::vector<std::string> tags = mergeTags(whole->frontmatter.tags, add, remove);
        if (tags == whole->frontmatter.tags) continue;
        changes.tags = std::move(tags);
        std::string content = post_frontmatter::rewrite(whole->raw, changes);
        if (content == whole->raw) continue;
        QL_TRY(platform::checkWriteSize(content.size()));
        rewrites.push_back({std::move(*whole), std::move(content)});
    }
    for (const Rewrite &r : rewrites) {
        auto dir = openPostDir(*blog, r.post);
        if (!dir) return gone(std::move(dir).failure());
        dir->removeTemporaries();
        QL_TRY(dir->writeReplace(r.post.fileName(), r.content));
        ++changed;
    }
    return {};
}

Status deletePost(std::string_view blogDir, std::string_view slug) {
    auto blog = content::openLocked(blogDir, Error::PostNotFound);
    if (!blog) return std::move(blog).failure();
    auto found = findPostIn(*blog, blogDir, slug);
    if (!found) return std::move(found).failure();
    const Post &post = *found;
    QL_TRY(platform::checkPathLength(post.path));
    std::string_view date = post.date;
    const std::string_view names[3] = {date.substr(0, 4), date.substr(5, 2), date.substr(8, 2)};

    // Every level is opened from its opened parent without following a
    // link, so the file removed is the one the scan found, wherever a
    // directory on its way was moved meanwhile.
    std::optional<Dir> levels[4];
    levels[0] = std::move(*blog);
    for (int i = 0; i < 3; ++i) {
        auto child = levels[i]->openChild(names[i]);
        if (!child) return gone(std::move(child).failure());
        levels[i + 1] = std::move(*child);
    }
    // Litter of killed writers goes first, so that it keeps no emptied
    // directory from being pruned.
    levels[3]->removeTemporaries();
    QL_TRY(content::removeContentFile(*levels[3], post.fileName(), Error::PostNotFound));

    // Prune the day, month and year directories while they are empty, each
    // from its opened parent (never the blog directory itself).
    for (int i = 2; i >= 0; --i) {
        Status st = levels[i]->removeChildDir(names[i]);
        if (!st) {
            // Not empty, or no longer the directory the post was in.
            Error e = st.error();
            if (e == Error::DirNotEmpty || e == Error::FileNotFound || e == Error::NotDir) break;
            return st;
        }
    }
    return {};
}

}  // namespace quorlina
