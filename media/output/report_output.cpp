#include "report_output.h"

#include <cerrno>
#include <cstdio>

#include "fd_io.h"
#include "files.h"

namespace mervox::tools {

Status WriteReport(const std::string& text)
{
    int error = std::fflush(stdout) == 0 ? 0 : errno;
    if (error == 0)
        error = WriteAll(platform::kStandardOutput, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (error == EPIPE)
        return Status::ReaderGone();
    if (error != 0)
        return Status::SystemFailure(kExitOutputError, "<stdout>: write failed", error);
    return Status::Ok();
}

}  // namespace mervox::tools
