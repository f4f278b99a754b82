// Opening the output for decoded speech by its path:
//   "-"                          standard output
//   /dev/stdout, /dev/stderr, /dev/stdin, /dev/fd/N, /proc/self/fd/N
//   (or a link leading to one)   that descriptor, as "-" is
//   an existing pipe, FIFO or device (after links)     opened and written to
//   anything else                 a regular file, complete or absent
// (see descriptor_sink.h and atomic_file_sink.h).
//
//   Result<std::unique_ptr<PcmSink>> out = OpenPcmOutput("call.wav", PcmFormat::kWav);
//   if (!out.ok()) fail(out.status());
//   Status s = out.value()->Write(pcm, n); ... s = out.value()->Finish();
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "output/pcm_sink.h"

namespace mervox::media::output {

base::Result<std::unique_ptr<PcmSink>> OpenPcmOutput(const std::string& path, PcmFormat format);
// A file that lives only while this process does (a recorder's scratch
// files): complete or absent like the others, but not forced to the disk.
base::Result<std::unique_ptr<PcmSink>> OpenScratchOutput(const std::string& path, PcmFormat format);

// The descriptor a path names by its spelling ("/dev/stdout" -> 1,
// "/dev/fd/7" and "/proc/self/fd/7" -> 7), else nullopt.
std::optional<int> DescriptorOfPath(const std::string& path);

// Whether both paths name one existing regular file (links and other
// spellings included); "-", pipes and devices (a terminal that is both
// /dev/stdin and /dev/stdout) never count.
bool SameFile(const std::string& a, const std::string& b);

// Whether `path` is a directory (after links).
bool IsDirectory(const std::string& path);

}  // namespace mervox::media::output
