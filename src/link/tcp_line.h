#pragma once
// line_io over a TCP connection to a transparent M-Bus gateway. The gateway
// keeps its serial speed itself, so a speed switch sends nothing; the speed
// only times the drain. No modem lines, no break.

#include <cstdint>

#include "link/transceiver.h"
#include "port/tcp.h"

namespace velkor::link {

struct tcp_line final : line_io {
    port::tcp_port& port;
    velkor::clock& clock;
    int baud_rate = 9600;        // the speed last asked for
    std::int32_t last_write = 0;  // bytes of the last request

    tcp_line(port::tcp_port& p, velkor::clock& c) : port(p), clock(c) {}
    bool ready() override;
    void set_speed(int rate) override { baud_rate = rate; }
    void discard_input() override;
    int pending_input() override;
    int write(std::span<const std::uint8_t> bytes) override;
    void drain() override;
    int read(std::span<std::uint8_t> buffer) override;
    void wait_input(velkor::clock& c, int timeout_ms) override;
    int modem_lines(int&) override { return -1; }
    void set_break(bool) override {}
};

} // namespace velkor::link
