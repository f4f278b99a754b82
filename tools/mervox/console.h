// Messages on stderr: errors always, warnings unless --quiet, and a
// progress line only when stderr is a terminal.
#pragma once

#include <cstddef>
#include <string>

namespace mervox::cli {

class Console {
public:
    explicit Console(bool quiet);

    void Error(const std::string& message) const;    // "mervox: error: ..."
    void Warning(const std::string& message) const;  // "mervox: warning: ..."

    // Progress of a long job: `done` of `total` units. Draws (and later
    // erases) one status line; does nothing when quiet or not a terminal.
    void Progress(const std::string& label, size_t done, size_t total);
    void EndProgress();

private:
    bool quiet_;
    bool interactive_;
    int lastPercent_ = -1;
};

}  // namespace mervox::cli
