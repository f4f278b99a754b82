// Writing a command's report (text or JSON) to standard output in one
// piece, with the reason of the write that failed.
#pragma once

#include <string>

#include "base/status.h"

namespace mervox::media::output {

// All of `text` to standard output (stdio's buffer is flushed first). A
// failure says "<stdout>: write failed: REASON" (exit status 3); a reader
// that went away gives Status::ReaderGone().
base::Status WriteReport(const std::string& text);

}  // namespace mervox::media::output
