// The kinds of values the commands take: optional texts, body texts given
// inline or read from a file, and timestamps.
#pragma once

#include <cstdint>
#include <string>

#include "cli11_fwd.hpp"

namespace qcli {

// An optional text option: NULL for the library when it was not given.
struct TextOption {
    CLI::Option *option = nullptr;
    std::string value;

    bool given() const;
    const char *orNull() const { return given() ? value.c_str() : nullptr; }
};

// Adds `name` (such as "--title" or "--description,-d") to `command`.
void addText(CLI::App &command, TextOption &text, const std::string &name, const std::string &help,
             bool required = false);

// A body text given inline (--code / --content) or read from a file
// (--code-file / --content-file, where "-" is standard input).
struct BodyOption {
    TextOption text;
    TextOption file;
    std::string loaded;
    bool fromStdin = false;  // read standard input as if --<what>-file - were given

    bool given() const { return text.given() || file.given() || fromStdin; }

    // Loads the file when one was named; NULL when neither option was given.
    // Throws a ToolError when the file cannot be read or holds a NUL byte.
    const char *resolve();
};

// Adds --<what> and --<what>-file, which exclude each other.
void addBody(CLI::App &command, BodyOption &body, const std::string &what, const std::string &help);

// Adds the one positional argument of a command, which must be given.
CLI::Option *addRequired(CLI::App &command, std::string &value, const std::string &name, const std::string &help);

// Decimal Unix seconds, optionally negative. Other forms (hex, octal,
// "1e9", spaces) are refused rather than guessed at: throws a ToolError
// with the library's code for an invalid timestamp.
std::int64_t parseTimestamp(const std::string &text);

}  // namespace qcli
