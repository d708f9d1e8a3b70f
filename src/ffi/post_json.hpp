// JSON records of posts.
#pragma once

#include <string>
#include <vector>

#include "core/posts.hpp"
#include "ffi/c_heap_text.hpp"

namespace quorlina::ffi {

// The summary record of a post, appended to `out`:
// {"date":..,"slug":..,"title":..,"tags":[..]}
void appendPostSummaryJson(std::string &out, const Post &post);
void appendPostSummaryJson(CHeapText &out, const Post &post);

// "[" + summary records separated by "," + "]".
std::string buildPostListJson(const std::vector<Post> &posts);

// The full record of a post:
// {"date":..,"slug":..,"title":..,"description":..,"tags":[..],"content":..}
std::string buildPostJson(const Post &post);

}  // namespace quorlina::ffi
