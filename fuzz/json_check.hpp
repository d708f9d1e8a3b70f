// A small strict JSON reader for checking the texts the library returns,
// shared by the fuzz targets and the reliability tests.
//
// It follows RFC 8259 with two deliberate choices: bytes 0x80 and above are
// accepted inside strings without a UTF-8 check (the library copies such
// bytes through unchanged and never validates encodings), and by default no
// whitespace is allowed between tokens (the library never writes any).
// Raw bytes below 0x20 inside strings are always refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qjson {

struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::string text;  // decoded string bytes, or the number's text
    std::vector<Value> items;        // array elements, or object member values
    std::vector<std::string> names;  // object member names, parallel to `items`

    bool isString() const { return kind == Kind::String; }
    bool isArray() const { return kind == Kind::Array; }
    bool isObject() const { return kind == Kind::Object; }
    bool isNull() const { return kind == Kind::Null; }

    // The first member named `key`, or nullptr.
    const Value *get(std::string_view key) const {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == key) return &items[i];
        return nullptr;
    }
};

class Parser {
public:
    explicit Parser(std::string_view text, bool allowWhitespace = false)
        : s_(text), ws_(allowWhitespace) {}

    // Parses the whole text as one value; nothing may follow it.
    std::optional<Value> parseDocument() {
        Value v;
        skipWs();
        if (!parseValue(v, 0)) return std::nullopt;
        skipWs();
        if (pos_ != s_.size()) return fail("trailing bytes");
        return v;
    }

    // Parses the whole text as exactly one string token and returns its bytes.
    std::optional<std::string> parseStringToken() {
        std::string out;
        if (!parseString(out)) return std::nullopt;
        if (pos_ != s_.size()) return fail("trailing bytes");
        return out;
    }

    const std::string &error() const { return err_; }
    std::size_t position() const { return pos_; }

private:
    static constexpr int kMaxDepth = 512;

    std::nullopt_t fail(const char *why) {
        if (err_.empty()) err_ = std::string(why) + " at byte " + std::to_string(pos_);
        return std::nullopt;
    }
    bool failed(const char *why) {
        fail(why);
        return false;
    }
    bool atEnd() const { return pos_ >= s_.size(); }
    unsigned char peek() const { return static_cast<unsigned char>(s_[pos_]); }

    void skipWs() {
        if (!ws_) return;
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) ++pos_;
    }

    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word) return failed("bad literal");
        pos_ += word.size();
        return true;
    }

    bool parseValue(Value &v, int depth) {
        if (depth > kMaxDepth) return failed("nesting too deep");
        if (atEnd()) return failed("unexpected end");
        switch (peek()) {
            case '{': return parseObject(v, depth);
            case '[': return parseArray(v, depth);
            case '"': v.kind = Value::Kind::String; return parseString(v.text);
            case 't': v.kind = Value::Kind::Bool; v.boolean = true; return literal("true");
            case 'f': v.kind = Value::Kind::Bool; v.boolean = false; return literal("false");
            case 'n': v.kind = Value::Kind::Null; return literal("null");
            default: v.kind = Value::Kind::Number; return parseNumber(v.text);
        }
    }

    bool parseObject(Value &v, int depth) {
        v.kind = Value::Kind::Object;
        ++pos_;  // {
        skipWs();
        if (!atEnd() && peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipWs();
            if (atEnd() || peek() != '"') return failed("expected a key");
            std::string key;
            if (!parseString(key)) return false;
            skipWs();
            if (atEnd() || peek() != ':') return failed("expected ':'");
            ++pos_;
            skipWs();
            Value member;
            if (!parseValue(member, depth + 1)) return false;
            v.names.push_back(std::move(key));
            v.items.push_back(std::move(member));
            skipWs();
            if (atEnd()) return failed("unclosed object");
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == '}') {
                ++pos_;
                return true;
            }
            return failed("expected ',' or '}'");
        }
    }

    bool parseArray(Value &v, int depth) {
        v.kind = Value::Kind::Array;
        ++pos_;  // [
        skipWs();
        if (!atEnd() && peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            skipWs();
            Value item;
            if (!parseValue(item, depth + 1)) return false;
            v.items.push_back(std::move(item));
            skipWs();
            if (atEnd()) return failed("unclosed array");
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (peek() == ']') {
                ++pos_;
                return true;
            }
            return failed("expected ',' or ']'");
        }
    }

    bool parseNumber(std::string &out) {
        std::size_t start = pos_;
        auto digit = [&] { return !atEnd() && peek() >= '0' && peek() <= '9'; };
        if (!atEnd() && peek() == '-') ++pos_;
        if (!digit()) return failed("bad number");
        if (peek() == '0') {
            ++pos_;
        } else {
            while (digit()) ++pos_;
        }
        if (!atEnd() && peek() == '.') {
            ++pos_;
            if (!digit()) return failed("bad fraction");
            while (digit()) ++pos_;
        }
        if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
            ++pos_;
            if (!atEnd() && (peek() == '+' || peek() == '-')) ++pos_;
            if (!digit()) return failed("bad exponent");
            while (digit()) ++pos_;
        }
        out.assign(s_.substr(start, pos_ - start));
        return true;
    }

    bool hex4(std::uint32_t &cp) {
        if (s_.size() - pos_ < 4) return failed("short \\u escape");
        cp = 0;
        for (int i = 0; i < 4; ++i) {
            unsigned char c = peek();
            cp <<= 4;
            if (c >= '0' && c <= '9') cp |= c - '0';
            else if (c >= 'a' && c <= 'f') cp |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') cp |= c - 'A' + 10;
            else return failed("bad hex digit");
            ++pos_;
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

    bool parseString(std::string &out) {
        if (atEnd() || peek() != '"') return failed("expected '\"'");
        ++pos_;
        for (;;) {
            if (atEnd()) return failed("unclosed string");
            unsigned char c = peek();
            ++pos_;
            if (c == '"') return true;
            if (c < 0x20) {
                --pos_;
                return failed("raw control byte in string");
            }
            if (c != '\\') {
                out.push_back(static_cast<char>(c));
                continue;
            }
            if (atEnd()) return failed("unfinished escape");
            unsigned char e = peek();
            ++pos_;
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
                    if (!hex4(cp)) return false;
                    if (cp >= 0xD800 && cp < 0xDC00) {
                        std::uint32_t lo = 0;
                        if (s_.substr(pos_, 2) != "\\u") return failed("lone high surrogate");
                        pos_ += 2;
                        if (!hex4(lo)) return false;
                        if (lo < 0xDC00 || lo > 0xDFFF) return failed("bad low surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        return failed("lone low surrogate");
                    }
                    appendUtf8(out, cp);
                    break;
                }
                default: --pos_; return failed("unknown escape");
            }
        }
    }

    std::string_view s_;
    bool ws_;
    std::size_t pos_ = 0;
    std::string err_;
};

// The parsed value of a whole JSON text, or nothing when it is not valid.
inline std::optional<Value> parse(std::string_view text, std::string *error = nullptr) {
    Parser p(text);
    auto v = p.parseDocument();
    if (!v && error) *error = p.error();
    return v;
}

inline bool isValid(std::string_view text) { return parse(text).has_value(); }

// The bytes of a text that is exactly one JSON string token (with quotes).
inline std::optional<std::string> decodeString(std::string_view token) {
    return Parser(token).parseStringToken();
}

}  // namespace qjson
