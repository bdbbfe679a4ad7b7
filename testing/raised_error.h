// The automation error a statement raises, for tests that check its number
// and description.
#ifndef VELNOR_TESTING_RAISED_ERROR_H_
#define VELNOR_TESTING_RAISED_ERROR_H_

#include <gtest/gtest.h>

#include "platform/automation/error_state.h"

namespace velnor::testing {

// The error `statement` raises; a test failure, and error 0 with an empty
// description, when it raises none.
template <class Statement>
automation::AutomationError ErrorOf(Statement&& statement) {
  try {
    statement();
  } catch (const automation::AutomationError& error) {
    return error;
  }
  ADD_FAILURE() << "no error raised";
  return automation::AutomationError(0, "");
}

}  // namespace velnor::testing

#endif  // VELNOR_TESTING_RAISED_ERROR_H_
