// Libraries loaded on first use: dlopen and dlsym, with their faults
// turned into LoadError.
#include "platform/dynlib/dynamic_library.h"

#include <dlfcn.h>

#include <utility>

namespace velnor::dynlib {

LoadError::LoadError(const std::string& reason, std::string missing)
    : std::runtime_error(reason), missing_(std::move(missing)) {}

Library::Library(const char* file)
    : file_(file), handle_(::dlopen(file, RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr) throw LoadError(::dlerror(), "");
}

void* Library::Address(const char* name) const {
  void* address = OptionalAddress(name);
  if (address == nullptr) {
    throw LoadError(std::string(file_) + " lacks " + name, name);
  }
  return address;
}

void* Library::OptionalAddress(const char* name) const {
  return ::dlsym(handle_, name);
}

}  // namespace velnor::dynlib
