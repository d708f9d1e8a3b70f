// Counting the tags of the posts, from the library's list of posts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qcli {

struct TagCount {
    std::string tag;
    std::size_t posts;  // the posts that carry it
};

// The tags of a post list (the JSON array of quorlina_post_list), each with
// the number of posts that carry it, most used first and a tie by name
// (byte order). Nothing when the text is not a JSON array.
std::optional<std::vector<TagCount>> countTags(std::string_view postList);

// The tag names of countTags, in its order; none when the text is not a
// JSON array.
std::vector<std::string> tagNames(std::string_view postList);

}  // namespace qcli
