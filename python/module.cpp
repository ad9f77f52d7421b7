// SPDX-License-Identifier: MIT
// xq4620._xq4620: the compiled half of the Python package. Every C++ failure
// becomes a Python exception here, in one place.
#include "python/module.h"

namespace py = pybind11;

py::object xqpy::toPython(const nlohmann::ordered_json &value) {
    switch (value.type()) {
    case nlohmann::ordered_json::value_t::null:
        return py::none();
    case nlohmann::ordered_json::value_t::boolean:
        return py::bool_(value.get<bool>());
    case nlohmann::ordered_json::value_t::number_integer:
        return py::int_(value.get<int64_t>());
    case nlohmann::ordered_json::value_t::number_unsigned:
        return py::int_(value.get<uint64_t>());
    case nlohmann::ordered_json::value_t::number_float:
        return py::float_(value.get<double>());
    case nlohmann::ordered_json::value_t::string:
        return py::str(value.get<std::string>());
    case nlohmann::ordered_json::value_t::array: {
        py::list list;
        for (const auto &item : value)
            list.append(toPython(item));
        return std::move(list);
    }
    default: {
        py::dict dict;
        for (const auto &[key, item] : value.items())
            dict[py::str(key)] = toPython(item);
        return std::move(dict);
    }
    }
}

PYBIND11_MODULE(_xq4620, m) {
    m.doc() = "The XQ4620 LED backlight driver on its evaluation board (compiled half; "
              "import xq4620 instead).";
    m.attr("__version__") = XQ_VERSION;

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const xqpy::BoardFailure &e) {
            // The Python class lives beside this module so that it can be
            // an ordinary OSError subclass with its own attributes.
            py::object cls = py::module_::import("xq4620._errors").attr("BoardError");
            py::object reg = e.reg ? py::object(py::int_(*e.reg)) : py::object(py::none());
            PyErr_SetObject(cls.ptr(), cls(e.error, e.what(), reg, e.reason).ptr());
        } catch (const xqpy::UnknownName &e) {
            PyErr_SetString(PyExc_KeyError, e.what());
        }
    });

    xqpy::bindDescription(m);
    xqpy::bindBoard(m);
}
