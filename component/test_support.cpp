// The whole-run fixture.
#include "component/test_support.h"

#include "platform/forms/forms.h"
#include "platform/forms/streaming_grid.h"
#include "reportdb/schema.h"

namespace velnor::testing {

std::string WebLog(const std::vector<LogRecord>& records) {
  std::string text =
      "#Software: Microsoft Internet Information Services 6.0\r\n"
      "#Version: 1.0\r\n"
      "#Date: 2024-06-01 00:00:00\r\n"
      "#Fields: date time s-ip cs-method cs-uri-stem cs-uri-query s-port "
      "cs-username c-ip cs(User-Agent) sc-status sc-substatus "
      "sc-win32-status\r\n";
  for (const LogRecord& r : records) {
    text += r.date + " " + r.time + " 10.0.0.2 " + r.method + " " + r.url +
            " - 80 - " + r.client_ip + " Mozilla/5.0 " +
            std::to_string(r.status) + " 0 0\r\n";
  }
  return text;
}

namespace {

class ListingWriter : public forms::GridWriter {
 public:
  explicit ListingWriter(Listing& listing) : listing_(listing) {}
  void Row(const std::vector<std::string>& cells) override {
    listing_.rows.push_back(cells);
  }
  void End(const forms::GridLayout& layout) override {
    listing_.layout = layout;
    listing_.ended = true;
  }

 private:
  Listing& listing_;
};

}  // namespace

std::shared_ptr<forms::StreamingGrid> ListingGrid(float width,
                                                  Listing& listing) {
  return std::make_shared<forms::StreamingGrid>(
      width, std::make_unique<ListingWriter>(listing));
}

void RunFixture::SetUp() {
  std::filesystem::create_directories(share_root_);
  std::filesystem::create_directories(db_dir_);
}

RunSettings RunFixture::Settings() const {
  RunSettings settings;
  settings.progress_window = forms::BackendPreference::kHeadless;
  settings.shares.share_root = share_root_.string();
  return settings;
}

void RunFixture::MakeDatabases(bool ftp) {
  reportdb::CreateReportDatabases(db_dir_.string(), "SRV1", ftp);
}

}  // namespace velnor::testing
