// JSON records of posts.
#pragma once

#include <string>

#include "core/posts.hpp"
#include "ffi/c_heap_text.hpp"

namespace quorlina::ffi {

// The summary record of a post, appended to `out`:
// {"date":..,"slug":..,"title":..,"tags":[..]}
void appendPostSummaryJson(CHeapText &out, const Post &post);

// The full record of a post:
// {"date":..,"slug":..,"title":..,"description":..,"tags":[..],"content":..}
std::string buildPostJson(const Post &post);

}  // namespace quorlina::ffi
