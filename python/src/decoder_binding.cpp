// mervox.Decoder: one decoder object, frame by frame.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <mutex>

#include "bindings.h"
#include "mervox.hpp"
#include "source.h"

namespace py = pybind11;

namespace mervox::python {
namespace {

// A rate argument: 6300 or 5300 as any integer type; TypeError for other
// types, ValueError for other values.
int RateOf(const py::handle& rate)
{
    const long long value = IntegerArgument(rate, "rate");
    if (value != 6300 && value != 5300)
        throw py::value_error("rate must be 6300 or 5300, not " + py::str(rate).cast<std::string>());
    return static_cast<int>(value);
}

int32_t RateSelector(int rate) { return rate == 6300 ? MERVOX_RATE_SELECT_6300 : MERVOX_RATE_SELECT_5300; }

// A decoder and the lock that keeps its calls from overlapping when
// threads share it (each call runs without the interpreter lock).
class PyDecoder {
public:
    explicit PyDecoder(const py::object& rate) : rate_(RateOf(rate)), decoder_(RateSelector(rate_)) {}

    py::array_t<int16_t> Decode(const py::object& frame)
    {
        if (IsPath(frame))
            throw py::type_error("frame must be bytes-like, not a path (mervox.decode reads stream files)");
        const Source source(frame, "frame");
        const Input& bytes = source.input();
        if (bytes.size == 0)
            throw py::value_error("empty frame");
        const size_t expected = mervox_frame_bytes(bytes.data[0]);
        if (bytes.size != expected)
            throw py::value_error("frame of " + std::to_string(bytes.size) + " bytes: its type bits announce " +
                                  std::to_string(expected) + " (mervox.decode splits whole streams)");
        py::array_t<int16_t> pcm(kFrameSamples);
        int16_t* out = pcm.mutable_data();
        const bool speech = mervox_frame_is_speech(bytes.data[0]) != 0;
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(mutex_);
        if (speech)
            decoder_.Decode(FrameView(bytes.data, bytes.size), out);
        else
            decoder_.Conceal(out);
        return pcm;
    }

    py::array_t<int16_t> Conceal()
    {
        py::array_t<int16_t> pcm(kFrameSamples);
        int16_t* out = pcm.mutable_data();
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(mutex_);
        decoder_.Conceal(out);
        return pcm;
    }

    void Reset(const py::object& rate)
    {
        const int newRate = rate.is_none() ? rate_ : RateOf(rate);
        const int32_t selector = RateSelector(newRate);
        std::lock_guard<std::mutex> lock(mutex_);
        decoder_.Reset(selector);
        rate_ = newRate;
    }

    int rate() const { return rate_; }

private:
    int rate_;
    Decoder decoder_;
    std::mutex mutex_;
};

}  // namespace

void BindDecoder(py::module_& m)
{
    py::class_<PyDecoder>(m, "Decoder", R"(One G.723.1 decoder: frames in, 240 samples (30 ms at 8000 Hz) out.

rate: 6300 or 5300, the bit rate assumed for frames lost before the first
    frame arrives (as INITdec's rate selector, 1 or 0).

Each decoder has its own state; different decoders may run on different
threads at once, and one decoder's calls never overlap.)")
        .def(py::init<const py::object&>(), py::arg("rate") = 6300)
        .def("decode", &PyDecoder::Decode, py::arg("frame"),
             R"(Decodes one frame (bytes-like) into an int16 array of 240 samples.

The frame must be exactly as long as the type bits of its first byte say:
24 bytes (6.3 kbit/s), 20 (5.3 kbit/s), 4 (silence descriptor) or 1
(untransmitted); the last two carry no speech and are concealed as a lost
frame, as in a stream. ValueError otherwise.)")
        .def("conceal", &PyDecoder::Conceal, "Conceals one lost frame: an int16 array of 240 samples.")
        .def("reset", &PyDecoder::Reset, py::arg("rate") = py::none(),
             "Starts a new stream; rate as for the constructor (default: the decoder's rate).")
        .def_property_readonly("rate", &PyDecoder::rate, "The rate given at construction or the last reset.")
        .def("__repr__", [](const PyDecoder& d) { return "mervox.Decoder(rate=" + std::to_string(d.rate()) + ")"; });
}

}  // namespace mervox::python
