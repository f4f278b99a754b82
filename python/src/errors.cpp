#include "errors.h"

#include <Python.h>

#include "base/stop_check.h"
#include "source.h"

namespace py = pybind11;

namespace mervox::python {
namespace {

PyObject* g_streamWarning = nullptr;
PyObject* g_captureWarning = nullptr;

// A new class mervox.NAME deriving from `base`, added to the module.
PyObject* AddClass(py::module_& m, const char* name, PyObject* base, const char* doc)
{
    const std::string qualified = std::string("mervox.") + name;
    PyObject* type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr);
    if (!type)
        throw py::error_already_set();
    m.add_object(name, py::reinterpret_borrow<py::object>(type));
    return type;  // the module keeps it alive
}

}  // namespace

void RegisterErrors(py::module_& m)
{
    static PyObject* streamError = AddClass(m, "StreamError", PyExc_ValueError,
                                            "Not a G.723.1 stream with a whole frame (empty, or only a cut frame).");
    static PyObject* captureError =
        AddClass(m, "CaptureError", PyExc_ValueError, "Not a pcap or pcapng capture, or no G.723.1 RTP stream in it.");
    g_streamWarning = AddClass(m, "StreamWarning", PyExc_UserWarning,
                               "A stream ends inside a frame, or a loss mask does not match its frames.");
    g_captureWarning = AddClass(m, "CaptureWarning", PyExc_UserWarning,
                                "A capture is cut short or damaged: the packets before the damage are used.");

    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            std::rethrow_exception(failure);
        } catch (const InputError& e) {
            // OSError(errno, text) becomes the subclass for that errno.
            const py::object error =
                py::reinterpret_borrow<py::object>(PyExc_OSError)(e.errnum, FileSystemText(e.what()));
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
        } catch (const StreamError& e) {
            PyErr_SetObject(streamError, FileSystemText(e.what()).ptr());
        } catch (const CaptureError& e) {
            PyErr_SetObject(captureError, FileSystemText(e.what()).ptr());
        } catch (const media::base::Interrupted&) {
            // SignalRaised left the handler's exception set.
            if (!PyErr_Occurred())
                PyErr_SetNone(PyExc_KeyboardInterrupt);
        }
    });
}

bool SignalRaised()
{
    const py::gil_scoped_acquire lock;
    return PyErr_CheckSignals() != 0;
}

void IssueWarnings(WarningKind kind, const Warnings& warnings)
{
    PyObject* category = kind == WarningKind::kStream ? g_streamWarning : g_captureWarning;
    for (const std::string& text : warnings)
        if (PyErr_WarnFormat(category, 1, "%U", FileSystemText(text).ptr()) != 0)
            throw py::error_already_set();
}

}  // namespace mervox::python
