// Folder aliases: a UNC folder read from another one. The table is small
// (one entry per folder a run redirects) and looked up on every open and
// listing, so it is a plain vector searched in order.
#include "platform/automation/error_state.h"
#include "platform/automation/text.h"
#include "platform/unc/unc.h"

namespace velnor::unc {
namespace {

using automation::EqualsIgnoringAsciiCase;

// True when `path` is `folder` or lies below it.
bool IsBelow(const UncPath& path, const UncPath& folder) {
  if (!EqualsIgnoringAsciiCase(path.server, folder.server) ||
      !EqualsIgnoringAsciiCase(path.share, folder.share) ||
      path.rest.size() < folder.rest.size()) {
    return false;
  }
  for (size_t i = 0; i < folder.rest.size(); ++i) {
    if (!EqualsIgnoringAsciiCase(path.rest[i], folder.rest[i])) return false;
  }
  return true;
}

UncPath ParseOrRaise(std::string_view path) {
  auto unc = ParseUncPath(path);
  if (!unc) {
    automation::Raise(automation::kErrInvalidProcedureCall,
                      "Invalid procedure call: the folder alias " +
                          std::string(path) +
                          " names no share. Give \\\\SERVER\\SHARE\\path.");
  }
  return *unc;
}

std::string Join(const UncPath& unc) {
  std::string path = "\\\\" + unc.server + "\\" + unc.share;
  for (const std::string& component : unc.rest) path += "\\" + component;
  return path;
}

}  // namespace

void FolderAliases::Add(std::string_view from, std::string_view to) {
  Alias alias{ParseOrRaise(from), ParseOrRaise(to)};
  std::erase_if(aliases_, [&](const Alias& entry) {
    return IsBelow(entry.from, alias.from) && IsBelow(alias.from, entry.from);
  });
  aliases_.push_back(std::move(alias));
}

std::string FolderAliases::Apply(std::string_view path) const {
  if (aliases_.empty()) return std::string(path);
  auto unc = ParseUncPath(path);
  if (!unc) return std::string(path);
  for (const Alias& alias : aliases_) {
    if (!IsBelow(*unc, alias.from)) continue;
    UncPath target = alias.to;
    target.rest.insert(
        target.rest.end(),
        unc->rest.begin() + static_cast<std::ptrdiff_t>(alias.from.rest.size()),
        unc->rest.end());
    return Join(target);
  }
  return std::string(path);
}

}  // namespace velnor::unc
