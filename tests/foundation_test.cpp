// The shared frame: JSON escaping, path joining and limits, civil dates,
// number parsing, the error table, file access and the warning line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "core/civil_date.hpp"
#include "core/paths.hpp"
#include "core/platform.hpp"
#include "ffi/frame.hpp"
#include "ffi/json.hpp"
#include "ffi/tags_csv.hpp"
#include "support/test_support.hpp"
#include "support/whole_loads.hpp"

using namespace quorlina;
using qtest::TempSite;

TEST(EscapeJson, FiveEscapesAndEverythingElseVerbatim) {
    EXPECT_EQ(qtest::escapeJson("a\"b\\c"), "a\\\"b\\\\c");
    EXPECT_EQ(qtest::escapeJson("\r\n"), "\\r\\n");
    EXPECT_EQ(qtest::escapeJson("\t"), "\\t");
    EXPECT_EQ(qtest::escapeJson(""), "");
    EXPECT_EQ(qtest::escapeJson("h\xC3\xA9llo \xE2\x82\xAC"), "h\xC3\xA9llo \xE2\x82\xAC");
    EXPECT_EQ(qtest::escapeJson("\x7F\x80\xFF"), "\x7F\x80\xFF");
}

TEST(EscapeJson, OtherControlBytesBecomeUnicodeEscapes) {
    EXPECT_EQ(qtest::escapeJson(std::string("\x01", 1)), "\\u0001");
    EXPECT_EQ(qtest::escapeJson(std::string("\x1F", 1)), "\\u001f");
    EXPECT_EQ(qtest::escapeJson(std::string("a\0b", 3)), "a\\u0000b");
    EXPECT_EQ(qtest::escapeJson("\x0B\x0C\x08"), "\\u000b\\u000c\\u0008");
    // Every byte below 0x20 yields an escape and no raw control byte.
    for (int c = 0; c < 0x20; ++c) {
        std::string out = qtest::escapeJson(std::string(1, static_cast<char>(c)));
        ASSERT_EQ(out[0], '\\') << c;
        for (char o : out) ASSERT_GE(static_cast<unsigned char>(o), 0x20) << c;
    }
}

TEST(JoinPath, OneSlashAtEachSeam) {
    EXPECT_EQ(joinPath({"site/", "content", "snippets"}), "site/content/snippets");
    EXPECT_EQ(joinPath({"", "content", "snippets"}), "content/snippets");
    EXPECT_EQ(joinPath({"site", "/content/", "/snippets"}), "site/content/snippets");
    EXPECT_EQ(joinPath({"/", "a"}), "/a");
    EXPECT_EQ(joinPath({"a//", "b"}), "a//b");
    EXPECT_EQ(joinPath({"", ""}), "");
    EXPECT_EQ(snippetsDir("site"), "site/content/snippets");
    EXPECT_EQ(blogDir(""), "content/blog");
    EXPECT_EQ(notesDir("/srv/site/"), "/srv/site/content/notes");
}

TEST(CivilDate, KnownTimestamps) {
    EXPECT_EQ(dateFromTimestamp(0), "1970-01-01");
    EXPECT_EQ(dateFromTimestamp(86400), "1970-01-02");
    EXPECT_EQ(dateFromTimestamp(951782400), "2000-02-29");
    EXPECT_EQ(dateFromTimestamp(1700000000), "2023-11-14");
    EXPECT_EQ(dateFromTimestamp(1733570000), "2024-12-07");
    EXPECT_EQ(dateFromTimestamp(4102444800), "2100-01-01");
    EXPECT_EQ(dateFromTimestamp(253402300799), "9999-12-31");
    EXPECT_EQ(dateFromTimestamp(253402300800), "10000-01-01");
    EXPECT_EQ(dateFromTimestamp(-1), "1969-12-31");
    EXPECT_EQ(dateFromTimestamp(-86400), "1969-12-31");
    EXPECT_EQ(dateFromTimestamp(-86401), "1969-12-30");
    EXPECT_EQ(dateFromTimestamp(-62135596800), "0001-01-01");
    EXPECT_EQ(dateFromTimestamp(INT64_MAX), "292277026596-12-04");
    EXPECT_EQ(dateFromTimestamp(INT64_MIN), "-292277022657-01-27");
}

// The closed form agrees with walking the calendar forward day by day.
TEST(CivilDate, AgreesWithADayByDayWalk) {
    std::int64_t y = 1970;
    int m = 1, d = 1;
    for (std::int64_t days = 0; days < 3000000; ++days) {  // up to year ~10183
        CivilDate c = civilFromDays(days);
        ASSERT_TRUE(c.year == y && c.month == m && c.day == d) << days;
        if (++d > daysInMonth(y, m)) {
            d = 1;
            if (++m > 12) {
                m = 1;
                ++y;
            }
        }
    }
}

TEST(Numbers, UnsignedAcceptsPlusAndInnerUnderscores) {
    EXPECT_EQ(*parseUnsigned("2024"), 2024u);
    EXPECT_EQ(*parseUnsigned("+202"), 202u);
    EXPECT_EQ(*parseUnsigned("2_02"), 202u);
    EXPECT_EQ(parseUnsigned("_202").error(), Error::InvalidCharacter);
    EXPECT_EQ(parseUnsigned("202_").error(), Error::InvalidCharacter);
    EXPECT_EQ(parseUnsigned("").error(), Error::InvalidCharacter);
    EXPECT_EQ(parseUnsigned("+").error(), Error::InvalidCharacter);
    EXPECT_EQ(parseUnsigned("-1").error(), Error::InvalidCharacter);
    EXPECT_EQ(parseUnsigned("1a").error(), Error::InvalidCharacter);
    EXPECT_EQ(parseUnsigned("18446744073709551616").error(), Error::Overflow);
    EXPECT_EQ(*parseUnsigned("18446744073709551615"), UINT64_MAX);
    // Every bound holds at its last digit, as the date components use them.
    struct Bound {
        const char *text;
        std::uint64_t max;
        bool ok;
    } bounds[] = {{"12", 12, true},     {"13", 12, false},    {"09", 12, true},    {"31", 31, true},
                  {"32", 31, false},    {"40", 31, false},    {"9999", 9999, true}, {"1_0000", 9999, false},
                  {"0", 0, true},       {"1", 0, false},      {"19", 19, true},    {"20", 19, false}};
    for (const Bound &b : bounds) {
        auto r = parseUnsigned(b.text, b.max);
        EXPECT_EQ(r.ok(), b.ok) << b.text << " up to " << b.max;
        if (!b.ok) {
            EXPECT_EQ(r.error(), Error::Overflow) << b.text;
        }
    }
}

TEST(Numbers, SignedCoversTheWholeRange) {
    EXPECT_EQ(*parseSigned("1_700_000_000"), 1700000000);
    EXPECT_EQ(*parseSigned("-5"), -5);
    EXPECT_EQ(*parseSigned("+5"), 5);
    EXPECT_EQ(*parseSigned("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(*parseSigned("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parseSigned("9223372036854775808").error(), Error::Overflow);
    EXPECT_EQ(parseSigned("-9223372036854775809").error(), Error::Overflow);
    EXPECT_EQ(parseSigned("").error(), Error::InvalidCharacter);
    EXPECT_EQ(parseSigned("-").error(), Error::InvalidCharacter);
    EXPECT_EQ(parseSigned("todo").error(), Error::InvalidCharacter);
    // Checked from the left: overflow is met before the bad byte.
    EXPECT_EQ(parseSigned("99999999999999999999x").error(), Error::Overflow);
    EXPECT_EQ(timestampText(-5), "-5");
    EXPECT_EQ(timestampText(0), "0");
}

TEST(MapError, TableOfResultCodes) {
    struct Row {
        Error e;
        int code;
    } rows[] = {
        {Error::InvalidTimestamp, 1},   {Error::DuplicateSnippet, 2},   {Error::DuplicatePost, 2},
        {Error::DuplicateNote, 2},      {Error::SnippetNotFound, 3},    {Error::PostNotFound, 3},
        {Error::NoteNotFound, 3},       {Error::InvalidExtension, 4},   {Error::InvalidDescription, 5},
        {Error::InvalidFilename, 6},    {Error::MissingTitle, 7},       {Error::MissingDescription, 7},
        {Error::UnclosedFrontmatter, 7}, {Error::MissingFrontmatter, 7}, {Error::InvalidFrontmatterValue, 7},
        {Error::FileNotFound, 8},
        {Error::NotDir, 8},             {Error::AccessDenied, 8},       {Error::PathAlreadyExists, 8},
        {Error::IsDir, 8},              {Error::OutOfMemory, 9},        {Error::InvalidSlug, 10},
        {Error::InvalidDate, 11},       {Error::NoUpdates, 14},         {Error::NameTooLong, 100},
        {Error::PermissionDenied, 100}, {Error::FileTooBig, 100},       {Error::NoSpaceLeft, 100},
        {Error::Overflow, 100},         {Error::InvalidCharacter, 100}, {Error::NullArgument, 100},
        {Error::SymLinkLoop, 100},      {Error::Unexpected, 100},       {Error::InvalidOptions, 100},
    };
    // Every value of the enumeration: those of the table get their code,
    // every other one 100, and each has a name of its own.
    std::set<std::string_view> names;
    for (int v = 0; v <= static_cast<int>(kLastError); ++v) {
        const Error e = static_cast<Error>(v);
        int expected = 100;
        for (auto r : rows)
            if (r.e == e) expected = r.code;
        EXPECT_EQ(ffi::mapError(e), expected) << errorName(e);
        EXPECT_TRUE(names.insert(errorName(e)).second) << "name used twice: " << errorName(e);
    }
}

TEST(ExportFrame, ExceptionsBecomeCodes) {
    char *out = reinterpret_cast<char *>(&out);
    EXPECT_EQ(ffi::runExportWithText(&out, []() -> Result<std::string> { throw std::bad_alloc(); }), 9);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ffi::runExport([]() -> Status { throw 42; }), 100);
    EXPECT_EQ(ffi::runExportWithText(nullptr, []() -> Result<std::string> { return std::string("x"); }),
              100);
    EXPECT_EQ(ffi::runExportWithText(&out, []() -> Result<std::string> { return std::string(); }), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out[0], '\0');  // an empty text is still a one-byte block
    quorlina_free(out);
    quorlina_free(nullptr);
}

TEST(TagsCsv, SplitsTrimsAndDropsEmptyPieces) {
    EXPECT_EQ(ffi::parseTagsCsv(" travel, ,notes ,\ta+b "),
              (std::vector<std::string>{"travel", "notes", "a+b"}));
    EXPECT_TRUE(ffi::parseTagsCsv("").empty());
    EXPECT_TRUE(ffi::parseTagsCsv(" , ,").empty());
    EXPECT_EQ(ffi::parseTagsCsv("\"a\",a"), (std::vector<std::string>{"\"a\"", "a"}));
}

TEST(Platform, PathOf1023BytesIsAcceptedAnd1024Refused) {
    TempSite site;
    std::string dir = site.root() + "/";
    while (dir.size() < 1023) {
        std::string piece(std::min<std::size_t>(200, 1023 - dir.size()), 'd');
        dir += piece;
        if (dir.size() < 1023) {
            if (dir.size() == 1022) dir.pop_back();  // never end on a lone slash
            dir += "/";
        }
    }
    ASSERT_EQ(dir.size(), 1023u);
    ASSERT_TRUE(platform::Dir::openMaking(dir).ok());
    EXPECT_TRUE(platform::Dir::open(dir).ok());
    std::string longer = dir + "x";
    EXPECT_EQ(platform::Dir::openMaking(longer).error(), Error::NameTooLong);
    EXPECT_EQ(platform::Dir::open(longer).error(), Error::NameTooLong);
    EXPECT_EQ(ffi::mapError(platform::Dir::open(longer).error()), 100);
}

TEST(Platform, ReadLimitIsTenMebibytes) {
    TempSite site;
    qtest::writeFile(site.path("exact"), std::string(platform::kReadLimit, 'a'));
    qtest::writeFile(site.path("over"), std::string(platform::kReadLimit + 1, 'a'));
    auto dir = platform::Dir::open(site.root());
    ASSERT_TRUE(dir.ok());
    auto exact = dir->readFile("exact");
    ASSERT_TRUE(exact.ok());
    EXPECT_EQ(exact->size(), platform::kReadLimit);
    EXPECT_EQ(dir->readFile("over").error(), Error::FileTooBig);
    EXPECT_EQ(dir->readFile("missing").error(), Error::FileNotFound);
}

TEST(Platform, ExclusiveWriteNeverReplacesAndLeavesNoTemporary) {
    TempSite site;
    auto dir = platform::Dir::open(site.root());
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(dir->writeExclusive("a.md", "one").ok());
    EXPECT_EQ(dir->writeExclusive("a.md", "two").error(), Error::PathAlreadyExists);
    ASSERT_EQ(::symlink("target.md", site.path("link.md").c_str()), 0);
    EXPECT_EQ(dir->writeExclusive("link.md", "x").error(), Error::PathAlreadyExists);
    EXPECT_FALSE(qtest::exists(site.path("target.md")));
    EXPECT_EQ(*qtest::readFile(site.path("a.md")), "one");
    EXPECT_EQ(qtest::listDir(site.root()), (std::vector<std::string>{"a.md", "link.md"}));
}

TEST(Platform, ReplaceKeepsPermissionBitsAndDoesNotFollowLinks) {
    TempSite site;
    qtest::writeFile(site.path("a.md"), "old");
    ASSERT_EQ(::chmod(site.path("a.md").c_str(), 0640), 0);
    auto dir = platform::Dir::open(site.root());
    ASSERT_TRUE(dir->writeReplace("a.md", "new").ok());
    struct stat st {};
    ASSERT_EQ(::stat(site.path("a.md").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(*qtest::readFile(site.path("a.md")), "new");

    qtest::writeFile(site.path("outside"), "keep");
    ASSERT_EQ(::symlink("outside", site.path("l.md").c_str()), 0);
    ASSERT_TRUE(dir->writeReplace("l.md", "data").ok());
    EXPECT_EQ(*qtest::readFile(site.path("outside")), "keep");
    EXPECT_EQ(dir->readFile("outside").value(), "keep");
    EXPECT_EQ(qtest::listDir(site.root()), (std::vector<std::string>{"a.md", "l.md", "outside"}));
}

namespace {
int failRename(platform::fault::Op op) { return op == platform::fault::Op::Rename ? EIO : 0; }
int failWrite(platform::fault::Op op) { return op == platform::fault::Op::Write ? ENOSPC : 0; }
}  // namespace

TEST(Platform, FailedWritesLeaveTheOldFileAndNoTemporary) {
    TempSite site;
    qtest::writeFile(site.path("a.md"), "old");
    auto dir = platform::Dir::open(site.root());
    platform::fault::setHook(failRename);
    EXPECT_EQ(dir->writeReplace("a.md", "new").error(), Error::InputOutput);
    platform::fault::setHook(failWrite);
    EXPECT_EQ(dir->writeReplace("a.md", "new").error(), Error::NoSpaceLeft);
    EXPECT_EQ(dir->writeExclusive("b.md", "new").error(), Error::NoSpaceLeft);
    platform::fault::setHook(nullptr);
    EXPECT_EQ(*qtest::readFile(site.path("a.md")), "old");
    EXPECT_EQ(qtest::listDir(site.root()), std::vector<std::string>{"a.md"});
}

namespace {
int g_dirReads = 0;
int g_failUnlinks = 0;  // the first this many removals fail
int countReads(platform::fault::Op op) {
    if (op == platform::fault::Op::Read) ++g_dirReads;
    if (op == platform::fault::Op::Unlink && g_failUnlinks > 0) {
        --g_failUnlinks;
        return EACCES;
    }
    return 0;
}
}  // namespace

// The sweep for killed writers' temporaries reads the directory only when
// the mark of a write in flight is there; the mark goes last, only when it
// is a plain file and every temporary went.
TEST(Platform, TemporariesAreSweptOnlyWhereAWriteWasInFlight) {
    const std::string mark = ".quorlina-tmp-writing", temp = ".quorlina-tmp-7-0-a";
    struct Row {
        const char *what;
        char markKind;    // 0: none, 'f' a file, 'd' a directory, 'l' a link
        int failUnlinks;  // removals that fail
        bool read;        // the entries are read
        std::vector<std::string> left;
    } rows[] = {
        {"no mark", 0, 0, false, {temp, "a.md"}},
        {"a mark", 'f', 0, true, {"a.md"}},
        {"a directory for a mark", 'd', 0, true, {mark, "a.md"}},
        {"a link for a mark", 'l', 0, true, {mark, "a.md"}},
        {"a temporary that cannot go", 'f', 1, true, {mark, temp, "a.md"}},
    };
    for (const Row &row : rows) {
        TempSite site;
        qtest::writeFile(site.path("a.md"), "keep");
        qtest::writeFile(site.path(temp), "half");
        if (row.markKind == 'f') qtest::writeFile(site.path(mark), "");
        if (row.markKind == 'd') {
            ASSERT_EQ(::mkdir(site.path(mark).c_str(), 0755), 0);
        }
        if (row.markKind == 'l') {
            ASSERT_EQ(::symlink("a.md", site.path(mark).c_str()), 0);
        }
        auto dir = platform::Dir::open(site.root());
        ASSERT_TRUE(dir.ok());
        g_dirReads = 0;
        g_failUnlinks = row.failUnlinks;
        platform::fault::setHook(countReads);
        dir->removeTemporaries();
        platform::fault::setHook(nullptr);
        EXPECT_EQ(g_dirReads > 0, row.read) << row.what;
        std::vector<std::string> left = row.left;
        std::sort(left.begin(), left.end());
        EXPECT_EQ(qtest::listDir(site.root()), left) << row.what;
        EXPECT_EQ(*qtest::readFile(site.path("a.md")), "keep") << row.what;
        // A write leaves no mark of its own, and a mark it did not make
        // stays for the sweep.
        ASSERT_TRUE(dir->writeReplace("a.md", "new").ok()) << row.what;
        ASSERT_TRUE(dir->writeExclusive("b.md", "new").ok()) << row.what;
        const bool markStayed = std::find(left.begin(), left.end(), mark) != left.end();
        EXPECT_EQ(qtest::exists(site.path(mark)), markStayed) << row.what;
    }
}

// A directory removed while it is open has no entries left: its listing
// ends, as for a directory emptied by another process, and is no failure.
TEST(Platform, ADirectoryRemovedWhileOpenListsAsEmpty) {
    TempSite site;
    ASSERT_EQ(::mkdir(site.path("gone").c_str(), 0755), 0);
    auto dir = platform::Dir::open(site.path("gone"));
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(::rmdir(site.path("gone").c_str()), 0);
    auto e = dir->next();
    ASSERT_TRUE(e.ok()) << static_cast<int>(e.error());
    EXPECT_FALSE(e->has_value());
}

TEST(Platform, IterationReportsKindsAndSkipsDots) {
    TempSite site;
    qtest::writeFile(site.path("f"), "");
    ::mkdir(site.path("d").c_str(), 0755);
    ASSERT_EQ(::symlink("f", site.path("l").c_str()), 0);
    ASSERT_EQ(::mkfifo(site.path("p").c_str(), 0644), 0);
    auto dir = platform::Dir::open(site.root());
    std::map<std::string, platform::EntryKind> seen;
    for (;;) {
        auto e = dir->next();
        ASSERT_TRUE(e.ok());
        if (!*e) break;
        seen[std::string((*e)->name)] = (*e)->kind;
    }
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen["f"], platform::EntryKind::File);
    EXPECT_EQ(seen["d"], platform::EntryKind::Directory);
    EXPECT_EQ(seen["l"], platform::EntryKind::SymLink);
    EXPECT_EQ(seen["p"], platform::EntryKind::Other);
    // A FIFO is never opened for reading as content.
    EXPECT_EQ(dir->readFile("p").error(), Error::NotRegularFile);
    EXPECT_EQ(dir->readFile("l").error(), Error::SymLinkLoop);
}

// The line goes out whole, through short writes too (the warning's writes
// are behind the seam like every other write).
TEST(Platform, WarningLineIsWrittenWhole) {
    std::string line = "warning: Invalid timestamp in filename '" + std::string(100, 'x') + "'\n";
    static int writes;
    auto shortWrite = [](platform::fault::Op op) {
        if (op != platform::fault::Op::Write) return 0;
        ++writes;
        return platform::fault::kShortWrite;
    };
    for (bool shortWrites : {false, true}) {
        writes = 0;
        testing::internal::CaptureStderr();
        platform::fault::setHook(shortWrites ? +shortWrite : nullptr);
        platform::writeErrorLine(line);
        platform::fault::setHook(nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), line) << shortWrites;
        EXPECT_EQ(writes > 3, shortWrites);
    }
}

namespace {
int failClock(platform::fault::Op op) { return op == platform::fault::Op::Clock ? EINVAL : 0; }
}  // namespace

// The real-time clock is behind the seam: when it cannot be read, the time
// is 0, so a note made "now" is 0.md and a post made "today" is dated
// 1970-01-01; temporary names, which also read a clock, stay usable.
TEST(Platform, AClockThatCannotBeReadGivesTimeZero) {
    TempSite site;
    platform::fault::setHook(failClock);
    auto note = qtest::callText([&](char **o) { return quorlina_note_create(site.c_root(), 0, nullptr, "x", o); });
    auto post = qtest::callText(
        [&](char **o) { return quorlina_post_create(site.c_root(), "p", "T", "D", nullptr, nullptr, o); });
    platform::fault::setHook(nullptr);
    EXPECT_EQ(note.code, 0);
    EXPECT_EQ(note.text, site.root() + "/content/notes/0.md");
    EXPECT_EQ(post.code, 0);
    EXPECT_EQ(post.text, site.root() + "/content/blog/1970/01/01/p.md");
    EXPECT_EQ(qtest::listDir(site.path("content/notes")), std::vector<std::string>{"0.md"});
}
