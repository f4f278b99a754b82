#include "base/status.h"

#include <cstring>

namespace mervox::media::base {

Status Status::SystemFailure(ExitCode code, const std::string& message, int errnoValue)
{
    return Status(code, message + ": " + std::strerror(errnoValue), errnoValue);
}

}  // namespace mervox::media::base
