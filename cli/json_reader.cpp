#include "json_reader.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qcli {

const JsonValue *JsonValue::find(std::string_view key) const {
    if (kind != Kind::Object) return nullptr;
    for (std::size_t i = 0; i < keys.size() && i < items.size(); ++i) {
        if (keys[i] == key) return &items[i];
    }
    return nullptr;
}

namespace {

constexpr int kMaxDepth = 64;

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    bool forEachElement(const std::function<bool(JsonValue &&, std::string_view)> &visit,
                        const std::vector<std::string_view> *onlyKeys) {
        skipSpace();
        if (!consume('[')) return false;
        skipSpace();
        if (consume(']')) return trailingSpaceOnly();
        for (;;) {
            skipSpace();
            const std::size_t start = pos_;
            JsonValue value;
            const bool parsed = onlyKeys != nullptr && !atEnd() && peek() == '{' ? parseObject(value, 2, onlyKeys)
                                                                                 : parseValue(value, 1);
            if (!parsed) return false;
            if (!visit(std::move(value), s_.substr(start, pos_ - start))) return true;
            skipSpace();
            if (consume(']')) return trailingSpaceOnly();
            if (!consume(',')) return false;
        }
    }

    std::optional<JsonValue> parseDocument() {
        JsonValue v;
        skipSpace();
        if (!parseValue(v, 0)) return std::nullopt;
        skipSpace();
        if (pos_ != s_.size()) return std::nullopt;
        return v;
    }

private:
    std::string_view s_;
    std::size_t pos_ = 0;

    bool atEnd() const { return pos_ >= s_.size(); }

    bool trailingSpaceOnly() {
        skipSpace();
        return atEnd();
    }
    char peek() const { return s_[pos_]; }

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

    bool parseValue(JsonValue &out, int depth) {
        if (depth > kMaxDepth || atEnd()) return false;
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
        if (depth > kMaxDepth || atEnd()) return false;
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
                const char close = peek() == '{' ? '}' : ']';
                const bool object = close == '}';
                ++pos_;
                skipSpace();
                if (consume(close)) return true;
                for (;;) {
                    skipSpace();
                    if (object) {
                        if (atEnd() || peek() != '"' || !skipValue(depth + 1)) return false;
                        skipSpace();
                        if (!consume(':')) return false;
                        skipSpace();
                    }
                    if (!skipValue(depth + 1)) return false;
                    skipSpace();
                    if (consume(close)) return true;
                    if (!consume(',')) return false;
                }
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
        skipSpace();
        if (consume('}')) return true;
        for (;;) {
            skipSpace();
            std::string key;
            if (atEnd() || peek() != '"' || !parseString(key)) return false;
            skipSpace();
            if (!consume(':')) return false;
            skipSpace();
            if (keys == nullptr || std::find(keys->begin(), keys->end(), key) != keys->end()) {
                JsonValue value;
                if (!parseValue(value, depth)) return false;
                out.keys.push_back(std::move(key));
                out.items.push_back(std::move(value));
            } else if (!skipValue(depth)) {
                return false;
            }
            skipSpace();
            if (consume('}')) return true;
            if (!consume(',')) return false;
        }
    }

    bool parseArray(JsonValue &out, int depth) {
        out.kind = JsonValue::Kind::Array;
        ++pos_;  // '['
        skipSpace();
        if (consume(']')) return true;
        for (;;) {
            skipSpace();
            JsonValue value;
            if (!parseValue(value, depth)) return false;
            out.items.push_back(std::move(value));
            skipSpace();
            if (consume(']')) return true;
            if (!consume(',')) return false;
        }
    }

    bool parseNumber(JsonValue &out) {
        const std::size_t start = pos_;
        consume('-');
        auto digits = [this] {
            const std::size_t from = pos_;
            while (!atEnd() && peek() >= '0' && peek() <= '9') ++pos_;
            return pos_ > from;
        };
        if (!digits()) return false;
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
            unit <<= 4;
            if (c >= '0' && c <= '9') unit |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') unit |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') unit |= static_cast<std::uint32_t>(c - 'A' + 10);
            else return false;
        }
        return true;
    }

    static void appendUtf8(std::string &out, std::uint32_t cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    // Strings keep every byte that is not an escape, control bytes and
    // invalid UTF-8 included: the library copies such bytes unchanged.
    bool parseString(std::string &out) {
        ++pos_;  // opening quote
        for (;;) {
            // Copy the run up to the next quote or backslash in one piece.
            std::size_t run = pos_;
            while (run < s_.size() && s_[run] != '"' && s_[run] != '\\') ++run;
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
                    std::uint32_t unit = 0;
                    if (!hex4(unit)) return false;
                    // A surrogate pair becomes one code point; a lone
                    // surrogate is kept as its three-byte form.
                    if (unit >= 0xD800 && unit < 0xDC00 && s_.substr(pos_, 2) == "\\u") {
                        const std::size_t save = pos_;
                        pos_ += 2;
                        std::uint32_t low = 0;
                        if (hex4(low) && low >= 0xDC00 && low < 0xE000) {
                            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                        } else {
                            pos_ = save;
                        }
                    }
                    appendUtf8(out, unit);
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

std::string jsonString(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(kHex[c >> 4]);
                    out.push_back(kHex[c & 0xF]);
                } else {
                    out.push_back(ch);
                }
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace qcli
