#include "records/ring_follower.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <tuple>
#include <utility>

#include "base/names.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace mervox::media::records {
namespace {

constexpr size_t kTimeDigits = 14;        // YYYYMMDDhhmmss
constexpr size_t kNumberDigits = 5;       // at least: dumpcap writes %05u
constexpr size_t kMostNumberDigits = 19;  // within 64 bits

bool AllDigits(const std::string& s, size_t from, size_t to)
{
    return from < to &&
           std::all_of(s.begin() + static_cast<std::ptrdiff_t>(from), s.begin() + static_cast<std::ptrdiff_t>(to),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// Read order: the files of earlier runs of dumpcap first, each run's in
// order of number (their times do not go back within a run).
bool Earlier(const RingFileName& a, const RingFileName& b)
{
    return std::tie(a.time, a.number) < std::tie(b.time, b.number);
}

std::string Range(uint64_t first, uint64_t last)
{
    return first == last ? "file " + std::to_string(first)
                         : "files " + std::to_string(first) + " to " + std::to_string(last);
}

}  // namespace

std::optional<RingFileName> ParseRingFileName(const std::string& name)
{
    // The extension: from the last dot, if nothing after it is a "_".
    const size_t dot = name.rfind('.');
    const size_t end = dot != std::string::npos && name.find('_', dot) == std::string::npos ? dot : name.size();
    // "_<first>_<second>" before it: a number and a time, in either order.
    const size_t second = name.rfind('_', end == 0 ? 0 : end - 1);
    if (second == std::string::npos || second == 0)
        return std::nullopt;
    const size_t first = name.rfind('_', second - 1);
    if (first == std::string::npos || !AllDigits(name, first + 1, second) || !AllDigits(name, second + 1, end))
        return std::nullopt;
    const size_t firstDigits = second - first - 1, secondDigits = end - second - 1;
    RingFileName parsed;
    std::string number;
    if (secondDigits == kTimeDigits && firstDigits >= kNumberDigits && firstDigits <= kMostNumberDigits) {
        number = name.substr(first + 1, firstDigits);
        parsed.time = name.substr(second + 1, secondDigits);
    } else if (firstDigits == kTimeDigits && secondDigits >= kNumberDigits && secondDigits <= kMostNumberDigits) {
        parsed.time = name.substr(first + 1, firstDigits);
        number = name.substr(second + 1, secondDigits);
    } else {
        return std::nullopt;
    }
    parsed.number = std::stoull(number);
    parsed.prefix = name.substr(0, first);
    parsed.ring = parsed.prefix + name.substr(end);
    return parsed;
}

RingFollower::RingFollower(RingOptions options) : options_(std::move(options)) {}

void RingFollower::Note(const std::string& text) const
{
    if (options_.note)
        options_.note(text);
}

void RingFollower::CountLost(uint64_t count, const std::string& what)
{
    if (count == 0)
        return;
    lost_ += count;
    Note(base::DisplayName(options_.directory) + ": " + what +
         (count == 1 ? " was removed before it" : " were removed before they") +
         " could be read: the reader fell behind the capture (" + std::to_string(lost_) + " file" +
         (lost_ == 1 ? "" : "s") + " lost so far)");
}

// The ring of the oldest file there that the options name (any, if they
// name none).
void RingFollower::ChooseRing(const std::vector<Entry>& entries)
{
    const Entry* oldest = nullptr;
    for (const Entry& e : entries) {
        const bool named = options_.ring.empty() || e.name.ring == options_.ring || e.name.prefix == options_.ring;
        if (named && (!oldest || Earlier(e.name, oldest->name)))
            oldest = &e;
    }
    if (oldest)
        ring_ = oldest->name.ring;
}

bool RingFollower::Scan()
{
    std::vector<std::string> names;
    if (const int error = platform::ListDirectory(options_.directory, &names)) {
        error_ = base::DisplayName(options_.directory) +
                 ": cannot read the ring buffer's directory: " + std::strerror(error);
        return false;
    }
    std::vector<Entry> entries;
    for (std::string& file : names)
        if (std::optional<RingFileName> name = ParseRingFileName(file))
            entries.push_back(Entry{std::move(*name), std::move(file)});
    if (ring_.empty())
        ChooseRing(entries);
    if (ring_.empty())
        return true;

    // Other rings, said once each when no option chose among them.
    std::set<std::string> others;
    for (const Entry& e : entries)
        if (e.name.ring != ring_ && !otherRings_.count(e.name.ring))
            others.insert(e.name.ring);
    if (!others.empty() && options_.ring.empty()) {
        std::string list;
        for (const std::string& r : others)
            list += (list.empty() ? "" : ", ") + r;
        Note(base::DisplayName(options_.directory) + ": " +
             (otherRings_.empty() && read_ == 0
                  ? "several ring buffers here; following " + ring_ + " (its file is the oldest), not " + list
                  : "another ring buffer here, not followed: " + list));
    }
    otherRings_.insert(others.begin(), others.end());

    std::set<std::string> present;
    pending_.clear();
    for (Entry& e : entries) {
        if (e.name.ring != ring_)
            continue;
        present.insert(e.file);
        if (!done_.count(e.file))
            pending_.push_back(std::move(e));
    }
    // What was handed over is remembered while it is there, no longer.
    for (auto it = done_.begin(); it != done_.end();)
        it = present.count(*it) ? std::next(it) : done_.erase(it);
    std::sort(pending_.begin(), pending_.end(), [](const Entry& a, const Entry& b) { return Earlier(a.name, b.name); });
    // The newest is the one dumpcap may be writing; a newer file closed
    // every other.
    closed_ = pending_.empty() ? 0 : pending_.size() - 1;
    return true;
}

std::optional<RingResult> RingFollower::Hand(const Entry& entry, bool growing, RingFile& file)
{
    done_.insert(entry.file);
    if (last_) {
        if (entry.name.number > last_->number) {
            CountLost(entry.name.number - last_->number - 1,
                      "ring " + Range(last_->number + 1, entry.name.number - 1) + " of " + ring_);
        } else {
            Note(base::DisplayName(options_.directory) + ": " + ring_ + " numbered from " +
                 std::to_string(entry.name.number) + " again: dumpcap was started again");
            if (entry.name.number > 1)
                CountLost(entry.name.number - 1, "ring " + Range(1, entry.name.number - 1) + " of its new run");
        }
    }
    last_ = entry.name;
    const std::string path = platform::Join(options_.directory, entry.file);
    std::FILE* stream = platform::OpenStreamForReading(path);
    if (!stream) {
        if (errno == ENOENT) {
            CountLost(1, base::DisplayName(entry.file));
            return std::nullopt;
        }
        error_ = base::DisplayName(path) + ": " + std::strerror(errno);
        return RingResult::kFailed;
    }
    file.path = path;
    file.number = entry.name.number;
    file.growing = growing;
    file.input = StreamInput(stream);
    ++read_;
    return RingResult::kFile;
}

RingResult RingFollower::Next(RingFile& file)
{
    for (;;) {
        if (!stopped_ && !Scan())
            return RingResult::kFailed;
        if (closed_ > 0 || (stopped_ && !pending_.empty())) {
            const Entry entry = std::move(pending_.front());
            pending_.erase(pending_.begin());
            const bool growing = closed_ == 0;
            closed_ -= growing ? 0 : 1;
            if (const std::optional<RingResult> result = Hand(entry, growing, file))
                return *result;
            continue;
        }
        if (stopped_)
            return RingResult::kStopped;
        if (options_.stop && options_.stop()) {
            stopped_ = true;  // the newest file, as it is now, and no more
            continue;
        }
        std::this_thread::sleep_for(options_.poll);
    }
}

}  // namespace mervox::media::records
