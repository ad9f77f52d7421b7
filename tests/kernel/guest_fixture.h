// SPDX-License-Identifier: MIT
// What every case of the guest's test program starts from. See init.sh for
// the environment the guest provides.
#ifndef TESTS_KERNEL_GUEST_FIXTURE_H
#define TESTS_KERNEL_GUEST_FIXTURE_H

#include "link/link.h"
#include "vtx/vtx_testing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The /dev node of the kernel's i2c-stub bus (a chip at 0x36, not on USB).
inline std::string stubBus() {
    const char *bus = std::getenv("XQ_STUB_BUS");
    return bus ? bus : "";
}

// Each case starts from a fresh library (the backend is chosen again from
// VTX_ADAPTER) and a device link that was never opened.
class Guest : public ::testing::Test {
protected:
    void start(const char *adapter) {
        if (adapter)
            setenv("VTX_ADAPTER", adapter, 1);
        else
            unsetenv("VTX_ADAPTER");
        vtx::test::reset();
        vtx::test::setTraceSink([this](const std::string &line) { calls.push_back(line); });
        g_hLink = 0;
        std::memset(g_linkSerial, 0, sizeof g_linkSerial);
        g_fwMajor2 = g_fwMinor2 = 0;
    }
    void TearDown() override { vtx::test::reset(); }

    std::vector<std::string> calls;
};

#endif
