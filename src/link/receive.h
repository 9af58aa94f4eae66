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

} // namespace velkor::link
