#pragma once
// The simulator's end of the line: a pseudo-terminal whose slave side is
// reached through a symlink, so the daemon opens it like a serial device.

#include <cstdint>
#include <string>

namespace velkor::sim {

struct pty_link {
    int master = -1;      // the simulator reads requests and writes answers here
    int slave = -1;       // kept open: the line stays up between the daemon's opens
    std::string slave_name;
    std::string link_path;
};

// Opens the pty (raw) and points link_path at its slave side, replacing a
// stale symlink but nothing else. Returns 0, or -1 with the reason in `error`.
int open_pty_link(pty_link& link, const std::string& link_path, std::string& error);

// Removes the symlink if it still points at this pty; closes both sides.
void close_pty_link(pty_link& link);

// The line speed the other side set, in Bd; 0 when it is not a standard rate.
std::uint32_t line_speed(const pty_link& link);

} // namespace velkor::sim
