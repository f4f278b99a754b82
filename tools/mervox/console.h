// Messages on stderr: errors always, warnings unless --quiet, and a
// progress line only when stderr is a terminal. Safe to use from several
// threads at once: a message first erases the progress line (the next
// progress report draws it again), so the terminal never shows a message
// glued to a percentage.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

namespace mervox::cli {

class Console {
public:
    explicit Console(bool quiet);

    void Error(const std::string& message) const;    // "mervox: error: ..."
    void Warning(const std::string& message) const;  // "mervox: warning: ..."
    // "mervox: MESSAGE", unless quiet (a summary, not a fault).
    void Note(const std::string& message) const;

    // Progress of a long job: `done` of `total` units. Draws (and later
    // erases) one status line; does nothing when quiet or not a terminal.
    void Progress(const std::string& label, size_t done, size_t total);
    // Progress of a job without an end: `line` as the status line, drawn
    // at most every kStatusSeconds.
    void Status(const std::string& line);
    void EndProgress();

    static constexpr double kStatusSeconds = 0.5;

    bool showsProgress() const { return !quiet_ && interactive_; }

private:
    void Print(const char* kind, const std::string& message) const;
    void EraseProgressLocked() const;

    bool quiet_;
    bool interactive_;
    mutable std::mutex mutex_;
    mutable int lastPercent_ = -1;  // -2: a status line is shown
    double lastStatus_ = -1e9;      // when it was drawn (seconds of a steady clock)
};

}  // namespace mervox::cli
