// SPDX-License-Identifier: MIT
// A fresh library on the simulated board for every test, trace kept in memory.
#ifndef TESTS_VTX_SIM_FIXTURE_H
#define TESTS_VTX_SIM_FIXTURE_H

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "vtx/sim.h"
#include "vtx/vtx.h"
#include "vtx/vtx_testing.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("VTX_TRACE");
        restart("sim");
    }
    void TearDown() override { vtx::test::reset(); }

    // As a new process with VTX_ADAPTER=adapter (nullptr: unset) would start.
    void restart(const char *adapter) {
        adapter ? setenv("VTX_ADAPTER", adapter, 1) : unsetenv("VTX_ADAPTER");
        vtx::test::reset();
        calls.clear();
        vtx::test::setTraceSink([this](const std::string &line) { calls.push_back(line); });
    }

    // The device link's open and set-up sequence; returns the handle.
    int32_t openBoard(bool powerOn = true) {
        char serial[VTX_SERIAL_SIZE];
        uint8_t version[8];
        vtxFindControllers();
        vtxGetSerialNumber(0, serial);
        const int32_t h = vtxOpen(serial);
        vtxFirmwareVersion_Read(h, version, 5);
        vtxI2C_Control(h, 0, 0, 1);
        vtxGPIO_WriteControl(h, 0, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0, 0, 0);
        if (powerOn)
            vtxPower_WriteControl(h, 1, 0);
        return h;
    }

    static int32_t read(int32_t h, uint8_t reg) { return vtxI2C_RegisterRead(h, 0x36, reg); }
    static int32_t write(int32_t h, uint8_t reg, uint8_t value) {
        return vtxI2C_RegisterWrite(h, 0x36, reg, value);
    }

    std::vector<std::string> calls;
};

#endif
