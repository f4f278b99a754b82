// Writing a command's report (text or JSON) to standard output in one
// piece, with the reason of the write that failed.
#pragma once

#include <string>

#include "status.h"

namespace mervox::tools {

// All of `text` to standard output (stdio's buffer is flushed first). A
// failure says "<stdout>: write failed: REASON" (exit status 3); a reader
// that went away gives Status::ReaderGone().
Status WriteReport(const std::string& text);

}  // namespace mervox::tools
