// SPDX-License-Identifier: MIT
// The simulated board: the chip's register model, power, unplugging, and the
// hooks tests use to disturb it.
#include <cerrno>

#include "sim_fixture.h"

namespace {

using vtx::test::Call;

// What a freshly powered (or software-reset) chip answers, register by register.
const std::pair<uint8_t, int32_t> kPowerUp[] = {
    {0x00, 0xC0}, {0x01, 0x18}, {0x02, 0x38}, {0x03, 0x00}, {0x04, 0x00},
    {0x05, 0x1F}, {0x06, 0x1F}, {0x07, 0x00}, {0x08, 0x00}, {0x09, 0x00},
    {0x0A, 0x46}, {0x0B, 0x20}, {0x0F, 0x00}, {0x12, 0x01},
};

class ChipTest : public SimTest {
protected:
    void expectPowerUpValues() {
        for (const auto &[reg, value] : kPowerUp)
            EXPECT_EQ(read(h, reg), value) << "register " << int(reg);
    }
    void SetUp() override {
        SimTest::SetUp();
        h = openBoard();
    }
    int32_t h = 0;
};

TEST_F(ChipTest, PowersUpWithResetValuesAndIdentification) {
    expectPowerUpValues();
}

TEST_F(ChipTest, OnlyMappedRegistersAtItsAddressAcknowledge) {
    for (uint8_t reg : {0x0C, 0x0E, 0x10, 0x11, 0x13, 0xFF}) {
        EXPECT_EQ(read(h, reg), -ENXIO) << int(reg);
        EXPECT_EQ(write(h, reg, 0x01), -ENXIO) << int(reg);
    }
    for (uint16_t device : {0x00, 0x35, 0x37, 0x7F}) {
        EXPECT_EQ(vtxI2C_RegisterRead(h, device, 0x00), -ENXIO) << device;
        EXPECT_EQ(vtxI2C_RegisterWrite(h, device, 0x00, 0x00), -ENXIO) << device;
    }
}

TEST_F(ChipTest, ReadOnlyRegistersAcknowledgeWritesAndDropThem) {
    for (uint8_t reg = 0x00; reg <= 0x08; ++reg) {
        EXPECT_EQ(write(h, reg, 0xA5 ^ reg), 0);
        EXPECT_EQ(read(h, reg), 0xA5 ^ reg) << int(reg);
    }
    vtx::sim::raiseInterrupt(vtx::sim::kOvp);
    vtx::sim::setChipRegister(0x0A, 0x77);
    for (auto [reg, value] :
         {std::pair<uint8_t, int32_t>{0x09, 0x02}, {0x0A, 0x77}, {0x0B, 0x20}, {0x12, 0x01}}) {
        EXPECT_EQ(write(h, reg, 0x5A), 0) << int(reg);
        EXPECT_EQ(read(h, reg), value) << int(reg);
    }
}

TEST_F(ChipTest, SoftwareResetRestoresResetValuesAndClearsFlags) {
    write(h, 0x00, 0x95);
    write(h, 0x05, 0x03);
    vtx::sim::raiseInterrupt(0xFF);
    EXPECT_EQ(read(h, 0x09), 0x07) << "only OCP, OVP and TSD exist";
    write(h, 0x0F, 0x02);
    EXPECT_EQ(vtx::sim::chipRegister(0x00), 0x95) << "only the value 1 resets";
    EXPECT_EQ(write(h, 0x0F, 0x01), 0);
    expectPowerUpValues();
}

TEST_F(SimTest, UnpoweredChipDoesNotAnswerAndPowersUpFromReset) {
    const int32_t h = openBoard(false);
    EXPECT_FALSE(vtx::sim::powered());
    EXPECT_LT(read(h, 0x00), 0);
    EXPECT_LT(write(h, 0x00, 0xC4), 0);
    EXPECT_EQ(vtxPower_WriteControl(h, 1, 0), 0);
    write(h, 0x03, 0x80);
    EXPECT_EQ(vtxPower_WriteControl(h, 1, 0), 0);
    EXPECT_EQ(read(h, 0x03), 0x80) << "a supply already on does not reset the chip";
    EXPECT_EQ(vtxPower_WriteControl(h, 0, 7), 0);
    EXPECT_LT(read(h, 0x03), 0);
    EXPECT_EQ(vtxPower_WriteControl(h, 1, 0), 0);
    EXPECT_EQ(read(h, 0x03), 0x00);
}

TEST_F(SimTest, BoardRefusesAnyOtherSetUp) {
    const int32_t h = openBoard(false);
    for (int32_t result : {vtxI2C_Control(h, 1, 0, 1), vtxI2C_Control(h, 0, 0, 0),
                           vtxGPIO_WriteControl(h, 1, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0, 0, 0),
                           vtxGPIO_WriteControl(h, 0, 0, 1, 1, 1, 1, 2, 1, 0, 0, 0, 0, 1),
                           vtxPower_WriteControl(h, 1, 5), vtxPower_WriteControl(h, 2, 0)})
        EXPECT_EQ(result, -EINVAL);
    EXPECT_FALSE(vtx::sim::powered());
}

TEST_F(SimTest, UnpluggedAdapterIsGone) {
    const int32_t h = openBoard();
    vtx::sim::unplug();
    char serial[VTX_SERIAL_SIZE];
    uint8_t version[8];
    EXPECT_EQ(vtxFindControllers(), 0);
    for (int32_t result : {vtxGetSerialNumber(0, serial), vtxOpen("SIM-0001"),
                           vtxFirmwareVersion_Read(h, version, 5), vtxPower_WriteControl(h, 1, 0),
                           read(h, 0x00), write(h, 0x00, 0xC4)})
        EXPECT_LT(result, 0);
    EXPECT_FALSE(vtx::sim::powered());
}

TEST_F(SimTest, ForcedResultStandsInForTheBackendUntilCleared) {
    const int32_t h = openBoard(false);
    vtx::test::forceResult(Call::Power_WriteControl, -EIO);
    EXPECT_EQ(vtxPower_WriteControl(h, 1, 0), -EIO);
    EXPECT_EQ(vtxPower_WriteControl(h, 1, 0), -EIO);
    EXPECT_FALSE(vtx::sim::powered()) << "a forced call must not reach the board";
    vtx::test::clearForcedResult(Call::Power_WriteControl);
    EXPECT_EQ(vtxPower_WriteControl(h, 1, 0), 0);
    vtx::test::forceResult(Call::I2C_RegisterRead, 0x1A5);
    EXPECT_EQ(read(h, 0xFF), 0x1A5);
    EXPECT_EQ(read(h + 1, 0x00), -EBADF) << "checks come first";
    vtx::test::forceResult(Call::FindControllers, 0);
    EXPECT_EQ(vtxFindControllers(), 0);
    vtx::test::reset();
    EXPECT_EQ(vtxFindControllers(), 1);
}

} // namespace
