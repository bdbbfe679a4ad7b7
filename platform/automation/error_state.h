// The automation error state: the pending error of the current thread (its
// number and description) and the three ways a procedure of this
// system deals with failures:
//
//   continue past errors   ResumeNext(statement): a failing statement becomes
//                          the pending error and execution goes on; the
//                          procedure tests Err().Number() where it matters.
//   jump to a handler      ErrorHandler: a failing statement runs the
//                          procedure's handler (usually one error-log line),
//                          the error is cleared and execution resumes with
//                          the next statement.
//   ignore                 ResumeNext without testing the result.
//
// Failures travel as AutomationError exceptions between the statement that
// fails and the nearest of these helpers; they never cross a public method of
// the component.
#ifndef VELNOR_PLATFORM_AUTOMATION_ERROR_STATE_H_
#define VELNOR_PLATFORM_AUTOMATION_ERROR_STATE_H_

#include <cstdint>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

namespace velnor::automation {

// Well-known automation error numbers.
inline constexpr int32_t kErrInvalidProcedureCall = 5;
inline constexpr int32_t kErrOverflow = 6;
inline constexpr int32_t kErrOutOfMemory = 7;
inline constexpr int32_t kErrSubscriptOutOfRange = 9;
inline constexpr int32_t kErrDivisionByZero = 11;
inline constexpr int32_t kErrTypeMismatch = 13;
inline constexpr int32_t kErrFileNotFound = 53;
inline constexpr int32_t kErrPermissionDenied = 70;
inline constexpr int32_t kErrPathNotFound = 76;
inline constexpr int32_t kErrObjectNotSet = 91;
inline constexpr int32_t kErrInvalidUseOfNull = 94;
inline constexpr int32_t kErrInvalidPropertyValue = 380;
inline constexpr int32_t kErrCantCreateObject = 429;
inline constexpr int32_t kErrMemberNotSupported = 438;

// The standard description of an automation error number, or
// "Application-defined or object-defined error" for numbers it does not know.
std::string DescriptionOf(int32_t number);

// A failure on its way from the failing statement to the procedure's error
// handling.
class AutomationError : public std::runtime_error {
 public:
  AutomationError(int32_t number, const std::string& description);

  int32_t number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  int32_t number_;
  std::string description_;
};

// Throws AutomationError. An empty description takes the standard one.
[[noreturn]] void Raise(int32_t number, const std::string& description = "");

// The pending error of one thread.
class ErrObject {
 public:
  int32_t Number() const { return number_; }
  const std::string& Description() const { return description_; }

  void Clear();
  // Makes `error` the pending error.
  void Set(const AutomationError& error);

 private:
  int32_t number_ = 0;
  std::string description_;
};

// The calling thread's error state.
ErrObject& Err();

// Records the exception in flight as the pending error. Other exceptions than
// AutomationError are mapped to an automation number (out of memory, or an
// invalid procedure call with the exception's text).
void SetErrFromCurrentException();

// Continue-past-errors: runs one statement. When it fails, the failure becomes
// the pending error and false is returned; the caller goes on either way.
template <class Statement>
bool ResumeNext(Statement&& statement) {
  try {
    std::forward<Statement>(statement)();
    return true;
  } catch (...) {
    SetErrFromCurrentException();
    return false;
  }
}

// Jump-to-handler with resume: each statement run through operator() that
// fails makes its failure the pending error, runs the handler (which reads
// Err()), then clears the error, and execution resumes after the statement.
template <class Handler>
class ErrorHandler {
 public:
  explicit ErrorHandler(Handler handler) : handler_(std::move(handler)) {}

  template <class Statement>
  bool operator()(Statement&& statement) {
    if (ResumeNext(std::forward<Statement>(statement))) return true;
    ResumeNext(handler_);  // a failing handler must not escape either
    Err().Clear();
    return false;
  }

 private:
  Handler handler_;
};

}  // namespace velnor::automation

#endif  // VELNOR_PLATFORM_AUTOMATION_ERROR_STATE_H_
