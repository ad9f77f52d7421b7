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

namespace vtx::detail {

class SharedBoardFile {
public:
    // The file of board `name` (letters, digits, '.', '_' and '-', not
    // starting with '.', at most 64), created empty when new. Its directory
    // is $XDG_RUNTIME_DIR/xq4620-sim, or /tmp/xq4620-sim-UID when that is
    // unset, created mode 0700; a directory or file that is not this user's
    // own, or that others may enter, is refused. Nothing and `why` on refusal.
    static std::unique_ptr<SharedBoardFile> open(const std::string &name, std::string &why);

    ~SharedBoardFile();
    SharedBoardFile(const SharedBoardFile &) = delete;
    SharedBoardFile &operator=(const SharedBoardFile &) = delete;

    // Blocks until no other process holds the board; false if the lock
    // cannot be had at all.
    bool lock();
    void unlock();

    // The state as last stored; false when the file holds none (a new board).
    bool load(uint8_t *state, size_t size);
    bool store(const uint8_t *state, size_t size);

private:
    explicit SharedBoardFile(int fd) : fd_(fd) {}
    int fd_;
};

} // namespace vtx::detail

#endif
