// What keeps an exchange to its own answer: the answer must come from the
// slave asked, a late answer never runs into the next request, and a command
// whose line went away sends no more.

#include <algorithm>
#include <array>
#include <cstdio>

#include "base/trace.h"
#include "link/checks.h"
#include "link/transceiver.h"

namespace velkor::link {

namespace {

void report(const bus_line& line, int line_number, int level, std::string_view message)
{
    if (trace::transceiver)
        std::printf("%.*s\n", static_cast<int>(message.size()), message.data());
    if (line.log)
        log::log_write(*line.log, "link", line_number, level, message);
}

} // namespace

bool line_available(transceiver& t)
{
    // Once it failed, a command sends nothing more (exchange_once), so a device
    // opened again here is at the first exchange of a command.
    if (t.line->ready())
        return true;
    t.failed = true;
    t.speed_set = 0;  // a device that comes back is at its opening speed
    return false;
}

void line_lost(transceiver& t)
{
    t.failed = true;
    t.speed_set = 0;  // the device comes back at its opening speed
}

int drop_until_quiet(transceiver& t, const bus_context& bus, std::int64_t quiet_since_us)
{
    const std::int64_t quiet_us = answer_window_ms(bus.baud_rate, t.timing.margin_ms) * 1000LL;
    std::int64_t last = quiet_since_us;
    const std::int64_t give_up = std::max(t.clock.monotonic_us(), last) + quiet_us +
                                 wire_time_ms(bus.baud_rate, bus_buffer_size) * 1000LL;
    std::array<std::uint8_t, 64> dropped;
    int count = 0;
    for (;;) {
        const int n = t.line->read(dropped);
        const std::int64_t now = t.clock.monotonic_us();
        if (n < 0)
            line_lost(t);
        if (n < 0 || now >= give_up)
            return count;
        if (n > 0) {
            count += n;
            last = t.active_us = now;
            continue;
        }
        if (now - last >= quiet_us)
            return count;
        t.line->wait_input(t.clock, static_cast<int>((quiet_us - (now - last) + 999) / 1000));
    }
}

void settle_line(transceiver& t, const bus_context& bus)
{
    int late = 0;
    if (t.line->pending_input() > 0) {
        std::array<std::uint8_t, bus_buffer_size> waiting;
        const int n = t.line->read(waiting);
        if (n < 0) {
            line_lost(t);
            return;
        }
        if (n > 0)
            t.active_us = t.clock.monotonic_us();
        const auto echo = std::span(t.unanswered).first(static_cast<std::size_t>(t.unanswered_length));
        if (n != t.unanswered_length || !std::equal(echo.begin(), echo.end(), waiting.begin())) {
            late = n;
            t.quiet_from_us = t.quiet_first ? t.quiet_from_us : 0;
            t.quiet_first = true;
        }
    }
    t.unanswered_length = 0;
    if (!t.quiet_first)
        return;
    t.quiet_first = false;
    late += drop_until_quiet(t, bus, std::max(t.clock.monotonic_us(), t.quiet_from_us));
    if (late == 0)
        return;
    text<96> message;
    message.format("LINK: late answer of %d bytes dropped, the line was let fall quiet before the request", late);
    report(t, __LINE__, 2, message.view());
}

// If the answer was the earliest try's, the slave is that late, and it
// answers the last try at the earliest that long after this answer ended.
void transceiver::answer_may_follow(int tries)
{
    const std::uint32_t kept = std::min<std::uint32_t>(sends, sent_us.size());
    if (kept == 0)
        return;
    const std::uint32_t back = std::min<std::uint32_t>(static_cast<std::uint32_t>(tries > 0 ? tries - 1 : 0), kept - 1);
    const std::int64_t first_try = sent_us[(sends - 1 - back) % sent_us.size()];
    quiet_first = true;
    quiet_from_us = answer_ended_us + (answer_began_us - first_try);
}

void exchange_once(bus_line& line, bus_context& bus)
{
    if (line.line_failed()) {
        bus.clear_receive();
        return;
    }
    line.transceive(bus);
    text<64> answered, asked;
    if (answer_belongs(bus, answered, asked))
        return;
    text<192> message;
    message.format("LINK: answer from %s does not belong to %s", answered.c_str(), asked.c_str());
    report(line, __LINE__, 1, message.view());
    bus.clear_receive();
}

} // namespace velkor::link
