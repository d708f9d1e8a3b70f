// Peak heap of a stretch of code, counted by the benchmark binary's own
// malloc family (which forwards to glibc's). Counting is off except between
// start() and stop(), so timed loops pay nothing but one relaxed load.
#pragma once

#include <cstdint>

namespace qbench::heap {

// Whether this binary counts at all (not under sanitizers, which bring
// their own allocator).
bool available() noexcept;

// Starts counting from zero live bytes.
void start() noexcept;

// Stops counting and returns the peak of live bytes since start(): bytes
// allocated (as usable size) minus bytes freed, at its highest. A realloc
// that moves its block counts the old and the new block together at that
// moment; one that grows in place counts the difference only.
std::int64_t stop() noexcept;

// Reallocs that moved their block, and the bytes they copied, between the
// last start() and stop().
std::int64_t movedReallocs() noexcept;
std::int64_t movedBytes() noexcept;

}  // namespace qbench::heap
