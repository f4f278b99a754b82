// What the module's functions accept as input: bytes-like data, or a path
// (str or os.PathLike) to read it from.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>
#include <vector>

namespace mervox::python {

// The bytes of `data`, held for as long as the source lives: a view of a
// bytes-like object (no copy), or a file's contents.
class Source {
public:
    // Resolves `data` (TypeError for anything else); a path is read when
    // Read() is called, so that the reading can run without the
    // interpreter lock. `what` names the argument in type errors.
    Source(const pybind11::object& data, const char* what);

    bool isPath() const { return isPath_; }
    const std::string& path() const { return path_; }
    // The path, or "<bytes>": the name in messages.
    const std::string& name() const { return name_; }

    // Reads the file (InputError) if the source is one; no-op otherwise.
    void Read();

    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    bool isPath_ = false;
    std::string path_;
    std::string name_;
    pybind11::buffer_info view_;
    std::vector<uint8_t> contents_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Whether `object` names a file: a str or an os.PathLike.
bool IsPath(const pybind11::handle& object);

// The file-system path of a str or os.PathLike, or nothing (false).
bool PathOf(const pybind11::handle& object, std::string* path);

// A path or message in the file-system encoding as a Python str (names
// that are not UTF-8 survive as surrogate escapes).
pybind11::str FileSystemText(const std::string& text);

}  // namespace mervox::python
