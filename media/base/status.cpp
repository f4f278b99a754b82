#include "status.h"

#include <cstring>

namespace mervox::tools {

Status Status::SystemFailure(ExitCode code, const std::string& message, int errnoValue)
{
    return Status(code, message + ": " + std::strerror(errnoValue), errnoValue);
}

}  // namespace mervox::tools
