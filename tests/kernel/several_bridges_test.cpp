// SPDX-License-Identifier: MIT
// Several emulated bridges in one guest, each with its own serial and its own
// simulated chip, as on a bench of several boards: the names that pick one
// out, the refusal to guess between them, and a bridge pulled out and
// plugged back on another bus while a watch, the command and the library
// each keep its name. All i2c-tiny-usb, which the kernel binds at once.
#include "bridge_process.h"
#include "guest_fixture.h"
#include "vtx/adapters.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

const char *const kFirst = "XQ-A1";
const char *const kSecond = "XQ-B2";
const char *const kThird = "XQ-C3";
constexpr uint8_t kChip = 0x36;

// The chip's register `reg` as a bridge's --dump printed it at its stop, -1
// when it is missing.
int dumped(const std::vector<std::string> &dump, uint8_t reg) {
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "0x%02X ", reg);
    for (const std::string &line : dump) {
        if (line.rfind(prefix, 0) == 0)
            return int(std::strtol(line.c_str() + 5, nullptr, 16));
    }
    return -1;
}

// Whether sysfs still lists `bus` ("/dev/i2c-1"), waiting up to `seconds`
// for the kernel to finish removing it.
bool busGoneWithin(const std::string &bus, int seconds) {
    const std::string dir = "/sys/class/i2c-dev/" + bus.substr(5);
    for (int waited = 0; waited < seconds * 10; ++waited) {
        if (::access(dir.c_str(), F_OK) != 0)
            return true;
        ::usleep(100000);
    }
    return false;
}

// Two bridges plugged in at the same moment, racing for the controller's
// ports; nothing named.
class SeveralBridges : public Guest {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(first.launch(kFirst, "1.02", error)) << error;
        ASSERT_TRUE(second.launch(kSecond, "1.02", error)) << error;
        ASSERT_TRUE(first.awaitBus(error)) << error;
        ASSERT_TRUE(second.awaitBus(error)) << error;
        start(nullptr);
    }
    std::vector<std::string> stop(BridgeProcess &bridge) {
        vtx::test::reset(); // the library's descriptors closed, or the unplug waits
        std::vector<std::string> dump;
        EXPECT_EQ(bridge.stop(dump), 0);
        return dump;
    }

    BridgeProcess first, second;
};

} // namespace

TEST_F(SeveralBridges, AdaptersListsEachBridgeByItsSerialAndNoneAsAutomatic) {
    const CommandRun run = runCommand("adapters --json");
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json listing = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(listing.contains("adapters")) << run.out;
    int bridges = 0;
    bool sawStub = false;
    // What scripts read: the keys stay as they are.
    const std::vector<std::string> keys = {
        "automatic", "bridge",  "bus",    "driver", "may_open",       "name",        "node",
        "port",      "product", "serial", "title",  "why_not_bridge", "why_not_open"};
    for (const nlohmann::json &a : listing["adapters"]) {
        std::vector<std::string> seen;
        for (auto it = a.begin(); it != a.end(); ++it)
            seen.push_back(it.key());
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(seen, keys) << a.dump();
        EXPECT_FALSE(a.value("automatic", true)) << a.dump(); // two bridges: nobody guesses
        if (a.value("node", "") == stubBus()) {
            sawStub = true;
            EXPECT_FALSE(a.value("bridge", true)) << a.dump();
            EXPECT_EQ(a.value("name", ""), stubBus()) << a.dump();
            continue;
        }
        for (BridgeProcess *b : {&first, &second}) {
            if (a.value("node", "") != b->bus())
                continue;
            ++bridges;
            const std::string serial = b == &first ? kFirst : kSecond;
            EXPECT_TRUE(a.value("bridge", false)) << a.dump();
            EXPECT_EQ(a.value("name", ""), "usb:" + serial) << a.dump();
            EXPECT_EQ(a.value("serial", ""), serial) << a.dump();
            EXPECT_EQ(a.value("driver", ""), "i2c-tiny-usb") << a.dump();
            EXPECT_TRUE(a.value("may_open", false)) << a.dump();
        }
    }
    EXPECT_TRUE(sawStub) << run.out;
    EXPECT_EQ(bridges, 2) << run.out;
}

TEST_F(SeveralBridges, NamedSerialReachesThatBridgesChipAlone) {
    // The command by one name, the library by the other.
    const CommandRun run = runCommand(std::string("--adapter usb:") + kSecond + " write 0x03 0xA5");
    EXPECT_EQ(run.status, 0) << run.err;
    start((std::string("usb:") + kFirst).c_str());
    uint8_t firmware = 0;
    ASSERT_EQ(LinkOpen(&firmware), 0);
    EXPECT_EQ(vtx::whereIs(g_hLink), first.bus());
    EXPECT_FALSE(LinkWriteRegister(kChip, 0x04, 0x5A));

    const std::vector<std::string> firstChip = stop(first), secondChip = stop(second);
    EXPECT_EQ(dumped(firstChip, 0x03), 0x00);
    EXPECT_EQ(dumped(firstChip, 0x04), 0x5A);
    EXPECT_EQ(dumped(secondChip, 0x03), 0xA5);
    EXPECT_EQ(dumped(secondChip, 0x04), 0x00);
}

TEST_F(SeveralBridges, NothingNamedIsRefusedAndNothingWritten) {
    const CommandRun run = runCommand("write 0x03 0xA5");
    EXPECT_EQ(run.status, 2) << run.err;
    // Listed by bus number: which of the two the kernel numbered first
    // depends on which won the race for the first port.
    std::pair<int, std::string> byBus[] = {{first.busNumber(), kFirst},
                                           {second.busNumber(), kSecond}};
    std::sort(std::begin(byBus), std::end(byBus));
    std::string expected = "2 USB-to-I2C bridges: ";
    for (const auto &[bus, serial] : byBus)
        expected += std::string(bus == byBus[0].first ? "" : ", ") + "usb:" + serial + " (i2c-" +
                    std::to_string(bus) + ", i2c-tiny-usb)";
    expected += "; name one with --adapter or VTX_ADAPTER";
    EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
    EXPECT_EQ(dumped(stop(first), 0x03), 0x00);
    EXPECT_EQ(dumped(stop(second), 0x03), 0x00);
}

TEST_F(Guest, BridgesSharingASerialAreToldApartByTheirPorts) {
    start(nullptr);
    BridgeProcess left, right;
    std::string error;
    ASSERT_TRUE(left.launch("XQ-SAME", "1.02", error)) << error;
    ASSERT_TRUE(right.launch("XQ-SAME", "1.02", error)) << error;
    ASSERT_TRUE(left.awaitBus(error)) << error;
    ASSERT_TRUE(right.awaitBus(error)) << error;
    // Each bridge printed the bus of its own port.
    ASSERT_NE(left.bus(), right.bus());

    const CommandRun run = runCommand("adapters --json");
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json listing = nlohmann::json::parse(run.out, nullptr, false);
    std::string rightName;
    int named = 0;
    for (const nlohmann::json &a : listing.value("adapters", nlohmann::json::array())) {
        if (a.value("node", "") != left.bus() && a.value("node", "") != right.bus())
            continue;
        ++named;
        EXPECT_EQ(a.value("name", ""), "usb-port:" + a.value("port", "?")) << a.dump();
        if (a.value("node", "") == right.bus())
            rightName = a.value("name", "");
    }
    EXPECT_EQ(named, 2) << run.out;

    const CommandRun write = runCommand("--adapter " + rightName + " write 0x03 0x11");
    EXPECT_EQ(write.status, 0) << write.err;
    EXPECT_EQ(bareRead(right.bus(), 0x03), 0x11);
    EXPECT_EQ(bareRead(left.bus(), 0x03), 0x00);
}

TEST_F(SeveralBridges, UnpluggedBridgeComesBackByItsSerialOnAnotherBus) {
    const std::string name = std::string("usb:") + kFirst;
    start(name.c_str());
    uint8_t firmware = 0, value = 0xEE;
    ASSERT_EQ(LinkOpen(&firmware), 0);
    ASSERT_FALSE(LinkWriteRegister(kChip, 0x03, 0xA5));
    CommandProcess watch;
    std::string error;
    ASSERT_TRUE(watch.start({"watch", "--adapter", name, "brightness-a"}, error)) << error;
    ASSERT_TRUE(watch.awaitOutput("brightness-a=165", 20)) << watch.output();

    // Pulled out: every call fails at once, and the bus is let go of, by the
    // watch and by this program, so that the kernel can finish removing it.
    const std::string oldBus = first.bus();
    first.signal(SIGHUP);
    EXPECT_EQ(first.wait(10), 0);
    EXPECT_TRUE(watch.awaitOutput("adapter unplugged", 10)) << watch.output();
    EXPECT_EQ(vtxI2C_RegisterRead(g_hLink, kChip, 0x03), -ENODEV);
    EXPECT_TRUE(vtx::unplugged(g_hLink));
    ASSERT_TRUE(busGoneWithin(oldBus, 10)) << oldBus << " is still there";

    // Another bridge takes the freed number; then the first comes back,
    // with a fresh chip, on a bus of its own.
    BridgeProcess third;
    ASSERT_TRUE(third.start(kThird, "1.02", error)) << error;
    EXPECT_EQ(third.bus(), oldBus);
    ASSERT_TRUE(first.start(kFirst, "1.02", error)) << error;
    EXPECT_NE(first.bus(), oldBus);
    ASSERT_TRUE(watch.awaitOutput("adapter back on " + first.bus(), 20)) << watch.output();
    ASSERT_TRUE(watch.awaitOutput("brightness-a=0", 10)) << watch.output();

    // The handle opened before the unplug works on its next call, there.
    EXPECT_FALSE(LinkReadRegister(kChip, 0x03, &value));
    EXPECT_EQ(value, 0x00);
    EXPECT_FALSE(vtx::unplugged(g_hLink));
    EXPECT_EQ(vtx::whereIs(g_hLink), first.bus());
    EXPECT_FALSE(LinkWriteRegister(kChip, 0x04, 0x5A));
    const CommandRun run = runCommand("--adapter " + name + " write 0x03 0x3C");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(watch.awaitOutput("brightness-a=60", 10)) << watch.output();
    EXPECT_EQ(bareRead(first.bus(), 0x03), 0x3C);
    EXPECT_EQ(bareRead(first.bus(), 0x04), 0x5A);
    // Nothing by the old name reached the bridge on its old number.
    EXPECT_EQ(bareRead(third.bus(), 0x03), 0x00);
    EXPECT_EQ(bareRead(third.bus(), 0x04), 0x00);

    watch.stop(SIGINT);
    EXPECT_EQ(occurrences(watch.output(), "adapter unplugged"), 1) << watch.output();
    EXPECT_EQ(occurrences(watch.output(), "adapter back on"), 1) << watch.output();
    EXPECT_EQ(occurrences(watch.output(), "error"), 0) << watch.output();
    EXPECT_EQ(dumped(stop(third), 0x03), 0x00);
    EXPECT_EQ(dumped(stop(second), 0x03), 0x00);
}
