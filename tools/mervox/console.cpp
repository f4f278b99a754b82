#include "console.h"

#include <chrono>

#include <cstdio>

#include "platform/files.h"

namespace mervox::cli {

Console::Console(bool quiet) : quiet_(quiet), interactive_(media::platform::IsTerminal(media::platform::kStandardError))
{}

void Console::Print(const char* kind, const std::string& message) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    EraseProgressLocked();
    std::fprintf(stderr, "mervox: %s%s\n", kind, message.c_str());
}

void Console::Error(const std::string& message) const { Print("error: ", message); }

void Console::Warning(const std::string& message) const
{
    if (!quiet_)
        Print("warning: ", message);
}

void Console::Note(const std::string& message) const
{
    if (!quiet_)
        Print("", message);
}

void Console::Progress(const std::string& label, size_t done, size_t total)
{
    if (!showsProgress() || total == 0)
        return;
    const int percent = static_cast<int>(done * 100 / total);
    std::lock_guard<std::mutex> lock(mutex_);
    if (percent == lastPercent_)
        return;
    lastPercent_ = percent;
    std::fprintf(stderr, "\r%s: %3d%%", label.c_str(), percent);
    std::fflush(stderr);
}

void Console::Status(const std::string& line)
{
    if (!showsProgress())
        return;
    const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    std::lock_guard<std::mutex> lock(mutex_);
    if (now - lastStatus_ < kStatusSeconds)
        return;
    lastStatus_ = now;
    lastPercent_ = -2;
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
}

void Console::EndProgress()
{
    std::lock_guard<std::mutex> lock(mutex_);
    EraseProgressLocked();
}

void Console::EraseProgressLocked() const
{
    if (lastPercent_ != -1) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }
    lastPercent_ = -1;
}

}  // namespace mervox::cli
