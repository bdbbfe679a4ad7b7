// The class registry: a process-wide table from ProgID to factory. Classes
// register themselves from their own translation units' registration
// functions (see component/), never from static initialisers, so the order
// of start-up does not matter.
#include "platform/automation/object.h"

#include <map>
#include <mutex>

namespace velnor::automation {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, Factory, std::less<>> factories;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void Object::CallMethod(std::string_view) { Raise(kErrMemberNotSupported); }

Factory RegisterClass(std::string prog_id, Factory factory) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  Factory& slot = registry.factories[std::move(prog_id)];
  Factory old = std::move(slot);
  slot = std::move(factory);
  return old;
}

ObjectRef CreateObject(std::string_view prog_id) {
  Factory factory;
  {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto it = registry.factories.find(prog_id);
    if (it != registry.factories.end()) factory = it->second;
  }
  ObjectRef object = factory ? factory() : nullptr;
  if (!object) Raise(kErrCantCreateObject);
  return object;
}

void CallByName(const ObjectRef& object, std::string_view name) {
  if (!object) Raise(kErrObjectNotSet);
  object->CallMethod(name);
}

}  // namespace velnor::automation
