// SPDX-License-Identifier: MIT
// The adapter chain as the doctor walks it: a fake sysfs tree with a CP2112
// on USB beside the motherboard's SMBus, a user "alice" who is not root, and
// a node, functions and chip that each row spoils in one way.
#include <cerrno>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

#include "doctor/checks.h"
#include "i2cdev/fake_sysfs.h"

namespace {

constexpr uid_t kAlice = 1000;
constexpr gid_t kI2c = 116;
const char kHidParent[] = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/0003:04D8:00DD.0001";

// One bench, fresh for each case.
struct Bench {
    Bench() {
        sys.addPciBus(0, "pci0000:00/0000:00:1f.4");
        sys.addUsbBus(7, "pci0000:00/0000:00:14.0/usb1/1-2", "0001", "0102", true, "cp2112");
        env.sysfsRoot = sys.root();
        env.devDir = "/dev";
        env.user.uid = kAlice;
        env.user.groups = {kAlice};
        env.user.name = "alice";
        env.user.seated = true;
        env.i2cGroup = kI2c;
        // What the package's rule makes of a bridge's node at a seat.
        node.exists = true;
        node.mode = S_IFCHR | 0660;
        node.major = 89;
        node.minor = 7;
        node.gid = kI2c;
        node.aclUsers = {{kAlice, 6}};
        env.stat = [this](const std::string &path) {
            seen = path;
            return node;
        };
        env.functions = [this](const std::string &, unsigned long &f) {
            f = funcs;
            return 0L;
        };
        env.openAdapter = [] { return doctor::ChipRead{}; };
        env.readRegister = [this](uint8_t reg) { return doctor::ChipRead{chip[reg], {}}; };
    }

    static const doctor::Check &check(const doctor::Report &r, const std::string &name) {
        for (const doctor::Check &c : r.checks)
            if (c.name == name)
                return c;
        static const doctor::Check none{"(none)", doctor::Verdict::Info, "", ""};
        ADD_FAILURE() << "no check " << name << " in\n" << doctor::formatReport(r);
        return none;
    }

    FakeSysfs sys;
    doctor::Environment env;
    doctor::NodeFacts node;
    std::string seen;
    unsigned long funcs = 0x00180000; // SMBus read and write byte data
    std::map<uint8_t, int32_t> chip = {{0x0A, 0x46}, {0x0B, 0x20}, {0x12, 0x01}};
};

const doctor::Check &check(const doctor::Report &r, const std::string &name) {
    return Bench::check(r, name);
}

TEST(Doctor, AllGoodWalksTheWholeChainToTheChip) {
    Bench b;
    const doctor::Report r = doctor::run(b.env);
    EXPECT_TRUE(r.ok()) << doctor::formatReport(r);
    std::vector<std::string> names;
    for (const doctor::Check &c : r.checks)
        names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"i2c-dev", "i2c-0", "i2c-7", "bridge", "node",
                                               "access", "functions", "address", "chip"}));
    EXPECT_EQ(b.seen, "/dev/i2c-7");
    EXPECT_NE(check(r, "i2c-0").found.find("no bridge (driver i801_smbus, not on USB)"),
              std::string::npos);
    EXPECT_NE(check(r, "access").found.find("through its ACL"), std::string::npos);
    EXPECT_EQ(check(r, "chip").found,
              "an XQ4620 answers at 0x36: part number 0x46 0x20, silicon revision 0x01");
}

TEST(Doctor, EachBrokenLinkFailsWithItsFix) {
    struct Row {
        const char *what;
        std::function<void(Bench &)> spoil;
        const char *check;
        const char *fix; // part of the fix ("" when the finding carries it)
    };
    const Row rows[] = {
        {"i2c-dev not loaded",
         [](Bench &t) { std::filesystem::remove_all(t.sys.path("class/i2c-dev")); }, "i2c-dev",
         "sudo modprobe i2c-dev"},
        {"no node for the bridge's bus", [](Bench &t) { t.node.exists = false; }, "node",
         "udev makes it once i2c-dev is loaded"},
        {"the node of another bus", [](Bench &t) { t.node.minor = 3; }, "node",
         "let udev make the nodes"},
        {"no access: the rule never ran",
         [](Bench &t) {
             t.node.gid = 0;
             t.node.aclUsers.clear();
         },
         "access", "the package's udev rule has not been applied"},
        {"no access: not in the group, no ACL", [](Bench &t) { t.node.aclUsers.clear(); }, "access",
         "join the i2c group: sudo usermod -aG i2c $USER"},
        {"no access: joined, not logged in again",
         [](Bench &t) {
             t.node.aclUsers.clear();
             t.env.user.inI2cGroupFile = true;
         },
         "access", "log out and in again"},
        {"a driver bound at 0x36",
         [](Bench &t) {
             t.sys.bind(std::string(kHidParent) + "/i2c-7/7-0036", "i2c", "xq-backlight");
         },
         "address", "echo 7-0036 | sudo tee /sys/bus/i2c/drivers/xq-backlight/unbind"},
        {"a wrong part number", [](Bench &t) { t.chip[0x0B] = 0x21; }, "chip",
         "another chip answers at 0x36"},
        {"no chip answers",
         [](Bench &t) {
             t.env.readRegister = [](uint8_t) {
                 return doctor::ChipRead{-ENXIO, "no chip answers at address 0x36: check"};
             };
         },
         "chip", "its own supply switched on"},
        {"a board another program holds",
         [](Bench &t) {
             t.env.openAdapter = [] {
                 return doctor::ChipRead{-EBUSY, "/dev/i2c-7 is busy: another program holds it"};
             };
             t.env.holder = [] { return std::string("xq4620-panel, process 4242"); };
         },
         "chip", "let the program that holds it (xq4620-panel, process 4242) finish"},
        {"held between the set-up and the reads",
         [](Bench &t) {
             t.env.hold = [] { return doctor::ChipRead{-EBUSY, "busy"}; };
             t.env.holder = [] { return std::string(); };
         },
         "chip", "let the program that holds it finish"},
        {"no byte data", [](Bench &t) { t.funcs = 0x00080000; }, "functions",
         "use another adapter"},
        {"two bridges, none named",
         [](Bench &t) {
             t.sys.addUsbBus(8, "pci0000:00/0000:00:14.0/usb1/1-3", "0002", "0102", true,
                             "mcp2221");
         },
         "bridge", "name one with --adapter or VTX_ADAPTER"},
        {"a bridge's name that is not here", [](Bench &t) { t.env.setting = "usb:0002"; }, "bridge",
         "xq4620 adapters lists them"},
        {"the supply pin set to another function",
         [](Bench &t) {
             t.env.supply = [] {
                 return doctor::ChipRead{-ENOENT, "GPIO.2 of usb:0001 (CP2112) is not a GPIO pin"};
             };
         },
         "supply", "set it to GPIO with the bridge maker's configuration utility"},
        {"the supply line held by another program",
         [](Bench &t) {
             t.env.supply = [] { return doctor::ChipRead{-EBUSY, "GPIO.2 ... is held"}; };
         },
         "supply", "end the program that holds the line"},
    };
    for (const Row &row : rows) {
        Bench b;
        row.spoil(b);
        const doctor::Report r = doctor::run(b.env);
        EXPECT_FALSE(r.ok()) << row.what;
        const doctor::Check &c = check(r, row.check);
        EXPECT_EQ(c.verdict, doctor::Verdict::Fail) << row.what << "\n" << doctor::formatReport(r);
        EXPECT_NE(c.fix.find(row.fix), std::string::npos) << row.what << ": " << c.fix;
        for (const doctor::Check &failed : r.checks) {
            if (failed.verdict == doctor::Verdict::Fail) {
                EXPECT_FALSE(failed.fix.empty()) << row.what << ": " << failed.name;
            }
        }
    }
}

// A bridge named by serial or port is the bus the chain goes through, and
// every bridge's line gives the name that picks it out.
TEST(Doctor, ABridgeIsFoundByItsName) {
    for (const char *name : {"usb:0001", "usb-port:1-2"}) {
        Bench b;
        b.sys.addUsbBus(8, "pci0000:00/0000:00:14.0/usb1/1-3", "0002", "0102", true, "mcp2221");
        b.node.minor = 7;
        b.env.setting = name;
        const doctor::Report r = doctor::run(b.env);
        EXPECT_TRUE(r.ok()) << name << "\n" << doctor::formatReport(r);
        EXPECT_EQ(b.seen, "/dev/i2c-7") << name;
        EXPECT_NE(check(r, "i2c-8").found.find("VTX_ADAPTER=usb:0002"), std::string::npos);
    }
}

// A node that is not there is missing; one that cannot be looked at says
// why, as the system does.
TEST(Doctor, AMissingNodeIsToldFromOneThatCannotBeLookedAt) {
    Bench b;
    b.node.exists = false;
    EXPECT_EQ(check(doctor::run(b.env), "node").found, "/dev/i2c-7 is missing");
    b.node.error = EACCES;
    EXPECT_EQ(check(doctor::run(b.env), "node").found, "/dev/i2c-7: Permission denied");
    const doctor::NodeFacts none = doctor::systemEnvironment().stat(b.sys.path("no-such-node"));
    EXPECT_FALSE(none.exists);
    EXPECT_EQ(none.error, 0);
}

// A bus named by hand is used whatever it is, with a word when it is no
// bridge: the machine's own SMBus is no place for the evaluation board.
TEST(Doctor, ANamedBusThatIsNoBridgeIsWarnedOf) {
    Bench b;
    b.env.setting = "/dev/i2c-0";
    b.node.minor = 0;
    doctor::Report r = doctor::run(b.env);
    EXPECT_TRUE(r.ok()) << doctor::formatReport(r);
    const doctor::Check &warned = check(r, "bridge");
    EXPECT_EQ(warned.verdict, doctor::Verdict::Warn);
    EXPECT_NE(warned.found.find("/dev/i2c-0 is no USB-to-I2C bridge: "), std::string::npos);
    EXPECT_NE(warned.found.find("driver i801_smbus, not on USB"), std::string::npos)
        << warned.found;
    EXPECT_NE(doctor::formatReport(r).find("\nwarn  bridge "), std::string::npos);

    b.env.setting = "/dev/i2c-7";
    b.node.minor = 7;
    r = doctor::run(b.env);
    EXPECT_EQ(check(r, "bridge").verdict, doctor::Verdict::Pass) << doctor::formatReport(r);
}

TEST(Doctor, TheGroupOrTheSeatsAclEachGiveAccess) {
    Bench b;
    b.node.aclUsers.clear();
    b.env.user.groups.push_back(kI2c);
    EXPECT_TRUE(doctor::run(b.env).ok());
    EXPECT_NE(check(doctor::run(b.env), "access").found.find("as a member of group i2c"),
              std::string::npos);

    // The group without the group's read and write bits is no access.
    b.node.mode = S_IFCHR | 0600;
    EXPECT_EQ(check(doctor::run(b.env), "access").verdict, doctor::Verdict::Fail);

    // An ACL entry that does not allow writing is no access.
    b.env.user.groups = {kAlice};
    b.node.aclUsers = {{kAlice, 4}};
    EXPECT_EQ(check(doctor::run(b.env), "access").verdict, doctor::Verdict::Fail);

    // The owner goes by the owner's bits, not the group's.
    b.node.aclUsers.clear();
    b.node.uid = kAlice;
    b.node.mode = S_IFCHR | 0600;
    EXPECT_NE(check(doctor::run(b.env), "access").found.find("as its owner"), std::string::npos);
    b.node.mode = S_IFCHR | 0066;
    EXPECT_EQ(check(doctor::run(b.env), "access").verdict, doctor::Verdict::Fail);
}

TEST(Doctor, SimulatedBoardIsReportedWithoutTouchingSysfs) {
    Bench b;
    b.env.setting = "sim:bench";
    std::filesystem::remove_all(b.sys.path("class/i2c-dev"));
    const doctor::Report r = doctor::run(b.env);
    EXPECT_TRUE(r.ok()) << doctor::formatReport(r);
    ASSERT_EQ(r.checks.size(), 2u);
    EXPECT_EQ(r.checks[0].found,
              "the simulated board \"bench\", shared by every program that names it");
}

// The adapter line opens the board: what keeps it from opening fails there,
// with the fix, and the chip is not tried.
TEST(Doctor, ASimulatedBoardThatDoesNotOpenFailsTheAdapterLine) {
    const struct {
        const char *setting;
        doctor::ChipRead opened;
        const char *found, *fix;
    } rows[] = {
        {"sim:../x", {}, "\"../x\" is not a board name", "name the board with letters"},
        {"sim:bench",
         {-EBUSY, "simulated board bench is busy: another program holds it"},
         "holds it (xq4620-panel, process 4242)",
         "let the program that holds it (xq4620-panel, process 4242) finish"},
        {"sim:bench",
         {-EUCLEAN, "simulated board bench: its state file is damaged (/run/b): 3 bytes"},
         "its state file is damaged",
         "remove the damaged state file"},
        {"sim:bench",
         {-ENODEV, "simulated board \"bench\" not available: /run/xq4620-sim: owned by another "
                   "user"},
         "owned by another user",
         "must be yours alone"},
    };
    for (const auto &row : rows) {
        Bench b;
        b.env.setting = row.setting;
        bool opened = false;
        b.env.openAdapter = [&] {
            opened = true;
            return row.opened;
        };
        b.env.holder = [] { return std::string("xq4620-panel, process 4242"); };
        const doctor::Report r = doctor::run(b.env);
        ASSERT_EQ(r.checks.size(), 1u) << doctor::formatReport(r);
        const doctor::Check &c = r.checks[0];
        EXPECT_EQ(c.name, "adapter");
        EXPECT_EQ(c.verdict, doctor::Verdict::Fail);
        EXPECT_NE(c.found.find(row.found), std::string::npos) << c.found;
        EXPECT_NE(c.fix.find(row.fix), std::string::npos) << c.fix;
        EXPECT_EQ(opened, row.opened.result < 0) << row.setting;
    }
    // A shared board that opens and has its supply cut.
    Bench b;
    b.env.setting = "sim:bench";
    b.env.readRegister = [](uint8_t) { return doctor::ChipRead{-ENXIO, "no chip answers"}; };
    EXPECT_EQ(check(doctor::run(b.env), "chip").fix,
              "the board's supply is cut: xq4620 --adapter sim:bench simulate power on");
}

// The chip's registers are read under one hold of the board, let go after.
TEST(Doctor, TheChipIsReadUnderOneHold) {
    Bench b;
    std::vector<std::string> calls;
    b.env.hold = [&] {
        calls.push_back("hold");
        return doctor::ChipRead{};
    };
    b.env.release = [&] { calls.push_back("release"); };
    b.env.readRegister = [&](uint8_t reg) {
        calls.push_back("read " + std::to_string(reg));
        return doctor::ChipRead{b.chip[reg], {}};
    };
    EXPECT_TRUE(doctor::run(b.env).ok());
    EXPECT_EQ(calls,
              (std::vector<std::string>{"hold", "read 10", "read 11", "read 18", "release"}));
}

} // namespace
