#pragma once
// The two timing profiles of the link layer. `classic` keeps the fixed pauses,
// time-outs and slices of the transceiver; `standard` gives a slave the answer
// window of EN 13757-2 (330 bit times + 50 ms), learns the end of an answer
// from the answer itself and repeats an exchange that found no answer.

#include <cstdint>
#include <string_view>

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

// The speed the line actually runs at: the eight M-Bus rates, else 9600 Bd.
std::uint32_t line_rate(std::uint32_t baud_rate);

// One character is 11 bits: start, 8 data, even parity, stop.
std::int64_t character_time_us(std::uint32_t baud_rate);

// From the end of the request to the first byte of the answer: 330 bit times
// + 50 ms + margin, in whole milliseconds rounded up.
int answer_window_ms(std::uint32_t baud_rate, int margin_ms);

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
