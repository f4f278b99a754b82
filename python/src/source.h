// What the module's functions accept as input: bytes-like data, or a path
// (str or os.PathLike) to read it from.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "input.h"

namespace mervox::python {

// Resolves a `data` argument: a view of a bytes-like object (no copy, held
// for as long as the Source lives) or a path. TypeError for anything else;
// `what` names the argument.
class Source {
public:
    Source(const pybind11::object& data, const char* what);
    const Input& input() const { return input_; }

private:
    pybind11::buffer_info view_;
    Input input_;
};

// Whether `object` names a file: a str or an os.PathLike.
bool IsPath(const pybind11::handle& object);

// The file-system path of a str or os.PathLike, or nothing (false).
// ValueError for a path with a null byte (which the system would cut
// there), as open() raises; `what` names the argument.
bool PathOf(const pybind11::handle& object, const char* what, std::string* path);

// The name of an object's type, for messages.
std::string TypeName(const pybind11::handle& object);

// An integer argument (int, numpy.int64, anything with __index__; not a
// float or str): TypeError otherwise, naming it. Values beyond long long
// come back as its limits, which lie outside every range the module takes.
long long IntegerArgument(const pybind11::handle& value, const char* what);

// A path or message in the file-system encoding as a Python str (names
// that are not UTF-8 survive as surrogate escapes).
pybind11::str FileSystemText(const std::string& text);

// The samples as a NumPy array that owns them: no copy.
pybind11::array_t<int16_t> ToArray(std::vector<int16_t>&& samples);

}  // namespace mervox::python
