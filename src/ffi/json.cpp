#include "ffi/json.hpp"

#include "ffi/json_escape.hpp"

namespace quorlina::ffi {

namespace {

// Room to write an escaped text of `n` more bytes: about its size, plus a
// margin for escapes and for the block loops' writes past the text (a short
// text always fits); escapeInto asks for more when it needs it.
std::size_t roomFor(std::size_t n) noexcept {
    return n + n / 8 + std::min(json_escape::kRoom, 6 * n + 16);
}

// Escapes `in` into `out` in place: `Out` gives a writable end with room
// for at least n more bytes (writableEnd), the end of that room
// (capacityEnd) and takes the end of the text (setEnd).
template <class Out>
void escapeInto(Out &out, std::string_view in) {
    const std::size_t n = in.size();
    std::size_t i = 0;
    char *dst = out.writableEnd(roomFor(n));
    for (;;) {
        dst = json_escape::escapeSome(dst, out.capacityEnd(), in.data(), n, i);
        if (i == n) break;
        // Out of room for a step: more, for what is left.
        out.setEnd(dst);
        dst = out.writableEnd(roomFor(n - i));
    }
    out.setEnd(dst);
}

// The same interface over a std::string, whose room is written as its
// content: it is sized up front and cut to the text at the end.
class StringOut {
public:
    explicit StringOut(std::string &s) noexcept : s_(s) {}
    char *writableEnd(std::size_t n) {
        std::size_t used = s_.size();
        s_.resize(used + n);
        return s_.data() + used;
    }
    char *capacityEnd() noexcept { return s_.data() + s_.size(); }
    void setEnd(char *end) { s_.resize(static_cast<std::size_t>(end - s_.data())); }

private:
    std::string &s_;
};

}  // namespace

void appendEscapedJson(CHeapText &out, std::string_view in) { escapeInto(out, in); }

void appendEscapedJson(std::string &out, std::string_view in) {
    StringOut o(out);
    escapeInto(o, in);
}

void appendJsonString(std::string &out, std::string_view in) {
    out.push_back('"');
    appendEscapedJson(out, in);
    out.push_back('"');
}

void appendJsonStringArray(std::string &out, const std::vector<std::string> &items) {
    out.push_back('[');
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out.push_back(',');
        appendJsonString(out, items[i]);
    }
    out.push_back(']');
}

}  // namespace quorlina::ffi
