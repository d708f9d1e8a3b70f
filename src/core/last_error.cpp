#include "core/last_error.hpp"

#include <optional>
#include <string>

#include "core/platform.hpp"

namespace quorlina::last_error {

namespace {

struct State {
    std::string text;
    const char *fixed = "";  // used when text is empty
    std::optional<Error> error;
};

thread_local State t_state;

}  // namespace

void clear() noexcept {
    t_state.text.clear();
    t_state.fixed = "";
    t_state.error.reset();
}

void setForFile(std::string_view path, Error e) noexcept {
    if (platform::changedSinceListed(e)) return;
    try {
        std::string_view reason = errorReason(e);
        std::string &t = t_state.text;
        t.clear();
        t.reserve(path.size() + 2 + reason.size());
        t.append(path).append(": ").append(reason);
        t_state.fixed = "";
        t_state.error = e;
    } catch (...) {
        // No memory for the text: the frame's text for the code stands in.
        clear();
    }
}

void setStatic(const char *text, Error e) noexcept {
    t_state.text.clear();
    t_state.fixed = text;
    t_state.error = e;
}

bool explains(Error e) noexcept { return t_state.error == e; }

const char *text() noexcept { return t_state.text.empty() ? t_state.fixed : t_state.text.c_str(); }

}  // namespace quorlina::last_error
