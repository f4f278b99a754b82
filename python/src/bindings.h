// The parts of the module, each defined in its own file.
#pragma once

#include <pybind11/pybind11.h>

namespace mervox::python {

void BindDecoder(pybind11::module_& m);   // mervox.Decoder
void BindStreams(pybind11::module_& m);   // mervox.decode, mervox.frames
void BindCaptures(pybind11::module_& m);  // mervox.read_capture, mervox.CaptureStream

}  // namespace mervox::python
