// The label lists. The code of a label is the three characters before its
// closing parenthesis, so the lists are the single source of both.
#include "reportdb/status_labels.h"

#include <array>

namespace velnor::reportdb {
namespace {

constexpr std::array<std::string_view, 5> kFtpStatusLabels = {
    "command successful(200)", "Transfer complete(226)",
    "User logged in proceed(230)", "User(331)", "closed(426)"};
constexpr std::array<std::string_view, 8> kWebStatusLabels = {
    "Succeeded (200)",       "Not Modified (304)",
    "Bad Request (400)",     "Unauthorized (401)",
    "Not Found (404)",       "Internal Server Error (500)",
    "Not Implemented (501)", "Bad Gateway (502)"};

constexpr int32_t CodeOfLabel(std::string_view label) {
  std::string_view digits = label.substr(label.size() - 4, 3);
  return (digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0');
}
static_assert(CodeOfLabel(kWebStatusLabels[4]) == 404);
static_assert(CodeOfLabel(kFtpStatusLabels[1]) == 226);

template <std::size_t N>
StatusLabel Find(const std::array<std::string_view, N>& labels,
                 int32_t status) {
  for (std::size_t i = 0; i < N; ++i) {
    if (CodeOfLabel(labels[i]) == status) {
      return {labels[i], static_cast<int32_t>(i)};
    }
  }
  return {kOtherStatusLabel, kOtherStatusSort};
}

}  // namespace

StatusLabel StatusLabelOf(std::string_view site_column, int32_t status) {
  if (site_column == "FTP Site Name") return Find(kFtpStatusLabels, status);
  if (site_column == "Web Site Name") return Find(kWebStatusLabels, status);
  return {kOtherStatusLabel, kOtherStatusSort};
}

}  // namespace velnor::reportdb
