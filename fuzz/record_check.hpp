// Shape checks for the JSON texts the exports return: the members of each
// record kind, in order, with the value kinds they must have. Shared by the
// end-to-end fuzz target and the reliability tests.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "json_check.hpp"

namespace qjson {

enum class Record { Snippet, PostSummary, PostFull, NoteSummary, NoteFull };

// Empty when `v` is a record of kind `kind`, else what is wrong.
inline std::string checkRecord(const Value &v, Record kind) {
    if (!v.isObject()) return "record is not an object";
    struct Member {
        const char *key;
        char type;  // 's' string, 'a' array of strings, 'n' string or null
    };
    auto expect = [&](std::initializer_list<Member> members) -> std::string {
        if (v.names.size() != members.size()) return "wrong number of members";
        std::size_t i = 0;
        for (const Member &m : members) {
            const std::string &key = v.names[i];
            const Value &value = v.items[i++];
            if (key != m.key) return "member '" + key + "' where '" + m.key + "' belongs";
            bool ok = false;
            switch (m.type) {
                case 's': ok = value.isString(); break;
                case 'n': ok = value.isString() || value.isNull(); break;
                case 'a': {
                    ok = value.isArray();
                    for (const auto &item : value.items) ok = ok && item.isString();
                    break;
                }
            }
            if (!ok) return "member '" + key + "' has the wrong type";
        }
        return {};
    };
    switch (kind) {
        case Record::Snippet:
            return expect({{"id", 's'}, {"date", 's'}, {"description", 's'}, {"filename", 's'}, {"code", 's'}});
        case Record::PostSummary: return expect({{"date", 's'}, {"slug", 's'}, {"title", 's'}, {"tags", 'a'}});
        case Record::PostFull:
            return expect({{"date", 's'}, {"slug", 's'}, {"title", 's'}, {"description", 's'}, {"tags", 'a'},
                           {"content", 's'}});
        case Record::NoteSummary: return expect({{"date", 's'}, {"id", 's'}, {"slug", 'n'}});
        case Record::NoteFull: return expect({{"date", 's'}, {"id", 's'}, {"slug", 'n'}, {"content", 's'}});
    }
    return "unknown record kind";
}

// Empty when `text` is a valid JSON record of kind `kind`, else the fault.
inline std::string checkRecordText(std::string_view text, Record kind, Value *out = nullptr) {
    std::string err;
    auto v = parse(text, &err);
    if (!v) return "invalid JSON: " + err;
    std::string fault = checkRecord(*v, kind);
    if (fault.empty() && out) *out = std::move(*v);
    return fault;
}

// Empty when `text` is a valid JSON array of records of kind `kind`.
inline std::string checkListText(std::string_view text, Record kind, Value *out = nullptr) {
    std::string err;
    auto v = parse(text, &err);
    if (!v) return "invalid JSON: " + err;
    if (!v->isArray()) return "list is not an array";
    for (const auto &item : v->items) {
        std::string fault = checkRecord(item, kind);
        if (!fault.empty()) return fault;
    }
    if (out) *out = std::move(*v);
    return {};
}

// Whether `code` is one of the result codes the exports document.
inline bool isDocumentedCode(int code) {
    switch (code) {
        case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 7:
        case 8: case 9: case 10: case 11: case 14: case 100: return true;
        default: return false;
    }
}

}  // namespace qjson
