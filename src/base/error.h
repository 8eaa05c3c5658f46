#pragma once
// Errors as values.
//
// An Error carries a headline (a short sentence a user may be shown, e.g.
// "Please run with administrator privileges."), a detail for the log (what
// was attempted on what, and the system's words for why) and the errno value
// behind it (0 when there is none). Operations return Result<T> (a value or an
// Error) or Status (success or an Error); nothing throws and nothing exits.
//
// Plain data: copy freely, any thread.
#include <cassert>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

namespace tw {

struct Error {
  std::string headline;
  std::string detail;
  int errno_value = 0;

  // An error whose detail is "WHAT: <the system's text for ERR>".
  static Error from_errno(std::string headline, const std::string& what, int err) {
    return Error{std::move(headline), what + ": " + std::generic_category().message(err), err};
  }

  // "headline (detail)", or the headline alone when there is no detail.
  std::string message() const { return detail.empty() ? headline : headline + " (" + detail + ")"; }

  friend bool operator==(const Error&, const Error&) = default;
};

// Success or an Error, for operations that return nothing else.
class [[nodiscard]] Status {
 public:
  Status() = default;  // success
  Status(Error error) : error_(std::move(error)) {}  // NOLINT: `return Error{...};` reads best

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  // Only when !ok().
  const Error& error() const {
    assert(error_);
    return *error_;
  }

 private:
  std::optional<Error> error_;
};

// A value or an Error.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}    // NOLINT
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Only when ok().
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T value_or(T fallback) const { return ok() ? value() : std::move(fallback); }

  // Only when !ok().
  const Error& error() const { return std::get<1>(v_); }
  // The outcome without the value.
  Status status() const { return ok() ? Status() : Status(error()); }

 private:
  std::variant<T, Error> v_;
};

}  // namespace tw
