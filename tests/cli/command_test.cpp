// SPDX-License-Identifier: MIT
// xq4620 as a script runs it: arguments in; standard output, standard error,
// exit status and the bus trace out. Every run is a fresh process on a fresh
// simulated board (VTX_ADAPTER=sim).
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "process.h"
#include "tests/support/sim_session.h"

namespace {

using Lines = std::vector<std::string>;

struct Outcome {
    int exit = -1;
    std::string out, err;
    Lines trace; // every library call, as traced
    Lines io;    // the register reads and writes only
};

Lines split(const std::string &text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

Lines concat(Lines a, const Lines &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Every command holds the board for its work, with the library's wait.
const std::string kHold = "vtxLock(1, 5000) = 0", kRelease = "vtxUnlock(1) = 0";

std::string readTrace(int reg, int value) {
    char line[64];
    std::snprintf(line, sizeof line, "vtxI2C_RegisterRead(1, 0x36, 0x%02X) = %d", reg, value);
    return line;
}

std::string writeTrace(int reg, int value, int result = 0) {
    char line[64];
    std::snprintf(line, sizeof line, "vtxI2C_RegisterWrite(1, 0x36, 0x%02X, 0x%02X) = %d", reg,
                  value, result);
    return line;
}

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/xq4620-cli-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    Outcome run(const Lines &args, const char *adapter = "sim") {
        const std::string trace = dir + "/trace." + std::to_string(++runs);
        Lines argv = {XQ4620_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        const CommandResult r = RunCommand(argv,
                                           Environment::Current()
                                               .With("VTX_ADAPTER", adapter)
                                               .With("VTX_TRACE", trace)
                                               .With("XDG_RUNTIME_DIR", dir),
                                           Millis(30000));
        return outcome(r, trace, r.Describe(argv));
    }

    // `script` run by /bin/sh with $XQ naming the command, for redirections
    // and for programs side by side.
    Outcome shell(const std::string &script, const char *adapter = "sim",
                  const std::string &extraEnv = "") {
        const std::string trace = dir + "/trace." + std::to_string(++runs);
        Environment env = Environment::Current()
                              .With("VTX_ADAPTER", adapter)
                              .With("VTX_TRACE", trace)
                              .With("XDG_RUNTIME_DIR", dir)
                              .With("XQ", XQ4620_BINARY)
                              .With("D", dir);
        if (!extraEnv.empty())
            env.With(extraEnv.substr(0, extraEnv.find('=')),
                     extraEnv.substr(extraEnv.find('=') + 1));
        const CommandResult r = RunCommand({"/bin/sh", "-c", script}, env, Millis(30000));
        return outcome(r, trace, script);
    }

    // What a finished run left: its status, its output and the register
    // accesses its trace holds.
    static Outcome outcome(const CommandResult &r, const std::string &trace,
                           const std::string &what) {
        Outcome out;
        EXPECT_TRUE(r.started && !r.timedOut) << what;
        out.exit = WIFEXITED(r.status) ? WEXITSTATUS(r.status) : -1;
        out.out = r.out;
        out.err = r.err;
        out.trace = split(ReadFile(trace));
        for (const std::string &line : out.trace) {
            if (line.rfind("vtxI2C_Register", 0) == 0)
                out.io.push_back(line);
        }
        return out;
    }

    static mode_t modeOf(const std::string &path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }

    void write(const std::string &name, const std::string &text) {
        std::ofstream(dir + "/" + name) << text;
    }

    std::string dir;
    int runs = 0;
};

TEST_F(CommandTest, InfoShowsAdapterVersionAndIdentification) {
    const Outcome r = run({"info"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "Adapter: SIM-0001\n"
                     "Version: USB RFW:2.5; FFW:1.3\n"
                     "Part number: 0x4620\n"
                     "Silicon revision: 0x01\n");
    EXPECT_EQ(r.trace,
              concat(sim_session::kSetUpCalls, {kHold, readTrace(0x0A, 0x46), readTrace(0x0B, 0x20),
                                                readTrace(0x12, 1), kRelease}));
}

TEST_F(CommandTest, DumpReadsThirteenRegistersOnceEach) {
    const Outcome r = run({"dump"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.trace, concat(concat(sim_session::kSetUpCalls, {kHold}),
                              concat(sim_session::kFreshReadback, {kRelease})));
    const Lines lines = split(r.out);
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[2], "0x02 0x38  Boost Control: ovp=24 V, ocp=1.2 A, slow-start=0, "
                        "fmode=500 kHz");
    EXPECT_EQ(lines[12], "0x12 0x01  Silicon Revision");

    const Outcome j = run({"dump", "--json"});
    EXPECT_EQ(j.exit, 0) << j.err;
    const auto doc = nlohmann::json::parse(j.out);
    ASSERT_EQ(doc["registers"].size(), 13u);
    EXPECT_EQ(doc["registers"][7]["address"], 7);
    EXPECT_EQ(doc["registers"][7]["fields"]["ramp-on"], "4 ms");
    EXPECT_EQ(doc["registers"][0]["value"], 0xC0);
    EXPECT_EQ(doc["registers"][0]["fields"]["sleep"], 1);
}

TEST_F(CommandTest, DoctorSaysWhetherThePanelWouldWork) {
    const Outcome good = run({"doctor", "--json"});
    EXPECT_EQ(good.exit, 0) << good.out;
    const auto doc = nlohmann::json::parse(good.out);
    EXPECT_EQ(doc["ok"], true);
    EXPECT_EQ(doc["checks"].back()["found"],
              "an XQ4620 answers at 0x36: part number 0x46 0x20, silicon revision 0x01");
    // The chip's identification is read under one hold, as the panel sets
    // the adapter up.
    EXPECT_EQ(good.trace,
              concat(sim_session::kSetUpCalls, {kHold, readTrace(0x0A, 0x46), readTrace(0x0B, 0x20),
                                                readTrace(0x12, 1), kRelease}));

    const Outcome bad = run({"doctor"}, "nothing");
    EXPECT_EQ(bad.exit, 1);
    EXPECT_NE(bad.out.find("FAIL  adapter  \"nothing\" names no adapter; fix: "), std::string::npos)
        << bad.out;

    // A board another program holds fails the adapter line, naming the
    // holder as the system's list of locks shows it.
    ASSERT_EQ(run({"info"}, "sim:held").exit, 0);
    const Outcome held = shell("VTX_TEST_READ_DELAY_MS=30000 \"$XQ\" read 03 >/dev/null & h=$!; "
                               "until grep -q \"WRITE $h \" /proc/locks; do sleep 0.01; done; "
                               "\"$XQ\" doctor --json; s=$?; kill $h; echo \"holder $h\"; exit $s",
                               "sim:held");
    EXPECT_EQ(held.exit, 1) << held.err;
    const std::string holder = held.out.substr(held.out.rfind("holder ") + 7);
    const auto report = nlohmann::json::parse(held.out.substr(0, held.out.rfind("holder ")));
    ASSERT_EQ(report["checks"].size(), 1u) << held.out;
    EXPECT_EQ(report["checks"][0]["found"],
              "the simulated board \"held\", shared by every program that names it: simulated "
              "board held is busy: another program holds it (xq4620, process " +
                  holder.substr(0, holder.size() - 1) + ")");
    EXPECT_EQ(report["checks"][0]["status"], "FAIL");
    EXPECT_NE(report["checks"][0]["fix"].get<std::string>().find("let the program that holds it"),
              std::string::npos);
}

TEST_F(CommandTest, RawReadAndWriteTakeHexBytes) {
    Outcome r = run({"read", " 0x0b "});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "0x20\n");
    EXPECT_EQ(r.io, Lines{readTrace(0x0B, 0x20)});

    r = run({"write", "3", "0X80"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.io, Lines{writeTrace(0x03, 0x80)});

    for (const Lines &bad : {Lines{"read", "100"}, Lines{"read", "-1"}, Lines{"read", "0x"},
                             Lines{"write", "3", "1ff"}, Lines{"write", "zz", "00"}}) {
        r = run(bad);
        EXPECT_EQ(r.exit, 2) << bad[1];
        EXPECT_NE(r.err.find("is not a hex byte"), std::string::npos) << r.err;
        EXPECT_TRUE(r.trace.empty()) << "bad usage never reaches the adapter";
    }
}

TEST_F(CommandTest, GetReadsEachRegisterOnce) {
    const Outcome r = run({"get", "ramp-on", "ovp", "brightness-a", "fmode"});
    EXPECT_EQ(r.exit, 0) << r.err;
    // Each value as set takes it back, unquoted in a shell.
    EXPECT_EQ(r.out, "ramp-on=4ms\novp=24V\nbrightness-a=0\nfmode=500kHz\n");
    EXPECT_EQ(r.io, (Lines{readTrace(0x02, 0x38), readTrace(0x03, 0), readTrace(0x07, 0)}));
    const Outcome j = run({"get", "--json", "ocp", "max-current-b"});
    EXPECT_EQ(nlohmann::json::parse(j.out), nlohmann::json::parse(R"({"ocp": "1.2 A",
                                                                    "max-current-b": 31})"));
}

TEST_F(CommandTest, SetWritesEachTouchedRegisterOnceKeepingOtherBits) {
    const Outcome r = run({"set", "led-a-en=1", "ovp=32V", "linear-a=1", "ramp-on=8s"});
    EXPECT_EQ(r.exit, 0) << r.err;
    // 0x00: C0 | LED_A_EN | Linear A; 0x02: OVP code 2 over 0x38; 0x07: On code 6.
    EXPECT_EQ(r.io,
              (Lines{readTrace(0x00, 0xC0), readTrace(0x02, 0x38), readTrace(0x07, 0),
                     writeTrace(0x00, 0xD4), writeTrace(0x02, 0x58), writeTrace(0x07, 0x30)}));
}

TEST_F(CommandTest, SetRefusesBeforeTouchingTheAdapter) {
    struct Row {
        Lines args;
        const char *message;
    };
    const Row rows[] = {
        {{"set", "ovp=33V"}, "xq4620: ovp=33V: not one of 16 V, 24 V, 32 V, 40 V\n"},
        {{"set", "led-a-en=1", "bright=3"},
         "xq4620: unknown field \"bright\" (xq4620 fields lists them)\n"},
        {{"set", "brightness-a=256"}, "xq4620: brightness-a=256: not a number from 0 to 255\n"},
        {{"set", "ocp-fault=0"}, "xq4620: ocp-fault is read-only\n"},
        {{"set", "pwm-a=1", "pwm-a=0"}, "xq4620: pwm-a is given more than once\n"},
        {{"set", "pwm-a"}, "xq4620: \"pwm-a\" is not FIELD=VALUE\n"},
        {{"get", "ovp", "nope"}, "xq4620: unknown field \"nope\" (xq4620 fields lists them)\n"},
    };
    for (const Row &row : rows) {
        const Outcome r = run(row.args);
        EXPECT_EQ(r.exit, 2) << row.args.back();
        EXPECT_EQ(r.err, row.message);
        EXPECT_TRUE(r.trace.empty()) << row.args.back();
    }
}

TEST_F(CommandTest, ResetAndSleep) {
    Outcome r = run({"reset"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.io, Lines{writeTrace(0x0F, 0x01)});
    r = run({"sleep"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.io, (Lines{readTrace(0x00, 0xC0), writeTrace(0x00, 0xC0)}));
}

TEST_F(CommandTest, SaveWritesTheSetUpRegisters) {
    const Outcome r = run({"save", dir + "/setup.txt"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.io,
              Lines(sim_session::kFreshReadback.begin(), sim_session::kFreshReadback.begin() + 9));
    const std::string text = ReadFile(dir + "/setup.txt");
    EXPECT_EQ(text.rfind("# XQ4620 register file written by xq4620 1.0.0\n", 0), 0u) << text;
    EXPECT_NE(text.find("\n0x02 0x38  # Boost Control: ovp=24 V, ocp=1.2 A, fmode=500 kHz\n"),
              std::string::npos)
        << text;
    const Outcome out = run({"save", "-"});
    EXPECT_EQ(out.out, text);
    const Outcome bad = run({"save", dir + "/no/such/dir"});
    EXPECT_EQ(bad.exit, 1);
    EXPECT_EQ(bad.err, "xq4620: " + dir + "/no/such/dir: No such file or directory\n");
}

TEST_F(CommandTest, LoadWritesInAddressOrderThenReadsBack) {
    write("full.txt", "0x08 0x09\n0x07 0x31\n0x06 0x10\n0x05 0x08\n0x04 0x80\n0x03 0xFF\n"
                      "0x02 0x58\n0x01 0x1F\n0x00 0xD4\n");
    const Outcome r = run({"load", dir + "/full.txt"});
    EXPECT_EQ(r.exit, 0) << r.err;
    const int values[] = {0xD4, 0x1F, 0x58, 0xFF, 0x80, 0x08, 0x10, 0x31, 0x09};
    Lines expected;
    for (int reg = 0; reg < 9; ++reg)
        expected.push_back(writeTrace(reg, values[reg]));
    for (int reg = 0; reg < 9; ++reg)
        expected.push_back(readTrace(reg, values[reg]));
    EXPECT_EQ(r.io, expected);
}

TEST_F(CommandTest, LoadRefusesABadFileWholeNamingEveryLine) {
    write("bad.txt", "0x00 0xC4\n0x09 0x00\n0x03 zz\n");
    const Outcome r = run({"load", dir + "/bad.txt"});
    EXPECT_EQ(r.exit, 2);
    const std::string file = dir + "/bad.txt";
    EXPECT_EQ(r.err, "xq4620: " + file +
                         ": line 2: register 0x09 (Interrupt Status) is read-only\n" +
                         "xq4620: " + file + ": line 3: value \"zz\" is not a hex number\n" +
                         "xq4620: " + file + ": nothing was written\n");
    EXPECT_TRUE(r.trace.empty());
}

TEST_F(CommandTest, DeviceFailuresGiveStatusOneAndNameTheRegister) {
    // The chip does not acknowledge a register it does not have.
    Outcome r = run({"write", "--force", "13", "00"});
    EXPECT_EQ(r.exit, 1);
    const std::string noChip =
        "no chip answers at address 0x36: check the wiring, the address and that the board is "
        "powered\n";
    EXPECT_EQ(r.err, "xq4620: register 0x13: write failed: " + noChip);
    EXPECT_EQ(r.io, Lines{writeTrace(0x13, 0x00, -6)});

    r = run({"read", "0x10", "--force"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "xq4620: register 0x10: read failed: " + noChip);
    EXPECT_EQ(r.out, "");

    // --adapter wins over VTX_ADAPTER; a name that is no adapter finds none.
    r = run({"--adapter", "nothing", "dump"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("xq4620: no adapter found (VTX_ADAPTER=nothing)\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
    r = run({"dump", "--adapter", "sim"}, "nothing");
    EXPECT_EQ(r.exit, 0) << r.err;
}

// One program after another on one named board, as a script at the bench
// runs them: each finds the chip as the one before left it.
TEST_F(CommandTest, ProgramsOnOneNamedBoardShareTheChip) {
    EXPECT_EQ(run({"set", "brightness-a=128", "led-a-en=1"}, "sim:bench").exit, 0);
    Outcome r = run({"get", "brightness-a", "led-a-en"}, "sim:bench");
    EXPECT_EQ(r.out, "brightness-a=128\nled-a-en=1\n");
    // The joining program's set-up leaves the powered chip alone.
    EXPECT_EQ(r.trace, concat(sim_session::kSetUpCalls,
                              {kHold, readTrace(0x00, 0xC4), readTrace(0x03, 0x80), kRelease}));
    EXPECT_EQ(run({"read", "3"}, "sim").out, "0x00\n") << "plain sim is each program's own";
    EXPECT_EQ(run({"read", "3"}, "sim:other").out, "0x00\n");
    EXPECT_EQ(run({"reset"}, "sim:bench").exit, 0);
    EXPECT_EQ(run({"read", "3"}, "sim:bench").out, "0x00\n");
}

TEST_F(CommandTest, HelpEverywhereVersionAndUsageErrors) {
    for (const char *sub : {"info", "dump", "read", "write", "fields", "get", "set", "reset",
                            "sleep", "save", "load"}) {
        const Outcome r = run({sub, "--help"});
        EXPECT_EQ(r.exit, 0) << sub;
        EXPECT_NE(r.out.find(std::string("Usage: xq4620 ") + sub), std::string::npos) << r.out;
        EXPECT_TRUE(r.trace.empty()) << sub;
    }
    Outcome r = run({"--version"});
    EXPECT_EQ(r.exit, 0);
    EXPECT_EQ(r.out, "xq4620 1.0.0\n");
    for (const Lines &bad : {Lines{}, Lines{"frobnicate"}, Lines{"read"}, Lines{"dump", "--hex"},
                             Lines{"write", "1"}, Lines{"info", "dump"}}) {
        r = run(bad);
        EXPECT_EQ(r.exit, 2) << ::testing::PrintToString(bad);
        EXPECT_FALSE(r.err.empty());
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.trace.empty());
        EXPECT_EQ(r.err.rfind("xq4620: ", 0), 0u) << r.err;
    }
    // A mistyped command is named, with the ones there are.
    r = run({"--adapter", "sim", "frobnicate"});
    EXPECT_NE(r.err.find("\"frobnicate\" is not a command; the commands are info, dump,"),
              std::string::npos)
        << r.err;
}

TEST_F(CommandTest, FieldsListsEveryFieldWithoutAnAdapter) {
    Outcome r = run({"fields"}, "nothing");
    EXPECT_EQ(r.exit, 0);
    const Lines lines = split(r.out);
    EXPECT_EQ(lines.size(), 26u);
    EXPECT_EQ(lines[11], "ovp             0x02 bits 6-5  read/write 16 V, 24 V, 32 V, 40 V");
    EXPECT_TRUE(r.trace.empty());
    r = run({"fields", "--json"});
    const auto doc = nlohmann::json::parse(r.out);
    ASSERT_EQ(doc.size(), 26u);
    EXPECT_EQ(doc[19]["name"], "ramp-on");
    EXPECT_EQ(doc[19]["choices"][0], "4 ms");
    EXPECT_EQ(doc[25]["access"], "read-only");
}

// Output that cannot be written is a failure with its reason, never a
// silent success: a set-up saved onto a full disk through a pipe is lost.
TEST_F(CommandTest, OutputThatCannotBeWrittenFails) {
    const struct {
        const char *command, *redirection, *message;
    } rows[] = {
        {"save -", ">/dev/full", "xq4620: standard output: No space left on device\n"},
        {"dump", ">/dev/full", "xq4620: standard output: No space left on device\n"},
        {"dump --json", ">/dev/full", "xq4620: standard output: No space left on device\n"},
        {"get ovp", ">/dev/full", "xq4620: standard output: No space left on device\n"},
        {"read 0", ">/dev/full", "xq4620: standard output: No space left on device\n"},
        {"fields", ">/dev/full", "xq4620: standard output: No space left on device\n"},
        {"info --json", ">/dev/full", "xq4620: standard output: No space left on device\n"},
        {"--help", ">/dev/full", "xq4620: standard output: No space left on device\n"},
        {"watch --count 1 03", ">/dev/full", "xq4620: standard output: No space left on device\n"},
        {"dump", ">&-", "xq4620: standard output: closed\n"},
        {"--version", ">&-", "xq4620: standard output: closed\n"},
    };
    for (const auto &row : rows) {
        const Outcome r = shell(std::string("\"$XQ\" ") + row.command + " " + row.redirection);
        EXPECT_EQ(r.exit, 1) << row.command << " " << row.redirection;
        EXPECT_EQ(r.err, row.message) << row.command;
    }
    // A command that prints nothing still works without standard output,
    // and its state never lands in a descriptor left closed.
    EXPECT_EQ(shell("\"$XQ\" set led-a-en=1 >&- 2>&-", "sim:closed").exit, 0);
    EXPECT_EQ(run({"get", "led-a-en"}, "sim:closed").out, "led-a-en=1\n");
}

// Saving keeps what an editor keeps: a read-only file, the mode, a
// symbolic link, hard links, and any legal name.
TEST_F(CommandTest, SaveKeepsFilesAsAnEditorDoes) {
    const std::string old = "old\n";
    auto fresh = [&](const std::string &name, mode_t mode) {
        write(name, old);
        ::chmod((dir + "/" + name).c_str(), mode);
    };
    // Read-only: refused and untouched, even for root.
    fresh("ro.txt", 0444);
    Outcome r = run({"save", dir + "/ro.txt"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "xq4620: " + dir + "/ro.txt: Permission denied (the file is read-only)\n");
    EXPECT_EQ(ReadFile(dir + "/ro.txt"), old);
    // A private file stays private.
    fresh("private.txt", 0600);
    EXPECT_EQ(run({"save", dir + "/private.txt"}).exit, 0);
    EXPECT_EQ(modeOf(dir + "/private.txt"), 0600u);
    EXPECT_NE(ReadFile(dir + "/private.txt"), old);
    // Its group, which only root can give away here.
    if (::geteuid() == 0) {
        fresh("group.txt", 0640);
        ASSERT_EQ(::chown((dir + "/group.txt").c_str(), 0, 65534), 0);
        EXPECT_EQ(run({"save", dir + "/group.txt"}).exit, 0);
        struct stat gs {};
        ASSERT_EQ(::stat((dir + "/group.txt").c_str(), &gs), 0);
        EXPECT_EQ(gs.st_gid, 65534u);
        EXPECT_EQ(gs.st_mode & 07777, 0640u);
    }
    // Through a symbolic link to its target; the link stays a link.
    fresh("target.txt", 0644);
    ASSERT_EQ(::symlink("target.txt", (dir + "/link.txt").c_str()), 0);
    EXPECT_EQ(run({"save", dir + "/link.txt"}).exit, 0);
    struct stat st {};
    ASSERT_EQ(::lstat((dir + "/link.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    const std::string saved = ReadFile(dir + "/target.txt");
    EXPECT_EQ(saved.rfind("# XQ4620 register file", 0), 0u);
    // A hard link: both names still one file, with the new set-up.
    fresh("a.txt", 0644);
    ASSERT_EQ(::link((dir + "/a.txt").c_str(), (dir + "/b.txt").c_str()), 0);
    EXPECT_EQ(run({"save", dir + "/a.txt"}).exit, 0);
    EXPECT_EQ(ReadFile(dir + "/b.txt"), saved);
    // The longest name a file may have.
    const std::string longName = dir + "/" + std::string(250, 'n');
    r = run({"save", longName});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(ReadFile(longName), saved);
    // No regular file to replace.
    r = run({"save", "/dev/null"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "xq4620: /dev/null: not a regular file\n");
}

// Reading never waits on something that is not a file, and a file that
// cannot be read is exit status 1 (the file failed), not 2 (bad usage).
TEST_F(CommandTest, LoadReadsOnlyRegularFilesAndStandardInput) {
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    const struct {
        std::string path, reason;
    } rows[] = {
        {dir + "/fifo", "not a regular file"},
        {dir, "Is a directory"},
        {dir + "/missing.txt", "No such file or directory"},
    };
    for (const auto &row : rows) {
        const Outcome r = run({"load", row.path});
        EXPECT_EQ(r.exit, 1) << row.path;
        EXPECT_EQ(r.err, "xq4620: " + row.path + ": " + row.reason + "\nxq4620: " + row.path +
                             ": nothing was written\n");
        EXPECT_TRUE(r.trace.empty());
    }
    // A byte-order mark as some editors write it; standard input as "-".
    write("bom.txt", "\xEF\xBB\xBF"
                     "0x03 0x80\n");
    Outcome r = run({"load", dir + "/bom.txt"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.io, (Lines{writeTrace(0x03, 0x80), readTrace(0x03, 0x80)}));
    r = shell("printf '0x04 0x40\\n' | \"$XQ\" load -");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.io, (Lines{writeTrace(0x04, 0x40), readTrace(0x04, 0x40)}));
}

// Choices as people type them; what get prints, set takes back unquoted.
TEST_F(CommandTest, ChoicesTakeThePeoplesSpellings) {
    const struct {
        const char *assignment;
        int reg, value;
    } rows[] = {
        {"ovp=32V", 0x02, 0x58},        {"ovp=32 V", 0x02, 0x58},      {"ovp=32", 0x02, 0x58},
        {"ocp=1A", 0x02, 0x30},         {"ocp=1.0A", 0x02, 0x30},      {"ocp=600mA", 0x02, 0x20},
        {"ocp=0.8A", 0x02, 0x28},       {"fmode=1MHz", 0x02, 0x39},    {"ramp-off=0", 0x07, 0x00},
        {"ramp-off=0ms", 0x07, 0x00},   {"ramp-off=0 ms", 0x07, 0x00}, {"ramp-off=1s", 0x07, 0x03},
        {"ramp-on=0.261s", 0x07, 0x08},
    };
    for (const auto &row : rows) {
        const Outcome r = run({"set", row.assignment});
        EXPECT_EQ(r.exit, 0) << row.assignment << ": " << r.err;
        ASSERT_EQ(r.io.size(), 2u) << row.assignment;
        EXPECT_EQ(r.io[1], writeTrace(row.reg, row.value)) << row.assignment;
    }
    // Two choices a bare number could name are neither of them.
    EXPECT_EQ(run({"set", "ramp-on=4"}).exit, 2);
    const Outcome got = run({"get", "ocp", "ramp-on"}, "sim:round");
    EXPECT_EQ(got.out, "ocp=1.2A\nramp-on=4ms\n");
    const Outcome back = shell("\"$XQ\" set $(\"$XQ\" get ocp ramp-on)", "sim:round");
    EXPECT_EQ(back.exit, 0) << back.err;
}

// Writes and reads the chip would not take part in are refused before the
// bus, unless forced.
TEST_F(CommandTest, AccessesTheChipIgnoresAreRefusedUnlessForced) {
    const struct {
        Lines args;
        const char *message;
    } rows[] = {
        {{"write", "09", "FF"},
         "register 0x09 (Interrupt Status) is read-only: the chip ignores "
         "what is written to it (--force writes it all the same)"},
        {{"write", "0A", "00"},
         "register 0x0A (Part Number, High) is read-only: the chip ignores "
         "what is written to it (--force writes it all the same)"},
        {{"write", "13", "00"},
         "register 0x13 is not one of the chip's registers (--force writes it all the same)"},
        {{"read", "0F"},
         "register 0x0F (Software Reset) is write-only: reading it tells "
         "nothing of the chip (--force reads it all the same)"},
    };
    for (const auto &row : rows) {
        Outcome r = run(row.args);
        EXPECT_EQ(r.exit, 2) << row.args[1];
        EXPECT_EQ(r.err, std::string("xq4620: ") + row.message + "\n");
        EXPECT_TRUE(r.trace.empty());
        Lines forced = row.args;
        forced.insert(forced.begin() + 1, "--force");
        r = run(forced);
        EXPECT_EQ(r.io.size(), 1u) << "forced: " << row.args[1];
    }
}

// Max Current is five bits; the three above it are kept, shown and loaded.
TEST_F(CommandTest, MaxCurrentIsFiveBitsAndTheOthersAreKept) {
    ASSERT_EQ(run({"write", "05", "E1"}, "sim:mc").exit, 0);
    EXPECT_EQ(run({"get", "max-current-a"}, "sim:mc").out, "max-current-a=1\n");
    const Outcome r = run({"set", "max-current-a=3"}, "sim:mc");
    EXPECT_EQ(r.io, (Lines{readTrace(0x05, 0xE1), writeTrace(0x05, 0xE3)}));
    write("mc.txt", "0x06 0xFF\n");
    EXPECT_EQ(run({"load", dir + "/mc.txt"}).exit, 0);
    EXPECT_EQ(split(run({"fields"}).out)[17], "max-current-a   0x05 bits 4-0  read/write 0 to 31");
}

// Control characters a person passed in come back escaped, and a mistyped
// option is named as one.
TEST_F(CommandTest, MessagesEscapeWhatWasTypedAndNameTheRealProblem) {
    Outcome r = run({"set", "\x1b[31mred=1"});
    EXPECT_EQ(r.err, "xq4620: unknown field \"\\x1B[31mred\" (xq4620 fields lists them)\n");
    r = run({"set", "ovp=\a3"});
    EXPECT_EQ(r.err.find('\a'), std::string::npos) << r.err;
    r = run({"load", dir + "/\x1b]0;x"});
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
    r = run({"watch", "\x1b[2J"});
    EXPECT_EQ(r.err, "xq4620: \"\\x1B[2J\" is neither a field nor a register\n");
    r = run({"doctor"}, "\x1b[2J");
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"\\x1B[2J\" names no adapter"), std::string::npos) << r.out;
    const struct {
        Lines args;
        const char *message;
    } rows[] = {
        {{"--frob"},
         "\"--frob\" is not an option of xq4620 itself; the options of a command "
         "follow its name (xq4620 COMMAND --help)"},
        {{"--json", "dump"},
         "\"--json\" is an option of dump and follows its name: xq4620 dump "
         "--json"},
        {{"dump", "--hex"}, "\"--hex\" is not an option of dump (xq4620 dump --help lists them)"},
    };
    for (const auto &row : rows) {
        r = run(row.args);
        EXPECT_EQ(r.exit, 2);
        EXPECT_EQ(r.err, std::string("xq4620: ") + row.message +
                             "\nRun 'xq4620 --help' for more information.\n");
    }
}

// Two programs changing different fields of one register, each with a
// pause between its read and its write: under the board's hold no change
// is lost. Without it, both read the same byte and the later write undoes
// the earlier one.
TEST_F(CommandTest, ConcurrentSetsOnOneBoardLoseNothing) {
    ASSERT_EQ(run({"write", "00", "00"}, "sim:shared").exit, 0);
    const Outcome r = shell("for f in led-a-en linear-a led2-on-a; do \"$XQ\" set $f=1 || exit 1; "
                            "done & for f in led-b-en linear-b sleep; do \"$XQ\" set $f=1 || "
                            "exit 1; done; s=$?; wait $! && exit $s",
                            "sim:shared", "VTX_TEST_READ_DELAY_MS=150");
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(run({"read", "00"}, "sim:shared").out, "0x9F\n");
}

// A board another program holds and never lets go: the command says it is
// waiting, then gives up; a damaged state file is named, not reset.
TEST_F(CommandTest, BusyAndDamagedBoardsAreNamed) {
    ASSERT_EQ(run({"info"}, "sim:held").exit, 0);
    const std::string state = dir + "/xq4620-sim/held";
    // The shell holds the board's lock for as long as it runs.
    Outcome r =
        shell("exec 9<>\"$D/xq4620-sim/held\" && flock 9 && \"$XQ\" set led-a-en=1", "sim:held");
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "vtx: waiting for simulated board held: another program holds it\n"
                     "xq4620: the board is busy: another program holds it\n");
    ASSERT_EQ(::truncate(state.c_str(), 100), 0);
    r = run({"dump"}, "sim:held");
    EXPECT_EQ(r.exit, 1);
    const std::string damaged = "simulated board held: its state file is damaged (" + state +
                                "): 100 bytes where a board's state takes 271; remove it to "
                                "start afresh\n";
    EXPECT_EQ(r.err, "vtx: " + damaged + "xq4620: " + damaged);
    EXPECT_EQ(ReadFile(state).size(), 100u);
}

// What scripts read: the keys of every --json output.
TEST_F(CommandTest, JsonKeysAreStable) {
    auto keys = [](const nlohmann::json &object) {
        Lines out;
        for (auto it = object.begin(); it != object.end(); ++it)
            out.push_back(it.key());
        std::sort(out.begin(), out.end());
        return out;
    };
    const auto info = nlohmann::json::parse(run({"info", "--json"}).out);
    EXPECT_EQ(keys(info), (Lines{"adapter", "part_number", "revision", "version"}));
    const auto dump = nlohmann::json::parse(run({"dump", "--json"}).out);
    EXPECT_EQ(keys(dump), Lines{"registers"});
    EXPECT_EQ(keys(dump["registers"][0]), (Lines{"access", "address", "fields", "name", "value"}));
    const auto get = nlohmann::json::parse(run({"get", "--json", "ovp", "brightness-a"}).out);
    EXPECT_EQ(get, nlohmann::json::parse(R"({"ovp": "24 V", "brightness-a": 0})"));
    const auto fields = nlohmann::json::parse(run({"fields", "--json"}).out);
    EXPECT_EQ(keys(fields[11]), (Lines{"access", "choices", "lsb", "max", "name", "register",
                                       "register_name", "width"}));
    EXPECT_EQ(keys(fields[0]),
              (Lines{"access", "lsb", "max", "name", "register", "register_name", "width"}));
    const auto doctor = nlohmann::json::parse(run({"doctor", "--json"}).out);
    EXPECT_EQ(keys(doctor), (Lines{"adapter", "checks", "ok"}));
    for (const auto &check : doctor["checks"])
        EXPECT_EQ(keys(check), (Lines{"check", "fix", "found", "status"}));
    const Lines watched =
        split(shell("\"$XQ\" watch --count 1 --json 03 ovp && \"$XQ\" simulate fail-reads 1 && "
                    "\"$XQ\" watch --count 1 --json 03",
                    "sim:keys")
                  .out);
    ASSERT_EQ(watched.size(), 3u);
    EXPECT_EQ(keys(nlohmann::json::parse(watched[0])), (Lines{"name", "time", "value"}));
    EXPECT_EQ(nlohmann::json::parse(watched[1])["value"], "24 V");
    EXPECT_EQ(keys(nlohmann::json::parse(watched[2])), (Lines{"error", "name", "time"}));
}

// Each round of a watch is one moment of the chip: its registers are read
// under one hold of the board, let go before the next round.
TEST_F(CommandTest, WatchReadsEachRoundUnderOneHold) {
    const Outcome r = run({"watch", "--count", "2", "--interval", "1", "brightness-b", "03"});
    EXPECT_EQ(r.exit, 0) << r.err;
    const Lines round = {kHold, readTrace(0x03, 0), readTrace(0x04, 0), kRelease};
    EXPECT_EQ(r.trace, concat(concat(sim_session::kSetUpCalls, round), round));
    EXPECT_EQ(split(r.out).size(), 2u);
}

// --interval is the time from one round's start to the next one's: rounds
// whose thirteen reads take 8 ms each come as often as rounds of quick
// reads. As a pause after each round, the slow reads would add more than a
// second to the ten intervals after the first round.
TEST_F(CommandTest, WatchRoundsComeAtTheIntervalWhateverTheReadsTake) {
    auto afterFirstLine = [&](const char *delay) {
        int out[2];
        EXPECT_EQ(::pipe(out), 0);
        Child watch;
        EXPECT_TRUE(watch.Start({XQ4620_BINARY, "watch", "--count", "11", "--interval", "150"},
                                Environment::Current()
                                    .With("VTX_ADAPTER", "sim")
                                    .With("XDG_RUNTIME_DIR", dir)
                                    .With("VTX_TEST_READ_DELAY_MS", delay),
                                out[1]));
        ::close(out[1]);
        pollfd first{out[0], POLLIN, 0};
        EXPECT_EQ(::poll(&first, 1, 30000), 1) << "watch printed nothing";
        const auto start = std::chrono::steady_clock::now();
        char drain[4096];
        while (::read(out[0], drain, sizeof drain) > 0) {
        }
        ::close(out[0]);
        const auto status = watch.Wait(Millis(30000));
        EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
        return std::chrono::steady_clock::now() - start;
    };
    const auto quick = afterFirstLine("0");
    const auto slow = afterFirstLine("8");
    EXPECT_LT(slow - quick, std::chrono::milliseconds(520))
        << std::chrono::duration_cast<std::chrono::milliseconds>(quick).count() << " ms, then "
        << std::chrono::duration_cast<std::chrono::milliseconds>(slow).count() << " ms";
}

// A watch ends at once, whatever it waits for: quietly when its reader is
// done, by the signal itself on Ctrl+C or kill, as a filter does (a shell
// sees 128 + the signal), and with the library's reason when its board's
// file was removed.
TEST_F(CommandTest, WatchEndsWhenItsReaderGoesOrItIsStopped) {
    const std::string waitForLine =
        " >\"$D/out\" & w=$!; until [ -s \"$D/out\" ]; do sleep 0.01; done; ";
    const std::string status = "{ wait $w; } 2>/dev/null; echo \"watch $?\" >&2";
    const struct {
        const char *adapter;
        std::string script, err;
    } rows[] = {
        {"sim", "{ \"$XQ\" watch 03 --interval 3600000; echo \"watch $?\" >&2; } | head -n 1",
         "watch 0\n"},
        {"sim",
         "rm -f \"$D/out\"; \"$XQ\" watch 03 --interval 3600000" + waitForLine + "kill -INT $w; " +
             status,
         "watch 130\n"},
        {"sim",
         "rm -f \"$D/out\"; \"$XQ\" watch 03 --interval 3600000" + waitForLine + "kill -TERM $w; " +
             status,
         "watch 143\n"},
        {"sim:gone",
         "rm -f \"$D/out\"; \"$XQ\" watch 03 --interval 20" + waitForLine +
             "rm \"$D/xq4620-sim/gone\"; " + status,
         "xq4620: simulated board gone: its state file " + dir +
             "/xq4620-sim/gone was removed; start the program again for a fresh board\n"
             "watch 1\n"},
    };
    for (const auto &row : rows) {
        const Outcome r = shell(row.script, row.adapter);
        EXPECT_EQ(r.err, row.err) << row.script;
    }
    // Waiting for a board another program holds: SIGTERM gives the wait up
    // (the library's call ends interrupted, not busy after its 5 s).
    ASSERT_EQ(run({"info"}, "sim:held").exit, 0);
    const Outcome r = shell("exec 9<>\"$D/xq4620-sim/held\" && flock 9 && "
                            "{ : >\"$D/err\"; \"$XQ\" watch 03 2>\"$D/err\" & w=$!; "
                            "until grep -q waiting \"$D/err\"; do sleep 0.01; done; "
                            "kill -TERM $w; " +
                                status + "; cat \"$D/err\" >&2; }",
                            "sim:held");
    EXPECT_EQ(r.err,
              "watch 143\nvtx: waiting for simulated board held: another program holds it\n");
    EXPECT_NE(std::find(r.trace.begin(), r.trace.end(), "vtxFindControllers() = -4"), r.trace.end())
        << ::testing::PrintToString(r.trace);
}

// simulate drives a shared simulated board's fault inputs and nothing else:
// each other adapter is refused with what it is, before anything is touched.
TEST_F(CommandTest, SimulateDrivesASharedSimulatedBoardOnly) {
    const std::string only =
        "xq4620: simulate works on a shared simulated board only (--adapter sim:NAME): ";
    const struct {
        std::string adapter, message;
    } rows[] = {
        {"sim", only + "sim is this command's own board, gone when it ends, so nothing would "
                       "change; name the board the other programs use, as they name it\n"},
        {"sim:../x", only + "VTX_ADAPTER=\"sim:../x\": \"../x\" is not a board name (letters, "
                            "digits, '.', '_' and '-', up to 64, not starting with '.')\n"},
        {"bogus", only + "VTX_ADAPTER=\"bogus\" is not an adapter; use sim, sim:NAME, a "
                         "/dev/i2c-N path, usb:SERIAL, usb-port:PORT, or leave it unset for USB "
                         "adapters\n"},
        {dir + "/i2c-9",
         only + "no adapter found (VTX_ADAPTER=" + dir + "/i2c-9: No such file or directory)\n"},
        {"/dev/null", only + "the adapter here is real hardware (VTX_ADAPTER=/dev/null)\n"},
    };
    for (const auto &row : rows) {
        const Outcome r = run({"simulate", "ovp", "on"}, row.adapter.c_str());
        EXPECT_EQ(r.exit, 2) << row.adapter;
        EXPECT_EQ(r.err, row.message);
        EXPECT_TRUE(r.trace.empty()) << row.adapter;
    }
    // The whole documented range of a failure count.
    EXPECT_EQ(run({"simulate", "fail-reads", "65535"}, "sim:faults").exit, 0);
    EXPECT_EQ(run({"read", "03"}, "sim:faults").exit, 1);
    EXPECT_EQ(run({"simulate", "fail-reads", "65536"}, "sim:faults").exit, 2);
    EXPECT_EQ(run({"simulate", "fail-reads", "0"}, "sim:faults").exit, 0);
    EXPECT_EQ(run({"read", "03"}, "sim:faults").out, "0x00\n");
}

} // namespace
