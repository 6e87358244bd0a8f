// Errors as values: a Result holds either a value or the text of what went wrong, a Status
// only whether it went wrong. The texts are the programs' own and may reach the user.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace ombrel {

struct Error {
  std::string message;
};

inline Error fail(std::string message) {
  return Error{std::move(message)};
}

template <class T>
class Result {
 public:
  Result(T value) : v_(std::move(value)) {}      // NOLINT: implicit by design
  Result(Error error) : v_(std::move(error)) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  T&& take() { return std::get<0>(std::move(v_)); }
  const std::string& error() const { return std::get<1>(v_).message; }

 private:
  std::variant<T, Error> v_;
};

// The outcome of an action that yields nothing but may fail.
class Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error.message)), failed_(true) {}  // NOLINT
  static Status success() { return Status{}; }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const std::string& error() const { return error_; }

 private:
  std::string error_;
  bool failed_ = false;
};

}  // namespace ombrel
