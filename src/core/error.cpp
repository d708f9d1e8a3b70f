#include "core/error.hpp"

namespace quorlina {

std::string_view errorName(Error e) noexcept {
    switch (e) {
        case Error::InvalidTimestamp: return "InvalidTimestamp";
        case Error::DuplicateSnippet: return "DuplicateSnippet";
        case Error::DuplicatePost: return "DuplicatePost";
        case Error::DuplicateNote: return "DuplicateNote";
        case Error::SnippetNotFound: return "SnippetNotFound";
        case Error::PostNotFound: return "PostNotFound";
        case Error::NoteNotFound: return "NoteNotFound";
        case Error::InvalidExtension: return "InvalidExtension";
        case Error::InvalidDescription: return "InvalidDescription";
        case Error::InvalidFilename: return "InvalidFilename";
        case Error::MissingTitle: return "MissingTitle";
        case Error::MissingDescription: return "MissingDescription";
        case Error::UnclosedFrontmatter: return "UnclosedFrontmatter";
        case Error::MissingFrontmatter: return "MissingFrontmatter";
        case Error::InvalidSlug: return "InvalidSlug";
        case Error::InvalidDate: return "InvalidDate";
        case Error::NoUpdates: return "NoUpdates";
        case Error::Overflow: return "Overflow";
        case Error::InvalidCharacter: return "InvalidCharacter";
        case Error::OutOfMemory: return "OutOfMemory";
        case Error::FileNotFound: return "FileNotFound";
        case Error::NotDir: return "NotDir";
        case Error::AccessDenied: return "AccessDenied";
        case Error::PathAlreadyExists: return "PathAlreadyExists";
        case Error::IsDir: return "IsDir";
        case Error::NameTooLong: return "NameTooLong";
        case Error::PermissionDenied: return "PermissionDenied";
        case Error::FileTooBig: return "FileTooBig";
        case Error::NoSpaceLeft: return "NoSpaceLeft";
        case Error::DiskQuota: return "DiskQuota";
        case Error::ReadOnlyFileSystem: return "ReadOnlyFileSystem";
        case Error::InputOutput: return "InputOutput";
        case Error::SymLinkLoop: return "SymLinkLoop";
        case Error::ProcessFdQuotaExceeded: return "ProcessFdQuotaExceeded";
        case Error::SystemFdQuotaExceeded: return "SystemFdQuotaExceeded";
        case Error::FileBusy: return "FileBusy";
        case Error::NotRegularFile: return "NotRegularFile";
        case Error::DirNotEmpty: return "DirNotEmpty";
        case Error::Unexpected: return "Unexpected";
        case Error::NullArgument: return "NullArgument";
        case Error::InvalidFrontmatterValue: return "InvalidFrontmatterValue";
        case Error::InvalidOptions: return "InvalidOptions";
        case Error::UnknownFamily: return "UnknownFamily";
    }
    return "Unexpected";
}

std::string_view errorReason(Error e) noexcept {
    switch (e) {
        case Error::InvalidTimestamp: return "the file name is not a timestamp";
        case Error::InvalidExtension: return "the file name has no usable extension";
        case Error::MissingTitle: return "title is missing";
        case Error::MissingDescription: return "description is missing";
        case Error::UnclosedFrontmatter: return "the front matter is not closed by \"+++\"";
        case Error::MissingFrontmatter: return "no front matter";
        case Error::InvalidSlug: return "the slug is not valid";
        case Error::FileTooBig: return "file is larger than 10 MiB";
        case Error::NotRegularFile: return "not a regular file";
        case Error::IsDir: return "is a directory";
        case Error::NotDir: return "a directory on the way is not a directory";
        case Error::FileNotFound: return "no such file";
        case Error::AccessDenied:
        case Error::PermissionDenied: return "permission denied";
        case Error::SymLinkLoop: return "is a symbolic link";
        case Error::InputOutput: return "input/output error";
        case Error::OutOfMemory: return "out of memory";
        case Error::NameTooLong: return "path is too long";
        case Error::InvalidFrontmatterValue: return "a value the front matter cannot hold, or one that would not read back";
        case Error::InvalidOptions:
            return "invalid options: a version this library does not know, or fields that cannot be combined";
        case Error::UnknownFamily: return "unknown family: give \"snippet\", \"post\" or \"note\", or none for all three";
        default: return errorName(e);
    }
}

}  // namespace quorlina
