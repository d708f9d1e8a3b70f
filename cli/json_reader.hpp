// A small JSON reader for the texts the library hands back: arrays of flat
// objects whose values are strings, arrays of strings or null. It accepts
// any well-formed JSON (numbers and booleans included) and keeps string
// bytes as they are, so text that is not valid UTF-8 survives unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qcli {

struct JsonValue {
    enum class Kind { Null, Boolean, Number, String, Array, Object };

    Kind kind = Kind::Null;
    bool boolean = false;
    std::string text;               // a string's bytes, or a number's text
    std::vector<JsonValue> items;   // array elements, or object values
    std::vector<std::string> keys;  // object keys, parallel to items

    bool isNull() const { return kind == Kind::Null; }
    bool isString() const { return kind == Kind::String; }
    bool isArray() const { return kind == Kind::Array; }
    bool isObject() const { return kind == Kind::Object; }

    // The value of the first member named `key`, or nullptr.
    const JsonValue *find(std::string_view key) const;
};

// Parses one complete JSON text. Returns nothing when the text is not
// well-formed, has trailing bytes, or nests deeper than 64 levels.
std::optional<JsonValue> parseJson(std::string_view text);

}  // namespace qcli
