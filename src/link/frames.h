#pragma once
// Every request frame the daemon sends, built as exact bytes into the send
// side of the bus_context together with the answer mode to wait for.

#include <array>
#include <cstdint>
#include <ctime>
#include <span>
#include <string_view>

#include "link/bus_context.h"

namespace velkor::link {

inline constexpr std::uint8_t broadcast_address = 0xFF;
inline constexpr std::uint8_t selected_address = 0xFD;

// Sum of C..last user byte: from byte 1 of a short frame (0x10) or byte 4 of a
// long frame (0x68) up to position length − 3; 0 for any other start byte.
std::uint8_t frame_checksum(std::span<const std::uint8_t> frame);

void build_snd_nke(bus_context& bus, std::uint8_t address);
void build_req_ud2(bus_context& bus, std::uint8_t address, int fcb);
// Selection by secondary address, from its text or from 8 bytes in display
// order (identification number most significant first, manufacturer high,
// manufacturer low, version, medium).
void build_select(bus_context& bus, std::string_view secondary_address);
void build_select(bus_context& bus, const std::array<std::uint8_t, 8>& display_bytes);
void build_set_primary(bus_context& bus, std::uint8_t new_address);
void build_reset_all_primary(bus_context& bus);
void build_set_secondary(bus_context& bus, std::string_view new_secondary_address);
void build_set_baudrate(bus_context& bus, std::uint8_t address, int baud_rate);
void build_freeze(bus_context& bus, const std::tm& time);
void build_snd_ud_reset_ctrl(bus_context& bus, std::uint8_t address, std::int32_t param);
void build_snd_ud_set_temp(bus_context& bus, std::uint8_t address, std::int32_t param);
void build_snd_ud_reset_temp(bus_context& bus, std::uint8_t address);
void build_snd_ud_set_sensor(bus_context& bus, std::uint8_t address, std::int32_t param);
void build_snd_ud_appl_reset(bus_context& bus, std::uint8_t address, std::int32_t param);
void build_snd_ud_ctrl(bus_context& bus, std::uint8_t address, std::int32_t param);
void build_snd_ud_ctrl_u(bus_context& bus, std::uint8_t address, std::int32_t param);
void build_snd_ud_ctrl_i(bus_context& bus, std::uint8_t address, std::int32_t param);

// A long frame loaded into the send buffer: sets its A field (byte 5) and its
// checksum. false, leaving the frame unchanged, when it cannot be a long frame
// (send length under 9, or not starting 0x68).
bool finish_raw_frame(bus_context& bus, std::uint8_t address);

} // namespace velkor::link
