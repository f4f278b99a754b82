// Exit status of the mervox command (documented in the README): the
// shared tools' codes, under the names the subcommands use.
#pragma once

#include "status.h"

namespace mervox::cli {

using tools::ExitCode;
using tools::kExitBadInput;
using tools::kExitOk;
using tools::kExitOutOfMemory;
using tools::kExitOutputError;
using tools::kExitUsage;

}  // namespace mervox::cli
