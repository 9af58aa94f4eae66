#include "support/fake_line.h"

#include <algorithm>
#include <climits>

namespace velkor::testing {

namespace {

std::int64_t ms_to_us(int ms) { return static_cast<std::int64_t>(ms) * 1000; }

} // namespace

void fake_line::arrive(const std::vector<arrival>& arrivals)
{
    const std::int64_t now = clock.monotonic_us();
    for (const arrival& a : arrivals)
        due.emplace(now + ms_to_us(a.after_ms), a.data);
}

bool fake_line::ready()
{
    calls += "ready, ";
    ready_at_us = clock.monotonic_us();
    return present;
}

void fake_line::set_speed(int baud_rate)
{
    speeds.push_back(baud_rate);
    calls += "speed " + std::to_string(baud_rate) + ", ";
}

void fake_line::discard_input()
{
    calls += "discard, ";
    waiting.clear();
    due.erase(due.begin(), due.upper_bound(clock.monotonic_us()));
}

int fake_line::pending_input()
{
    if (!keeps_input)
        return 0;
    std::size_t n = 0;
    for (auto i = due.begin(); i != due.upper_bound(clock.monotonic_us()); ++i)
        n += i->second.size();
    return static_cast<int>(n);
}

int fake_line::write(std::span<const std::uint8_t> data)
{
    calls += "write, ";
    written.emplace_back(data.begin(), data.end());
    written_at_us = clock.monotonic_us();
    written_ms.push_back(static_cast<int>(written_at_us / 1000));
    if (!waiting.empty())
        chunks.push_front(waiting);
    if (!keeps_input)
        due.clear();
    if (!answers.empty()) {
        arrive(answers.front());
        answers.pop_front();
    } else if (responder) {
        arrive(responder(data));
    }
    return static_cast<int>(data.size());
}

void fake_line::drain() { calls += "drain, "; }

int fake_line::read(std::span<std::uint8_t> buffer)
{
    if (++reads == gone_at_read)
        return -1;
    if (!chunks.empty()) {
        const bytes chunk = chunks.front();
        chunks.pop_front();
        const std::size_t n = std::min(chunk.size(), buffer.size());
        std::copy_n(chunk.begin(), n, buffer.begin());
        return static_cast<int>(n);
    }
    std::size_t n = 0;
    const std::int64_t now = clock.monotonic_us();
    while (!due.empty() && due.begin()->first <= now && n < buffer.size()) {
        bytes& data = due.begin()->second;
        const std::size_t take = std::min(data.size(), buffer.size() - n);
        std::copy_n(data.begin(), take, buffer.begin() + static_cast<std::ptrdiff_t>(n));
        n += take;
        data.erase(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(take));
        if (data.empty())
            due.erase(due.begin());
    }
    return static_cast<int>(n);
}

void fake_line::wait_input(velkor::clock&, int timeout_ms)
{
    const std::int64_t now = clock.monotonic_us();
    const std::int64_t next = due.empty() ? INT64_MAX : due.begin()->first;
    const std::int64_t wake = std::min(now + ms_to_us(timeout_ms), std::max(next, now));
    clock.sleep_ms(static_cast<int>((wake - now + 999) / 1000));
}

int fake_line::modem_lines(int& bits)
{
    const int m = modem.empty() ? -1 : modem.front();
    if (!modem.empty())
        modem.pop_front();
    if (m < 0)
        return -1;
    bits = m;
    return 0;
}

void fake_line::set_break(bool on) { breaks.push_back(on); }

} // namespace velkor::testing
