#pragma once
// Judging an answer in the receive buffer.

#include "link/bus_context.h"

namespace velkor::link {

// 1: exactly one byte E5; 0: nothing received; -1: anything else (collision).
int check_ack(const bus_context& bus);

// "CHECK_UD2": 1 for a valid RSP_UD long frame (C 0x08, CI 0x72, checksum,
// end byte, length L + 6), else 0. Messages with the encoder trace switch.
int check_long_frame(const bus_context& bus);

} // namespace velkor::link
