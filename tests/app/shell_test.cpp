// SPDX-License-Identifier: MIT
// The shell as a process: the "/d" switch, its log, and the viewer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/command_line.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Shell : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("xq-shell-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the shell in `dir` with `args`; the viewer notes that it ran and
    // what the log held when it did, then runs `viewerExtra`.
    int Run(const std::string &args, const std::string &viewerExtra = "",
            const std::string &env = "") {
        const std::string command =
            "cd '" + dir.string() + "' && " + env +
            " PROBE_VIEWER='cp debug.log seen.log; echo viewer >> order.txt; " + viewerExtra +
            "' '" + std::string(SHELL_PROBE) + "' " + args + " > stdout.txt 2> stderr.txt";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir;
};

} // namespace

TEST(CommandLine, TailJoinsTheArgumentsAndFindsTheSwitchAnywhere) {
    char program[] = "xq4620-panel", a[] = "/D", b[] = "extra";
    char *argv[] = {program, a, b};
    EXPECT_EQ(CommandLineTail(3, argv), "/D extra");
    EXPECT_EQ(CommandLineTail(1, argv), "");
    EXPECT_TRUE(HasDebugSwitch("/d"));
    EXPECT_TRUE(HasDebugSwitch("x/dy"));
    EXPECT_TRUE(HasDebugSwitch("c:/data"));
    EXPECT_FALSE(HasDebugSwitch("-d /x d/"));
}

TEST_F(Shell, WithoutArgumentsNoLogIsTouchedAndNoViewerRuns) {
    std::ofstream(dir / "debug.log") << "older\n";
    EXPECT_EQ(Run(""), 0);
    EXPECT_EQ(Slurp(dir / "debug.log"), "older\n");
    EXPECT_EQ(Slurp(dir / "order.txt"), "panel closed\n");
}

TEST_F(Shell, SlashDReplacesTheLogAndShowsItAfterThePanelCloses) {
    std::ofstream(dir / "debug.log") << "an older log, longer than the new one\n";
    EXPECT_EQ(Run("/d"), 0);
    EXPECT_EQ(Slurp(dir / "debug.log"), "CmdLine: /d\n");
    EXPECT_EQ(Slurp(dir / "seen.log"), "CmdLine: /d\n"); // flushed before the viewer ran
    EXPECT_EQ(Slurp(dir / "order.txt"), "panel closed\nviewer\n");
}

TEST_F(Shell, SlashDPutsANewLogInPlaceOfTheOldNeverWritingThroughIt) {
    // The old log a symbolic link to another file, then a second name of
    // it: the new log is a file of its own, and the other file stays as it
    // was.
    std::ofstream(dir / "kept.txt") << "kept\n";
    fs::create_symlink("kept.txt", dir / "debug.log");
    EXPECT_EQ(Run("/d"), 0);
    EXPECT_FALSE(fs::is_symlink(dir / "debug.log"));
    EXPECT_EQ(Slurp(dir / "debug.log"), "CmdLine: /d\n");
    EXPECT_EQ(Slurp(dir / "kept.txt"), "kept\n");

    fs::remove(dir / "debug.log");
    fs::create_hard_link(dir / "kept.txt", dir / "debug.log");
    EXPECT_EQ(Run("/d"), 0);
    EXPECT_EQ(fs::hard_link_count(dir / "kept.txt"), 1u);
    EXPECT_EQ(Slurp(dir / "debug.log"), "CmdLine: /d\n");
    EXPECT_EQ(Slurp(dir / "kept.txt"), "kept\n");
}

TEST_F(Shell, TheLogLineHoldsTheWholeTail) {
    EXPECT_EQ(Run("/D extra"), 0);
    EXPECT_EQ(Slurp(dir / "debug.log"), "CmdLine: /D extra\n");
    EXPECT_EQ(Run("c:/data"), 0);
    EXPECT_EQ(Slurp(dir / "debug.log"), "CmdLine: c:/data\n");
}

TEST_F(Shell, ALogThatCannotBeCreatedLeavesThePanelRunningWithoutViewer) {
    // A directory in its place: the file can be neither deleted nor opened
    // (a read-only directory would not stop root).
    fs::create_directory(dir / "debug.log");
    EXPECT_EQ(Run("/d"), 0);
    EXPECT_TRUE(fs::is_directory(dir / "debug.log"));
    EXPECT_EQ(Slurp(dir / "order.txt"), "panel closed\n");
    EXPECT_FALSE(fs::exists(dir / "seen.log"));
}

TEST_F(Shell, TheViewerGetsAnOpenStandardOutputAndNoTraceFile) {
    // The viewer's shell notes where its standard output goes and every file
    // it holds open. ($$ in a command substitution is the viewer's shell,
    // whose descriptors a redirection would change.)
    EXPECT_EQ(Run("/d",
                  "out=$(readlink /proc/$$/fd/1); echo \"$out\" > viewer-stdout.txt; "
                  "fds=$(for f in /proc/$$/fd/*; do readlink $f; done); "
                  "echo \"$fds\" > viewer-fds.txt",
                  "VTX_TRACE=trace.txt"),
              0);
    EXPECT_EQ(Slurp(dir / "viewer-stdout.txt"), "/dev/null\n");
    const std::string fds = Slurp(dir / "viewer-fds.txt");
    EXPECT_EQ(fds.find("trace.txt"), std::string::npos) << fds;
    EXPECT_EQ(fds.find("debug.log"), std::string::npos) << fds;
    // The trace was written: the panel did talk to the board.
    EXPECT_NE(Slurp(dir / "trace.txt").find("vtxOpen"), std::string::npos);
}
