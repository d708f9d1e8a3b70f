#include "render.hpp"

#include <algorithm>

#include "strings.hpp"
#include "text_width.hpp"

namespace qcli {

std::string valueText(const JsonValue *value, std::string_view separator) {
    if (value == nullptr || value->isNull()) return "-";
    switch (value->kind) {
        case JsonValue::Kind::String: return oneLine(value->text);
        case JsonValue::Kind::Array: {
            if (value->items.empty()) return "-";
            std::string out;
            for (std::size_t i = 0; i < value->items.size(); ++i) {
                if (i) out += separator;
                out += valueText(&value->items[i], separator);
            }
            return out;
        }
        case JsonValue::Kind::Boolean: return value->boolean ? "true" : "false";
        case JsonValue::Kind::Number: return value->text;
        default: return "-";
    }
}

std::optional<std::string> renderTable(const JsonValue &list, const std::vector<Column> &columns,
                                       std::size_t maxWidth) {
    if (!list.isArray()) return std::nullopt;
    std::vector<std::vector<std::string>> rows;
    rows.reserve(list.items.size() + 1);
    std::vector<std::string> header;
    for (const Column &c : columns) header.emplace_back(c.header);
    rows.push_back(std::move(header));
    for (const JsonValue &item : list.items) {
        if (!item.isObject()) return std::nullopt;
        std::vector<std::string> row;
        for (const Column &c : columns) {
            std::string cell = valueText(item.find(c.key), ",");
            if (c.flagKey != nullptr) {
                const JsonValue *flag = item.find(c.flagKey);
                if (flag != nullptr && flag->kind == JsonValue::Kind::Boolean && flag->boolean) cell += c.flagText;
            }
            // An empty cell would shift the columns of a whitespace split.
            row.push_back(cell.empty() ? "-" : std::move(cell));
        }
        rows.push_back(std::move(row));
    }

    std::vector<std::size_t> widths(columns.size(), 0);
    for (const auto &row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], displayWidth(row[i]));
    }
    // Where the last column starts, and how much of it fits.
    std::size_t lastStart = 0;
    for (std::size_t i = 0; i + 1 < widths.size(); ++i) lastStart += widths[i] + 2;
    const std::size_t lastRoom = maxWidth > lastStart ? maxWidth - lastStart : 0;
    std::string out;
    for (const auto &row : rows) {
        const std::size_t lineStart = out.size();
        for (std::size_t i = 0; i + 1 < row.size(); ++i) {
            out += row[i];
            out.append(widths[i] - displayWidth(row[i]) + 2, ' ');
        }
        const std::string_view last = maxWidth == 0 ? std::string_view(row.back()) : clipToWidth(row.back(), lastRoom);
        out += last;
        // A last column cut to nothing would leave only padding behind.
        if (last.empty()) {
            while (out.size() > lineStart && out.back() == ' ') out.pop_back();
        }
        out.push_back('\n');
    }
    return out;
}

std::optional<std::string> renderItem(const JsonValue &item, const std::vector<Field> &fields,
                                      const char *bodyKey) {
    if (!item.isObject()) return std::nullopt;
    std::size_t labelWidth = 0;
    for (const Field &f : fields) labelWidth = std::max(labelWidth, std::string_view(f.label).size());
    std::string out;
    for (const Field &f : fields) {
        out += f.label;
        out += ':';
        out.append(labelWidth - std::string_view(f.label).size() + 1, ' ');
        out += valueText(item.find(f.key), ", ");
        out.push_back('\n');
    }
    const JsonValue *body = item.find(bodyKey);
    if (body != nullptr && body->isString() && !body->text.empty()) {
        out.push_back('\n');
        out += body->text;
        if (body->text.back() != '\n') out.push_back('\n');
    }
    return out;
}

}  // namespace qcli
