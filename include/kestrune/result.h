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

/// The kinds of failure.
enum class ErrorCode {
  kNone = 0,         ///< no error
  kInvalidArgument,  ///< a setting or size the operation cannot take
  kCannotOpen,       ///< the file does not exist or cannot be opened
  kUnreadable,       ///< not an image this library reads, or damaged
  kCannotWrite,      ///< the output cannot be created or written
  kOutOfMemory,      ///< the memory the operation needs cannot be had
  kCancelled,        ///< the caller's Progress asked to stop
};

/// An operation's failure, or none (kNone): the kind and a message fit to show
/// the user. Must be looked at: an error dropped unseen is a compiler warning.
struct [[nodiscard]] Error {
  ErrorCode code = ErrorCode::kNone;  ///< kNone when the operation succeeded
  std::string message;                ///< empty for kNone

  /// True when there is an error (code is not kNone).
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
/// Must be looked at, like Error.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}      ///< a success
  Result(Error error) : error_(std::move(error)) {}  ///< a failure without a value
  /// A value together with an error: the estimate of a cancelled run.
  Result(T value, Error error) : value_(std::move(value)), error_(std::move(error)) {}

  /// True when the operation succeeded (then the value is present).
  bool ok() const { return !error_ && value_.has_value(); }
  explicit operator bool() const { return ok(); }  ///< ok()
  /// True when a value is present, also beside an error.
  bool has_value() const { return value_.has_value(); }

  ///@{
  /// The value; only when has_value(). Without one, the error is printed on
  /// standard error and the process aborts.
  T& value() & { return Checked(), *value_; }
  const T& value() const& { return Checked(), *value_; }
  T&& value() && { return Checked(), std::move(*value_); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  ///@}

  /// The error; its code is kNone on success.
  const Error& error() const { return error_; }
  ///@{
  /// Remarks worth passing on, in the order they were made; often empty.
  const std::vector<std::string>& warnings() const { return warnings_; }
  std::vector<std::string>& warnings() { return warnings_; }
  ///@}

 private:
  void Checked() const {
    if (!value_) detail::EmptyResultAccess(error_);
  }

  std::optional<T> value_;
  Error error_;
  std::vector<std::string> warnings_;
};

}  // namespace kestrune
