#include "source.h"

#include <climits>
#include <memory>

namespace py = pybind11;

namespace mervox::python {

bool IsPath(const py::handle& object) { return py::isinstance<py::str>(object) || py::hasattr(object, "__fspath__"); }

bool PathOf(const py::handle& object, const char* what, std::string* path)
{
    if (!IsPath(object))
        return false;
    const py::object fspath = py::module_::import("os").attr("fspath")(object);
    if (py::isinstance<py::str>(fspath)) {
        const py::object encoded = py::reinterpret_steal<py::object>(PyUnicode_EncodeFSDefault(fspath.ptr()));
        if (!encoded)
            throw py::error_already_set();
        *path = encoded.cast<std::string>();
    } else {
        *path = fspath.cast<std::string>();  // a bytes path
    }
    if (path->find('\0') != std::string::npos)
        throw py::value_error(std::string(what) + ": embedded null byte in the path");
    return true;
}

std::string TypeName(const py::handle& object) { return py::str(py::type::of(object).attr("__name__")); }

long long IntegerArgument(const py::handle& value, const char* what)
{
    const py::object integer = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!integer) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError))
            throw py::error_already_set();
        PyErr_Clear();
        throw py::type_error(std::string(what) + " must be an integer, not " + TypeName(value));
    }
    int overflow = 0;
    const long long result = PyLong_AsLongLongAndOverflow(integer.ptr(), &overflow);
    if (overflow != 0)
        return overflow > 0 ? LLONG_MAX : LLONG_MIN;
    return result;
}

py::str FileSystemText(const std::string& text)
{
    PyObject* decoded = PyUnicode_DecodeFSDefaultAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (!decoded)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(decoded);
}

Source::Source(const py::object& data, const char* what)
{
    if (PathOf(data, what, &input_.path)) {
        input_.isPath = true;
        input_.name = input_.path;
        return;
    }
    if (!PyObject_CheckBuffer(data.ptr()))
        throw py::type_error(std::string(what) + " must be bytes-like or a path (str or os.PathLike), not " +
                             TypeName(data));
    view_ = py::reinterpret_borrow<py::buffer>(data).request();
    if (view_.itemsize != 1 || view_.ndim > 1 || (view_.ndim == 1 && view_.strides[0] != 1))
        throw py::type_error(std::string(what) +
                             " must be contiguous bytes (bytes, bytearray, memoryview "
                             "or a one-dimensional uint8 array)");
    input_.name = "<bytes>";
    input_.data = static_cast<const uint8_t*>(view_.ptr);
    input_.size = static_cast<size_t>(view_.size);
}

py::array_t<int16_t> ToArray(std::vector<int16_t>&& samples)
{
    auto owner = std::make_unique<std::vector<int16_t>>(std::move(samples));
    const py::capsule release(owner.get(), [](void* p) { delete static_cast<std::vector<int16_t>*>(p); });
    std::vector<int16_t>* kept = owner.release();  // the capsule owns it now
    return py::array_t<int16_t>(static_cast<py::ssize_t>(kept->size()), kept->data(), release);
}

}  // namespace mervox::python
