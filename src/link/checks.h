#pragma once
// Judging an answer in the receive buffer.

#include "base/text.h"
#include "link/bus_context.h"

namespace velkor::link {

// What came back to a request that awaited the acknowledgement.
enum class ack {
    ok,         // exactly one byte E5
    none,       // nothing
    collision,  // anything else: several slaves at once, or a garbled answer
};
ack check_ack(const bus_context& bus);

// What is wrong with a long frame, as bits; 0 for a valid RSP_UD.
enum long_frame_error {
    frame_missing = 1,         // nothing received
    frame_header = 2,          // not 68 L L 68, C not 08 or CI not 72
    frame_checksum_wrong = 4,
    frame_end_byte = 8,        // last byte not 16
    frame_length = 16,         // not L + 6 bytes
};
int long_frame_errors(const bus_context& bus);

// Whether a repeat of the exchange may still bring its answer: nothing came,
// or a long frame that is not valid. A collision is final.
bool worth_repeating(const bus_context& bus);

// "CHECK_UD2": whether the answer is a valid RSP_UD long frame (C 0x08, CI
// 0x72, checksum, end byte, length L + 6). Messages with the encoder trace switch.
bool check_long_frame(const bus_context& bus);

// Whether a valid long frame comes from the slave the request asked: after a
// request to primary address 0-250 its A field must be that address; after a
// selection (253) its identification must match the selection, an F nibble
// of the number and an FF byte matching anything. Any other answer belongs.
// When it does not, both sides are described for the log.
bool answer_belongs(const bus_context& bus, text<64>& answered, text<64>& asked);

} // namespace velkor::link
