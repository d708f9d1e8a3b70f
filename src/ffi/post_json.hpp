// JSON records of posts.
#pragma once

#include <string>

#include "core/posts.hpp"
#include "ffi/c_heap_text.hpp"

namespace quorlina::ffi {

// The summary record of a post, appended to `out`:
// {"date":..,"slug":..,"title":..,"tags":[..]}
void appendPostSummaryJson(CHeapText &out, const Post &post);

// The full record of a post, appended to `out`:
// {"date":..,"slug":..,"title":..,"description":..,"tags":[..],"path":..,
//  "draft":true|false,"date_key":..|null} and, when `body` is given,
// "content" before the closing brace.
void appendPostRecordJson(CHeapText &out, const Post &post, const std::string_view *body);

// The record of quorlina_post_read:
// {"date":..,"slug":..,"title":..,"description":..,"tags":[..],"content":..}
std::string buildPostJson(const Post &post);

}  // namespace quorlina::ffi
