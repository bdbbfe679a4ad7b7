// Splits a byte stream into lines through one reusable buffer, so memory
// stays flat however large the file is.
#ifndef VELNOR_PLATFORM_IISLOG_LINE_READER_H_
#define VELNOR_PLATFORM_IISLOG_LINE_READER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/unc/unc.h"

namespace velnor::iislog {

class LineReader {
 public:
  // Longer lines are not kept: they are passed over and reported as
  // kTooLong, which bounds the buffer for any input.
  static constexpr size_t kMaxLineBytes = size_t{4} << 20;

  enum class Status { kLine, kTooLong, kEnd };

  // Takes ownership of `input`.
  explicit LineReader(std::unique_ptr<unc::InputFile> input);

  // With `hold_back`, a last line without its line end is taken as still
  // being written: Next ends before it instead of handing it out, and
  // Offset stays at its start, so that a later reading of the grown file
  // gets it whole. Not so a rest that holds a CR with text after it: its
  // lines end in CR alone, no LF will come, and it is handed out as a line.
  void HoldBackUnterminatedLine(bool hold_back) { hold_back_ = hold_back; }
  // Next ended before a last line without its line end, as asked above.
  bool HeldBack() const { return hold_back_ && at_end_ && begin_ != end_; }

  // Makes the next line current. kLine sets `line` to its bytes without the
  // line end (LF, with any CRs before it) and without a UTF-8 byte-order
  // mark or NUL bytes at its start; a last line without a line end counts
  // as a line, except a lone DOS end-of-file mark (Ctrl+Z), which ends the
  // input, and a run of NUL bytes, which a server that stopped unexpectedly
  // leaves of the room it had set aside for its log: the input ends before
  // it (Offset stays at its start, for the lines a later write puts over
  // it), neither a line nor held back. The
  // bytes stay valid, and may be changed in place by the caller, until the next
  // call. Raises what reading the input raises.
  Status Next(std::span<char>* line);

  // The 1-based number of the line Next handed out or passed over last; 0
  // before the first.
  int64_t LineNumber() const { return line_number_; }

  // The bytes of the input that lie before the next line: up to the end of
  // the line Next handed out or passed over last, its line end included.
  // Always the end of a whole line, so a reading that starts again at this
  // offset starts at a line.
  // Before a run of NUL bytes that ends the input or a line held back,
  // the offset is that of the run's start.
  int64_t Offset() const {
    return nul_run_start_ >= 0 ? nul_run_start_
                               : buffer_offset_ + static_cast<int64_t>(begin_);
  }

 private:
  // Reads more input behind end_, compacting or growing the buffer first;
  // sets at_end_ when the input is exhausted. `scan` is kept pointing at the
  // same byte.
  void Fill(size_t* scan);
  // Drops the rest of an over-long line, up to and including its line end.
  void SkipRestOfLine();
  // Whether the bytes not yet handed out hold a CR followed by a byte other
  // than a CR.
  bool RestEndsLinesInCr() const;
  // Drops the NUL bytes at begin_, remembering where their run started;
  // `scan` is kept at or past begin_.
  void SkipLeadingNul(size_t* scan);
  std::span<char> Finish(size_t begin, size_t end);

  std::unique_ptr<unc::InputFile> input_;
  std::vector<char> buffer_;
  // Bytes [begin_, end_) of buffer_ are read but not yet handed out.
  size_t begin_ = 0;
  size_t end_ = 0;
  bool at_end_ = false;
  bool hold_back_ = false;
  // The input's bytes that came before buffer_[0].
  int64_t buffer_offset_ = 0;
  // The input's offset of the NUL bytes dropped before the next line; -1:
  // none.
  int64_t nul_run_start_ = -1;
  int64_t line_number_ = 0;
};

}  // namespace velnor::iislog

#endif  // VELNOR_PLATFORM_IISLOG_LINE_READER_H_
