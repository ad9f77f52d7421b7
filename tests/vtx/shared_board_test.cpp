// SPDX-License-Identifier: MIT
// One simulated board shared by several processes (VTX_ADAPTER=sim:NAME): the
// processes see each other's writes, each call is whole across processes,
// and the board's state is kept where no other user can reach or plant it.
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim_fixture.h"

namespace {

class SharedBoardTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        char pattern[] = "/tmp/vtx-shared-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        runtime = pattern;
        const char *old = std::getenv("XDG_RUNTIME_DIR");
        savedRuntime = old ? old : "";
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    void TearDown() override {
        setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
        std::system(("rm -rf '" + runtime + "'").c_str());
        SimTest::TearDown();
    }

    // Runs `body` in a child process that starts the library afresh on
    // `adapter`; the child's exit status (0 when body returned true).
    static int inChild(const char *adapter, const std::function<bool()> &body) {
        const pid_t pid = fork();
        if (pid == 0) {
            setenv("VTX_ADAPTER", adapter, 1);
            vtx::test::reset();
            _exit(body() ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }

    std::string runtime, savedRuntime;
};

TEST_F(SharedBoardTest, ProcessesOnOneBoardSeeEachOthersWrites) {
    restart("sim:bench");
    const int32_t h = openBoard();
    ASSERT_EQ(write(h, 0x03, 0x80), 0);
    // A second program joins: its power-up finds the supply on and leaves the
    // chip as it is.
    EXPECT_EQ(inChild("sim:bench",
                      [this] {
                          const int32_t c = openBoard();
                          return read(c, 0x03) == 0x80 && write(c, 0x04, 0x55) == 0;
                      }),
              0);
    EXPECT_EQ(read(h, 0x04), 0x55);
    // Another name is another board; plain "sim" is the process's own.
    EXPECT_EQ(inChild("sim:other", [this] { return read(openBoard(), 0x03) == 0x00; }), 0);
    EXPECT_EQ(inChild("sim", [this] { return read(openBoard(), 0x03) == 0x00; }), 0);
    EXPECT_EQ(vtx::sim::chipRegister(0x03), 0x00) << "the test hooks stay on the private board";
    struct stat st {};
    ASSERT_EQ(stat((runtime + "/xq4620-sim").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((runtime + "/xq4620-sim/bench").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Each process writes its own register and reads it straight back. Were a
// call not whole, a process storing the board it loaded before the other's
// write would undo that write, and the other would read a stale value.
TEST_F(SharedBoardTest, EveryCallIsWholeAcrossProcesses) {
    restart("sim:race");
    openBoard();
    auto hammer = [this](uint8_t reg) {
        return [this, reg] {
            const int32_t h = openBoard();
            for (int i = 0; i < 20000; ++i) {
                const auto value = static_cast<uint8_t>(i);
                if (write(h, reg, value) != 0 || read(h, reg) != value)
                    return false;
            }
            return true;
        };
    };
    const pid_t a = fork();
    if (a == 0) {
        setenv("VTX_ADAPTER", "sim:race", 1);
        vtx::test::reset();
        _exit(hammer(0x03)() ? 0 : 1);
    }
    EXPECT_EQ(inChild("sim:race", hammer(0x04)), 0);
    int status = 0;
    waitpid(a, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(SharedBoardTest, StateKeptOnlyWhereNoOtherUserCanReachOrPlantIt) {
    const std::string dir = runtime + "/xq4620-sim";
    struct Case {
        const char *what;
        std::function<void()> plant;
        const char *mention;
    };
    const Case cases[] = {
        {"a directory others may enter",
         [&] { mkdir(dir.c_str(), 0777), chmod(dir.c_str(), 0777); },
         "mode 0777 lets other users in"},
        {"a symbolic link in its place", [&] { symlink(runtime.c_str(), dir.c_str()); },
         "xq4620-sim"},
        {"a state file others may write",
         [&] {
             mkdir(dir.c_str(), 0700);
             close(open((dir + "/b").c_str(), O_CREAT | O_WRONLY, 0666));
             chmod((dir + "/b").c_str(), 0666);
         },
         "mode 0666 lets other users in"},
        {"a plain file in its place", [&] { close(open(dir.c_str(), O_CREAT | O_WRONLY, 0600)); },
         "xq4620-sim"},
    };
    for (const Case &c : cases) {
        std::system(("rm -rf '" + dir + "'").c_str());
        c.plant();
        ::testing::internal::CaptureStderr();
        restart("sim:b");
        EXPECT_EQ(vtxFindControllers(), 0) << c.what;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.mention), std::string::npos) << c.what << ": " << err;
    }
    if (geteuid() == 0) { // only root can hand a directory to another user
        std::system(("rm -rf '" + dir + "'").c_str());
        mkdir(dir.c_str(), 0700);
        ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
        ::testing::internal::CaptureStderr();
        restart("sim:b");
        EXPECT_EQ(vtxFindControllers(), 0);
        EXPECT_NE(::testing::internal::GetCapturedStderr().find("owned by another user"),
                  std::string::npos);
    }
}

TEST_F(SharedBoardTest, WithoutRuntimeDirectoryAPrivateOneInTmp) {
    unsetenv("XDG_RUNTIME_DIR");
    const std::string name = "t" + std::to_string(getpid());
    restart(("sim:" + name).c_str());
    EXPECT_EQ(vtxFindControllers(), 1);
    const std::string dir = "/tmp/xq4620-sim-" + std::to_string(geteuid());
    struct stat st {};
    ASSERT_EQ(lstat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    vtx::test::reset();
    std::remove((dir + "/" + name).c_str());
}

} // namespace
