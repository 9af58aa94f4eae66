#pragma once
// The receive side of one exchange: a receive thread collects the answer into
// the bus_context while the calling thread waits, both as the exchange's
// rules say.

#include "link/timing.h"
#include "link/transceiver.h"

namespace velkor::link {

// How the answer came, in microseconds from the end of the send.
struct answer_timing {
    bool ended = false;               // the receive ended before the wait for it ran out
    std::int64_t first_byte_us = -1;  // -1: nothing but the echo came
    std::int64_t complete_us = 0;     // the answer was taken as complete
};

// Collects the answer to the request sent at sent_at_us from the line in use.
// A long frame is complete at its length; any answer when the line has been
// quiet for rules.quiet_ms after its last byte, or when none began within
// the window. The bytes stored so far remain when the wait runs out first;
// a line that went away leaves none.
answer_timing receive_answer(transceiver& t, bus_context& bus, const exchange_rules& rules, std::int64_t sent_at_us);

} // namespace velkor::link
