#include "output/report_output.h"

#include <cerrno>
#include <cstdio>

#include "output/fd_io.h"
#include "platform/files.h"

namespace mervox::media::output {

base::Status WriteReport(const std::string& text)
{
    int error = std::fflush(stdout) == 0 ? 0 : errno;
    if (error == 0)
        error = WriteAll(platform::kStandardOutput, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (error == EPIPE)
        return base::Status::ReaderGone();
    if (error != 0)
        return base::Status::SystemFailure(base::kExitOutputError, "<stdout>: write failed", error);
    return base::Status::Ok();
}

}  // namespace mervox::media::output
