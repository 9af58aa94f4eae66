#include "link/timing.h"

#include <algorithm>
#include <cstdio>

#include "base/trace.h"

namespace velkor::link {

namespace {

// classic: per character 1.2, 4.6 or 36.6 ms (11 bits at 9600, 2400 or 300
// Bd) for the request and the longest answer, plus the slave's reaction time;
// 4800 Bd is timed like 2400, 19200 and 38400 like 9600, 600 and 1200 like
// 300. The polls are about two character times at the slow rates.
constexpr line_timing timings[] = {
    {300, 1000, 366, 2150, 73},  {600, 1000, 366, 2150, 37},  {1200, 1000, 366, 2150, 18},
    {2400, 500, 46, 587, 10},    {4800, 500, 46, 587, 10},    {9600, 500, 12, 185, 10},
    {19200, 500, 12, 185, 10},   {38400, 500, 12, 185, 10},
};
constexpr line_timing unlisted_rate{0, 1000, 366, 2150, 10};
constexpr int classic_slices = 10;

constexpr int bits_per_character = 11;
constexpr int window_bits = 330;
constexpr int idle_bits = 33;
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

const line_timing& timing_for(std::uint32_t baud_rate)
{
    for (const line_timing& t : timings) {
        if (t.baud_rate == baud_rate)
            return t;
    }
    return unlisted_rate;
}

int pause_ms(std::uint32_t baud_rate) { return timing_for(baud_rate).pause_ms; }

int answer_timeout_ms(std::uint32_t baud_rate, std::int32_t send_length, answer_mode mode)
{
    std::int32_t length = send_length < 0 ? 0 : send_length;
    if (length > static_cast<std::int32_t>(bus_buffer_size))
        length = static_cast<std::int32_t>(bus_buffer_size);
    const std::int32_t n = length + (mode == answer_mode::long_frame ? longest_long_frame : 1);
    const line_timing& t = timing_for(baud_rate);
    return n * t.char_tenths_ms / 10 + t.reaction_ms;
}

int poll_interval_ms(std::uint32_t baud_rate) { return timing_for(baud_rate).poll_ms; }

exchange_rules rules_for(const link_timing& timing, std::uint32_t rate, std::int32_t send_length, answer_mode mode)
{
    exchange_rules r;
    const bool long_frame = mode == answer_mode::long_frame;
    if (timing.profile == timing_profile::classic) {
        // An answer ends at its length (a long frame) or at the first quiet
        // poll; else the time-out, seen at the end of one of its ten slices.
        r.pause_ms = pause_ms(rate);
        r.limit_ms = answer_timeout_ms(rate, send_length, mode);
        r.poll_ms = poll_interval_ms(rate);
        r.quiet_ms = long_frame ? -1 : r.poll_ms;
        r.slices = classic_slices;
        r.slice_ms = r.limit_ms / classic_slices;
        r.collision_pause_ms = classic_collision_pause_ms;
        return r;
    }
    r.pause_ms = std::max(timing.pause_ms, least_idle_ms(rate));
    r.pause_counts_idle = r.speed_on_change = r.drain = r.wire_time = true;
    r.limit_ms = r.window_ms = answer_window_ms(rate, timing.margin_ms);
    r.quiet_ms = long_frame ? answer_gap_ms(rate, timing.margin_ms) : quiet_end_ms(rate);
    // The receive ends by itself at the latest when its window and the
    // longest answer have passed; the bound here only covers a line that hangs.
    r.slice_ms = r.window_ms + 2 * wire_time_ms(rate, static_cast<std::int32_t>(bus_buffer_size)) + 1000;
    r.wake_on_answer = r.trace_times = true;
    r.retries = timing.retries;
    return r;
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

int least_idle_ms(std::uint32_t baud_rate) { return ceil_ms(idle_bits * 1000000LL / line_rate(baud_rate)); }

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
