// SPDX-License-Identifier: MIT
// The pieces the script forms share between an export and a recording.
#ifndef EXPORT_SCRIPT_LINES_H
#define EXPORT_SCRIPT_LINES_H

#include <cstdint>
#include <string>

#include "export/forms.h"

namespace exporter {

// The interpreter line, the line naming what the file is, where it came
// from, and the script's start: its argument checked (the bus, or an
// optional --adapter), stopping at the first failure.
std::string scriptPreamble(Format format, bool recording, const Origin &origin);

// The line that writes `value` to `reg` of the chip at `device`; "" when
// the form cannot reach that device (the command and the module reach the
// XQ4620 only).
std::string writeLine(Format format, uint16_t device, uint8_t reg, uint8_t value);

// "sleep 1.25" / "time.sleep(1.25)".
std::string pauseLine(Format format, double seconds);

} // namespace exporter

#endif
