// Writing a whole document (a report page) to a path through the same
// outputs as decoded speech (pcm_output.h): a regular file is written under
// a temporary name and renamed into place, complete or absent; standard
// output, descriptor paths, pipes and devices are written through.
#pragma once

#include <string>

#include "base/status.h"

namespace mervox::media::output {

base::Status WriteDocument(const std::string& path, const std::string& text);

}  // namespace mervox::media::output
