// The -j/--jobs option of the subcommands that decode on several threads.
#pragma once

#include <charconv>
#include <string>

namespace mervox::cli {

constexpr unsigned kMaxJobs = 4096;

// "" for a whole number from 1 to kMaxJobs, else why not (checked on the
// text: CLI11's own conversion would wrap "-1").
inline std::string JobsText(const std::string& text)
{
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(text.data(), end, value);
    return r.ec == std::errc() && r.ptr == end && value >= 1 && value <= kMaxJobs
               ? ""
               : "jobs must be a whole number from 1 to " + std::to_string(kMaxJobs);
}

}  // namespace mervox::cli
