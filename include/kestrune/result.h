/// @file
/// Errors and results: every operation of the library that can fail returns
/// them instead of throwing, with a message fit to show the user.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kestrune/export.h"

namespace kestrune {

enum class ErrorCode {
  kNone = 0,
  kInvalidArgument,  ///< a setting or size the operation cannot take
  kCannotOpen,       ///< the file does not exist or cannot be opened
  kUnreadable,       ///< not an image this library reads, or damaged
  kCannotWrite,      ///< the output cannot be created or written
  kOutOfMemory,      ///< the memory the operation needs cannot be had
  kCancelled,        ///< the caller's Progress asked to stop
};

struct [[nodiscard]] Error {
  ErrorCode code = ErrorCode::kNone;
  std::string message;  ///< empty for kNone

  explicit operator bool() const { return code != ErrorCode::kNone; }
};

namespace detail {
/// Reports a value() or -> on a Result without a value and aborts: reading a
/// value that is not there is a fault in the caller, never undefined.
[[noreturn]] KESTRUNE_API void EmptyResultAccess(const Error& error);
}  // namespace detail

/// A value, an error, or both: a cancelled enlargement still hands back the
/// estimate it had reached, with kCancelled. Warnings are things the caller
/// may want to pass on although the operation succeeded (a decoder's remarks).
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}
  Result(Error error) : error_(std::move(error)) {}
  Result(T value, Error error) : value_(std::move(value)), error_(std::move(error)) {}

  /// True when the operation succeeded (then the value is present).
  bool ok() const { return !error_ && value_.has_value(); }
  explicit operator bool() const { return ok(); }
  bool has_value() const { return value_.has_value(); }

  /// The value; only when has_value(). Without one, the error is printed on
  /// standard error and the process aborts.
  T& value() & { return Checked(), *value_; }
  const T& value() const& { return Checked(), *value_; }
  T&& value() && { return Checked(), std::move(*value_); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const { return error_; }
  const std::vector<std::string>& warnings() const { return warnings_; }
  std::vector<std::string>& warnings() { return warnings_; }

 private:
  void Checked() const {
    if (!value_) detail::EmptyResultAccess(error_);
  }

  std::optional<T> value_;
  Error error_;
  std::vector<std::string> warnings_;
};

}  // namespace kestrune
