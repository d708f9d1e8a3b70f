#include "ffi/frame.hpp"
#include "quorlina/quorlina.h"

namespace quorlina::ffi {

// Every error is listed: a new one fails to compile (-Wswitch) until it is
// given its code here.
int mapError(Error e) noexcept {
    switch (e) {
        case Error::InvalidTimestamp: return QUORLINA_EINVALID_TIMESTAMP;
        case Error::DuplicateSnippet:
        case Error::DuplicatePost:
        case Error::DuplicateNote: return QUORLINA_EDUPLICATE;
        case Error::SnippetNotFound:
        case Error::PostNotFound:
        case Error::NoteNotFound: return QUORLINA_ENOT_FOUND;
        case Error::InvalidExtension: return QUORLINA_EINVALID_EXTENSION;
        case Error::InvalidDescription: return QUORLINA_EINVALID_DESCRIPTION;
        case Error::InvalidFilename: return QUORLINA_EINVALID_FILENAME;
        case Error::MissingTitle:
        case Error::MissingDescription:
        case Error::UnclosedFrontmatter:
        case Error::MissingFrontmatter:
        case Error::InvalidFrontmatterValue: return QUORLINA_EINVALID_CONTENT;
        case Error::FileNotFound:
        case Error::NotDir:
        case Error::AccessDenied:
        case Error::PathAlreadyExists:
        case Error::IsDir: return QUORLINA_EFILESYSTEM;
        case Error::OutOfMemory: return QUORLINA_ENOMEM;
        case Error::InvalidSlug: return QUORLINA_EINVALID_SLUG;
        case Error::InvalidDate: return QUORLINA_EINVALID_DATE;
        case Error::NoUpdates: return QUORLINA_ENO_UPDATES;
        case Error::Overflow:
        case Error::InvalidCharacter:
        case Error::NameTooLong:
        case Error::PermissionDenied:
        case Error::FileTooBig:
        case Error::NoSpaceLeft:
        case Error::DiskQuota:
        case Error::ReadOnlyFileSystem:
        case Error::InputOutput:
        case Error::SymLinkLoop:
        case Error::ProcessFdQuotaExceeded:
        case Error::SystemFdQuotaExceeded:
        case Error::FileBusy:
        case Error::NotRegularFile:
        case Error::DirNotEmpty:
        case Error::Unexpected:
        case Error::NullArgument:
        case Error::InvalidOptions:
        case Error::UnknownFamily: return QUORLINA_EINTERNAL;
    }
    return QUORLINA_EINTERNAL;
}

}  // namespace quorlina::ffi
