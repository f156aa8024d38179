// The one error value of kiv: a message with a chain of context texts added
// on the way up, shown on one line at the entry point.
#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiv {

class Error {
 public:
  /// An error whose innermost message is `message`. A message may hold
  /// newlines of its own; display keeps them.
  explicit Error(std::string message);

  /// An operating-system error: "{description} (os error {errnum})".
  static Error os(int errnum);
  /// An operating-system error read from errno at the call.
  static Error last_os();

  /// Adds `context` outside everything the error holds so far.
  Error& add_context(std::string context) &;
  Error&& add_context(std::string context) &&;

  /// The whole chain, outermost first, parts joined by ": ".
  std::string display() const;
  /// The innermost message alone.
  const std::string& root_message() const { return chain_.front(); }
  /// The error number of an operating-system error, if this is one.
  std::optional<int> os_code() const { return os_code_; }

 private:
  std::vector<std::string> chain_;  // innermost first
  std::optional<int> os_code_;
};

template <class T>
using Result = std::expected<T, Error>;
using Status = std::expected<void, Error>;

/// The status a process ends with.
using ExitStatus = int;
/// How an invocation ends: the status to exit with, or an error for the entry
/// point to report (then the status is 1).
using Outcome = Result<ExitStatus>;

inline std::unexpected<Error> fail(std::string message) { return std::unexpected(Error(std::move(message))); }
inline std::unexpected<Error> fail(Error error) { return std::unexpected(std::move(error)); }
inline std::unexpected<Error> fail_os(int errnum) { return std::unexpected(Error::os(errnum)); }
inline std::unexpected<Error> fail_last_os() { return std::unexpected(Error::last_os()); }

/// The one way context is added on the way up: `result` unchanged on
/// success, its error with `context` added outside on failure...
template <class T>
Result<T> with_context(Result<T> result, std::string_view context) {
  if (!result) result.error().add_context(std::string(context));
  return result;
}

/// ...and the same for an error being returned, as in
/// `return with_context(fail("..."), "Bundle detection");`.
inline std::unexpected<Error> with_context(std::unexpected<Error> error, std::string_view context) {
  error.error().add_context(std::string(context));
  return error;
}

/// The system's description of `errnum` (strerror_r, so safe on any thread).
std::string os_error_description(int errnum);

}  // namespace kiv

#define KIV_CONCAT_INNER(a, b) a##b
#define KIV_CONCAT(a, b) KIV_CONCAT_INNER(a, b)

/// Evaluates `expr` (a Result); on error returns that error from the caller.
#define KIV_TRY(expr)                                                     \
  do {                                                                    \
    auto&& kiv_try_result_ = (expr);                                      \
    if (!kiv_try_result_) return std::unexpected(std::move(kiv_try_result_).error()); \
  } while (0)

/// Declares or assigns `lhs` from the value of `expr`, or returns its error.
#define KIV_TRY_ASSIGN(lhs, expr) KIV_TRY_ASSIGN_IMPL(KIV_CONCAT(kiv_try_, __LINE__), lhs, expr)
#define KIV_TRY_ASSIGN_IMPL(tmp, lhs, expr)                   \
  auto tmp = (expr);                                          \
  if (!tmp) return std::unexpected(std::move(tmp).error());   \
  lhs = std::move(*tmp)
