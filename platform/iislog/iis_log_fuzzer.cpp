// libFuzzer target: any bytes, read as a log file, must neither crash, hang
// nor grow the reader without bound. The first byte picks the size of the
// pieces the input arrives in (so lines straddle buffer refills) and whether
// the file is named ".gz"; the rest is the file. Every property of every
// record is fetched; failures may only come as AutomationError and must end
// the reading loop.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "platform/automation/error_state.h"
#include "platform/iislog/iis_log.h"

namespace {

using velnor::iislog::IISLog;

class MemoryInput : public velnor::unc::InputFile {
 public:
  MemoryInput(const uint8_t* data, size_t size, size_t piece)
      : data_(data), size_(size), piece_(piece) {}
  size_t Read(char* buffer, size_t size) override {
    size_t n = std::min({size, size_ - offset_, piece_});
    std::memcpy(buffer, data_ + offset_, n);
    offset_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t piece_;
  size_t offset_ = 0;
};

void FetchAll(const IISLog& log) {
  const auto values = {log.DateTime(), log.ClientIp(), log.Method(),
                       log.URIStem(), log.ProtocolStatus()};
  if (log.AtEndOfLog()) {
    for (const auto& value : values) {
      if (!value.IsNull()) __builtin_trap();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = (data[0] & 0x7f) + 1;
  const std::string path = (data[0] & 0x80) ? "fuzz.log.gz" : "fuzz.log";
  IISLog log;
  velnor::automation::ResumeNext([&] {
    log.OpenInput(std::make_unique<MemoryInput>(data + 1, size - 1, piece),
                  path);
    // A line per record at least: more reads than bytes means a loop that
    // does not end.
    for (size_t reads = 0;; ++reads) {
      if (reads > size + 1) __builtin_trap();
      log.ReadLogRecord();
      FetchAll(log);
      if (log.AtEndOfLog()) break;
    }
  });
  if (!log.AtEndOfLog()) __builtin_trap();
  log.ReadLogRecord();
  if (!log.AtEndOfLog()) __builtin_trap();
  return 0;
}
