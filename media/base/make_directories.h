// Creating the folders of an output name, as `mkdir -p` does: a recorder
// that files its calls by day (base/date_fields.h) makes each day's folder
// as the first call of the day ends.
#pragma once

#include <string>

#include "base/status.h"

namespace mervox::media::base {

// Creates `path` and each missing folder above it ("calls/2026/12/07/":
// calls, calls/2026, calls/2026/12, calls/2026/12/07). Ok when all of them
// are folders afterwards (made here, made already, or by another process
// meanwhile); else an output failure (kExitOutputError) naming the first
// that could not be made, and why (a file in the way: "Not a directory").
Status MakeDirectories(const std::string& path);

}  // namespace mervox::media::base
