// SPDX-License-Identifier: MIT
// The state file of a simulated board shared between processes
// (VTX_ADAPTER=sim:NAME). It lives in a directory only this user can enter,
// and every access happens under an exclusive lock on the file, so that each
// library call sees and leaves the board whole whatever other processes do.
#ifndef VTX_SHARED_BOARD_H
#define VTX_SHARED_BOARD_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace vtx::detail {

class SharedBoardFile {
public:
    // The file of board `name` (letters, digits, '.', '_' and '-', not
    // starting with '.', at most 64), created empty when new. Its directory
    // is $XDG_RUNTIME_DIR/xq4620-sim, or /tmp/xq4620-sim-UID when that is
    // unset, created mode 0700; a directory or file that is not this user's
    // own, or that others may enter, is refused. Nothing and `why` on refusal.
    static std::unique_ptr<SharedBoardFile> open(const std::string &name, std::string &why);
    // Why `name` is no board name; "" when it is one.
    static std::string nameProblem(const std::string &name);

    ~SharedBoardFile();
    SharedBoardFile(const SharedBoardFile &) = delete;
    SharedBoardFile &operator=(const SharedBoardFile &) = delete;

    // Waits at most `timeoutMs` for other processes to let go of the board:
    // 0, -EBUSY when one still holds it, or -errno.
    int32_t lock(int32_t timeoutMs);
    void unlock();

    enum class Loaded { Fresh, Whole, Damaged, Removed };
    // The state as last stored: Fresh for a file that holds nothing yet (a
    // new board), Damaged with `why` for one whose size is not `size`,
    // Removed when the file is no longer in its folder: another program
    // that names the board now makes a new one, which this one cannot see.
    Loaded load(uint8_t *state, size_t size, std::string &why);
    bool store(const uint8_t *state, size_t size);

    const std::string &name() const { return name_; }
    const std::string &path() const { return path_; }

private:
    SharedBoardFile(int fd, std::string name, std::string path)
        : fd_(fd), name_(std::move(name)), path_(std::move(path)) {}
    int fd_;
    std::string name_, path_;
};

} // namespace vtx::detail

#endif
