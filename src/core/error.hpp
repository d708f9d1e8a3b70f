// Internal error set. Every failure inside the library is one of these
// values; the C boundary turns it into a result code with mapError.
#pragma once

#include <string_view>

namespace quorlina {

enum class Error {
    // Content errors.
    InvalidTimestamp,
    DuplicateSnippet,
    DuplicatePost,
    DuplicateNote,
    SnippetNotFound,
    PostNotFound,
    NoteNotFound,
    InvalidExtension,
    InvalidDescription,
    InvalidFilename,
    MissingTitle,
    MissingDescription,
    UnclosedFrontmatter,
    MissingFrontmatter,
    InvalidSlug,
    InvalidDate,
    NoUpdates,
    // Number parsing.
    Overflow,
    InvalidCharacter,
    // Memory.
    OutOfMemory,
    // File system.
    FileNotFound,
    NotDir,
    AccessDenied,
    PathAlreadyExists,
    IsDir,
    NameTooLong,
    PermissionDenied,
    FileTooBig,
    NoSpaceLeft,
    DiskQuota,
    ReadOnlyFileSystem,
    InputOutput,
    SymLinkLoop,
    ProcessFdQuotaExceeded,
    SystemFdQuotaExceeded,
    FileBusy,
    NotRegularFile,
    DirNotEmpty,
    Unexpected,
    // The caller passed NULL for a required argument.
    NullArgument,
    // A post's title, description or tag holds a line break or "+++", which
    // the front-matter block cannot hold.
    InvalidFrontmatterValue,
    // An options struct of a version the library does not know (0, or
    // newer than this library), or fields that cannot be combined.
    InvalidOptions,
    // A check asked for a family other than "snippet", "post" or "note".
    UnknownFamily,
};

// The last value of the enumeration, for tests that go over every value.
inline constexpr Error kLastError = Error::UnknownFamily;

// The error's name as used in diagnostics, for example "Overflow".
std::string_view errorName(Error e) noexcept;

// What the error says about a file, for a message that names the file:
// "no front matter", "file is larger than 10 MiB", ...
std::string_view errorReason(Error e) noexcept;

}  // namespace quorlina
