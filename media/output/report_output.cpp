#include "report_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "fd_io.h"

namespace mervox::tools {

Status WriteReport(const std::string& text)
{
    int error = std::fflush(stdout) == 0 ? 0 : errno;
    if (error == 0)
        error = WriteAll(STDOUT_FILENO, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (error == EPIPE)
        return Status::ReaderGone();
    if (error != 0)
        return Status::SystemFailure(kExitOutputError, "<stdout>: write failed", error);
    return Status::Ok();
}

}  // namespace mervox::tools
