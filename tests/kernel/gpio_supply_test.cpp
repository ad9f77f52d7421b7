// SPDX-License-Identifier: MIT
// The board's supply switched by a GPIO line of the bridge, through the
// kernel's own gpiochip of hid-mcp2221 and hid-cp2112: the emulated bridge
// wires the board's supply to a line (off, nothing acknowledges), and keeps
// a log of the GPIO requests and I2C messages it gets, in order. The bench
// description is written into the guest's $XDG_CONFIG_HOME.
#include "bridge_process.h"
#include "guest_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const kSerial = "XQEB-0077";
const char *const kConfigHome = "/tmp/xq-config";
const char *const kBench = "/tmp/xq-config/xq4620/bench.conf";

struct SupplyCase {
    const char *bridge;
    const char *line;          // the line wired to the board's supply
    const char *otherFunction; // a pin the bridge's flash gives another function, or nullptr
};
const SupplyCase kSupplyCases[] = {
    {"mcp2221", "GP2", "GP1"},
    {"cp2112", "GPIO.2", nullptr},
};

void PrintTo(const SupplyCase &c, std::ostream *out) {
    *out << c.bridge;
}

// The bench description: `text` as the file, or none at all.
void describeBench(const std::string &text) {
    ::mkdir(kConfigHome, 0700);
    ::mkdir((std::string(kConfigHome) + "/xq4620").c_str(), 0700);
    if (text.empty()) {
        ::unlink(kBench);
        return;
    }
    std::ofstream(kBench) << text;
}

std::string section(const std::string &line) {
    return std::string("[usb:") + kSerial + "]\nsupply = " + line + "\nsettle-ms = 5\n";
}

// One bridge of each kind, its supply on the case's line, serves every row
// of its suite (an MCP2221 takes about 25 s to bind).
class GpioSupply : public Guest, public ::testing::WithParamInterface<SupplyCase> {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", kConfigHome, 1);
        unsetenv("VTX_SUPPLY");
        if (!shared_ || kind_ != GetParam().bridge) {
            shared_.reset(new BridgeProcess);
            kind_ = GetParam().bridge;
            std::vector<std::string> options = {"--bridge",      kind_,   "--supply-line",
                                                GetParam().line, "--log", logPath()};
            if (GetParam().otherFunction)
                options.insert(options.end(), {"--other-function", GetParam().otherFunction});
            std::string error;
            if (!shared_->start(kSerial, "1.02", error, options)) {
                shared_.reset();
                FAIL() << error;
            }
        }
        start(nullptr);
        describeBench(section(GetParam().line));
    }
    void TearDown() override {
        describeBench("");
        unsetenv("XDG_CONFIG_HOME");
        Guest::TearDown();
    }
    static void TearDownTestSuite() { shared_.reset(); }

    std::string logPath() const { return "/tmp/xq-bridge-" + kind_ + ".log"; }
    // What the bridge logged from now on, one request a line.
    void mark() { mark_ = log().size(); }
    std::vector<std::string> logged() const {
        std::vector<std::string> lines;
        std::istringstream in(log().substr(mark_));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

private:
    std::string log() const {
        std::ifstream in(logPath());
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    size_t mark_ = 0;
    static std::unique_ptr<BridgeProcess> shared_;
    static std::string kind_;
};
std::unique_ptr<BridgeProcess> GpioSupply::shared_;
std::string GpioSupply::kind_;

INSTANTIATE_TEST_SUITE_P(Mcp2221, GpioSupply, ::testing::Values(kSupplyCases[0]),
                         [](const auto &) { return std::string("mcp2221"); });
INSTANTIATE_TEST_SUITE_P(Cp2112, GpioSupply, ::testing::Values(kSupplyCases[1]),
                         [](const auto &) { return std::string("cp2112"); });

// The first line of `lines` from `from` on that starts with `prefix`; -1.
long firstOf(const std::vector<std::string> &lines, const std::string &prefix) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(prefix, 0) == 0)
            return long(i);
    }
    return -1;
}

} // namespace

TEST_P(GpioSupply, SetUpSwitchesTheSupplyOnBeforeTheFirstRegisterAccess) {
    CommandRun run = runCommand("power off");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "off\n");
    mark();
    run = runCommand("dump");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("0x0A 0x46"), std::string::npos) << run.out;
    const std::vector<std::string> lines = logged();
    const long on = firstOf(lines, "supply on");
    const long access = firstOf(lines, "i2c ");
    ASSERT_GE(on, 0) << ::testing::PrintToString(lines);
    ASSERT_GE(access, 0) << ::testing::PrintToString(lines);
    EXPECT_LT(on, access) << ::testing::PrintToString(lines);
}

TEST_P(GpioSupply, PowerOffLastsUntilTheNextSetUpWithTheDescriptionWhichStartsTheChipAfresh) {
    CommandRun run = runCommand("write 0x00 0xC4");
    ASSERT_EQ(run.status, 0) << run.err;
    // Switching the supply line by hand is refused.
    run = runCommand(std::string("gpio ") + GetParam().line + "=0");
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("switches the board's supply"), std::string::npos) << run.err;
    run = runCommand("power off");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("stays off until"), std::string::npos) << run.err;
    run = runCommand("power status");
    EXPECT_EQ(run.out, "off\n") << run.err;

    // Without the description nothing switches it on: the board is silent.
    describeBench("");
    run = runCommand("dump");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.err.find("no chip answers at address 0x36"), std::string::npos) << run.err;

    describeBench(section(GetParam().line));
    run = runCommand("dump");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("0x00 0xC0"), std::string::npos) << run.out;
    run = runCommand("power status");
    EXPECT_EQ(run.out, "on\n") << run.err;
}

TEST_P(GpioSupply, WithoutABenchEntryNoGpioRequestIsMade) {
    ASSERT_EQ(runCommand("power on").status, 0);
    describeBench("[usb:SOMEONE-ELSE]\nsupply = GP0\n");
    mark();
    const CommandRun run = runCommand("dump");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = logged();
    EXPECT_GE(firstOf(lines, "i2c "), 0) << ::testing::PrintToString(lines);
    EXPECT_EQ(firstOf(lines, "gpio"), -1) << ::testing::PrintToString(lines);
}

TEST_P(GpioSupply, DoctorReportsTheLinesLevelOrThatThePinHasAnotherFunction) {
    CommandRun run = runCommand("doctor");
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(
        run.out.find("the board's supply is on; " + std::string(GetParam().line) + " driven at 1"),
        std::string::npos)
        << run.out;
    if (!GetParam().otherFunction)
        return; // a CP2112's pins are GPIO whatever else they do
    describeBench(section(GetParam().otherFunction));
    run = runCommand("doctor");
    EXPECT_NE(run.status, 0) << run.out;
    EXPECT_NE(run.out.find(std::string(GetParam().otherFunction) + " of usb:" + kSerial +
                           " (MCP2221) is not a GPIO pin"),
              std::string::npos)
        << run.out;
    // The supply row's own fix, not only the set-up's failure.
    EXPECT_NE(run.out.find("the pin's function is kept in the bridge's flash"), std::string::npos)
        << run.out;
}
