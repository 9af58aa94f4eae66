#include "link/timing.h"

#include <cstdio>

#include "log/trace.h"

namespace velkor::link {

namespace {

constexpr int bits_per_character = 11;
constexpr int window_bits = 330;
constexpr int window_fixed_ms = 50;
constexpr int quiet_characters = 3;
constexpr int shortest_quiet_ms = 10;

int ceil_ms(std::int64_t us) { return static_cast<int>((us + 999) / 1000); }

} // namespace

timing_profile timing_profile_named(std::string_view name)
{
    return name == "standard" ? timing_profile::standard : timing_profile::classic;
}

const char* timing_profile_name(timing_profile profile)
{
    return profile == timing_profile::standard ? "standard" : "classic";
}

std::uint32_t line_rate(std::uint32_t baud_rate)
{
    switch (baud_rate) {
    case 300:
    case 600:
    case 1200:
    case 2400:
    case 4800:
    case 9600:
    case 19200:
    case 38400: return baud_rate;
    default: return 9600;
    }
}

std::int64_t character_time_us(std::uint32_t baud_rate)
{
    return bits_per_character * 1000000LL / line_rate(baud_rate);
}

int answer_window_ms(std::uint32_t baud_rate, int margin_ms)
{
    const int bits_ms = ceil_ms(window_bits * 1000000LL / line_rate(baud_rate));
    return bits_ms + window_fixed_ms + (margin_ms > 0 ? margin_ms : 0);
}

int quiet_end_ms(std::uint32_t baud_rate)
{
    const int ms = ceil_ms(quiet_characters * character_time_us(baud_rate));
    return ms < shortest_quiet_ms ? shortest_quiet_ms : ms;
}

int answer_gap_ms(std::uint32_t baud_rate, int margin_ms)
{
    const int quiet = quiet_end_ms(baud_rate);
    return margin_ms > quiet ? margin_ms : quiet;
}

int wire_time_ms(std::uint32_t baud_rate, std::int32_t characters)
{
    return characters <= 0 ? 0 : ceil_ms(characters * bits_per_character * 1000000LL / line_rate(baud_rate));
}

void trace_timing(const link_timing& timing)
{
    if (!trace::transceiver)
        return;
    if (timing.profile == timing_profile::standard)
        std::printf("link timing standard: pause %d ms, margin %d ms, retries %d\n", timing.pause_ms, timing.margin_ms,
                    timing.retries);
    else
        std::puts("link timing classic");
}

} // namespace velkor::link
