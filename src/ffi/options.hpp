// The options structs of the extended exports: a NULL pointer means the
// defaults of the struct's INIT macro, and a struct of a version this
// library does not know is refused before anything is touched.
#pragma once

#include "core/result.hpp"

namespace quorlina::ffi {

// A copy of the caller's options, or `defaults` when `given` is NULL.
// Version 0 or a version newer than `defaults.version` (the one this library
// was built with) fails with InvalidOptions. Every version so far is 1, so
// a known struct is read whole; a later version that appends fields reads
// an older caller's struct only as far as its own version has fields.
template <class Options>
Result<Options> optionsOrDefaults(const Options *given, const Options &defaults) {
    if (given == nullptr) return defaults;
    if (given->version == 0 || given->version > defaults.version) return Error::InvalidOptions;
    return *given;
}

}  // namespace quorlina::ffi
