// Text handed to the caller on the C heap (the caller frees it with
// quorlina_free): a copy of a finished text, or a growable buffer that
// becomes the caller's text without a copy. The list exports write their
// JSON straight into one, so a large list is held once, not twice (as a
// working string and again as the copy handed out).
//
// Every C-heap allocation made for the caller first asks the platform's
// fault seam (Op::Alloc), so that the allocation-failure tests can fail it.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorlina::ffi {

// Copies `text` into a new NUL-terminated C-heap block; nullptr when the
// heap is exhausted.
char *copyText(std::string_view text) noexcept;

class CHeapText {
public:
    CHeapText() = default;
    CHeapText(CHeapText &&other) noexcept;
    CHeapText &operator=(CHeapText &&other) noexcept;
    CHeapText(const CHeapText &) = delete;
    CHeapText &operator=(const CHeapText &) = delete;
    ~CHeapText();

    std::size_t size() const noexcept { return size_; }
    std::string_view view() const noexcept { return {data_, size_}; }

    // Makes room for `extra` more bytes. Throws std::bad_alloc.
    void reserveMore(std::size_t extra) {
        if (cap_ - size_ < extra) grow(extra);
    }
    void append(const char *p, std::size_t n) {
        reserveMore(n);
        if (n) __builtin_memcpy(data_ + size_, p, n);
        size_ += n;
    }
    void append(std::string_view s) { append(s.data(), s.size()); }
    CHeapText &operator+=(std::string_view s) {
        append(s);
        return *this;
    }
    void push_back(char c) {
        reserveMore(1);
        data_[size_++] = c;
    }
    CHeapText &operator+=(char c) {
        push_back(c);
        return *this;
    }
    void clear() noexcept { size_ = 0; }

    // Writing in place: `writableEnd(n)` makes room for at least `n` more
    // bytes and returns the end of the text; bytes written from there up to
    // `capacityEnd()` become text with `setEnd(pointer past the last one)`.
    char *writableEnd(std::size_t n) {
        reserveMore(n);
        return data_ + size_;
    }
    char *capacityEnd() const noexcept { return data_ + cap_; }
    void setEnd(char *end) noexcept { size_ = static_cast<std::size_t>(end - data_); }

    // Makes the capacity at least `total` bytes: exactly `total` when that
    // is more than one step of growth would give, else that step.
    void reserveTotal(std::size_t total) {
        if (total > cap_) grow(total - size_);
    }

    // NUL-terminates the text, trims the block to it and hands it over: the
    // caller frees it with free(). Returns nullptr, keeping the text, when
    // the heap is exhausted.
    char *release() noexcept;

private:
    void grow(std::size_t extra);

    char *data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t cap_ = 0;  // bytes usable for text; one more is kept for the NUL
};

// Writes a JSON list: "[", records separated by ",", "]". A list of many
// records is given room for all of them once a sample is written, at the
// sample's average size plus a margin: so the text takes its final block
// while it is still small. Growing a large block later can copy it (the C
// heap moves a block that cannot grow where it stands), and the text would
// be held twice for that moment.
class JsonListWriter {
public:
    // The number of records to come, when known (before the first record).
    void expect(std::size_t count) noexcept { expected_ = count; }

    // The text to append the next record to, after its separator.
    CHeapText &nextRecord();

    // The finished list.
    CHeapText finish() &&;

private:
    CHeapText text_;
    std::size_t expected_ = 0;
    std::size_t written_ = 0;
};

}  // namespace quorlina::ffi
