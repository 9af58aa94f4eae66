#include "decode/header.h"

#include <cstdio>
#include <iterator>

#include "base/convert.h"
#include "base/trace.h"

namespace velkor::decode {

namespace {

constexpr std::size_t a_field = 5;
constexpr std::size_t ident_at = 7;  // 4 BCD bytes, least significant first
constexpr std::size_t manufacturer_at = 11;
constexpr std::size_t version_at = 13;
constexpr std::size_t medium_at = 14;
constexpr std::size_t access_at = 15;
constexpr std::size_t status_at = 16;

// Telegram bytes past what was received read as 0.
unsigned byte_at(telegram_view telegram, std::size_t i) { return i < telegram.size() ? telegram[i] : 0u; }

// Status bits 0-1; value 3 has no text of its own.
constexpr const char* application_status[] = {"no error  ", "application busy  ", "any application error  ", ""};

constexpr const char* time_units[] = {"second", "minute", "hour", "day"};
constexpr const char* period_units[] = {"hour", "day", "month", "year"};

// Positions of the text form "12345678-AAA-1-7".
constexpr std::size_t text_letters_at = 9;
constexpr std::size_t text_version_at = 13;

int text_digit(std::string_view s, std::size_t i) { return i < s.size() && s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : 0; }

// A missing letter counts as '@', the letter of value 0. Read unsigned: plain
// char is signed on some platforms and would change the wire bytes.
int text_letter(std::string_view s, std::size_t i)
{
    return i < s.size() ? static_cast<unsigned char>(s[i]) - 64 : 0;
}

std::uint8_t decimal_at(std::string_view s, std::size_t i)
{
    unsigned value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
        value = (value * 10 + static_cast<unsigned>(s[i] - '0')) % 256;
    return static_cast<std::uint8_t>(value);
}

} // namespace

void set_encode_trace(int value)
{
    trace::encode = value;
    if (value != 0)
        std::printf("DEBUG_MBUS_ENCODE\n");
}

void set_decode_trace(int value)
{
    trace::decode = value;
    if (value != 0)
        std::printf("DEBUG_MBUS_DECODE\n");
}

void manufacturer_letters(std::uint16_t code, text<4>& letters)
{
    letters.format("%c%c%c", static_cast<char>((code >> 10) + 64), static_cast<char>(((code >> 5) & 0x1F) + 64),
                   static_cast<char>((code & 0x1F) + 64));
}

void render_secondary_address(telegram_view telegram, text<32>& secondary, text<32>& primary)
{
    secondary.format("%02x%02x%02x%02x-", byte_at(telegram, ident_at + 3), byte_at(telegram, ident_at + 2),
                     byte_at(telegram, ident_at + 1), byte_at(telegram, ident_at));
    text<4> letters;
    manufacturer_letters(
        static_cast<std::uint16_t>(byte_at(telegram, manufacturer_at) + 256 * byte_at(telegram, manufacturer_at + 1)),
        letters);
    secondary.append(letters.view());
    secondary.appendf("-%u-%u", byte_at(telegram, version_at), byte_at(telegram, medium_at));
    primary.format("%u", byte_at(telegram, a_field));
}

void render_header(telegram_view telegram, header_texts& out)
{
    text<32> primary;
    render_secondary_address(telegram, out.secondary, primary);
    out.access.format("%u", byte_at(telegram, access_at));

    const unsigned status = byte_at(telegram, status_at);
    out.status.assign(application_status[status & 0x03]);
    if (status & 0x04)
        out.status.append("power low  ");
    if (status & 0x08)
        out.status.append("permanent error  ");
    if (status & 0x10)
        out.status.append("temporary error  ");
}

void render_struct_header(telegram_view telegram, struct_header_texts& out)
{
    out.primary.format("%02x", byte_at(telegram, a_field));
    std::array<std::uint8_t, 8> wire{};
    for (std::size_t i = 0; i < wire.size(); ++i)
        wire[i] = static_cast<std::uint8_t>(byte_at(telegram, ident_at + i));
    conv::hex_string(out.secondary, wire);
    out.access.format("%02x", byte_at(telegram, access_at));
    out.status.format("%02x", byte_at(telegram, status_at));
}

void secondary_address_to_bytes(std::string_view text, std::array<std::uint8_t, 8>& wire)
{
    for (std::size_t i = 0; i < 4; ++i)
        wire[3 - i] = static_cast<std::uint8_t>(text_digit(text, 2 * i) * 16 + text_digit(text, 2 * i + 1));

    const int code = text_letter(text, text_letters_at) * 1024 + text_letter(text, text_letters_at + 1) * 32 +
                     text_letter(text, text_letters_at + 2);
    const auto code16 = static_cast<std::uint16_t>(code);
    wire[4] = static_cast<std::uint8_t>(code16 & 0xFF);
    wire[5] = static_cast<std::uint8_t>(code16 >> 8);

    wire[6] = decimal_at(text, text_version_at);
    const std::size_t hyphen = text.size() > text_version_at ? text.find('-', text_version_at) : std::string_view::npos;
    wire[7] = hyphen == std::string_view::npos ? 0 : decimal_at(text, hyphen + 1);
}

void get_timestamp(int rounding, std::tm& out, std::time_t now)
{
    localtime_r(&now, &out);
    if (rounding != 0) {
        out.tm_sec = 0;
        out.tm_min -= out.tm_min % 5;
    }
}

void get_timestamp(int rounding, std::tm& out) { get_timestamp(rounding, out, std::time(nullptr)); }

void format_timestamp(const std::tm& time, text<32>& out)
{
    out.format("%02d.%02d.%02d %02d:%02d:%02d", time.tm_mday, time.tm_mon + 1, time.tm_year - 100, time.tm_hour,
               time.tm_min, time.tm_sec);
}

const char* medium_name(std::uint8_t medium)
{
    static constexpr const char* names[] = {
        "other", "oil", "electricity", "gas", "heat", "steam", "warm water", "water",
        "heat cost allocator", "compressed air", "cooling (outlet)", "cooling (inlet)", "heat (inlet)",
        "heat and cooling", "bus", "unknown", "", "", "", "", "", "hot water", "cold water",
        "dual water", "pressure", "A/D converter",
    };
    return medium < std::size(names) ? names[medium] : "";
}

const char* time_unit_name(int code) { return time_units[code & 0x03]; }

const char* period_unit_name(int code) { return period_units[code & 0x03]; }

} // namespace velkor::decode
