// Words for result codes and the one error line the tool prints.
#pragma once

#include <string>
#include <string_view>

namespace qcli {

// Exit statuses of the tool's own failures. They lie outside the library's
// result codes so that a script can tell them apart.
inline constexpr int kExitUsage = 64;    // bad command line
inline constexpr int kExitData = 65;     // input text the library cannot take (a NUL byte)
inline constexpr int kExitNoInput = 66;  // an input file cannot be read
inline constexpr int kExitOutput = 74;   // standard output cannot be written

// Static text of a result code; "unknown error" for codes this tool does
// not know. Never NULL, never allocated.
const char *resultText(int code) noexcept;

enum class Family { Snippet, Post, Note };

// What a command works on, for the error line.
struct Target {
    Family family;
    enum class Kind {
        All,    // list: the whole family
        Key,    // one existing item: timestamp, slug or id
        New,    // create: the item to be made
    } kind;
    std::string key;  // timestamp text, slug or id; empty for All and a note made "now"
};

// The error line for a failed library call, without "quorlina: " and the
// line feed, for example "no post with slug 'x'".
std::string failureText(const Target &target, int code);

}  // namespace qcli
