#pragma once
// Secondary-address slave search: a depth-first walk over wildcard masks.

#include <array>
#include <cstdint>

#include "base/clock.h"
#include "link/bus_context.h"
#include "link/transceiver.h"

namespace velkor::link {

struct search_state {
    std::uint8_t position = 0;                // 0..7 identification digits, 8..11 mask bytes 5..8
    std::array<std::uint8_t, 8> digits{};     // 0..9, or 0xF as wildcard
    std::array<std::uint8_t, 8> mask{};       // display order; 0xFF wildcard in bytes 5..8
};

// One probe. A set start flag starts a new search (and is cleared). Returns
// true when the caller should call again, false when the search is over.
// mask_out receives the probed mask; the receive side of bus holds the data
// telegram of a slave found by this step, or receive_length 0.
bool search_step(search_state& state, bool& start, bus_context& bus, bus_line& line, velkor::clock& clock,
                 std::array<std::uint8_t, 8>& mask_out);

} // namespace velkor::link
