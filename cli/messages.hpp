// Words for result codes and the one error line the tool prints.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "family_table.hpp"

namespace qcli {

// Exit statuses of the tool's own failures. They lie outside the library's
// result codes so that a script can tell them apart.
inline constexpr int kExitUsage = 64;    // bad command line
inline constexpr int kExitData = 65;     // input text the library cannot take (a NUL byte)
inline constexpr int kExitNoInput = 66;     // an input file cannot be read, or the root is not a site
inline constexpr int kExitCantCreate = 73;  // init cannot make a directory
inline constexpr int kExitOutput = 74;      // standard output cannot be written

// A failure of the tool itself (not of a library call): its exit status and
// the text of its error line.
struct ToolError {
    int status;
    std::string text;
};

// The exit statuses as documented in --help and the manual page: the status
// (or range) as text and what it means.
struct ExitStatus {
    const char *status;
    const char *meaning;
};
extern const std::vector<ExitStatus> kExitStatuses;

// The library's static text of a result code; "unknown error" for codes it
// does not know. Never NULL, never allocated.
const char *resultText(int code) noexcept;

// What a command works on, for the error line.
struct Target {
    Family family;
    enum class Kind {
        All,    // list: the whole family
        Key,    // one existing item: timestamp, slug or id
        New,    // create: the item to be made
    } kind;
    std::string key;  // timestamp text, slug or id; empty for All and a note made "now"
    // The site root, for a Key: when no item has the key, the line names
    // the nearest existing one ("did you mean ...?").
    std::optional<std::string> root = std::nullopt;
};

// The error line for a failed library call, without "quorlina: " and the
// line feed, for example "no post with slug 'x'". Every failed library call
// is reported through this one function, so that further detail about a
// failure can be added to the line in one place.
// What the library said of its last failure, with result `code`: its
// last-error text, with the pointer to the check command when the text
// names a file of the site, or else the code's text.
std::string libraryReason(int code);

// A text that names a file of the site ends with a pointer to the check
// command, unless `checkHint` is false (the file is the one the command
// was writing).
std::string failureText(const Target &target, int code, bool checkHint = true);

}  // namespace qcli
