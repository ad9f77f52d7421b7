// SPDX-License-Identifier: MIT
// What VTX_ADAPTER may hold, for the library and for programs that take an
// adapter's name from a person (the Python module, the doctor).
#ifndef VTX_ADAPTER_NAME_H
#define VTX_ADAPTER_NAME_H

#include <string>

namespace vtx {

// Why `name` is nothing VTX_ADAPTER takes ("sim", "sim:NAME", a path, or ""
// for USB-to-I2C bridges found automatically), quoting it; "" when it is
// one. Whether it names an adapter that is there is for vtxOpen to find.
std::string adapterNameProblem(const std::string &name);

} // namespace vtx

#endif
