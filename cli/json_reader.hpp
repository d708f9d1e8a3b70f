// A small JSON reader for the texts the library hands back: arrays of flat
// objects whose values are strings, arrays of strings or null. It reads
// JSON strictly: numbers without leading zeros, strings without raw control
// bytes, \u escapes of surrogates only as pairs. The one latitude is that
// string bytes need not be UTF-8: the library copies the bytes of a file
// unchanged, so they are kept as they are and text that is not valid UTF-8
// survives.
#pragma once

#include <functional>
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
// well-formed as said above, has trailing bytes, or nests deeper than 64
// levels.
std::optional<JsonValue> parseJson(std::string_view text);

// Reads a JSON array one element at a time: calls `visit` with each
// element's value and its exact bytes in `text`, until `visit` returns
// false. Returns false when the text read up to then is not well-formed
// (and when it is not an array at all); the text after an early stop is not
// looked at.
//
// With `onlyKeys`, an element that is an object gets only those members in
// its value; the others are stepped over without being decoded (their
// structure and numbers are checked, the bytes and escapes inside their
// strings are not). That keeps filtering a list of large records cheap.
bool forEachArrayElement(std::string_view text,
                         const std::function<bool(JsonValue &&value, std::string_view bytes)> &visit,
                         const std::vector<std::string_view> *onlyKeys = nullptr);

}  // namespace qcli
