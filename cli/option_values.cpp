#include "option_values.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <CLI/CLI.hpp>

#include "messages.hpp"
#include "quorlina/quorlina.h"
#include "strings.hpp"

namespace qcli {

namespace {

std::string readStream(std::FILE *f, const std::string &name) {
    std::string data;
    char buf[65536];
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, f);
        data.append(buf, n);
        if (n < sizeof buf) break;
    }
    if (std::ferror(f)) throw ToolError{kExitNoInput, cat({"cannot read ", name, ": ", std::strerror(errno)})};
    return data;
}

}  // namespace

bool TextOption::given() const { return option != nullptr && option->count() > 0; }

void addText(CLI::App &command, TextOption &text, const std::string &name, const std::string &help, bool required) {
    text.option = command.add_option(name, text.value, help);
    if (required) text.option->required();
}

const char *BodyOption::resolve() {
    if (text.given()) return text.value.c_str();
    if (!file.given() && !fromStdin) return nullptr;
    const std::string path = fromStdin ? std::string("-") : file.value;
    if (path == "-") {
        loaded = readStream(stdin, "standard input");
    } else {
        std::FILE *f = std::fopen(path.c_str(), "rb");
        if (f == nullptr) throw ToolError{kExitNoInput, cat({"cannot read '", oneLine(path), "': ", std::strerror(errno)})};
        try {
            loaded = readStream(f, cat({"'", oneLine(path), "'"}));
        } catch (...) {
            std::fclose(f);
            throw;
        }
        std::fclose(f);
    }
    // The C interface takes NUL-terminated strings: a NUL byte would cut the
    // text short without anyone noticing.
    if (loaded.find('\0') != std::string::npos) {
        const std::string name = path == "-" ? std::string("standard input") : cat({"'", oneLine(path), "'"});
        throw ToolError{kExitData, cat({name, " holds a NUL byte, which the library cannot store"})};
    }
    return loaded.c_str();
}

void addBody(CLI::App &command, BodyOption &body, const std::string &what, const std::string &help) {
    body.text.option = command.add_option(cat({"--", what}), body.text.value, cat({help, ", given on the command line"}));
    body.file.option = command.add_option(cat({"--", what, "-file"}), body.file.value,
                                          cat({help, ", read from FILE ('-' reads standard input)"}))
                           ->type_name("FILE");
    body.text.option->excludes(body.file.option);
}

CLI::Option *addRequired(CLI::App &command, std::string &value, const std::string &name, const std::string &help) {
    return command.add_option(name, value, help)->required()->type_name("");
}

std::int64_t parseTimestamp(const std::string &text) {
    const ToolError bad{QUORLINA_EINVALID_TIMESTAMP,
                        cat({"invalid timestamp '", oneLine(text), "' (expected Unix seconds)"})};
    const bool negative = !text.empty() && text[0] == '-';
    std::size_t i = negative ? 1 : 0;
    if (i == text.size()) throw bad;
    // Accumulate negatively so that INT64_MIN fits.
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9' || value < (INT64_MIN + (c - '0')) / 10) throw bad;
        value = value * 10 - (c - '0');
    }
    if (!negative) {
        if (value == INT64_MIN) throw bad;
        value = -value;
    }
    return value;
}

}  // namespace qcli
