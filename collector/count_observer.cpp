// The count observer of each thread. A run looks it up once when it starts,
// so the record loop pays one test of a member per record.
#include "collector/count_observer.h"

namespace velnor {
namespace {

thread_local CountObserver* tl_count_observer = nullptr;

}  // namespace

void SetCountObserver(CountObserver* observer) { tl_count_observer = observer; }

CountObserver* CurrentCountObserver() { return tl_count_observer; }

}  // namespace velnor
