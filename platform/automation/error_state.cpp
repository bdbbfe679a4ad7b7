// Error numbers, the per-thread error state and the mapping of C++
// exceptions onto automation errors.
#include "platform/automation/error_state.h"

namespace velnor::automation {

std::string DescriptionOf(int32_t number) {
  switch (number) {
    case 0:
      return "";
    case kErrInvalidProcedureCall:
      return "Invalid procedure call or argument";
    case kErrOverflow:
      return "Overflow";
    case kErrOutOfMemory:
      return "Out of memory";
    case kErrSubscriptOutOfRange:
      return "Subscript out of range";
    case kErrDivisionByZero:
      return "Division by zero";
    case kErrTypeMismatch:
      return "Type mismatch";
    case 52:
      return "Bad file name or number";
    case kErrFileNotFound:
      return "File not found";
    case 57:
      return "Device I/O error";
    case kErrPermissionDenied:
      return "Permission denied";
    case 75:
      return "Path/File access error";
    case kErrPathNotFound:
      return "Path not found";
    case kErrObjectNotSet:
      return "Object variable or With block variable not set";
    case kErrInvalidUseOfNull:
      return "Invalid use of Null";
    case kErrInvalidPropertyValue:
      return "Invalid property value";
    case 424:
      return "Object required";
    case kErrCantCreateObject:
      return "ActiveX component can't create object";
    case kErrMemberNotSupported:
      return "Object doesn't support this property or method";
    default:
      return "Application-defined or object-defined error";
  }
}

AutomationError::AutomationError(int32_t number, const std::string& description)
    : std::runtime_error(description.empty() ? DescriptionOf(number)
                                             : description),
      number_(number),
      description_(what()) {}

void Raise(int32_t number, const std::string& description) {
  throw AutomationError(number, description);
}

void ErrObject::Clear() {
  number_ = 0;
  description_.clear();
}

void ErrObject::Set(const AutomationError& error) {
  number_ = error.number();
  description_ = error.description();
}

// The error object is per thread, as the platform's is: a failure on one
// thread never shows in another's Err().
ErrObject& Err() {
  thread_local ErrObject err;
  return err;
}

void SetErrFromCurrentException() {
  try {
    throw;
  } catch (const AutomationError& e) {
    Err().Set(e);
  } catch (const std::bad_alloc&) {
    Err().Set(AutomationError(kErrOutOfMemory, ""));
  } catch (const std::exception& e) {
    Err().Set(AutomationError(kErrInvalidProcedureCall, e.what()));
  } catch (...) {
    Err().Set(AutomationError(kErrInvalidProcedureCall, ""));
  }
}

}  // namespace velnor::automation
