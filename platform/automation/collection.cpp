// Collection item access.
#include "platform/automation/collection.h"

namespace velnor::automation {

const std::string& Collection::Item(int32_t index) const {
  if (index < 1 || index > Count()) Raise(kErrSubscriptOutOfRange);
  return items_[static_cast<size_t>(index - 1)];
}

}  // namespace velnor::automation
