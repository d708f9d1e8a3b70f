// Paths of the content tree.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace quorlina {

// Joins path pieces with exactly one "/" at each seam. Empty pieces are
// skipped; a seam where the left piece ends with "/" or the right piece
// starts with "/" gets no extra one, and where both do one is dropped.
std::string joinPath(std::initializer_list<std::string_view> pieces);

// joinPath into `out`, replacing what it held and reusing its storage (for
// scans that build a path per file).
void joinPathInto(std::string &out, std::initializer_list<std::string_view> pieces);

// The directories of the three families below a site root.
std::string snippetsDir(std::string_view root);
std::string blogDir(std::string_view root);
std::string notesDir(std::string_view root);

}  // namespace quorlina
