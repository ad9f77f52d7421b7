// SPDX-License-Identifier: MIT
// The evaluation board as the command sees it: the adapter opened and set up
// with the panel's own calls, then single-register access on the chip. Every
// failure is said once, on standard error, with the register and the
// library's reason.
#ifndef CLI_DEVICE_H
#define CLI_DEVICE_H

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

class Device {
public:
    // Finds the first adapter, opens it and makes the panel's bus, GPIO and
    // power set-up; false (after saying why) when any step fails.
    bool open();

    const std::string &serial() const { return serial_; }
    uint8_t firmware() const { return firmware_; }
    uint8_t firmware2() const { return firmware2_; }

    std::optional<uint8_t> read(uint8_t reg);
    bool write(uint8_t reg, uint8_t value);

private:
    int32_t handle_ = 0;
    std::string serial_;
    uint8_t firmware_ = 0;
    uint8_t firmware2_ = 0;
};

} // namespace cli

#endif
