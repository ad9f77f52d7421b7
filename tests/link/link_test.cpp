// SPDX-License-Identifier: MIT
// The device link over the simulated board, with faults forced into the
// adapter library.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/link.h"
#include "vtx/sim_fixture.h"

namespace {

using vtx::test::Call;

class LinkTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        // The link's state lives for the process; each test starts it afresh.
        g_hLink = 0;
        std::memset(g_linkSerial, 0, sizeof g_linkSerial);
        g_fwMajor2 = g_fwMinor2 = 0;
    }

    size_t callsTo(const std::string &function) const {
        return std::count_if(calls.begin(), calls.end(), [&](const std::string &line) {
            return line.rfind(function + "(", 0) == 0;
        });
    }
};

TEST_F(LinkTest, NoAdapterFailsTheVersionReadAndSetsNothingUp) {
    vtx::sim::unplug();
    uint8_t firmware = 0x77;
    EXPECT_EQ(LinkOpen(&firmware), 2);
    EXPECT_EQ(firmware, 0x77) << "not written on code 2";
    EXPECT_EQ(calls, (std::vector<std::string>{"vtxFindControllers() = 0",
                                               "vtxFirmwareVersion_Read(0, 5) = -9"}));
}

TEST_F(LinkTest, SetUpReportsTheLastFailureInBusGpioPowerOrder) {
    const struct {
        std::vector<Call> failing;
        LinkStatus expected;
    } cases[] = {
        {{}, 0},
        {{Call::I2C_Control}, 3},
        {{Call::GPIO_WriteControl}, 4},
        {{Call::I2C_Control, Call::GPIO_WriteControl}, 4},
        {{Call::Power_WriteControl}, 5},
        {{Call::I2C_Control, Call::Power_WriteControl}, 5},
        {{Call::I2C_Control, Call::GPIO_WriteControl, Call::Power_WriteControl}, 5},
    };
    for (const auto &c : cases) {
        SetUp();
        for (Call call : c.failing)
            vtx::test::forceResult(call, -EIO);
        uint8_t firmware = 0;
        EXPECT_EQ(LinkOpen(&firmware), c.expected) << c.failing.size() << " failing";
        EXPECT_EQ(firmware, 0x25) << "written on codes 0 and 3 to 5";
        for (const char *setUp :
             {"vtxI2C_Control", "vtxGPIO_WriteControl", "vtxPower_WriteControl"})
            EXPECT_EQ(callsTo(setUp), 1u) << setUp << ", expecting " << int(c.expected);
    }
}

TEST_F(LinkTest, FirmwareBytesPackMajorAndMinorIntoNibbles) {
    uint8_t firmware = 0, firmware2 = 0;
    ASSERT_EQ(LinkOpen(&firmware), 0);
    EXPECT_EQ(firmware, 0x25);
    EXPECT_FALSE(LinkFirmwareVersion(&firmware2));
    EXPECT_EQ(firmware2, 0x13);
    EXPECT_TRUE(vtx::sim::powered());
}

TEST_F(LinkTest, ReadStoresTheLowByteOfTheResult) {
    uint8_t firmware;
    ASSERT_EQ(LinkOpen(&firmware), 0);
    vtx::test::forceResult(Call::I2C_RegisterRead, 0x1A5);
    uint8_t value = 0;
    EXPECT_FALSE(LinkReadRegister(0x36, 0x00, &value));
    EXPECT_EQ(value, 0xA5);
}

TEST_F(LinkTest, FailedReadLeavesTheCallersByte) {
    uint8_t firmware, value = 0x5C;
    ASSERT_EQ(LinkOpen(&firmware), 0);
    EXPECT_TRUE(LinkReadRegister(0x36, 0x0C, &value)) << "register not acknowledged";
    EXPECT_EQ(value, 0x5C);
    vtx::sim::unplug();
    EXPECT_TRUE(LinkReadRegister(0x36, 0x00, &value));
    EXPECT_EQ(value, 0x5C);
}

TEST_F(LinkTest, WriteReachesTheChipAndReportsFailure) {
    uint8_t firmware;
    ASSERT_EQ(LinkOpen(&firmware), 0);
    EXPECT_FALSE(LinkWriteRegister(0x36, 0x00, 0xC4));
    EXPECT_EQ(vtx::sim::chipRegister(0x00), 0xC4);
    EXPECT_TRUE(LinkWriteRegister(0x37, 0x00, 0xC4));
}

} // namespace
