// The byte stream of a log file: plain text as it is, gzip-compressed files
// (a ".gz" name or the gzip magic bytes) inflated on the fly, so that old
// logs archived with gzip read like any other. Nothing is held beyond one
// buffer of compressed input; files of any size stream through.
#ifndef VELNOR_PLATFORM_IISLOG_LOG_INPUT_H_
#define VELNOR_PLATFORM_IISLOG_LOG_INPUT_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/unc/unc.h"

namespace velnor::iislog {

// Wraps `file`, opened from `path`, so that reading it yields the log text:
// inflated when the name ends in ".gz" (any case) or the data starts with the
// gzip magic, otherwise the bytes unchanged. Concatenated gzip members are
// read one after the other. Takes ownership of `file`.
//
// Reading raises automation::AutomationError, naming `path`, when the
// compressed data is corrupt or ends inside a member; read errors of `file`
// itself pass through. The first bytes are read here to look for the magic,
// so this call raises what `file` raises.
std::unique_ptr<unc::InputFile> DecodeLogInput(
    std::unique_ptr<unc::InputFile> file, std::string_view path);

// Reads the first `limit` bytes of `input` (fewer when it ends before)
// into `head` and returns an input that yields them again, then the rest:
// a look at a stream's start that costs no second reading. Takes
// ownership of `input`; raises what reading it raises.
std::unique_ptr<unc::InputFile> ReadAhead(std::unique_ptr<unc::InputFile> input,
                                          size_t limit, std::string& head);

}  // namespace velnor::iislog

#endif  // VELNOR_PLATFORM_IISLOG_LOG_INPUT_H_
