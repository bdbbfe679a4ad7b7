// Automation objects: the shared, reference-counted handle every outside
// object is reached through, creation of a class by its registered name
// (ProgID), and the one late-bound call the component makes: a method with
// no arguments, named at run time.
#ifndef VELNOR_PLATFORM_AUTOMATION_OBJECT_H_
#define VELNOR_PLATFORM_AUTOMATION_OBJECT_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/automation/error_state.h"
#include "platform/automation/variant.h"

namespace velnor::automation {

class Object {
 public:
  virtual ~Object() = default;

  // Calls the method `name` with no arguments. The default knows no method
  // and raises "Object doesn't support this property or method" (438).
  virtual void CallMethod(std::string_view name);
};

// Creates a new object of the class registered as `prog_id`. The factory
// returned is called on every creation; a null result raises 429.
using Factory = std::function<ObjectRef()>;

// Registers (or replaces, for a test) the factory of a class. Returns the
// factory it replaced, empty if none.
Factory RegisterClass(std::string prog_id, Factory factory);

// CreateObject(prog_id): raises "ActiveX component can't create object"
// (429) when no class of that name is registered or its factory fails.
ObjectRef CreateObject(std::string_view prog_id);

// CreateObject with the result cast to T; a class of another type raises
// type mismatch (13).
template <class T>
std::shared_ptr<T> CreateObjectAs(std::string_view prog_id) {
  auto typed = std::dynamic_pointer_cast<T>(CreateObject(prog_id));
  if (!typed) Raise(kErrTypeMismatch);
  return typed;
}

// CallByName(object, name) with no arguments; an unset reference raises 91.
void CallByName(const ObjectRef& object, std::string_view name);

}  // namespace velnor::automation

#endif  // VELNOR_PLATFORM_AUTOMATION_OBJECT_H_
