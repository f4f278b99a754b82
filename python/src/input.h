// What a call decodes: a file (read by the glue, as the command reads it)
// or bytes in memory. Plain data, so the glue needs no Python.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mervox::python {

struct Input {
    bool isPath = false;
    std::string path;               // when isPath
    const uint8_t* data = nullptr;  // otherwise: the bytes
    size_t size = 0;
    std::string name;  // in messages: the path, or "<bytes>"
};

}  // namespace mervox::python
