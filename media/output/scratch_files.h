// Scratch files: a stream's decoded samples, raw, while the capture is
// read and until its call's file has been made of them. Hidden in the
// directory of the outputs' prefix (up to its first folder named by date
// fields, which changes with the time: "calls/%Y/%m/%d/" puts them in
// "calls/"), named after the prefix's name and the process that writes
// them:
//
//   DIR/.<prefix's name, cut to kScratchNameBytes bytes>-<process id>-stream-<n>.raw
//
// The writer (ScratchPath) and the cleaner of a crashed run's leftovers
// (RemoveStaleScratchFiles) share the pattern here.
//
// What a crash (SIGKILL, power loss) loses: the calls in progress, whose
// samples were only in scratch files (or in the temporaries those are
// written to until their stream ends); the next run in the same directory
// removes them. Nothing already written: every output is moved into place
// complete, in one step. A call's file being written at the crash stays as
// a hidden temporary beside its place (".NAME.wav.XXXXXX", naming no
// process: not removed). A stop (platform/process.h) writes the calls in
// progress; a second one, or an interruption, removes their scratch files
// as every temporary file.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace mervox::media::output {

// The prefix's name is cut to this (in bytes), so that a scratch name
// stays within the file systems' 255.
constexpr size_t kScratchNameBytes = 150;

// DIR/.NAME-PID-stream-: the number and ".raw" follow.
std::string ScratchPrefix(const std::string& prefix, unsigned long processId);
// DIR/.NAME-PID-stream-N.raw
std::string ScratchPath(const std::string& prefix, unsigned long processId, uint64_t number);

// What a file name (without its directory) says as a scratch file's, of
// any prefix, or as the temporary one is written to until its stream ends
// (output/atomic_file_sink.h); nullopt for any other name.
struct ScratchName {
    unsigned long processId = 0;
    uint64_t number = 0;
    bool temporary = false;
};
std::optional<ScratchName> ParseScratchName(const std::string& name);

struct StaleScratch {
    size_t removed = 0;
    int error = 0;  // errno of the first failure (listing the directory, removing a file); 0 if none
};

// Removes, in the scratch files' directory of `prefix`, those (of any
// prefix's name, and their temporaries) left by runs that have ended: their process is not
// running (platform::ProcessRunning) and they were last written before
// `started`, the time this run began (a file written since is some
// running process's, whatever its number says). A missing directory has
// none. For the start of a run, before it writes scratch files of its own.
StaleScratch RemoveStaleScratchFiles(const std::string& prefix, std::chrono::system_clock::time_point started);

}  // namespace mervox::media::output
