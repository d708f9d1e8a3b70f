// Writing JSON text the way the library writes it.
#pragma once

#include <string>
#include <string_view>

namespace qcli {

// `text` as a JSON string with its quotes, escaped as the library escapes:
// '"', '\\', line feed, carriage return and tab get their two-byte escapes,
// other bytes below 0x20 become \u00XX, every other byte is kept.
std::string jsonString(std::string_view text);

}  // namespace qcli
