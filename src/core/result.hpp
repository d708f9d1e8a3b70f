// Results of internal operations: a value or a Failure, and a Status that
// is a success or a Failure.
#pragma once

#include <cassert>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "core/error.hpp"

namespace quorlina {

// Why an operation failed: the error and, when the failure concerns one
// file or directory, its path as the caller would write it (the root joined
// with the rest). The export frame turns a Failure into the result code,
// the last-error text and, for a content file whose name is not a
// timestamp, the warning line.
struct Failure {
    Failure(Error e) noexcept : error(e) {}  // NOLINT: implicit by design

    Failure(Error e, int os) noexcept : error(e), osError(os) {}

    Error error;
    // The file or directory concerned; empty when the failure is not about one.
    std::string file;
    // The errno of the system call that failed, 0 when the failure is the
    // library's own finding (a malformed file, a size limit, ...).
    int osError = 0;
    // The failure is a content file's name that is not a timestamp: the
    // warning line is written for it, naming the reason the number reader
    // gave (`nameCause`) when there is one.
    bool badName = false;
    std::optional<Error> nameCause;
};

// What failure() gives for a success, which the callers never ask: the
// asserts catch that in debug builds.
inline const Failure &noFailure() noexcept {
    static const Failure none{Error::Unexpected};
    return none;
}

// `f` as the failure of the file or directory at `path`.
inline Failure concerning(std::string path, Failure f) {
    f.file = std::move(path);
    return f;
}

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
    Result(Error e) : v_(std::in_place_index<1>, e) {}                 // NOLINT: implicit by design
    Result(Failure f) : v_(std::in_place_index<1>, std::move(f)) {}    // NOLINT: implicit by design

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    // The failure; only for a result that is not ok (checked in debug
    // builds; a release build gets Unexpected rather than undefined
    // behaviour).
    Error error() const noexcept {
        assert(!ok() && "error() of a successful Result");
        const Failure *f = std::get_if<1>(&v_);
        return f ? f->error : Error::Unexpected;
    }
    const Failure &failure() const & noexcept {
        assert(!ok() && "failure() of a successful Result");
        const Failure *f = std::get_if<1>(&v_);
        return f ? *f : noFailure();
    }
    Failure failure() && noexcept {
        assert(!ok() && "failure() of a successful Result");
        Failure *f = std::get_if<1>(&v_);
        return f ? std::move(*f) : Failure(Error::Unexpected);
    }

    T &value() & { return std::get<0>(v_); }
    const T &value() const & { return std::get<0>(v_); }
    T &&value() && { return std::get<0>(std::move(v_)); }
    T &operator*() & { return value(); }
    const T &operator*() const & { return value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

private:
    std::variant<T, Failure> v_;
};

// Result of an operation that yields nothing but success or a Failure.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error e) : f_(std::in_place, e) {}           // NOLINT: implicit by design
    Status(Failure f) : f_(std::in_place, std::move(f)) {}  // NOLINT: implicit by design

    bool ok() const noexcept { return !f_.has_value(); }
    explicit operator bool() const noexcept { return ok(); }

    // The failure; only for a status that is not ok (checked in debug
    // builds; a release build gets Unexpected rather than undefined
    // behaviour).
    Error error() const noexcept {
        assert(!ok() && "error() of a successful Status");
        return f_ ? f_->error : Error::Unexpected;
    }
    const Failure &failure() const & noexcept {
        assert(!ok() && "failure() of a successful Status");
        return f_ ? *f_ : noFailure();
    }
    Failure failure() && noexcept {
        assert(!ok() && "failure() of a successful Status");
        return f_ ? std::move(*f_) : Failure(Error::Unexpected);
    }

private:
    std::optional<Failure> f_;
};

// Where a scan that goes on past broken files (a check of a family) hands
// the failure of each one; a scan given none stops at the first.
using BrokenSink = std::function<void(Failure &&)>;

// Propagate a failure: `QL_TRY(status_expr);`
#define QL_TRY(expr)                                                      \
    do {                                                                  \
        auto ql_try_status_ = (expr);                                     \
        if (!ql_try_status_.ok()) return std::move(ql_try_status_).failure(); \
    } while (0)

}  // namespace quorlina
