#include "ffi/explain.hpp"

#include <string>
#include <string_view>

#include "core/content.hpp"
#include "core/platform.hpp"
#include "ffi/frame.hpp"

namespace quorlina::ffi {

namespace {

struct LastError {
    std::string text;
    const char *fixed = "";  // used when text is empty
};

thread_local LastError t_last;

// The warning line for a file whose name is not a timestamp, where the name
// is the entry's name as found in the directory:
// "warning: Invalid timestamp in filename '<name>'", followed by
// ": error.<name of the reason>" when the failure gives one.
void warnBadName(const Failure &f) noexcept {
    try {
        std::string line = "warning: Invalid timestamp in filename '";
        line += content::baseName(f.file);
        line += '\'';
        if (f.nameCause) {
            line += ": error.";
            line += errorName(*f.nameCause);
        }
        line += '\n';
        platform::writeErrorLine(line);
    } catch (...) {
        // No memory for the line: the warning is dropped, the code stands.
    }
}

}  // namespace

void clearLastError() noexcept {
    // The storage goes too: a thread keeps no memory from its last failure.
    std::string().swap(t_last.text);
    t_last.fixed = "";
}

void explainCode(int code) noexcept {
    std::string().swap(t_last.text);
    t_last.fixed = resultText(code);
}

void explain(const Failure &f, int code) noexcept {
    explainCode(code);
    if (f.badName) warnBadName(f);
    if (f.file.empty()) return;
    try {
        // The system's reason when the system failed the call, else what
        // the library found.
        std::string reason = f.osError != 0 ? platform::systemReason(f.osError) : std::string(errorReason(f.error));
        std::string &t = t_last.text;
        t.reserve(f.file.size() + 2 + reason.size());
        t.append(f.file).append(": ").append(reason);
    } catch (...) {
        // No memory for the text: the code's text stands in.
        t_last.text.clear();
    }
}

const char *lastErrorText() noexcept { return t_last.text.empty() ? t_last.fixed : t_last.text.c_str(); }

}  // namespace quorlina::ffi
