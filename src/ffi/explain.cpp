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
// ": error.<name of the reason>" when the failure gives one. A control byte
// of the name (below 0x20, and 0x7F) is written as \xNN, so the line stays
// one line and passes no escape sequence to a terminal; other bytes are
// written as they are.
void warnBadName(const Failure &f) noexcept {
    static constexpr char kHex[] = "0123456789abcdef";
    try {
        std::string line = "warning: Invalid timestamp in filename '";
        for (char c : content::baseName(f.file)) {
            auto b = static_cast<unsigned char>(c);
            if (b < 0x20 || b == 0x7F) {
                const char spelled[4] = {'\\', 'x', kHex[b >> 4], kHex[b & 0xF]};
                line.append(spelled, 4);
            } else {
                line.push_back(c);
            }
        }
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

std::string failureReason(const Failure &f) {
    return f.osError != 0 ? platform::systemReason(f.osError) : std::string(errorReason(f.error));
}

void explain(const Failure &f, int code) noexcept {
    explainCode(code);
    if (f.badName) warnBadName(f);
    if (f.file.empty()) {
        // Not about a file, but the code's text would not say what was wrong.
        if (f.error == Error::InvalidOptions || f.error == Error::UnknownFamily)
            t_last.fixed = errorReason(f.error).data();
        return;
    }
    try {
        std::string reason = failureReason(f);
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
