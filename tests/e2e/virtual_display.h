// SPDX-License-Identifier: MIT
// A private X server (Xvfb) for the end-to-end tests, on a display number it
// picks itself, so that tests never meet a desktop or each other.
#ifndef TESTS_E2E_VIRTUAL_DISPLAY_H
#define TESTS_E2E_VIRTUAL_DISPLAY_H

#include <string>

#include "process.h"

class VirtualDisplay {
public:
    VirtualDisplay() = default;
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;
    ~VirtualDisplay();

    // Starts Xvfb with one screen of width x height x 24 bits, its output in
    // `logPath`, and waits until it accepts clients. Returns false and says
    // why in `error`.
    bool Start(int width, int height, const std::string &logPath, std::string *error);

    // ":N" once started.
    const std::string &Name() const { return m_name; }

    // This process's environment, pointed at this display and at nothing
    // else: no Wayland, no Qt platform override.
    Environment ClientEnvironment() const;

private:
    Child m_server;
    std::string m_name;
};

#endif
