#include "link/transceiver.h"

// Placeholder until the transceiver lands.
namespace velkor::link {
void serial_line::set_speed(int) {}
int serial_line::write(std::span<const std::uint8_t>) { return -1; }
int serial_line::read(std::span<std::uint8_t>) { return -1; }
int serial_line::modem_lines(int&) { return -1; }
void serial_line::set_break(bool) {}
int pause_ms(std::uint32_t) { return 0; }
int answer_timeout_ms(std::uint32_t, std::int32_t, std::uint32_t) { return 0; }
int poll_interval_ms(std::uint32_t) { return 10; }
void transceiver::transceive(bus_context& bus) { bus.clear_receive(); }
void set_transceiver_trace(int) {}
void check_bus_break(transceiver&) {}
void hex_dump(std::span<const std::uint8_t>) {}
} // namespace velkor::link
