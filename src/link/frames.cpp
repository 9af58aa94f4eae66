#include "link/frames.h"

// Placeholder until the frame builders land.
namespace velkor::link {
std::uint8_t frame_checksum(std::span<const std::uint8_t>) { return 0; }
void build_snd_nke(bus_context&, std::uint8_t) {}
void build_req_ud2(bus_context&, std::uint8_t, int) {}
void build_select(bus_context&, std::string_view) {}
void build_select(bus_context&, const std::array<std::uint8_t, 8>&) {}
void build_set_primary(bus_context&, std::uint8_t) {}
void build_reset_all_primary(bus_context&) {}
void build_set_secondary(bus_context&, std::string_view) {}
void build_set_baudrate(bus_context&, std::uint8_t, int) {}
void build_freeze(bus_context&, const std::tm&) {}
void build_snd_ud_reset_ctrl(bus_context&, std::uint8_t, std::int32_t) {}
void build_snd_ud_set_temp(bus_context&, std::uint8_t, std::int32_t) {}
void build_snd_ud_reset_temp(bus_context&, std::uint8_t) {}
void build_snd_ud_set_sensor(bus_context&, std::uint8_t, std::int32_t) {}
void build_snd_ud_appl_reset(bus_context&, std::uint8_t, std::int32_t) {}
void build_snd_ud_ctrl(bus_context&, std::uint8_t, std::int32_t) {}
void build_snd_ud_ctrl_u(bus_context&, std::uint8_t, std::int32_t) {}
void build_snd_ud_ctrl_i(bus_context&, std::uint8_t, std::int32_t) {}
int finish_raw_frame(bus_context&, std::uint8_t) { return -1; }
} // namespace velkor::link
