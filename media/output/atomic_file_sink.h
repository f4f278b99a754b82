// A regular file output, complete or absent: the data goes to a hidden
// temporary file beside the target (".NAME.XXXXXX", shortened so a long
// NAME still fits the file system's name limit) and Finish() renames it
// over the target. Through symbolic links (dangling ones included) the
// file they lead to is written and the links stay. An existing target the
// user may not write (mode 0444) is refused, as cp and sox do; a replaced
// file keeps its permissions. The temporary file is removed on failure,
// without Finish(), and on the termination requests of
// InstallTemporaryFileCleanup() (signals; on Windows Ctrl-C and closing the
// console). On Windows the file is replaced with MoveFileExW, written
// through to the disk.
// Parked (pcm_sink.h), the temporary file is closed; it is reopened by its
// name and must still be the same file as it was left (not a link, not
// replaced, its length unchanged).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "output/pcm_sink.h"
#include "output/temporary_files.h"

namespace mervox::media::output {

class AtomicFileSink : public PcmSink {
public:
    // `path` as the user gave it (for messages); `target` the file it
    // leads to (links followed).
    // `durable`: on the disk before it gets its name (a scratch file that
    // lives only while the process does need not be).
    static base::Result<std::unique_ptr<PcmSink>> Open(const std::string& path, const std::string& target,
                                                       PcmFormat format, bool durable = true);
    ~AtomicFileSink() override;

    bool CanPark() const override { return true; }

protected:
    base::Status WriteBytes(const uint8_t* bytes, size_t size) override;
    base::Status Complete(uint64_t dataBytes) override;
    void Abandon() override;
    base::Status Suspend() override;
    base::Status Reopen() override;

private:
    AtomicFileSink(const std::string& path, PcmFormat format) : PcmSink(path, format) {}

    int fd_ = -1;
    uint64_t device_ = 0;  // of the temporary file, to know it again when reopened
    uint64_t inode_ = 0;
    std::string temporaryPath_;
    std::string target_;
    bool durable_ = true;
    std::unique_ptr<TemporaryFileRegistration> registration_;
};

}  // namespace mervox::media::output
