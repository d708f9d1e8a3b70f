// A small result type: either a value or an Error.
#pragma once

#include <optional>
#include <utility>
#include <variant>

#include "core/error.hpp"

namespace quorlina {

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
    Result(Error e) : v_(std::in_place_index<1>, e) {}                 // NOLINT: implicit by design

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    Error error() const noexcept { return std::get<1>(v_); }
    T &value() & { return std::get<0>(v_); }
    const T &value() const & { return std::get<0>(v_); }
    T &&value() && { return std::get<0>(std::move(v_)); }
    T &operator*() & { return value(); }
    const T &operator*() const & { return value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

private:
    std::variant<T, Error> v_;
};

// Result of an operation that yields nothing but success or an error.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error e) : err_(e) {}  // NOLINT: implicit by design

    bool ok() const noexcept { return !err_.has_value(); }
    explicit operator bool() const noexcept { return ok(); }
    Error error() const noexcept { return *err_; }

private:
    std::optional<Error> err_;
};

// Propagate a failure: `QL_TRY(status_expr);`
#define QL_TRY(expr)                                  \
    do {                                              \
        auto ql_try_status_ = (expr);                 \
        if (!ql_try_status_.ok()) return ql_try_status_.error(); \
    } while (0)

}  // namespace quorlina
