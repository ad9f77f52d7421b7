// SPDX-License-Identifier: MIT
// The chip's description against the data sheet's facts, and the texts a
// person types and reads for bytes and field values.
#include <gtest/gtest.h>

#include "chip/field_value.h"
#include "chip/hex_byte.h"
#include "chip/xq4620.h"

namespace {

TEST(ChipDescription, ResetValuesAndAccessOfEveryRegister) {
    struct Row {
        uint8_t address;
        chip::Access access;
        int reset;
    };
    const Row rows[] = {
        {0x00, chip::Access::ReadWrite, 0xC0}, {0x01, chip::Access::ReadWrite, 0x18},
        {0x02, chip::Access::ReadWrite, 0x38}, {0x03, chip::Access::ReadWrite, 0x00},
        {0x04, chip::Access::ReadWrite, 0x00}, {0x05, chip::Access::ReadWrite, 0x1F},
        {0x06, chip::Access::ReadWrite, 0x1F}, {0x07, chip::Access::ReadWrite, 0x00},
        {0x08, chip::Access::ReadWrite, 0x00}, {0x09, chip::Access::ReadOnly, 0x00},
        {0x0A, chip::Access::ReadOnly, 0x46},  {0x0B, chip::Access::ReadOnly, 0x20},
        {0x0F, chip::Access::WriteOnly, -1},   {0x12, chip::Access::ReadOnly, 0x01},
    };
    ASSERT_EQ(chip::registers().size(), std::size(rows));
    for (const Row &row : rows) {
        const chip::Register *r = chip::findRegister(row.address);
        ASSERT_NE(r, nullptr) << int(row.address);
        EXPECT_EQ(r->access, row.access) << r->name;
        EXPECT_EQ(r->reset, row.reset) << r->name;
    }
    for (uint8_t absent : {0x0C, 0x0E, 0x10, 0x13, 0xFF})
        EXPECT_EQ(chip::findRegister(absent), nullptr) << int(absent);
    EXPECT_EQ(chip::setupRegisters(), (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(chip::readableRegisters().size(), 13u) << "all but the software reset";
}

// Each field set to its largest value alone in a clear register gives the
// field's bits and nothing else.
TEST(ChipDescription, FieldsSitOnTheirBits) {
    struct Row {
        const char *name;
        uint8_t reg;
        uint8_t bits;
    };
    const Row rows[] = {
        {"sleep", 0x00, 0x80},         {"linear-a", 0x00, 0x10},     {"linear-b", 0x00, 0x08},
        {"led-a-en", 0x00, 0x04},      {"led-b-en", 0x00, 0x02},     {"led2-on-a", 0x00, 0x01},
        {"feedback-b", 0x01, 0x10},    {"feedback-a", 0x01, 0x08},   {"pwm-active-low", 0x01, 0x04},
        {"pwm-b", 0x01, 0x02},         {"pwm-a", 0x01, 0x01},        {"ovp", 0x02, 0x60},
        {"ocp", 0x02, 0x18},           {"slow-start", 0x02, 0x04},   {"fmode", 0x02, 0x03},
        {"brightness-a", 0x03, 0xFF},  {"brightness-b", 0x04, 0xFF}, {"max-current-a", 0x05, 0x1F},
        {"max-current-b", 0x06, 0x1F}, {"ramp-on", 0x07, 0x38},      {"ramp-off", 0x07, 0x07},
        {"ramp-start", 0x08, 0x38},    {"ramp-stop", 0x08, 0x07},    {"ocp-fault", 0x09, 0x04},
        {"ovp-fault", 0x09, 0x02},     {"tsd-fault", 0x09, 0x01},
    };
    EXPECT_EQ(chip::fields().size(), std::size(rows));
    for (const Row &row : rows) {
        const chip::Field *f = chip::findField(row.name);
        ASSERT_NE(f, nullptr) << row.name;
        EXPECT_EQ(f->reg, row.reg) << row.name;
        EXPECT_EQ(f->placedIn(0x00, f->max), row.bits) << row.name;
        EXPECT_EQ(f->valueIn(row.bits), f->max) << row.name;
        EXPECT_EQ(f->placedIn(0xFF, 0), 0xFF & ~f->mask()) << row.name << " clears only itself";
    }
    EXPECT_EQ(chip::findField("LED-A-EN"), nullptr) << "names are exact";
    EXPECT_EQ(chip::namedBits(0x00), 0x9F) << "bits 6 and 5 of Control have no field";
    EXPECT_EQ(chip::namedBits(0x07), 0x3F);
}

TEST(ChipDescription, ChoicesInTheListsOrder) {
    using Texts = std::vector<std::string>;
    auto choices = [](const char *name) {
        const chip::Field *f = chip::findField(name);
        return f ? Texts(f->choices.begin(), f->choices.end()) : Texts{};
    };
    EXPECT_EQ(choices("fmode"), (Texts{"500 kHz", "1 MHz", "450 kHz", "950 kHz"}));
    EXPECT_EQ(choices("ovp"), (Texts{"16 V", "24 V", "32 V", "40 V"}));
    EXPECT_EQ(choices("ocp"), (Texts{"600 mA", "800 mA", "1.0 A", "1.2 A"}));
    const Texts ramp = {"0", "261 ms", "522 ms", "1 s", "2 s", "4 s", "8 s", "16 s"};
    EXPECT_EQ(choices("ramp-on"),
              (Texts{"4 ms", "261 ms", "522 ms", "1 s", "2 s", "4 s", "8 s", "16 s"}));
    for (const char *name : {"ramp-off", "ramp-start", "ramp-stop"})
        EXPECT_EQ(choices(name), ramp) << name;
}

TEST(HexByte, PanelRules) {
    struct Row {
        const char *text;
        int value; // -1: refused
    };
    const Row rows[] = {
        {"c4", 0xC4}, {"C4", 0xC4},  {"0xc4", 0xC4}, {"0XC4", 0xC4}, {"  7 ", 0x07}, {"00ff", 0xFF},
        {"0", 0x00},  {"0x0", 0x00}, {"ff", 0xFF},   {"100", -1},    {"1ff", -1},    {"", -1},
        {"   ", -1},  {"0x", -1},    {"-1", -1},     {"+1", -1},     {"1 2", -1},    {"g", -1},
        {"\t1", -1},  {"0x-1", -1},  {"0x0x1", -1},
    };
    for (const Row &row : rows) {
        const auto v = chip::parseHexByte(row.text);
        if (row.value < 0)
            EXPECT_FALSE(v.has_value()) << '"' << row.text << '"';
        else
            EXPECT_EQ(v, std::optional<uint8_t>(row.value)) << '"' << row.text << '"';
    }
    EXPECT_EQ(chip::hexByte(0x0A), "0x0A");
}

TEST(FieldValue, TextsPeopleTypeAreAcceptedOrNamed) {
    struct Row {
        const char *field;
        const char *text;
        int value;          // -1: refused
        const char *reason; // on refusal
    };
    const Row rows[] = {
        {"ovp", "32V", 2, ""},
        {"ovp", "32 v", 2, ""},
        {"ocp", "1.0a", 2, ""},
        {"fmode", "1 MHz", 1, ""},
        {"fmode", "450kHz", 2, ""},
        {"ramp-on", "8s", 6, ""},
        {"ramp-off", "0", 0, ""},
        {"led-a-en", "1", 1, ""},
        {"brightness-a", "128", 128, ""},
        {"brightness-a", "0x80", 128, ""},
        {"max-current-b", "31", 31, ""},
        {"ovp", "33V", -1, "ovp=33V: not one of 16 V, 24 V, 32 V, 40 V"},
        {"ovp", "1", -1, "ovp=1: not one of 16 V, 24 V, 32 V, 40 V"},
        {"ramp-on", "0", -1,
         "ramp-on=0: not one of 4 ms, 261 ms, 522 ms, 1 s, 2 s, 4 s, 8 s, 16 s"},
        {"led-a-en", "2", -1, "led-a-en=2: not a number from 0 to 1"},
        {"brightness-a", "256", -1, "brightness-a=256: not a number from 0 to 255"},
        {"max-current-a", "32", -1, "max-current-a=32: not a number from 0 to 31"},
        {"brightness-a", "-1", -1, "brightness-a=-1: not a number from 0 to 255"},
        {"brightness-a", "", -1, "brightness-a=: not a number from 0 to 255"},
        {"brightness-a", "99999999999", -1, "brightness-a=99999999999: not a number from 0 to 255"},
    };
    for (const Row &row : rows) {
        const chip::Field *f = chip::findField(row.field);
        ASSERT_NE(f, nullptr) << row.field;
        std::string reason;
        const auto v = chip::parseFieldValue(*f, row.text, reason);
        if (row.value < 0) {
            EXPECT_FALSE(v.has_value()) << row.field << "=" << row.text;
            EXPECT_EQ(reason, row.reason);
        } else {
            EXPECT_EQ(v, std::optional<unsigned>(row.value)) << row.field << "=" << row.text;
        }
    }
}

TEST(FieldValue, DescribesTheFieldsThatAreSet) {
    EXPECT_EQ(chip::describeFields(0x00, 0xC4), "sleep, led-a-en") << "bit 6 has no name";
    EXPECT_EQ(chip::describeFields(0x00, 0x40), "");
    EXPECT_EQ(chip::describeFields(0x02, 0x38), "ovp=24 V, ocp=1.2 A, fmode=500 kHz");
    EXPECT_EQ(chip::describeFields(0x02, 0x7F), "ovp=40 V, ocp=1.2 A, slow-start, fmode=950 kHz");
    EXPECT_EQ(chip::describeFields(0x07, 0x31), "ramp-on=8 s, ramp-off=261 ms");
    EXPECT_EQ(chip::describeFields(0x03, 0x80), "brightness-a=128");
}

} // namespace
