// SPDX-License-Identifier: MIT
// xq4620.fields() and xq4620.registers(): the chip's description as plain,
// read-only Python objects, taken from chip/ and nowhere else.
#include "python/module.h"

#include "chip/xq4620.h"

namespace py = pybind11;

namespace xqpy {
namespace {

struct FieldInfo {
    std::string name, registerName, access;
    int address, lsb, width, max;
    py::object reset; // the field's value after a reset; None for a register without one
    py::tuple choices;
};

struct RegisterInfo {
    int address;
    std::string name, access;
    py::object reset;
    py::tuple fields;
};

py::object resetOf(const chip::Register &r) {
    return r.reset < 0 ? py::object(py::none()) : py::object(py::int_(r.reset));
}

FieldInfo fieldInfo(const chip::Field &f) {
    const chip::Register &r = *chip::findRegister(f.reg);
    py::list choices;
    for (const char *c : f.choices)
        choices.append(c);
    return {f.name,
            r.name,
            chip::accessText(r.access),
            f.reg,
            f.lsb,
            f.width,
            f.max,
            r.reset < 0 ? py::object(py::none())
                        : py::object(py::int_(f.valueIn(static_cast<uint8_t>(r.reset)))),
            py::tuple(choices)};
}

std::string hex(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

// Equal when `key` is, and hashed by it.
template <typename T, typename Key> void comparedBy(py::class_<T> &cls, Key T::*key) {
    cls.def(
           "__eq__",
           [key](const T &self, const py::object &other) -> py::object {
               if (!py::isinstance<T>(other))
                   return py::reinterpret_borrow<py::object>(Py_NotImplemented);
               return py::bool_(other.cast<const T &>().*key == self.*key);
           },
           py::is_operator())
        .def("__hash__", [key](const T &self) { return py::hash(py::cast(self.*key)); });
}

} // namespace

void bindDescription(py::module_ &m) {
    py::class_<FieldInfo> field(m, "Field",
                                "One named field of a register, as `xq4620 fields` lists it.");
    field.def_readonly("name", &FieldInfo::name, "The name a person types: 'led-a-en', 'ovp'.")
        .def_readonly("register", &FieldInfo::address, "Address of the register holding it.")
        .def_readonly("register_name", &FieldInfo::registerName, "'Boost Control'.")
        .def_readonly("lsb", &FieldInfo::lsb, "Lowest bit of the field in its register.")
        .def_readonly("width", &FieldInfo::width, "Number of bits.")
        .def_property_readonly(
            "bits",
            [](const FieldInfo &f) {
                py::list bits;
                for (int b = f.lsb + f.width - 1; b >= f.lsb; --b)
                    bits.append(b);
                return py::tuple(bits);
            },
            "The bit numbers it occupies, highest first: (6, 5).")
        .def_readonly("access", &FieldInfo::access,
                      "'read/write' or 'read-only', the access of its register.")
        .def_readonly("reset", &FieldInfo::reset,
                      "The field's value (a code for a field with choices) after a reset.")
        .def_readonly("max", &FieldInfo::max, "Largest value (a field with choices: choices - 1).")
        .def_readonly("choices", &FieldInfo::choices,
                      "The choice texts, code 0 first; empty for a plain number.")
        .def("__repr__", [](const FieldInfo &f) {
            const std::string bits = f.width == 1 ? "bit " + std::to_string(f.lsb)
                                                  : "bits " + std::to_string(f.lsb + f.width - 1) +
                                                        "-" + std::to_string(f.lsb);
            return "<Field " + f.name + ": register " + hex(f.address) + " " + bits + ">";
        });
    // A field is what its name says: the chip has one of each.
    comparedBy(field, &FieldInfo::name);

    py::class_<RegisterInfo> reg(m, "Register", "One register of the chip.");
    reg.def_readonly("address", &RegisterInfo::address)
        .def_readonly("name", &RegisterInfo::name, "'Brightness, Bank A'.")
        .def_readonly("access", &RegisterInfo::access, "'read/write', 'read-only' or 'write-only'.")
        .def_readonly("reset", &RegisterInfo::reset,
                      "The value after power-up or a software reset; None when it has none.")
        .def_readonly("fields", &RegisterInfo::fields, "Names of its fields, highest bit first.")
        .def("__repr__", [](const RegisterInfo &r) {
            return "<Register " + hex(r.address) + " " + r.name + ">";
        });
    comparedBy(reg, &RegisterInfo::address);

    m.def(
        "fields",
        [] {
            py::list out;
            for (const chip::Field &f : chip::fields())
                out.append(fieldInfo(f));
            return out;
        },
        "Every field of the chip, register by register, highest bit first.");
    m.def(
        "registers",
        [] {
            py::list out;
            for (const chip::Register &r : chip::registers()) {
                py::list names;
                for (const chip::Field *f : chip::fieldsOf(r.address))
                    names.append(f->name);
                out.append(RegisterInfo{r.address, r.name, chip::accessText(r.access), resetOf(r),
                                        py::tuple(names)});
            }
            return out;
        },
        "Every register of the chip in address order.");
}

} // namespace xqpy
