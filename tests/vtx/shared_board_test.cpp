// SPDX-License-Identifier: MIT
// One simulated board shared by several processes (VTX_ADAPTER=sim:NAME): the
// processes see each other's writes, each call is whole across processes,
// and the board's state is kept where no other user can reach or plant it.
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim_fixture.h"

namespace {

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

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
    const std::string outside = runtime + "/elsewhere";
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
        {"a state file the group may read",
         [&] {
             mkdir(dir.c_str(), 0700);
             close(open((dir + "/b").c_str(), O_CREAT | O_WRONLY, 0600));
             chmod((dir + "/b").c_str(), 0640);
         },
         "mode 0640 lets other users in"},
        {"a symbolic link in the state file's place",
         [&] {
             mkdir(dir.c_str(), 0700);
             symlink(outside.c_str(), (dir + "/b").c_str());
         },
         "/xq4620-sim/b: Too many levels of symbolic links"},
        {"a FIFO in the state file's place",
         [&] {
             mkdir(dir.c_str(), 0700);
             mkfifo((dir + "/b").c_str(), 0600);
         },
         "/xq4620-sim/b: not a regular file"},
        {"a directory in the state file's place",
         [&] { mkdir(dir.c_str(), 0700), mkdir((dir + "/b").c_str(), 0700); },
         "/xq4620-sim/b: Is a directory"},
    };
    for (const Case &c : cases) {
        std::system(("rm -rf '" + dir + "'").c_str());
        close(open(outside.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600));
        c.plant();
        ::testing::internal::CaptureStderr();
        restart("sim:b");
        EXPECT_EQ(vtxFindControllers(), 0) << c.what;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.mention), std::string::npos) << c.what << ": " << err;
        struct stat st {};
        EXPECT_EQ(stat(outside.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 0) << c.what << ": nothing written outside the directory";
    }
    // Put right, the board opens in the same process: nothing of the
    // refusal is kept.
    std::system(("rm -rf '" + dir + "'").c_str());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(vtxFindControllers(), 1);
    ::testing::internal::GetCapturedStderr();
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

// A state file our programs did not leave is refused with its path and
// reason, and left as it is for a person to look at; never taken for a new
// board. Only a file with nothing in it yet is a new board.
TEST_F(SharedBoardTest, DamagedStateFileIsRefusedNotReset) {
    const std::string dir = runtime + "/xq4620-sim", path = dir + "/d";
    std::string good;
    {
        restart("sim:d");
        const int32_t h = openBoard();
        ASSERT_EQ(write(h, 0x03, 0x80), 0);
        vtx::test::reset();
        good = ReadFile(path);
        ASSERT_EQ(good.size(), 271u);
    }
    auto with = [&](size_t at, char byte) {
        std::string s = good;
        s[at] = byte;
        return s;
    };
    const struct {
        std::string contents;
        const char *reason;
    } rows[] = {
        {good.substr(0, 100), "100 bytes where a board's state takes 271"},
        {good + "x", "272 bytes where a board's state takes 271"},
        {with(0, 'Y'), "it does not begin with XQSIM1: another format"},
        {with(8, 0), "its supply bytes hold 0 and 1 (a board's hold 1, and 0 or 1)"},
        {with(9, 7), "its supply bytes hold 1 and 7 (a board's hold 1, and 0 or 1)"},
        {with(10 + 0x0A, 0x47), "register 0x0A holds 0x47, which the chip cannot"},
        {with(10 + 0x09, 0x08), "register 0x09 holds 0x08, which the chip cannot"},
        {with(10 + 0x0C, 0x01), "register 0x0C holds 0x01, which the chip cannot"},
        {with(266, 2), "its supply-cut byte holds 2 (0 or 1)"},
    };
    for (const auto &row : rows) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << row.contents;
        ::testing::internal::CaptureStderr();
        restart("sim:d");
        EXPECT_EQ(vtxFindControllers(), -EUCLEAN) << row.reason;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, std::string("vtx: simulated board d: its state file is damaged (") + path +
                           "): " + row.reason + "; remove it to start afresh\n");
        EXPECT_EQ(ReadFile(path), row.contents) << "left for a person to look at";
    }
    std::ofstream(path, std::ios::trunc).close();
    restart("sim:d");
    EXPECT_EQ(read(openBoard(), 0x03), 0x00) << "an empty file is a new board";
}

// One program's hold keeps every other program out until its outermost
// unlock, its own single calls inside the hold included.
TEST_F(SharedBoardTest, HoldNestsAndKeepsOtherProgramsOut) {
    restart("sim:held");
    const int32_t h = openBoard();
    const std::string otherErr = runtime + "/other.err";
    // The other program, its board set up before the holds begin: each byte
    // it is sent asks it for one try at a hold ('L') or one single write
    // ('W'), answered with the negated result.
    int ask[2], answer[2];
    ASSERT_EQ(pipe(ask), 0);
    ASSERT_EQ(pipe(answer), 0);
    const pid_t other = fork();
    if (other == 0) {
        close(ask[1]), close(answer[0]);
        if (!std::freopen(otherErr.c_str(), "w", stderr))
            _exit(1);
        std::setvbuf(stderr, nullptr, _IONBF, 0);
        setenv("VTX_ADAPTER", "sim:held", 1);
        vtx::test::reset();
        const int32_t c = openBoard(false);
        char byte;
        while (::read(ask[0], &byte, 1) == 1) {
            const int32_t r = byte == 'W' ? write(c, 0x04, 0x22) : vtxLock(c, 0);
            if (r == 0 && byte == 'L')
                vtxUnlock(c);
            byte = static_cast<char>(-r);
            if (::write(answer[1], &byte, 1) != 1)
                break;
        }
        _exit(0);
    }
    auto otherTries = [&](char byte = 'L') {
        if (::write(ask[1], &byte, 1) != 1 || ::read(answer[0], &byte, 1) != 1)
            return -1;
        return -static_cast<int>(byte);
    };
    ASSERT_EQ(otherTries(), 0);
    EXPECT_EQ(vtxUnlock(h), -EPERM) << "not held";
    EXPECT_EQ(vtxLock(h, -1), -EINVAL);
    ASSERT_EQ(vtxLock(h, 100), 0);
    ASSERT_EQ(vtxLock(h, 0), 0);
    ASSERT_EQ(write(h, 0x03, 0x11), 0); // a single call inside the hold
    EXPECT_EQ(otherTries(), -EBUSY) << "held twice";
    ASSERT_EQ(vtxUnlock(h), 0);
    EXPECT_EQ(otherTries(), -EBUSY) << "still held once";
    // A single call waits, says so after a second, and gives up; the next
    // one tries once only.
    EXPECT_EQ(otherTries('W'), -EBUSY);
    EXPECT_EQ(otherTries('W'), -EBUSY);
    ASSERT_EQ(vtxUnlock(h), 0);
    EXPECT_EQ(otherTries(), 0) << "let go";
    EXPECT_EQ(vtxUnlock(h), -EPERM);
    close(ask[1]);
    int status = 0;
    waitpid(other, &status, 0);
    close(ask[0]), close(answer[0]), close(answer[1]);
    EXPECT_EQ(ReadFile(otherErr), "vtx: waiting for simulated board held: another program holds "
                                  "it\n");
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
