#pragma once
// Errors as values.
//
// An Error carries a headline (a short sentence a user may be shown, e.g.
// "Please run with administrator privileges."), a detail for the log (what
// was attempted on what, and the system's words for why) and the errno value
// behind it (0 when there is none). Operations return Result<T> (a value or an
// Error) or Status (success or an Error); nothing throws and nothing exits.
//
// Asking a Result for its value when it holds an Error (or a Status for its
// error when it succeeded) is a fault of the caller: it ends the process with
// a message in every build, never reads the wrong member of the variant.
//
// Plain data: copy freely, any thread.
#include <cstdio>
#include <cstdlib>
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

namespace error_detail {

// Ends the process: `what` was asked of an outcome that does not hold it.
[[noreturn]] inline void misuse(const char* what, const std::string& message) {
  std::fprintf(stderr, "tarnwatch: %s: %s\n", what, message.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace error_detail

// Success or an error of type E, for operations that return nothing else.
// Status (E = Error) is the usual one; an interface whose callers need more
// than an Error says (PacketCapture's CaptureFailure) uses its own E.
template <class E>
class [[nodiscard]] BasicStatus {
 public:
  BasicStatus() = default;  // success
  BasicStatus(E error) : error_(std::move(error)) {}  // NOLINT: `return Error{...};` reads best

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  // Only when !ok().
  const E& error() const {
    if (!error_) error_detail::misuse("error() of a success", "no error");
    return *error_;
  }

 private:
  std::optional<E> error_;
};

using Status = BasicStatus<Error>;

// A value or an Error.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}    // NOLINT
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  // Only when ok().
  T& value() & {
    check_value();
    return std::get<0>(v_);
  }
  const T& value() const& {
    check_value();
    return std::get<0>(v_);
  }
  T&& value() && {
    check_value();
    return std::get<0>(std::move(v_));
  }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  T value_or(T fallback) const { return ok() ? value() : std::move(fallback); }

  // Only when !ok().
  const Error& error() const {
    if (ok()) error_detail::misuse("error() of a value", "no error");
    return std::get<1>(v_);
  }
  // The outcome without the value.
  Status status() const { return ok() ? Status() : Status(error()); }

 private:
  void check_value() const {
    if (!ok()) error_detail::misuse("value() of an error", std::get<1>(v_).message());
  }

  std::variant<T, Error> v_;
};

}  // namespace tw
