#pragma once
// The fixed header of a variable-data response (RSP_UD, CI 0x72) as text,
// secondary addresses between text and wire form, and time stamps.
//
//   offset  0  68 L L 68 C A CI | 7..10 ident (BCD, LSB first) | 11..12 manufacturer
//   (LSB first) | 13 version | 14 medium | 15 access no | 16 status | 17..18 signature
//   | 19.. records | CS 16

#include <array>
#include <cstdint>
#include <ctime>
#include <span>
#include <string_view>

#include "base/text.h"

namespace velkor::decode {

using telegram_view = std::span<const std::uint8_t>;

struct header_texts {
    text<32> secondary;  // "mbus_id"
    text<32> access;
    text<256> status;
};

struct struct_header_texts {
    text<8> primary;
    text<32> secondary;
    text<8> access;
    text<8> status;
};

// Prints "DEBUG_MBUS_ENCODE" / "DEBUG_MBUS_DECODE" when the value is non-zero.
void set_encode_trace(int value);
void set_decode_trace(int value);

// "12345678-AAA-1-7" and the A field in decimal.
void render_secondary_address(telegram_view telegram, text<32>& secondary, text<32>& primary);
void manufacturer_letters(std::uint16_t code, text<4>& letters);
void render_header(telegram_view telegram, header_texts& out);
void render_struct_header(telegram_view telegram, struct_header_texts& out);

// Text form to the 8 wire bytes (telegram offsets 7..14). Missing fields count as 0.
void secondary_address_to_bytes(std::string_view text, std::array<std::uint8_t, 8>& wire);

// Local time of `now` broken down; rounding != 0 clears the seconds and rounds
// the minutes down to a multiple of 5.
void get_timestamp(int rounding, std::tm& out, std::time_t now);
void get_timestamp(int rounding, std::tm& out);
// "%02d.%02d.%02d %02d:%02d:%02d": day, month, year of the century, h, m, s.
void format_timestamp(const std::tm& time, text<32>& out);

// The medium byte of the header in words ("heat", "water", ...); "" for a
// code without a name.
const char* medium_name(std::uint8_t medium);

// 2-bit codes: "second", "minute", "hour", "day" / "hour", "day", "month", "year".
const char* time_unit_name(int code);
const char* period_unit_name(int code);

} // namespace velkor::decode
