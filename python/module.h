// SPDX-License-Identifier: MIT
// The parts of the Python module, each binding one area into `xq4620._xq4620`.
#ifndef PYTHON_MODULE_H
#define PYTHON_MODULE_H

#include <nlohmann/json.hpp>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace xqpy {

// An adapter or chip failure, raised in Python as xq4620.BoardError (an
// OSError): `error` the positive errno, `reg` the register when one was
// involved, `reason` the library's reason in words, `what` the whole message
// as the command would say it (without its "xq4620: ").
struct BoardFailure : std::runtime_error {
    BoardFailure(int error, std::optional<uint8_t> reg, std::string reason, const std::string &what)
        : std::runtime_error(what), error(error), reg(reg), reason(std::move(reason)) {}
    int error;
    std::optional<uint8_t> reg;
    std::string reason;
};

// KeyError in Python: an unknown field name.
struct UnknownName : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A JSON document as Python's json module would load it.
pybind11::object toPython(const nlohmann::ordered_json &value);

void bindDescription(pybind11::module_ &m);
void bindBoard(pybind11::module_ &m);

} // namespace xqpy

#endif
