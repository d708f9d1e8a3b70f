// The check export: every file of a site that the family functions would
// fail on, in one scan per family.
#include <cstdio>
#include <string>
#include <string_view>

#include "core/notes.hpp"
#include "core/paths.hpp"
#include "core/posts.hpp"
#include "core/snippets.hpp"
#include "ffi/explain.hpp"
#include "ffi/frame.hpp"
#include "ffi/json.hpp"
#include "ffi/options.hpp"
#include "quorlina/quorlina.h"

namespace quorlina::ffi {
namespace {

enum class Family { Snippets, Posts, Notes };

// {"family":..,"path":..,"code":..,"reason":..}: the path and reason as
// the last-error text of a failing call gives them, the code as it returns.
void appendBrokenJson(CHeapText &out, std::string_view family, const Failure &f) {
    char code[16];
    const int n = std::snprintf(code, sizeof code, "%d", mapError(f.error));
    out.append("{\"family\":\"");
    out.append(family);
    out.append("\",\"path\":\"");
    appendEscapedJson(out, f.file);
    out.append("\",\"code\":");
    out.append(code, static_cast<std::size_t>(n));
    out.append(",\"reason\":\"");
    appendEscapedJson(out, failureReason(f));
    out.append("\"}");
}

Status checkFamily(Family family, std::string_view root, JsonListWriter &list) {
    static constexpr std::string_view kNames[] = {"snippet", "post", "note"};
    const std::string_view name = kNames[static_cast<int>(family)];
    const BrokenSink broken = [&](Failure &&f) { appendBrokenJson(list.nextRecord(), name, f); };
    switch (family) {
        case Family::Snippets: return checkSnippets(snippetsDir(root), broken);
        case Family::Posts: return checkPosts(blogDir(root), broken);
        case Family::Notes: return checkNotes(notesDir(root), broken);
    }
    return Error::Unexpected;
}

}  // namespace
}  // namespace quorlina::ffi

using namespace quorlina;
using namespace quorlina::ffi;

extern "C" {

QUORLINA_API int quorlina_check(const char *root, const quorlina_check_options *options, char **out) {
    return runExportWithText(out, [&]() -> Result<CHeapText> {
        QL_TRY(requireArgs(root));
        auto o = optionsOrDefaults(options, quorlina_check_options QUORLINA_CHECK_OPTIONS_INIT);
        if (!o) return std::move(o).failure();
        Family only = Family::Snippets;
        const bool all = o->family == nullptr;
        if (!all) {
            const std::string_view f = o->family;
            if (f == "snippet") only = Family::Snippets;
            else if (f == "post") only = Family::Posts;
            else if (f == "note") only = Family::Notes;
            else return Error::UnknownFamily;
        }
        JsonListWriter list;
        for (Family family : {Family::Snippets, Family::Posts, Family::Notes})
            if (all || family == only) QL_TRY(checkFamily(family, root, list));
        return std::move(list).finish();
    });
}

}  // extern "C"
