#include "ffi/c_heap_text.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/platform.hpp"

namespace quorlina::ffi {

namespace {

// Resizes a C-heap block as realloc does (nullptr: a new block); nullptr
// when the heap is exhausted, the old block then staying valid.
void *resizeCHeap(void *block, std::size_t size) noexcept {
    if (platform::fault::injectedError(platform::fault::Op::Alloc) != 0) return nullptr;
    return std::realloc(block, size == 0 ? 1 : size);
}

// Below this the buffer grows by half of itself; above it by this much at
// a time, so that the capacity a large list holds beyond its text stays
// small. glibc grows large blocks in place (mremap, or into the free space
// above the heap's last block), so the steps cost no copying in the common
// case.
constexpr std::size_t kLinearStep = std::size_t{256} * 1024;

}  // namespace

char *copyText(std::string_view text) noexcept {
    if (platform::fault::injectedError(platform::fault::Op::Alloc) != 0) return nullptr;
    char *p = static_cast<char *>(std::malloc(text.size() + 1));
    if (!p) return nullptr;
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    p[text.size()] = '\0';
    return p;
}

CHeapText::CHeapText(CHeapText &&other) noexcept : data_(other.data_), size_(other.size_), cap_(other.cap_) {
    other.data_ = nullptr;
    other.size_ = other.cap_ = 0;
}

CHeapText &CHeapText::operator=(CHeapText &&other) noexcept {
    if (this != &other) {
        std::free(data_);
        data_ = other.data_;
        size_ = other.size_;
        cap_ = other.cap_;
        other.data_ = nullptr;
        other.size_ = other.cap_ = 0;
    }
    return *this;
}

CHeapText::~CHeapText() { std::free(data_); }

void CHeapText::grow(std::size_t extra) {
    std::size_t want = cap_ < kLinearStep * 2 ? cap_ + cap_ / 2 + 128 : cap_ + kLinearStep;
    if (want < size_ + extra) want = size_ + extra;
    // One byte more for the terminating NUL added by release().
    void *p = resizeCHeap(data_, want + 1);
    if (p == nullptr) throw std::bad_alloc();
    data_ = static_cast<char *>(p);
    cap_ = want;
}

char *CHeapText::release() noexcept {
    if (data_ == nullptr) {
        // An empty text still needs its block.
        data_ = static_cast<char *>(resizeCHeap(nullptr, 1));
        if (data_ == nullptr) return nullptr;
    } else if (cap_ > size_) {
        // Shrinking never moves the block far; a failure keeps it as it is.
        if (void *p = resizeCHeap(data_, size_ + 1)) data_ = static_cast<char *>(p);
    }
    data_[size_] = '\0';
    char *out = data_;
    data_ = nullptr;
    size_ = cap_ = 0;
    return out;
}

CHeapText &JsonListWriter::nextRecord() {
    if (written_ == 0) {
        text_.push_back('[');
    } else {
        text_.push_back(',');
    }
    ++written_;
    // After a sample of a sixteenth (at least 32 records), room for the rest
    // at the average so far, with a sixteenth more (at most 256 KiB) for
    // records larger than the sample's. Only for lists of short records
    // (summaries of at most 1 KiB on average): a list of whole files is
    // estimated less surely, and a block of its size, taken at once, comes
    // fresh from the system on every call (page faults and all), where
    // growing step by step mostly reuses the heap's own pages.
    std::size_t sample = std::max<std::size_t>(32, expected_ / 16);
    if (written_ == sample + 1 && expected_ > sample && text_.size() <= sample * 1024 &&
        text_.size() <= kLinearStep) {
        std::size_t average = text_.size() / sample + 1;
        std::size_t rest = expected_ - sample;
        if (rest <= (SIZE_MAX - text_.size()) / 2 / average) {
            std::size_t total = text_.size() + rest * average;
            total += std::min<std::size_t>(total / 16, kLinearStep) + 2;
            text_.reserveTotal(total);
        }
    }
    return text_;
}

CHeapText JsonListWriter::finish() && {
    text_ += written_ == 0 ? std::string_view("[]") : std::string_view("]");
    return std::move(text_);
}

}  // namespace quorlina::ffi
