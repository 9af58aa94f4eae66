#pragma once
// Writing a whole frame to a non-blocking serial port or socket.

#include <cstdint>
#include <span>

namespace velkor::port {

struct write_result {
    std::size_t written = 0;
    int error = 0;         // 0: all went out; else what stopped it (EAGAIN: the queue stayed full)
    bool hung_up = false;  // the descriptor reported a hang-up or an error while its queue was full
};

// Normally one write. A full output queue is waited out a second at a time
// while it drains, never for ever. A socket is written without SIGPIPE.
write_result write_all(int fd, std::span<const std::uint8_t> bytes, bool socket);

} // namespace velkor::port
