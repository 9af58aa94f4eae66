#pragma once
// The two timing profiles of the link layer, as data for the one exchange
// sequence. `classic` keeps the fixed pauses, time-outs and slices of the
// transceiver; `standard` gives a slave the answer window of EN 13757-2
// (330 bit times + 50 ms), learns the end of an answer from the answer itself
// and repeats an exchange that found no answer.

#include <cstdint>
#include <string_view>

#include "link/bus_context.h"

namespace velkor::link {

enum class timing_profile { classic, standard };

struct link_timing {
    timing_profile profile = timing_profile::classic;
    int pause_ms = 50;   // idle line before every request
    int margin_ms = 50;  // added to every answer window, for converters and USB adapters
    int retries = 2;     // repeats of an exchange that found no (valid) answer
};

// "standard" selects the standard profile; any other value is classic.
timing_profile timing_profile_named(std::string_view name);
const char* timing_profile_name(timing_profile profile);

// How one exchange is timed. The profile decides it here; the exchange
// (link/transceiver.cpp) and its receive (link/receive.cpp) only follow it.
struct exchange_rules {
    // Before the request.
    int pause_ms = 0;
    bool pause_counts_idle = false;  // the line's quiet time since its last activity counts towards the pause
    bool speed_on_change = false;    // the speed is set only when it differs from the one set last
    bool drain = false;              // the answer is timed from the request's last bit, not from its queueing
    // The answer.
    int limit_ms = 0;        // the time-out or the answer window, as the trace names it
    int poll_ms = 0;         // > 0: the line is read at this interval; 0: whenever input arrives
    int window_ms = 0;       // > 0: an answer must begin within it, counted from the send
    int quiet_ms = -1;       // an answer that its length does not end is over after this much quiet; < 0: never
    bool wire_time = false;  // a long frame of known length is read when its remaining bytes are due
    // The waiting side: it looks whether the receive has ended `slices` times,
    // slice_ms apart, or returns as soon as it has.
    int slices = 1;
    int slice_ms = 0;
    bool wake_on_answer = false;
    bool trace_times = false;  // the trace tells when the answer began and ended, not the receive thread's life
    // After the exchange.
    int retries = 0;             // repeats while no valid answer came
    int collision_pause_ms = 0;  // after a collision in the search; 0: until the line has been quiet for a window
};

exchange_rules rules_for(const link_timing& timing, std::uint32_t baud_rate, std::int32_t send_length,
                         answer_mode mode);
inline exchange_rules rules_for(const link_timing& timing, const bus_context& bus)
{
    return rules_for(timing, bus.baud_rate, bus.send_length, bus.answer_mode);
}

// classic, per baud rate.
struct line_timing {
    std::uint32_t baud_rate;
    int pause_ms;        // before every send
    int char_tenths_ms;  // per byte of request and answer, in tenths of a ms
    int reaction_ms;     // added to the time-out
    int poll_ms;         // between reads of the receive
};
const line_timing& timing_for(std::uint32_t baud_rate);

int pause_ms(std::uint32_t baud_rate);
int answer_timeout_ms(std::uint32_t baud_rate, std::int32_t send_length, answer_mode mode);
int poll_interval_ms(std::uint32_t baud_rate);
inline constexpr int classic_collision_pause_ms = 1000;

// standard.

// The speed the line actually runs at: the eight M-Bus rates, else 9600 Bd.
std::uint32_t line_rate(std::uint32_t baud_rate);

// One character is 11 bits: start, 8 data, even parity, stop.
std::int64_t character_time_us(std::uint32_t baud_rate);

// From the end of the request to the first byte of the answer: 330 bit times
// + 50 ms + margin, in whole milliseconds rounded up.
int answer_window_ms(std::uint32_t baud_rate, int margin_ms);

// 33 bit times, the least idle line EN 13757-2 allows between two frames, in
// whole milliseconds rounded up: the shortest pause before a request.
int least_idle_ms(std::uint32_t baud_rate);

// Quiet line that ends an acknowledgement or a collision: three character
// times, at least 10 ms.
int quiet_end_ms(std::uint32_t baud_rate);

// Silence within an answer after which it is taken as it stands: the margin,
// but never less than the quiet end.
int answer_gap_ms(std::uint32_t baud_rate, int margin_ms);

// Wire time of a number of characters, rounded up to whole milliseconds.
int wire_time_ms(std::uint32_t baud_rate, std::int32_t characters);

// Prints the profile in use with the transceiver trace switch on.
void trace_timing(const link_timing& timing);

} // namespace velkor::link
