#include "core/platform.hpp"
#include "ffi/frame.hpp"

namespace quorlina::ffi {

int mapError(Error e) noexcept {
    switch (e) {
        case Error::InvalidTimestamp: return 1;
        case Error::DuplicateSnippet:
        case Error::DuplicatePost:
        case Error::DuplicateNote: return 2;
        case Error::SnippetNotFound:
        case Error::PostNotFound:
        case Error::NoteNotFound: return 3;
        case Error::InvalidExtension: return 4;
        case Error::InvalidDescription: return 5;
        case Error::InvalidFilename: return 6;
        case Error::MissingTitle:
        case Error::MissingDescription:
        case Error::UnclosedFrontmatter:
        case Error::MissingFrontmatter:
        case Error::InvalidFrontmatterValue: return 7;
        case Error::FileNotFound:
        case Error::NotDir:
        case Error::AccessDenied:
        case Error::PathAlreadyExists:
        case Error::IsDir: return 8;
        case Error::OutOfMemory: return 9;
        case Error::InvalidSlug: return 10;
        case Error::InvalidDate: return 11;
        case Error::NoUpdates: return 14;
        default: return kInternal;
    }
}

char *copyText(std::string_view text) noexcept { return platform::copyToCHeap(text); }

}  // namespace quorlina::ffi
