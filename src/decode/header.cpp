#include "decode/header.h"

// Placeholder until header rendering lands.
namespace velkor::decode {
void set_encode_trace(int) {}
void set_decode_trace(int) {}
void render_secondary_address(telegram_view, text<32>& secondary, text<32>& primary)
{
    secondary.clear();
    primary.clear();
}
void manufacturer_letters(std::uint16_t, text<4>& letters) { letters.clear(); }
void render_header(telegram_view, header_texts&) {}
void render_struct_header(telegram_view, struct_header_texts&) {}
void secondary_address_to_bytes(std::string_view, std::array<std::uint8_t, 8>& wire) { wire.fill(0); }
void get_timestamp(int, std::tm& out, std::time_t now) { localtime_r(&now, &out); }
void get_timestamp(int rounding, std::tm& out) { get_timestamp(rounding, out, std::time(nullptr)); }
void format_timestamp(const std::tm&, text<32>& out) { out.clear(); }
const char* time_unit_name(int) { return ""; }
const char* period_unit_name(int) { return ""; }
} // namespace velkor::decode
