// The byte stream of a log file: read ahead on a thread of its own, so
// that the transfer of a file (over SMB above all) goes on while its
// records are counted; plain text as it is, UTF-16 text (behind its
// byte-order mark) as UTF-8, gzip-compressed files (a ".gz"
// name or the gzip magic bytes) inflated on the fly, so that old logs
// archived with gzip read like any other. Nothing is held beyond a bounded
// ring of read-ahead bytes and one buffer of compressed input; files of any
// size stream through.
#ifndef VELNOR_PLATFORM_IISLOG_LOG_INPUT_H_
#define VELNOR_PLATFORM_IISLOG_LOG_INPUT_H_

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/unc/unc.h"

namespace velnor::iislog {

// The bytes of the ring that ReadInBackground reads ahead into, and the most
// it asks of `file` in one call.
inline constexpr size_t kReadAheadBytes = size_t{4} << 20;
inline constexpr size_t kReadAheadFillBytes = size_t{1} << 20;

// Reads `file` on a thread of its own into a ring of kReadAheadBytes while
// the caller takes the bytes out, so that waiting for the file overlaps the
// work on what came before. The input returned yields exactly the bytes of
// `file`, in order: Read blocks only while nothing is read ahead, returns 0
// only at the file's end or when asked for 0 bytes (at once), and raises what
// reading `file` raised only once every byte read before the failure has been
// handed out (then at every later call). Destroying it stops the thread and
// joins it, after a read in progress has returned, then closes `file`. The
// thread runs with SIGINT, SIGTERM and SIGALRM blocked: the threads that run
// the work handle them. Its reads are no interrupt::AbandonScope of their own:
// the caller's waits for them (in Read and when destroying it) are, and give a
// read in progress a second after an interrupt before the process ends. Takes
// ownership of `file`; raises std::system_error when no thread can be
// started.
std::unique_ptr<unc::InputFile> ReadInBackground(
    std::unique_ptr<unc::InputFile> file);

// Wraps `file`, opened from `path`, so that reading it yields the log text:
// inflated when the name ends in ".gz" (any case) or the data starts with the
// gzip magic, as UTF-8 when it starts with a UTF-16 byte-order mark (which
// is dropped), otherwise the bytes unchanged. Concatenated gzip members are
// read one after the other. Takes ownership of `file`.
//
// Reading raises automation::AutomationError, naming `path`, when the
// compressed data is corrupt or ends inside a member; read errors of `file`
// itself pass through. The first bytes are read here to look for the magic,
// so this call raises what `file` raises.
std::unique_ptr<unc::InputFile> DecodeLogInput(
    std::unique_ptr<unc::InputFile> file, std::string_view path);

// `file`, opened from `path`, once a gzip file's compressed data has been
// found sound: a file whose name ends in ".gz" (any case) is inflated
// through, read ahead, without keeping its text, then opened again with
// `reopen`, and one whose data is corrupt raises
// automation::AutomationError naming `path`, so that no record of text
// inflated from damaged data (which zlib tells only at the damage, at the
// latest by the member's checksum) is counted. A file that ends inside a
// member is sound as far as it goes, and its reading raises at that end as
// before. An interrupt stops the check, and the file is read as if it had
// passed. Other files are returned untouched: a gzip file under another
// name, told by its magic bytes only once it is read, is read as
// DecodeLogInput reads it. Takes ownership of `file`; raises what reading
// `file` or `reopen` raises.
std::unique_ptr<unc::InputFile> CheckGzipData(
    std::unique_ptr<unc::InputFile> file, std::string_view path,
    const std::function<std::unique_ptr<unc::InputFile>()>& reopen);

// Reads the first `limit` bytes of `input` (fewer when it ends before)
// into `head` and returns an input that yields them again, then the rest:
// a look at a stream's start that costs no second reading. Takes
// ownership of `input`. Raises nothing itself: a failure to read the first
// bytes leaves those before it in `head`, and the input returned raises it
// once it has yielded them (at that read and every later one), as `input`
// read alone would have.
std::unique_ptr<unc::InputFile> ReadAhead(std::unique_ptr<unc::InputFile> input,
                                          size_t limit, std::string& head);

}  // namespace velnor::iislog

#endif  // VELNOR_PLATFORM_IISLOG_LOG_INPUT_H_
