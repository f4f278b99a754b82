// The Python module mervox._mervox, imported by the package mervox.
#include <pybind11/pybind11.h>

#include "bindings.h"
#include "errors.h"
#include "mervox.h"

PYBIND11_MODULE(_mervox, m)
{
    m.doc() = "G.723.1 speech decoding into NumPy arrays (see the package mervox).";
    m.attr("SAMPLE_RATE") = MERVOX_SAMPLE_RATE;
    m.attr("FRAME_SAMPLES") = MERVOX_FRAME_SAMPLES;
    m.attr("__version__") = mervox_version_string();
    mervox::python::RegisterErrors(m);
    mervox::python::BindDecoder(m);
    mervox::python::BindStreams(m);
    mervox::python::BindCaptures(m);
}
