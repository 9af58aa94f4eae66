#pragma once
// A pseudo-terminal standing in for the M-Bus serial line. The daemon side
// opens `device`, a symlink named "ttyS0" in a fresh temp folder that points
// at the pty slave, so the daemon takes it for a serial port. The test plays
// the meter on `master`: what the daemon writes arrives there, and what is
// written there is what the daemon reads.
//
// The helper keeps the slave open itself, so the master never sees a hang-up
// while the daemon side opens and closes it, and starts the line raw, so
// nothing is echoed before the daemon applies its own settings. The settings
// of the line can be read through `slave` with tcgetattr.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velkor::testing {

struct pty_pair {
    temp_dir folder;
    int master = -1;
    int slave = -1;
    std::string device;  // folder/ttyS0 -> /dev/pts/N

    pty_pair();  // on failure master stays -1 (check ok())
    ~pty_pair();
    pty_pair(const pty_pair&) = delete;
    pty_pair& operator=(const pty_pair&) = delete;

    bool ok() const { return master >= 0 && slave >= 0; }

    // Reads from the master until `count` bytes are in or timeout_ms passed.
    std::vector<std::uint8_t> read_master(std::size_t count, int timeout_ms) const;
    // Writes the bytes to the master in one call; true when all went out.
    bool write_master(std::span<const std::uint8_t> bytes) const;
};

} // namespace velkor::testing
