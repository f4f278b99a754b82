// Following a ring buffer that dumpcap writes while it captures:
//   dumpcap -i eth0 -b filesize:100000 -b files:10 -w ring/calls.pcapng
// writes ring/calls_00001_20261207101500.pcapng, calls_00002_..., and
// removes the oldest as it opens the eleventh. The follower hands over
// each file, opened, in order of its number once it is closed (a newer
// file of the ring has appeared: dumpcap closes a file before it opens
// the next), waiting while there is none; once told to stop it hands
// over the newest, still growing file too, so that what was recorded is
// read. Files removed before they could be read (the ring wrapped past a
// reader that fell behind) are counted and said, never passed over
// quietly.
//
// Numbers order the files of one run of dumpcap; a dumpcap started again
// with the same name numbers from 1 again, and its files are told from the
// earlier run's by the times in their names: the earlier run is read to its
// end first. dumpcap writes those times in local time, so it is best run
// with TZ=UTC (a clock put back in autumn would otherwise look like a new run).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/stop_check.h"
#include "records/capture_input.h"

namespace mervox::media::records {

// A file name of a ring buffer: "<prefix>_<number>_<YYYYMMDDhhmmss><extension>"
// (number: five digits or more; dumpcap 4.2 may put the time first:
// "<prefix>_<YYYYMMDDhhmmss>_<number><extension>"); the extension, if any,
// starts with a dot and has no "_".
struct RingFileName {
    std::string ring;  // which ring: prefix and extension ("calls.pcapng"), the name dumpcap was given
    std::string prefix;
    uint64_t number = 0;
    std::string time;  // YYYYMMDDhhmmss, as dumpcap's clock showed it
};
std::optional<RingFileName> ParseRingFileName(const std::string& name);

struct RingOptions {
    std::string directory;
    // The ring to follow: the name dumpcap was given ("calls.pcapng") or
    // its prefix ("calls"). Empty: the ring of the oldest file there (said
    // through `note` when the directory holds several).
    std::string ring;
    std::chrono::milliseconds poll{100};  // how often to look while waiting
    base::StopRequested stop;             // asked while waiting; empty: never
    // What the follower has to say: the ring chosen among several, files
    // lost, a new run of dumpcap. Empty: nothing said.
    std::function<void(const std::string&)> note;
};

struct RingFile {
    std::string path;
    uint64_t number = 0;
    bool growing = false;  // handed over at the stop: dumpcap may have been writing it
    std::unique_ptr<CaptureInput> input;
};

enum class RingResult {
    kFile,
    kStopped,  // told to stop, and every file of the ring handed over
    kFailed,   // the directory or a file could not be read: error() says why
};

class RingFollower {
public:
    explicit RingFollower(RingOptions options);

    // The next file of the ring into `file`, waiting for it (see above).
    RingResult Next(RingFile& file);

    const std::string& error() const { return error_; }
    // The ring followed (its name as dumpcap was given it); empty until a file of it was seen.
    const std::string& ring() const { return ring_; }
    uint64_t filesRead() const { return read_; }
    // Files of the ring that were removed before they could be read.
    uint64_t filesLost() const { return lost_; }

private:
    struct Entry {
        RingFileName name;
        std::string file;  // the name in the directory
    };
    bool Scan();
    void ChooseRing(const std::vector<Entry>& entries);
    void Note(const std::string& text) const;
    void CountLost(uint64_t count, const std::string& what);
    // Opens the file; nullopt when it was removed before it could be.
    std::optional<RingResult> Hand(const Entry& entry, bool growing, RingFile& file);

    RingOptions options_;
    std::string ring_;
    std::string error_;
    std::set<std::string> otherRings_;  // those said to be there
    // The files of the ring not handed over yet, in the order to read them,
    // and how many of them are closed (the rest: the newest, growing).
    std::vector<Entry> pending_;
    size_t closed_ = 0;
    std::set<std::string> done_;        // handed over or lost, while still in the directory
    std::optional<RingFileName> last_;  // the last file handed over
    bool stopped_ = false;
    uint64_t read_ = 0;
    uint64_t lost_ = 0;
};

}  // namespace mervox::media::records
