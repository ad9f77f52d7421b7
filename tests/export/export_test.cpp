// SPDX-License-Identifier: MIT
// Every exported and recorded form run as a product runs it, on shared
// simulated boards: the register writes it makes (the bus trace's write
// lines, handle aside, or the pairs the C header holds) are those that
// `xq4620 load` made of the same file, or that the recorded session made.
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "process.h"

namespace {

using Lines = std::vector<std::string>;

// A set-up unlike the reset values in every register, in a file whose
// path would end a comment or a line if it went into a script as it is.
const char kSetUp[] = "0x00 0x44\n0x01 0x9F\n0x02 0x5B\n0x03 0x80\n0x04 0x40\n"
                      "0x05 0x15\n0x06 0x0A\n0x07 0x2D\n0x08 0x12\n";
const char kAwkwardName[] = "set */ up\n$(false) \"x\".txt"; // in the folder "set *"

Lines split(const std::string &text) {
    Lines lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// "0x03 0x80" for each register write the trace holds, in order.
Lines writesIn(const std::string &trace) {
    static const std::regex write(
        R"(^vtxI2C_RegisterWrite\(\d+, 0x36, (0x[0-9A-F]{2}), (0x[0-9A-F]{2})\) = 0$)");
    Lines out;
    std::smatch m;
    for (const std::string &line : split(trace)) {
        if (std::regex_match(line, m, write))
            out.push_back(m[1].str() + " " + m[2].str());
    }
    return out;
}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/xq4620-export-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_EQ(::mkdir((dir + "/bin").c_str(), 0700), 0);
        // A stand-in for i2c-tools' i2ctransfer: logs its arguments, and
        // fails on the call $FAIL_AT names.
        write("bin/i2ctransfer", "#!/bin/sh\n"
                                 "echo \"$*\" >> \"$D/i2ctransfer.log\"\n"
                                 "n=$(wc -l < \"$D/i2ctransfer.log\")\n"
                                 "[ \"$n\" != \"${FAIL_AT-}\" ]\n");
        ::chmod((dir + "/bin/i2ctransfer").c_str(), 0755);
        // The command as a product would have it on PATH.
        ASSERT_EQ(::symlink(XQ4620_BINARY, (dir + "/bin/xq4620").c_str()), 0);
        ASSERT_EQ(::mkdir((dir + "/set *").c_str(), 0700), 0);
        write(kAwkwardName, kSetUp);
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    void write(const std::string &name, const std::string &text) {
        std::ofstream(dir + "/" + name) << text;
    }
    std::string read(const std::string &name) const {
        std::ifstream in(dir + "/" + name);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // `argv` with the shared boards in our folder; the trace in trace.N.
    CommandResult run(const Lines &argv, const std::string &adapter = "sim:bench",
                      const std::string &failAt = "") {
        trace = "trace." + std::to_string(++runs);
        Environment env =
            Environment::Current()
                .With("VTX_ADAPTER", adapter)
                .With("VTX_TRACE", dir + "/" + trace)
                .With("XDG_RUNTIME_DIR", dir)
                .With("PATH", dir + "/bin:" + Environment::Current().Get("PATH").value_or(""))
                .With("D", dir)
                .With("FAIL_AT", failAt)
                .With("PYTHONPATH", XQ_PYTHONPATH)
                .With("PYTHONDONTWRITEBYTECODE", "1");
        if (std::string(XQ_SANITIZER_PRELOAD).size() > 0 && argv[0] == XQ_PYTHON)
            env.With("LD_PRELOAD", XQ_SANITIZER_PRELOAD).With("ASAN_OPTIONS", "detect_leaks=0");
        const CommandResult r = RunCommand(argv, env, Millis(60000));
        EXPECT_TRUE(r.started && !r.timedOut) << r.Describe(argv);
        return r;
    }
    CommandResult xq(Lines args, const std::string &adapter = "sim:bench") {
        args.insert(args.begin(), XQ4620_BINARY);
        return run(args, adapter);
    }
    Lines tracedWrites() const { return writesIn(read(trace)); }

    // What `xq4620 load` writes of the set-up, on a board of its own.
    Lines loadWrites() {
        const CommandResult r = xq({"load", dir + "/" + kAwkwardName}, "sim:reference");
        EXPECT_TRUE(r.Succeeded()) << r.err;
        return tracedWrites();
    }

    std::string dir, trace;
    int runs = 0;
};

// The pairs a C header holds, printed by a program of two files: one that
// prints them, one that only includes the header (no warning either way).
Lines headerPairs(const std::string &dir, const char *compiler, const char *standard,
                  const char *language) {
    std::ofstream(dir + "/main.c") << "#include <stdio.h>\n#include \"setup.h\"\n"
                                      "int main(void) {\n"
                                      "    size_t i;\n"
                                      "    for (i = 0; i < XQ4620_SETUP_COUNT; ++i)\n"
                                      "        printf(\"0x%02X 0x%02X\\n\", xq4620_setup[i].reg,\n"
                                      "               xq4620_setup[i].value);\n"
                                      "    return XQ4620_I2C_ADDRESS == 0x36 ? 0 : 1;\n"
                                      "}\n";
    std::ofstream(dir + "/other.c") << "#include \"setup.h\"\n#include \"setup.h\"\n"
                                       "int other(void);\nint other(void) { return 0; }\n";
    const Lines build = {compiler,  "-x",          language,    standard,        "-Wall",
                         "-Wextra", "-Werror",     "-pedantic", dir + "/main.c", dir + "/other.c",
                         "-o",      dir + "/pairs"};
    const CommandResult built = RunCommand(build, Environment::Current(), Millis(60000));
    EXPECT_TRUE(built.Succeeded()) << built.Describe(build);
    const CommandResult ran = RunCommand({dir + "/pairs"}, Environment::Current(), Millis(10000));
    EXPECT_TRUE(ran.Succeeded()) << ran.Describe({"pairs"});
    return split(ran.out);
}

TEST_F(ExportTest, EveryFormWritesWhatLoadWrites) {
    const Lines expected = loadWrites();
    ASSERT_EQ(expected.size(), 9u);
    const std::string file = dir + "/" + kAwkwardName;

    ASSERT_TRUE(xq({"export", "--format", "c", file, "-o", dir + "/setup.h"}).Succeeded());
    EXPECT_EQ(headerPairs(dir, XQ_C_COMPILER, "-std=c99", "c"), expected);
    EXPECT_EQ(headerPairs(dir, XQ_CXX_COMPILER, "-std=c++11", "c++"), expected);
    EXPECT_NE(read("setup.h").find("{0x02, 0x5B}, /* 0x02: ovp=32V ocp=1.2A slow-start=0 "
                                   "fmode=950kHz */"),
              std::string::npos)
        << read("setup.h");

    ASSERT_TRUE(xq({"export", "--format", "i2ctransfer", file, "-o", dir + "/i2c.sh"}).Succeeded());
    ASSERT_TRUE(run({"sh", dir + "/i2c.sh", "3"}).Succeeded());
    Lines transfers;
    for (const std::string &line : split(read("i2ctransfer.log"))) {
        ASSERT_EQ(line.substr(0, 14), "-y 3 w2@0x36 0") << line;
        transfers.push_back(line.substr(13));
    }
    EXPECT_EQ(transfers, expected);

    ASSERT_TRUE(xq({"export", "--format", "python", file, "-o", dir + "/setup.py"}).Succeeded());
    const CommandResult python =
        run({XQ_PYTHON, dir + "/setup.py", "--adapter", "sim:python"}, "bogus");
    EXPECT_TRUE(python.Succeeded()) << python.err;
    EXPECT_EQ(tracedWrites(), expected);

    // Standard output, and the board VTX_ADAPTER names at run time.
    const CommandResult shell = xq({"export", "--format", "shell", file});
    ASSERT_TRUE(shell.Succeeded()) << shell.err;
    write("setup.sh", shell.out);
    ASSERT_TRUE(run({"sh", dir + "/setup.sh"}, "sim:shell").Succeeded());
    EXPECT_EQ(tracedWrites(), expected);
}

TEST_F(ExportTest, TheChipsSetUpExportsAsTheChipHoldsIt) {
    const Lines expected = loadWrites();
    const CommandResult r = xq({"export", "--format", "shell"}, "sim:reference");
    ASSERT_TRUE(r.Succeeded()) << r.err;
    EXPECT_NE(r.out.find("# Exported by xq4620 1.0.0 from adapter sim:reference (SIM-0001), "),
              std::string::npos)
        << r.out;
    write("setup.sh", r.out);
    ASSERT_TRUE(run({"sh", dir + "/setup.sh", "--adapter", "sim:copy"}, "bogus").Succeeded());
    EXPECT_EQ(tracedWrites(), expected);
}

TEST_F(ExportTest, I2cTransferScriptNeedsItsBusAndStopsAtTheFirstFailure) {
    ASSERT_TRUE(
        xq({"export", "--format", "i2ctransfer", dir + "/" + kAwkwardName, "-o", dir + "/i2c.sh"})
            .Succeeded());
    const CommandResult bare = run({"sh", dir + "/i2c.sh"});
    EXPECT_EQ(WEXITSTATUS(bare.status), 2);
    EXPECT_NE(bare.err.find("usage: "), std::string::npos) << bare.err;
    EXPECT_EQ(read("i2ctransfer.log"), "");

    const CommandResult failed = run({"sh", dir + "/i2c.sh", "1"}, "sim:bench", "3");
    EXPECT_FALSE(failed.Succeeded());
    EXPECT_EQ(split(read("i2ctransfer.log")).size(), 3u);
}

struct Refusal {
    Lines args;
    int exit;
    const char *message;
};

// Nothing is written, the output file included, and the status says why.
TEST_F(ExportTest, BadFormatsAndFilesAreRefusedWithNothingWritten) {
    write("bad.txt", "0x00 0x44\n0x09 0x01\n");
    const std::string out = dir + "/out";
    const Refusal rows[] = {
        {{"export", "--format", "rust", dir + "/bad.txt", "-o", out},
         2,
         "xq4620: \"rust\" is not a format; the formats are c, i2ctransfer, python and shell\n"},
        {{"export", "--format", "c", dir + "/bad.txt", "-o", out},
         2,
         "line 2: register 0x09 (Interrupt Status) is read-only\n"},
        {{"export", "--format", "c", dir + "/missing.txt", "-o", out}, 1, "No such file"},
        {{"--record", out, "--record-format", "c", "write", "03", "80"},
         2,
         "\"c\" is not a recording's form; the forms are shell, python and i2ctransfer\n"},
    };
    for (const Refusal &row : rows) {
        const CommandResult r = xq(row.args);
        EXPECT_EQ(WEXITSTATUS(r.status), row.exit) << row.args[2];
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        EXPECT_EQ(::access(out.c_str(), F_OK), -1) << row.args[2];
        EXPECT_EQ(tracedWrites(), Lines{});
    }
}

// A session of commands recorded in each form replays its writes, in
// order, on another board: a failed write is a comment, not a write.
TEST_F(ExportTest, RecordedSessionReplaysItsWrites) {
    const std::string setUp = dir + "/" + kAwkwardName;
    for (const char *form : {"shell", "python"}) {
        const std::string rec = dir + "/rec." + form;
        const Lines session[] = {
            {"set", "led-a-en=1", "ovp=40V"},
            {"write", "04", "7F"},
            {"load", setUp},
            {"simulate", "fail-writes", "1"},
            {"write", "03", "11"}, // fails
            {"reset"},
            {"sleep"},
        };
        Lines expected;
        for (const Lines &command : session) {
            Lines args = {"--record", rec, "--record-format", form};
            args.insert(args.end(), command.begin(), command.end());
            xq(args, std::string("sim:rec-") + form);
            const Lines writes = tracedWrites();
            expected.insert(expected.end(), writes.begin(), writes.end());
        }
        ASSERT_EQ(expected.size(), 2u + 1u + 9u + 1u + 1u) << form;
        EXPECT_NE(read(std::string("rec.") + form).find("# the write of 0x11 to 0x03 failed here"),
                  std::string::npos)
            << read(std::string("rec.") + form);
        const CommandResult replay =
            form == std::string("shell")
                ? run({"sh", rec, "--adapter", std::string("sim:replay-") + form}, "bogus")
                : run({XQ_PYTHON, rec, "--adapter", std::string("sim:replay-") + form}, "bogus");
        EXPECT_TRUE(replay.Succeeded()) << replay.err << read(std::string("rec.") + form);
        EXPECT_EQ(tracedWrites(), expected) << form;
    }
}

// Pauses between commands are kept, cut to the longest the user allows.
TEST_F(ExportTest, RecordingKeepsPausesUpToTheLongestAllowed) {
    const std::string rec = dir + "/rec.sh";
    ASSERT_TRUE(xq({"--record", rec, "write", "03", "10"}).Succeeded());
    ::usleep(300 * 1000);
    ASSERT_TRUE(
        xq({"--record", rec, "--record-max-pause", "0.25", "write", "03", "20"}).Succeeded());
    const std::string text = read("rec.sh");
    EXPECT_NE(text.find("xq4620 \"$@\" write 0x03 0x10  # brightness-a=16\n"
                        "# last access at unix time "),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(")\nsleep 0.25\nxq4620 \"$@\" write 0x03 0x20"), std::string::npos) << text;

    write("notes.txt", "my notes\n");
    const CommandResult refused = xq({"--record", dir + "/notes.txt", "write", "03", "30"});
    EXPECT_EQ(WEXITSTATUS(refused.status), 2);
    EXPECT_EQ(tracedWrites(), Lines{});
    EXPECT_EQ(read("notes.txt"), "my notes\n");
}

} // namespace
