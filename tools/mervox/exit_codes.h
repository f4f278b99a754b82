// Exit status of the mervox command: the application library's codes under
// the names the subcommands use, and what each means to the user.
//
// The rows below are the one description of the statuses. The manual page's
// EXIT STATUS section is generated from them when the command is built
// (tools/mervox/CMakeLists.txt), and the test project_exit_status_doc checks
// that the table in doc/command.md holds the same rows. One row per status,
// "//| N | meaning |", the meaning in Markdown as the table shows it.
//
// clang-format off
//| 0 | success (also with warnings) |
//| 1 | input missing, unreadable, empty, or without a whole frame; a stream input that looks like another format (without `--force`); loss mask unreadable; a capture with no G.723.1 stream |
//| 2 | usage: unknown option or subcommand, bad value, unknown output extension or format |
//| 3 | the output could not be created or written (a read-only existing file included) |
//| 4 | memory ran out (`mervox: error: out of memory`; no partial output is left) |
// clang-format on
#pragma once

#include "base/status.h"

namespace mervox::cli {

using media::base::ExitCode;
using media::base::kExitBadInput;
using media::base::kExitOk;
using media::base::kExitOutOfMemory;
using media::base::kExitOutputError;
using media::base::kExitUsage;

// The rows above give these numbers.
static_assert(kExitOk == 0 && kExitBadInput == 1 && kExitUsage == 2 && kExitOutputError == 3 && kExitOutOfMemory == 4,
              "the exit statuses documented above");

}  // namespace mervox::cli
