#include "json_reader.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "utf8.hpp"

namespace qcli {

const JsonValue *JsonValue::find(std::string_view key) const {
    if (kind != Kind::Object) return nullptr;
    for (std::size_t i = 0; i < keys.size() && i < items.size(); ++i) {
        if (keys[i] == key) return &items[i];
    }
    return nullptr;
}

namespace {

// How deeply arrays and objects may nest. `depth` below counts the arrays
// and objects around the value being read.
constexpr int kMaxDepth = 64;

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    bool forEachElement(const std::function<bool(JsonValue &&, std::string_view)> &visit,
                        const std::vector<std::string_view> *onlyKeys) {
        skipSpace();
        if (!consume('[')) return false;
        const bool ok = sequence(']', [&] {
            const std::size_t start = pos_;
            JsonValue value;
            const bool parsed = onlyKeys != nullptr && !atEnd() && peek() == '{' ? parseObject(value, 2, onlyKeys)
                                                                                 : parseValue(value, 1);
            if (!parsed) return false;
            stopped_ = !visit(std::move(value), s_.substr(start, pos_ - start));
            return true;
        });
        return ok && (stopped_ || trailingSpaceOnly());
    }

    std::optional<JsonValue> parseDocument() {
        JsonValue v;
        skipSpace();
        if (!parseValue(v, 0)) return std::nullopt;
        if (!trailingSpaceOnly()) return std::nullopt;
        return v;
    }

private:
    std::string_view s_;
    std::size_t pos_ = 0;
    bool stopped_ = false;  // a visitor asked for no more elements

    bool atEnd() const { return pos_ >= s_.size(); }
    char peek() const { return s_[pos_]; }

    bool trailingSpaceOnly() {
        skipSpace();
        return atEnd();
    }

    void skipSpace() {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++pos_;
    }

    bool consume(char c) {
        if (atEnd() || peek() != c) return false;
        ++pos_;
        return true;
    }

    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    // The elements of an array or the members of an object, after the
    // opening bracket, up to and including `close`: `element` reads one,
    // and they are separated by commas. Ends early, without reading
    // `close`, once a visitor has stopped.
    template <class Element>
    bool sequence(char close, Element &&element) {
        skipSpace();
        if (consume(close)) return true;
        for (;;) {
            skipSpace();
            if (!element()) return false;
            if (stopped_) return true;
            skipSpace();
            if (consume(close)) return true;
            if (!consume(',')) return false;
        }
    }

    // The ':' between a member's name and its value.
    bool nameSeparator() {
        skipSpace();
        if (!consume(':')) return false;
        skipSpace();
        return true;
    }

    bool parseValue(JsonValue &out, int depth) {
        if (atEnd() || (depth >= kMaxDepth && (peek() == '{' || peek() == '['))) return false;
        switch (peek()) {
            case '{': return parseObject(out, depth + 1);
            case '[': return parseArray(out, depth + 1);
            case '"':
                out.kind = JsonValue::Kind::String;
                return parseString(out.text);
            case 'n':
                out.kind = JsonValue::Kind::Null;
                return literal("null");
            case 't':
                out.kind = JsonValue::Kind::Boolean;
                out.boolean = true;
                return literal("true");
            case 'f':
                out.kind = JsonValue::Kind::Boolean;
                out.boolean = false;
                return literal("false");
            default: return parseNumber(out);
        }
    }

    // Steps over one value without keeping it.
    bool skipValue(int depth) {
        if (atEnd() || (depth >= kMaxDepth && (peek() == '{' || peek() == '['))) return false;
        switch (peek()) {
            case '"': {
                // The closing quote is the first one after an even number
                // of backslashes; memchr finds the candidates quickly.
                ++pos_;
                for (;;) {
                    const void *hit = std::memchr(s_.data() + pos_, '"', s_.size() - pos_);
                    if (hit == nullptr) return false;
                    const std::size_t quote = static_cast<std::size_t>(static_cast<const char *>(hit) - s_.data());
                    std::size_t backslashes = 0;
                    while (quote - backslashes > pos_ && s_[quote - backslashes - 1] == '\\') ++backslashes;
                    pos_ = quote + 1;
                    if (backslashes % 2 == 0) return true;
                }
            }
            case '{':
            case '[': {
                const bool object = peek() == '{';
                ++pos_;
                return sequence(object ? '}' : ']', [&] {
                    if (object && (atEnd() || peek() != '"' || !skipValue(depth + 1) || !nameSeparator())) return false;
                    return skipValue(depth + 1);
                });
            }
            default: {
                JsonValue scalar;
                return parseValue(scalar, depth);
            }
        }
    }

    // An object; with `keys`, only the members named there are kept and the
    // values of the others are skipped.
    bool parseObject(JsonValue &out, int depth, const std::vector<std::string_view> *keys = nullptr) {
        out.kind = JsonValue::Kind::Object;
        ++pos_;  // '{'
        return sequence('}', [&] {
            std::string key;
            if (atEnd() || peek() != '"' || !parseString(key) || !nameSeparator()) return false;
            if (keys != nullptr && std::find(keys->begin(), keys->end(), key) == keys->end()) return skipValue(depth);
            JsonValue value;
            if (!parseValue(value, depth)) return false;
            out.keys.push_back(std::move(key));
            out.items.push_back(std::move(value));
            return true;
        });
    }

    bool parseArray(JsonValue &out, int depth) {
        out.kind = JsonValue::Kind::Array;
        ++pos_;  // '['
        return sequence(']', [&] {
            JsonValue value;
            if (!parseValue(value, depth)) return false;
            out.items.push_back(std::move(value));
            return true;
        });
    }

    bool digits() {
        const std::size_t from = pos_;
        while (!atEnd() && peek() >= '0' && peek() <= '9') ++pos_;
        return pos_ > from;
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?: no leading zeros, no
    // bare "." or exponent, no "+" in front.
    bool parseNumber(JsonValue &out) {
        const std::size_t start = pos_;
        consume('-');
        if (consume('0')) {
            if (!atEnd() && peek() >= '0' && peek() <= '9') return false;
        } else if (!digits()) {
            return false;
        }
        if (consume('.') && !digits()) return false;
        if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
            ++pos_;
            if (!consume('+')) consume('-');
            if (!digits()) return false;
        }
        out.kind = JsonValue::Kind::Number;
        out.text.assign(s_.substr(start, pos_ - start));
        return true;
    }

    bool hex4(std::uint32_t &unit) {
        if (s_.size() - pos_ < 4) return false;
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) return false;
            unit = unit << 4 | static_cast<std::uint32_t>(digit);
        }
        return true;
    }

    // The code point of a \u escape (the "\u" already read): a surrogate
    // counts only as the first half of a pair that follows at once.
    bool codePoint(std::uint32_t &cp) {
        if (!hex4(cp)) return false;
        if (cp >= 0xDC00 && cp < 0xE000) return false;  // a second half alone
        if (cp < 0xD800 || cp >= 0xDC00) return true;
        std::uint32_t low = 0;
        if (s_.substr(pos_, 2) != "\\u") return false;
        pos_ += 2;
        if (!hex4(low) || low < 0xDC00 || low >= 0xE000) return false;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        return true;
    }

    // Bytes other than escapes, quotes and control bytes are kept as they
    // are, invalid UTF-8 included: the library copies such bytes unchanged.
    bool parseString(std::string &out) {
        ++pos_;  // opening quote
        for (;;) {
            // Copy the run up to the next quote or backslash in one piece.
            std::size_t run = pos_;
            while (run < s_.size() && s_[run] != '"' && s_[run] != '\\') {
                if (static_cast<unsigned char>(s_[run]) < 0x20) return false;
                ++run;
            }
            out.append(s_.data() + pos_, run - pos_);
            pos_ = run;
            if (atEnd()) return false;
            const char c = s_[pos_++];
            if (c == '"') return true;
            if (atEnd()) return false;
            const char e = s_[pos_++];
            switch (e) {
                case '"': out.push_back('"'); break;
                case '\\': out.push_back('\\'); break;
                case '/': out.push_back('/'); break;
                case 'b': out.push_back('\b'); break;
                case 'f': out.push_back('\f'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case 't': out.push_back('\t'); break;
                case 'u': {
                    std::uint32_t cp = 0;
                    if (!codePoint(cp)) return false;
                    appendUtf8(out, cp);
                    break;
                }
                default: return false;
            }
        }
    }
};

}  // namespace

std::optional<JsonValue> parseJson(std::string_view text) { return Parser(text).parseDocument(); }

bool forEachArrayElement(std::string_view text,
                         const std::function<bool(JsonValue &&value, std::string_view bytes)> &visit,
                         const std::vector<std::string_view> *onlyKeys) {
    return Parser(text).forEachElement(visit, onlyKeys);
}

}  // namespace qcli
