// Shared libraries loaded when first needed rather than linked, so that a
// run that never uses one does not pay for loading it and what it pulls
// in. The callers keep the functions they look up for the rest of the
// process, so a library, once loaded, stays loaded. Each caller words its
// own fault; this file only says what went wrong.
#ifndef VELNOR_PLATFORM_DYNLIB_DYNAMIC_LIBRARY_H_
#define VELNOR_PLATFORM_DYNLIB_DYNAMIC_LIBRARY_H_

#include <stdexcept>
#include <string>

namespace velnor::dynlib {

// A library that cannot be loaded or lacks a function asked for. what() is
// the reason: dlerror()'s for a library that cannot be loaded, "FILE lacks
// NAME" for a missing function.
class LoadError : public std::runtime_error {
 public:
  LoadError(const std::string& reason, std::string missing);

  // The function the library lacks, or "" when the library itself could
  // not be loaded.
  const std::string& missing() const { return missing_; }

 private:
  std::string missing_;
};

// One loaded library, never unloaded: copies share it.
class Library {
 public:
  // Loads `file` (a name dlopen searches for, or a path), binding all of
  // its references now and keeping its symbols out of the names later
  // libraries see (RTLD_NOW | RTLD_LOCAL). Throws LoadError when it
  // cannot. `file` must outlive the object (a literal).
  explicit Library(const char* file);

  // Sets `symbol` (a pointer to a function or variable of the library's)
  // to the library's symbol `name`. Throws LoadError when it has none.
  template <class Symbol>
  void Find(const char* name, Symbol& symbol) const {
    symbol = reinterpret_cast<Symbol>(Address(name));
  }

  // The library's symbol `name` as a `Symbol`, or nullptr when it has none:
  // for a function some builds of the library lack.
  template <class Symbol>
  Symbol FindOptional(const char* name) const {
    return reinterpret_cast<Symbol>(OptionalAddress(name));
  }

 private:
  void* Address(const char* name) const;
  void* OptionalAddress(const char* name) const;

  const char* file_;
  void* handle_;
};

}  // namespace velnor::dynlib

#endif  // VELNOR_PLATFORM_DYNLIB_DYNAMIC_LIBRARY_H_
