#pragma once
// The receive side of one exchange: a receive thread collects the answer into
// the bus_context while the calling thread waits in ten slices of the time-out.

#include "link/transceiver.h"

namespace velkor::link {

// The longest long frame: 0x68 L L 0x68, 255 bytes of C, A, CI and data, CS, 0x16.
inline constexpr std::int32_t longest_long_frame = 261;

// Collects the answer within t.timeout_ms. Returns false on time-out or when
// the receive thread could not be started; the bytes stored so far remain.
bool receive_answer(transceiver& t, bus_context& bus);

// When the answer of a standard exchange came, in microseconds from the end of the send.
struct answer_timing {
    std::int64_t first_byte_us = -1;  // -1: nothing but the echo came within the window
    std::int64_t complete_us = 0;     // the answer was taken as complete
};

// Collects the answer within the window that opened at sent_at_us: it must
// begin within answer_window_ms; a long frame is complete at its length,
// anything else at quiet_end_ms after its last byte; bytes that stop for
// answer_gap_ms end it as it stands. The receive thread signals the end at once.
answer_timing receive_in_window(transceiver& t, bus_context& bus, std::int64_t sent_at_us);

} // namespace velkor::link
