#include "console.h"

#include <unistd.h>

#include <cstdio>

namespace mervox::cli {

Console::Console(bool quiet) : quiet_(quiet), interactive_(isatty(STDERR_FILENO) == 1) {}

void Console::Error(const std::string& message) const { std::fprintf(stderr, "mervox: error: %s\n", message.c_str()); }

void Console::Warning(const std::string& message) const
{
    if (!quiet_)
        std::fprintf(stderr, "mervox: warning: %s\n", message.c_str());
}

void Console::Progress(const std::string& label, size_t done, size_t total)
{
    if (quiet_ || !interactive_ || total == 0)
        return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == lastPercent_)
        return;
    lastPercent_ = percent;
    std::fprintf(stderr, "\r%s: %3d%%", label.c_str(), percent);
    std::fflush(stderr);
}

void Console::EndProgress()
{
    if (lastPercent_ >= 0) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
    lastPercent_ = -1;
}

}  // namespace mervox::cli
