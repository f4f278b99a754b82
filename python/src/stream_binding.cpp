// mervox.decode and mervox.frames: whole stream files or buffers.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "bindings.h"
#include "errors.h"
#include "mervox.hpp"
#include "source.h"
#include "stream_glue.h"

namespace py = pybind11;

namespace mervox::python {
namespace {

// The loss mask argument: nothing, a mask file, bytes, or any
// one-dimensional sequence of numbers or booleans (nonzero = lost).
void SetMask(const py::object& loss, LossOptions& options)
{
    if (loss.is_none())
        return;
    options.hasMask = true;
    if (PathOf(loss, "loss", &options.maskPath))
        return;
    if (py::isinstance<py::bytes>(loss) || PyByteArray_Check(loss.ptr()) || PyMemoryView_Check(loss.ptr())) {
        const Source bytes(loss, "loss");
        options.mask.assign(bytes.input().data, bytes.input().data + bytes.input().size);
        return;
    }
    const py::array values = py::module_::import("numpy").attr("asarray")(loss);
    if (values.ndim() == 0)
        throw py::type_error("loss must be a mask file's path, bytes or a sequence, not " + TypeName(loss));
    if (values.ndim() != 1)
        throw py::value_error("loss must be one-dimensional (one entry per frame), not of shape " +
                              py::str(values.attr("shape")).cast<std::string>());
    const char kind = values.dtype().kind();
    if (kind != 'b' && kind != 'i' && kind != 'u' && kind != 'f')
        throw py::type_error("loss entries must be numbers or booleans (nonzero = lost), not of type " +
                             py::str(values.dtype()).cast<std::string>());
    const py::array_t<uint8_t> flags = values.attr("__ne__")(0).attr("astype")("uint8");
    options.mask.assign(flags.data(), flags.data() + flags.size());
}

// Any integer (int, numpy.int64, ...); TypeError for other types.
uint64_t SeedOf(const py::object& seed)
{
    const py::object integer = py::reinterpret_steal<py::object>(PyNumber_Index(seed.ptr()));
    if (!integer)
        throw py::error_already_set();
    const unsigned long long value = PyLong_AsUnsignedLongLong(integer.ptr());
    if (PyErr_Occurred()) {
        PyErr_Clear();
        throw py::value_error("seed must be a whole number from 0 to 2^64-1");
    }
    return value;
}

py::array_t<int16_t> Decode(const py::object& data, const py::object& loss, double dropRate, const py::object& seed,
                            bool force)
{
    LossOptions options;
    if (!(dropRate >= 0.0 && dropRate <= 1.0))
        throw py::value_error("drop_rate must be from 0 to 1, not " +
                              py::str(py::float_(dropRate)).cast<std::string>());
    options.dropRate = dropRate;
    options.seed = SeedOf(seed);
    SetMask(loss, options);
    const Source source(data, "data");
    Warnings warnings;
    std::vector<int16_t> pcm;
    {
        py::gil_scoped_release release;
        pcm = DecodeStream(source.input(), options, force, warnings, SignalRaised);
    }
    IssueWarnings(WarningKind::kStream, warnings);
    return ToArray(std::move(pcm));
}

py::array_t<FrameRecord> Frames(const py::object& data, bool force)
{
    const Source source(data, "data");
    Warnings warnings;
    std::vector<FrameRecord> records;
    {
        py::gil_scoped_release release;
        records = DescribeFrames(source.input(), force, warnings, SignalRaised);
    }
    IssueWarnings(WarningKind::kStream, warnings);
    return py::array_t<FrameRecord>(static_cast<py::ssize_t>(records.size()), records.data());
}

}  // namespace

void BindStreams(py::module_& m)
{
    PYBIND11_NUMPY_DTYPE(FrameRecord, offset, type, rate, size, faulty);
    m.def("decode", &Decode, py::arg("data"), py::arg("loss") = py::none(), py::arg("drop_rate") = 0.0,
          py::arg("seed") = 1, py::kw_only(), py::arg("force") = false,
          R"(Decodes a whole stream into 16-bit PCM at 8000 Hz, like `mervox decode`.

data: the stream's bytes (bytes, bytearray, memoryview, uint8 array) or a
    path (str or os.PathLike) to read them from: frames back to back, each
    as long as the type bits of its first byte say (24, 20, 4 or 1 bytes).
loss: a loss mask: a path to a mask file, bytes, or a sequence with one
    entry per frame; nonzero decodes that frame as lost.
drop_rate: also lose each frame with this probability (0 to 1).
seed: seed of those random losses; the same seed drops the same frames
    as `mervox decode --seed` on every machine.
force: decode the data even when its first bytes are another format's
    (a capture, WAV, MP3, Ogg, FLAC, .au, gzip, zip, or 512 bytes of
    text), which is otherwise refused.

Returns an int16 array of 240 samples per frame, lost frames included.
Raises FileNotFoundError (or another OSError) for a file that cannot be
read, StreamError (a ValueError) for an empty stream, one without a
whole frame, or one that looks like another format (the message says
what to use instead), TypeError or ValueError for bad arguments,
KeyboardInterrupt on Ctrl-C (checked every 4096 frames). Warns
(StreamWarning) when the stream ends inside a frame or the mask's length
differs from the frame count.)");
    m.def("frames", &Frames, py::arg("data"), py::kw_only(), py::arg("force") = false,
          R"(The frames of a stream, as `mervox info` counts them.

Returns a structured array with one record per whole frame: `offset` (of
its first byte), `type` (0 = 6.3 kbit/s, 1 = 5.3 kbit/s, 2 = silence
descriptor, 3 = untransmitted), `rate` (6300, 5300, or 0 without speech),
`size` (bytes) and `faulty` (a speech frame with impossible codes, which
the decoder conceals). Inputs, force and errors as for decode().)");
}

}  // namespace mervox::python
