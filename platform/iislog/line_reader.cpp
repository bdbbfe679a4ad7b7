// Line splitting. The buffer starts at one read chunk and grows only while
// a single line does not fit, up to kMaxLineBytes plus one chunk.
#include "platform/iislog/line_reader.h"

#include <algorithm>
#include <cstring>

namespace velnor::iislog {
namespace {

constexpr size_t kChunkBytes = size_t{64} * 1024;
constexpr char kEndOfFileMark = '\x1a';

}  // namespace

LineReader::LineReader(std::unique_ptr<unc::InputFile> input)
    : input_(std::move(input)), buffer_(kChunkBytes) {}

LineReader::Status LineReader::Next(std::span<char>* line) {
  size_t scan = begin_;
  for (;;) {
    SkipLeadingNul(&scan);
    const void* found = std::memchr(buffer_.data() + scan, '\n', end_ - scan);
    if (found != nullptr) {
      size_t newline = static_cast<const char*>(found) - buffer_.data();
      size_t begin = begin_;
      begin_ = newline + 1;
      nul_run_start_ = -1;
      ++line_number_;
      // A read may bring a long line's end along with its start, past the
      // check below: the limit holds for every line however it came in.
      if (newline - begin > kMaxLineBytes) return Status::kTooLong;
      *line = Finish(begin, newline);
      return Status::kLine;
    }
    scan = end_;
    if (end_ - begin_ > kMaxLineBytes) {
      nul_run_start_ = -1;
      SkipRestOfLine();
      ++line_number_;
      return Status::kTooLong;
    }
    if (at_end_) {
      // The end-of-file mark (Ctrl+Z) that copy writes after files it joins
      // as text ends the text: no line, neither cut off nor garbled.
      if (end_ - begin_ == 1 && buffer_[begin_] == kEndOfFileMark) {
        begin_ = end_;
      }
      if (begin_ == end_ || (hold_back_ && !RestEndsLinesInCr())) {
        return Status::kEnd;
      }
      nul_run_start_ = -1;
      ++line_number_;
      size_t begin = begin_;
      begin_ = end_;
      *line = Finish(begin, end_);
      return Status::kLine;
    }
    Fill(&scan);
  }
}

// The NUL bytes a stopped server left of the room it had set aside come
// before the first line it writes after them when it starts again, or end
// the input. They are dropped as they come in, whatever their number: kept,
// a run of them longer than kMaxLineBytes would be taken for an over-long
// line, and the record written after it lost with it.
void LineReader::SkipLeadingNul(size_t* scan) {
  if (begin_ == end_ || buffer_[begin_] != '\0') return;
  if (nul_run_start_ < 0) {
    nul_run_start_ = buffer_offset_ + static_cast<int64_t>(begin_);
  }
  while (begin_ < end_ && buffer_[begin_] == '\0') ++begin_;
  *scan = std::max(*scan, begin_);
}

void LineReader::Fill(size_t* scan) {
  if (buffer_.size() - end_ < kChunkBytes) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    buffer_offset_ += static_cast<int64_t>(begin_);
    *scan -= begin_;
    end_ -= begin_;
    begin_ = 0;
    if (buffer_.size() - end_ < kChunkBytes) {
      buffer_.resize(std::max(buffer_.size() * 2, end_ + kChunkBytes));
    }
  }
  size_t n = input_->Read(buffer_.data() + end_, buffer_.size() - end_);
  if (n == 0) at_end_ = true;
  end_ += n;
}

void LineReader::SkipRestOfLine() {
  for (;;) {
    const void* found =
        std::memchr(buffer_.data() + begin_, '\n', end_ - begin_);
    if (found != nullptr) {
      begin_ = static_cast<const char*>(found) - buffer_.data() + 1;
      return;
    }
    buffer_offset_ += static_cast<int64_t>(end_);
    begin_ = end_ = 0;
    if (at_end_) return;
    size_t n = input_->Read(buffer_.data(), buffer_.size());
    if (n == 0) at_end_ = true;
    end_ = n;
  }
}

// A line still being written in CR LF may end in its CR (or in CR CR) for
// now; a CR with text after it ends a line of a file whose lines end in CR
// alone, which held back would be left for ever without a word.
bool LineReader::RestEndsLinesInCr() const {
  const char* rest = buffer_.data() + begin_;
  const char* end = buffer_.data() + end_;
  const void* cr = std::memchr(rest, '\r', end - rest);
  if (cr == nullptr) return false;
  return std::find_if(static_cast<const char*>(cr), end,
                      [](char c) { return c != '\r'; }) != end;
}

std::span<char> LineReader::Finish(size_t begin, size_t end) {
  // A CR LF file that went through a text-mode copy ends its lines in
  // CR CR LF: every CR before the LF belongs to the line end, or the last
  // value (a status, the last name of #Fields) would carry one.
  while (end > begin && buffer_[end - 1] == '\r') --end;
  // A UTF-8 byte-order mark opens a log an editor saved, and every log of
  // a file made by joining such logs (cat, copy /b): one before a directive
  // would hide a #Fields change, and the records after it would be read by
  // the layout before.
  if (end - begin >= 3 &&
      std::memcmp(buffer_.data() + begin, "\xEF\xBB\xBF", 3) == 0) {
    begin += 3;
  }
  return {buffer_.data() + begin, end - begin};
}

}  // namespace velnor::iislog
