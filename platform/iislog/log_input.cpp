// Read-ahead, plain and gzip log input. The first bytes of the file are
// read before the decision plain/gzip is made; both readers start by
// handing out (or inflating) those bytes, so nothing is read twice.
#include "platform/iislog/log_input.h"

#include <signal.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/automation/error_state.h"
#include "platform/automation/huge_pages.h"
#include "platform/interrupt/interrupt.h"

namespace velnor::iislog {
namespace {

constexpr size_t kChunkBytes = size_t{64} * 1024;
// Automation's "Device I/O error": the bytes are there but cannot be decoded.
constexpr int32_t kErrDeviceIo = 57;

bool HasGzipName(std::string_view path) {
  if (path.size() < 3) return false;
  std::string_view ext = path.substr(path.size() - 3);
  return ext[0] == '.' && (ext[1] | 0x20) == 'g' && (ext[2] | 0x20) == 'z';
}

bool HasGzipMagic(const std::vector<char>& head) {
  return head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0x1f &&
         static_cast<unsigned char>(head[1]) == 0x8b;
}

// The rings of the files a run reads, kept for the next files: a run reads
// at most a file per worker at once, and the workers are few. Made on first
// use and never destroyed, so that no ring outlives it at exit.
automation::HugePagePool& Rings() {
  static auto* rings = new automation::HugePagePool(kReadAheadBytes, 4);
  return *rings;
}

constexpr char kWaitNote[] =
    "velnor: stopped while waiting for a log file's bytes that do not come; "
    "nothing of this run was stored\n";

// Blocks SIGINT, SIGTERM and SIGALRM in the calling thread while it lives;
// threads started meanwhile inherit the mask and keep it.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGALRM}) sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, &before_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t before_;
};

// The ring between the reading thread and the caller. Positions count the
// file's bytes from its start and only grow; byte p lies at ring_[p %
// size]. Invariant: taken_ <= read_ <= taken_ + kReadAheadBytes. The thread
// writes only the ring's bytes at and after read_ and before taken_ +
// kReadAheadBytes, the caller reads only those from taken_ to read_; both
// bounds are published under mutex_, so the two never touch one byte at
// once.
//
// The thread's reads are not abandoned on an interrupt one by one: the
// caller's waits for them are (kWaitNote), so that a read in progress when
// the run is stopped has its second to return from the moment the caller
// waits for it.
class BackgroundInput : public unc::InputFile {
 public:
  explicit BackgroundInput(std::unique_ptr<unc::InputFile> file)
      : file_(std::move(file)), ring_(Rings().Take()) {
    // The thread starts with the signals blocked, so that none meant for
    // the threads that run the work lands on it before it could block them.
    SignalsBlocked blocked;
    thread_ = std::thread([this] { ReadAll(); });
  }

  ~BackgroundInput() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    room_.notify_one();
    interrupt::AbandonScope abandon(kWaitNote);
    thread_.join();
  }
  BackgroundInput(const BackgroundInput&) = delete;
  BackgroundInput& operator=(const BackgroundInput&) = delete;

  size_t Read(char* buffer, size_t size) override {
    if (size == 0) return 0;
    std::unique_lock lock(mutex_);
    if (read_ == taken_ && !ended_) {
      interrupt::AbandonScope abandon(kWaitNote);
      bytes_.wait(lock, [this] { return read_ > taken_ || ended_; });
    }
    if (read_ == taken_) {
      if (failure_) std::rethrow_exception(failure_);
      return 0;
    }
    const size_t at = taken_ % kReadAheadBytes;
    const size_t n = std::min(
        {size, static_cast<size_t>(read_ - taken_), kReadAheadBytes - at});
    std::memcpy(buffer, ring_.data() + at, n);
    taken_ += n;
    lock.unlock();
    room_.notify_one();
    return n;
  }

 private:
  // The thread: fills the ring until the file ends, a read fails or the
  // destructor asks it to stop.
  void ReadAll() {
    interrupt::WaitedOnScope waited_on;
    for (;;) {
      size_t at, room;
      {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [this] {
          return stopping_ || read_ - taken_ < kReadAheadBytes;
        });
        if (stopping_) return;
        at = read_ % kReadAheadBytes;
        room =
            std::min({kReadAheadFillBytes, kReadAheadBytes - at,
                      static_cast<size_t>(taken_ + kReadAheadBytes - read_)});
      }
      size_t n = 0;
      std::exception_ptr failure;
      try {
        n = file_->Read(ring_.data() + at, room);
      } catch (...) {
        failure = std::current_exception();
      }
      {
        std::lock_guard lock(mutex_);
        read_ += n;
        ended_ = n == 0;
        failure_ = failure;
      }
      bytes_.notify_one();
      if (n == 0) return;
    }
  }

  std::unique_ptr<unc::InputFile> file_;
  automation::HugePagePool::Lease ring_;
  std::mutex mutex_;
  std::condition_variable bytes_;  // read_ grew or ended_ was set
  std::condition_variable room_;   // taken_ grew or stopping_ was set
  uint64_t read_ = 0;              // guarded by mutex_, as the four below
  uint64_t taken_ = 0;
  bool ended_ = false;  // the file ended or failed: read_ grows no more
  std::exception_ptr failure_;
  bool stopping_ = false;
  std::thread thread_;  // started once every other member is made
};

// Plain text: the bytes read ahead, then the rest of the file, or the
// failure that ended the reading ahead (raised at every read past them).
class PlainInput : public unc::InputFile {
 public:
  PlainInput(std::unique_ptr<unc::InputFile> file, std::vector<char> head,
             std::exception_ptr failure = nullptr)
      : file_(std::move(file)),
        head_(std::move(head)),
        // A failure kept to raise at the reads past the head, not thrown
        // here.
        // NOLINTNEXTLINE(bugprone-throw-keyword-missing)
        failure_(std::move(failure)) {}

  size_t Read(char* buffer, size_t size) override {
    if (offset_ < head_.size()) {
      size_t n = std::min(size, head_.size() - offset_);
      std::memcpy(buffer, head_.data() + offset_, n);
      offset_ += n;
      return n;
    }
    if (failure_) std::rethrow_exception(failure_);
    return file_->Read(buffer, size);
  }

 private:
  std::unique_ptr<unc::InputFile> file_;
  std::vector<char> head_;
  std::exception_ptr failure_;
  size_t offset_ = 0;
};

// gzip: inflates member after member. Invariant: stream_.next_in and
// avail_in describe the unconsumed part of in_.
class GzipInput : public unc::InputFile {
 public:
  GzipInput(std::unique_ptr<unc::InputFile> file, std::string path,
            std::vector<char> head)
      : file_(std::move(file)), path_(std::move(path)), in_(std::move(head)) {
    size_t head_bytes = in_.size();
    in_.resize(kChunkBytes);
    stream_.next_in = reinterpret_cast<Bytef*>(in_.data());
    stream_.avail_in = static_cast<uInt>(head_bytes);
    // 15 + 16: a gzip wrapper around the largest deflate window.
    if (inflateInit2(&stream_, 15 + 16) != Z_OK) {
      automation::Raise(automation::kErrOutOfMemory,
                        "Cannot start decompressing " + path_ +
                            ": zlib could not be initialised.");
    }
  }
  ~GzipInput() override { inflateEnd(&stream_); }
  GzipInput(const GzipInput&) = delete;
  GzipInput& operator=(const GzipInput&) = delete;

  // The text inflated before a failure, even in the call that finds it
  // (zlib checks a member's CRC after its last text), is handed out first:
  // the failure is raised at the next call, and every later one.
  size_t Read(char* buffer, size_t size) override {
    if (!failure_.empty()) Fail(failure_);
    size = std::min<size_t>(size, 1u << 30);
    if (size == 0) return 0;
    stream_.next_out = reinterpret_cast<Bytef*>(buffer);
    stream_.avail_out = static_cast<uInt>(size);
    // Loop until some text comes out: a gzip header alone yields none.
    while (stream_.avail_out == size && failure_.empty()) {
      if (stream_.avail_in == 0 && !FillInput()) {
        if (!in_member_) break;
        failure_ =
            "it ends in the middle of its compressed data (truncated copy?)";
        break;
      }
      if (!in_member_) {
        inflateReset(&stream_);
        in_member_ = true;
      }
      int rc = inflate(&stream_, Z_NO_FLUSH);
      if (rc == Z_STREAM_END) {
        in_member_ = false;
        ++members_;
      } else if (rc != Z_OK) {
        // Input and output space were both available, so anything but
        // progress (Z_BUF_ERROR included) means the data is bad.
        failure_ = std::string("its compressed data is corrupt (zlib: ") +
                   (stream_.msg != nullptr ? stream_.msg : "error") + ")";
        // Bytes after a whole member that start no member of their own
        // (padding, junk) damage no text: the text before them was checked
        // by its member's CRC.
        corrupt_ = members_ == 0 || stream_.total_out > 0;
      }
    }
    const size_t produced = size - stream_.avail_out;
    if (produced == 0 && !failure_.empty()) Fail(failure_);
    return produced;
  }

  // Inflates the rest without keeping the text, until the data ends or an
  // interrupt asks the run to stop: why the compressed data is corrupt, or
  // nothing when it is sound as far as it goes (a copy cut short included,
  // whose text up to the cut is the log's own).
  std::optional<std::string> Corruption() {
    std::vector<char> text(kReadAheadFillBytes);
    while (!interrupt::Interrupted()) {
      try {
        if (Read(text.data(), text.size()) == 0) break;
      } catch (const automation::AutomationError&) {
        if (!corrupt_) break;
        return failure_;
      }
    }
    return std::nullopt;
  }

 private:
  bool FillInput() {
    size_t n = file_->Read(in_.data(), in_.size());
    stream_.next_in = reinterpret_cast<Bytef*>(in_.data());
    stream_.avail_in = static_cast<uInt>(n);
    return n > 0;
  }

  [[noreturn]] void Fail(const std::string& reason) {
    automation::Raise(kErrDeviceIo,
                      "Cannot read the gzip log file " + path_ + ": " + reason +
                          ". The records before this point were read; "
                          "replace the file with an intact copy to read the "
                          "rest.");
  }

  std::unique_ptr<unc::InputFile> file_;
  std::string path_;
  std::vector<char> in_;
  z_stream stream_{};
  // False between members and before the first: an end of input there is
  // a clean end (an empty file holds no members at all).
  bool in_member_ = false;
  // Why the data cannot be inflated further, once it is known.
  std::string failure_;
  // The failure is bad data inside a member, not an end of input inside
  // one, nor bytes after the last.
  bool corrupt_ = false;
  int64_t members_ = 0;  // inflated whole
};

// UTF-16 text behind its byte-order mark, handed out as UTF-8. IIS writes
// its logs as bytes (ASCII, or UTF-8); a log saved again by a Windows tool
// (Notepad's "Unicode", PowerShell 5's Out-File and its > redirection) is
// UTF-16, and read as bytes every line of it would be garbled. A code unit
// that pairs with no other is U+FFFD.
class Utf16Input : public unc::InputFile {
 public:
  Utf16Input(std::unique_ptr<unc::InputFile> file, bool big_endian)
      : file_(std::move(file)), big_endian_(big_endian), in_(kChunkBytes) {}

  size_t Read(char* buffer, size_t size) override {
    if (size == 0) return 0;
    while (taken_ == out_.size()) {
      if (!Refill()) return 0;
    }
    const size_t n = std::min(size, out_.size() - taken_);
    std::memcpy(buffer, out_.data() + taken_, n);
    taken_ += n;
    return n;
  }

 private:
  static constexpr char32_t kReplacement = 0xFFFD;

  // Converts the next bytes of the file into out_; false at its end when
  // nothing is left to hand out.
  bool Refill() {
    out_.clear();
    taken_ = 0;
    const size_t n = file_->Read(in_.data() + carry_, in_.size() - carry_);
    // An odd last byte or a high surrogate at the end is a character the
    // writer of a growing log has not finished: handed out as U+FFFD, it
    // would end a line that is still being written.
    if (n == 0) return false;
    const size_t have = carry_ + n;
    size_t i = 0;
    for (; i + 1 < have; i += 2) {
      const auto first = static_cast<unsigned char>(in_[i]);
      const auto second = static_cast<unsigned char>(in_[i + 1]);
      Take(big_endian_ ? first << 8 | second : second << 8 | first);
    }
    carry_ = have - i;
    if (carry_ > 0) in_[0] = in_[i];
    return true;
  }

  void Take(char32_t unit) {
    const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (high_ != 0) {
      const char32_t high = high_;
      high_ = 0;
      if (low) {
        Put(0x10000 + ((high - 0xD800) << 10) + (unit - 0xDC00));
        return;
      }
      Put(kReplacement);
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      high_ = unit;
    } else {
      Put(low ? kReplacement : unit);
    }
  }

  void Put(char32_t c) {
    if (c < 0x80) {
      out_ += static_cast<char>(c);
    } else if (c < 0x800) {
      out_ += static_cast<char>(0xC0 | c >> 6);
      out_ += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out_ += static_cast<char>(0xE0 | c >> 12);
      out_ += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out_ += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out_ += static_cast<char>(0xF0 | c >> 18);
      out_ += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out_ += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out_ += static_cast<char>(0x80 | (c & 0x3F));
    }
  }

  std::unique_ptr<unc::InputFile> file_;
  bool big_endian_;
  std::vector<char> in_;
  size_t carry_ = 0;   // an odd byte of in_ kept for the next read, at in_[0]
  char32_t high_ = 0;  // a high surrogate waiting for its low one
  std::string out_;    // converted, handed out from taken_ on
  size_t taken_ = 0;
};

// The UTF-16 byte-order mark `head` starts with: big-endian or not.
std::optional<bool> Utf16Mark(const std::vector<char>& head) {
  if (head.size() < 2) return std::nullopt;
  const auto first = static_cast<unsigned char>(head[0]);
  const auto second = static_cast<unsigned char>(head[1]);
  if (first == 0xFF && second == 0xFE) return false;
  if (first == 0xFE && second == 0xFF) return true;
  return std::nullopt;
}

// Up to `limit` bytes of `file`, fewer only at its end or, with `failure`,
// before a failure, which is kept there instead of raised.
std::vector<char> ReadUpTo(unc::InputFile& file, size_t limit,
                           std::exception_ptr* failure = nullptr) {
  std::vector<char> head(limit);
  size_t have = 0;
  try {
    while (have < head.size()) {
      size_t n = file.Read(head.data() + have, head.size() - have);
      if (n == 0) break;
      have += n;
    }
  } catch (...) {
    if (failure == nullptr) throw;
    *failure = std::current_exception();
  }
  head.resize(have);
  return head;
}

}  // namespace

std::unique_ptr<unc::InputFile> ReadInBackground(
    std::unique_ptr<unc::InputFile> file) {
  return std::make_unique<BackgroundInput>(std::move(file));
}

std::unique_ptr<unc::InputFile> DecodeLogInput(
    std::unique_ptr<unc::InputFile> file, std::string_view path) {
  std::vector<char> head = ReadUpTo(*file, 2);
  if (!HasGzipName(path) && !HasGzipMagic(head)) {
    if (std::optional<bool> big_endian = Utf16Mark(head)) {
      // The mark is read: the text starts after it.
      return std::make_unique<Utf16Input>(
          std::make_unique<PlainInput>(std::move(file), std::vector<char>{}),
          *big_endian);
    }
    return std::make_unique<PlainInput>(std::move(file), std::move(head));
  }
  // A UTF-16 log archived with gzip: its mark is the start of the inflated
  // text. A failure to inflate that far is raised at the first read, as
  // the gzip reader raises it.
  auto gzip = std::make_unique<GzipInput>(std::move(file), std::string(path),
                                          std::move(head));
  std::exception_ptr failure;
  std::vector<char> start = ReadUpTo(*gzip, 2, &failure);
  if (std::optional<bool> big_endian = Utf16Mark(start)) {
    return std::make_unique<Utf16Input>(std::move(gzip), *big_endian);
  }
  return std::make_unique<PlainInput>(std::move(gzip), std::move(start),
                                      std::move(failure));
}

std::unique_ptr<unc::InputFile> CheckGzipData(
    std::unique_ptr<unc::InputFile> file, std::string_view path,
    const std::function<std::unique_ptr<unc::InputFile>()>& reopen) {
  if (!HasGzipName(path)) return file;
  // Read ahead, as the records' reading is: a read that never returns is
  // waited for where an interrupt can end the wait.
  std::optional<std::string> corruption =
      GzipInput(ReadInBackground(std::move(file)), std::string(path), {})
          .Corruption();
  if (corruption) {
    automation::Raise(kErrDeviceIo,
                      "Cannot read the gzip log file " + std::string(path) +
                          ": " + *corruption +
                          ". None of its records were read, since text "
                          "inflated from damaged data may be damaged too; "
                          "replace the file with an intact copy.");
  }
  return reopen();
}

std::unique_ptr<unc::InputFile> ReadAhead(std::unique_ptr<unc::InputFile> input,
                                          size_t limit, std::string& head) {
  std::exception_ptr failure;
  std::vector<char> bytes = ReadUpTo(*input, limit, &failure);
  head.assign(bytes.begin(), bytes.end());
  return std::make_unique<PlainInput>(std::move(input), std::move(bytes),
                                      std::move(failure));
}

}  // namespace velnor::iislog
