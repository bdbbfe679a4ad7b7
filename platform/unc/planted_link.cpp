// The check of a second name another user may have given a file.
#include "platform/unc/planted_link.h"

#include <unistd.h>

#include <filesystem>

namespace velnor::unc {

bool IsPlantedHardLink(const struct stat& file, const std::string& path) {
  if (file.st_nlink <= 1) return false;
  if (file.st_uid != ::geteuid()) return true;
  std::error_code error;
  const std::filesystem::path folder =
      std::filesystem::absolute(path, error).parent_path();
  struct stat in {};
  return error || ::stat(folder.c_str(), &in) != 0 ||
         in.st_uid != ::geteuid() || (in.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

}  // namespace velnor::unc
