// Stands in for the automation Collection a host hands the collector with
// its site descriptors: strings numbered from 1 in the order given, read
// through Count, Item and For Each.
#ifndef VELNOR_PLATFORM_AUTOMATION_COLLECTION_H_
#define VELNOR_PLATFORM_AUTOMATION_COLLECTION_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/automation/object.h"

namespace velnor::automation {

class Collection : public Object {
 public:
  Collection() = default;
  explicit Collection(std::vector<std::string> items)
      : items_(std::move(items)) {}

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Item `index` from 1; raises subscript out of range (9) otherwise.
  const std::string& Item(int32_t index) const;

  // For Each: enumeration in order.
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<std::string> items_;
};

}  // namespace velnor::automation

#endif  // VELNOR_PLATFORM_AUTOMATION_COLLECTION_H_
