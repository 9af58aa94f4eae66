#include "decode/header.h"

#include <gtest/gtest.h>

#include "base/trace.h"
#include "support/fake_bus.h"

namespace velkor::decode {
namespace {

using testing::bytes;
using testing::hex;

// RSP_UD up to the signature; a, ident (LSB first), manufacturer (LSB first),
// version, medium, access, status.
bytes telegram(std::uint8_t a, const char* ident, std::uint16_t manufacturer, std::uint8_t version,
               std::uint8_t medium, std::uint8_t access, std::uint8_t status)
{
    bytes t = hex("68 0F 0F 68 08");
    t.push_back(a);
    t.push_back(0x72);
    for (auto b : hex(ident))
        t.push_back(b);
    t.push_back(static_cast<std::uint8_t>(manufacturer & 0xFF));
    t.push_back(static_cast<std::uint8_t>(manufacturer >> 8));
    t.push_back(version);
    t.push_back(medium);
    t.push_back(access);
    t.push_back(status);
    for (auto b : hex("00 00 00 16"))
        t.push_back(b);
    return t;
}

TEST(header, status_texts)
{
    const struct {
        std::uint8_t status;
        const char* text;
    } cases[] = {
        {0x00, "no error  "},
        {0x01, "application busy  "},
        {0x03, ""},
        {0x04, "no error  power low  "},
        {0x07, "power low  "},
        {0x1E, "any application error  power low  permanent error  temporary error  "},
        {0xE0, "no error  "},
    };
    for (const auto& c : cases) {
        header_texts out;
        render_header(telegram(1, "78 56 34 12", 0x0421, 1, 7, 42, c.status), out);
        EXPECT_EQ(c.text, std::string(out.status.view())) << int(c.status);
    }
}

TEST(header, secondary_address_and_access)
{
    const struct {
        const char* ident;
        std::uint16_t manufacturer;
        std::uint8_t version, medium;
        const char* secondary;
    } cases[] = {
        {"78 56 34 12", 0x0421, 1, 7, "12345678-AAA-1-7"},
        {"78 56 34 AB", 0x0C49, 0x07, 0x15, "ab345678-CBI-7-21"},
        {"00 00 00 00", 0x0000, 0, 0, "00000000-@@@-0-0"},
        {"FF FF FF FF", 0xFFFF, 255, 255, "ffffffff-\x7f\x5f\x5f-255-255"},
    };
    for (const auto& c : cases) {
        header_texts out;
        render_header(telegram(1, c.ident, c.manufacturer, c.version, c.medium, 200, 0), out);
        EXPECT_EQ(c.secondary, std::string(out.secondary.view()));
        EXPECT_EQ("200", std::string(out.access.view()));
    }
    text<32> secondary, primary;
    render_secondary_address(telegram(250, "78 56 34 12", 0x0421, 1, 7, 0, 0), secondary, primary);
    EXPECT_EQ("12345678-AAA-1-7", secondary);
    EXPECT_EQ("250", primary);
}

TEST(header, manufacturer_letters)
{
    const struct {
        std::uint16_t code;
        const char* letters;
    } cases[] = {{0x0421, "AAA"}, {0x0C49, "CBI"}, {0x0000, "@@@"}, {0x6A5A, "ZRZ"}};
    for (const auto& c : cases) {
        text<4> letters;
        manufacturer_letters(c.code, letters);
        EXPECT_EQ(c.letters, std::string(letters.view()));
    }
}

TEST(header, struct_header)
{
    struct_header_texts out;
    render_struct_header(telegram(10, "78 56 34 12", 0x0421, 1, 7, 0x2A, 0x1E), out);
    EXPECT_EQ("0a", out.primary);
    EXPECT_EQ("78 56 34 12 21 04 01 07 ", out.secondary);
    EXPECT_EQ("2a", out.access);
    EXPECT_EQ("1e", out.status);
}

TEST(header, short_telegram_reads_zeros_beyond_its_end)
{
    const bytes t = hex("68 0F 0F 68 08 05 72 78 56");
    header_texts out;
    render_header(t, out);
    EXPECT_EQ("00005678-@@@-0-0", out.secondary);
    EXPECT_EQ("0", out.access);
    EXPECT_EQ("no error  ", out.status);
    struct_header_texts s;
    render_struct_header(std::span(t).first(3), s);
    EXPECT_EQ("00", s.primary);
    EXPECT_EQ("00 00 00 00 00 00 00 00 ", s.secondary);
}

TEST(header, text_and_wire_round_trip)
{
    const char* idents[] = {"78 56 34 12", "00 00 00 00", "99 99 99 99", "01 00 00 90"};
    const std::uint16_t manufacturers[] = {0x0421, 0x0C49, 0x6A5A};
    for (const char* ident : idents) {
        for (std::uint16_t m : manufacturers) {
            const bytes t = telegram(1, ident, m, 21, 255, 0, 0);
            text<32> secondary, primary;
            render_secondary_address(t, secondary, primary);
            std::array<std::uint8_t, 8> wire{};
            secondary_address_to_bytes(secondary.view(), wire);
            EXPECT_EQ(testing::to_hex(std::span(t).subspan(7, 8)), testing::to_hex(wire)) << secondary.c_str();
        }
    }
}

TEST(header, incomplete_secondary_text_gives_zero_fields)
{
    const struct {
        std::string text;
        const char* wire;
    } cases[] = {
        {"12345678-AAA-1-7", "78 56 34 12 21 04 01 07"},
        {"12345678-AAA-300-7", "78 56 34 12 21 04 2C 07"},
        {"12345678-AAA-1", "78 56 34 12 21 04 01 00"},
        {"12345678-AAA-1 7", "78 56 34 12 21 04 01 00"},
        {"12345678-AAA-", "78 56 34 12 21 04 00 00"},
        {"12345678-AA", "78 56 34 12 20 04 00 00"},
        {"1234", "00 00 34 12 00 00 00 00"},
        {"", "00 00 00 00 00 00 00 00"},
        {"1x345678-AAA-1-7", "78 56 34 10 21 04 01 07"},
        // A letter above 0x7F counts as unsigned on every platform: 1, 0xC4 - 64, 3.
        {"12345678-A\xC4" "C-1-7", "78 56 34 12 83 14 01 07"},
    };
    for (const auto& c : cases) {
        // The bytes behind the view must stay unread: they would give other fields.
        const std::string backing = c.text + "9-AAA-9-9";
        std::array<std::uint8_t, 8> wire{};
        wire.fill(0xEE);
        secondary_address_to_bytes(std::string_view(backing).substr(0, c.text.size()), wire);
        EXPECT_EQ(c.wire, testing::to_hex(wire)) << c.text;
    }
}

std::time_t local(int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = 125;
    t.tm_mon = 5;
    t.tm_mday = 16;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

TEST(header, timestamp_rounding)
{
    const struct {
        int h, m, s, rounding;
        const char* text;
    } cases[] = {
        {10, 4, 59, 1, "16.06.25 10:00:00"}, {10, 5, 0, 1, "16.06.25 10:05:00"},
        {23, 59, 59, 1, "16.06.25 23:55:00"}, {10, 4, 59, 0, "16.06.25 10:04:59"},
    };
    for (const auto& c : cases) {
        std::tm t{};
        get_timestamp(c.rounding, t, local(c.h, c.m, c.s));
        text<32> out;
        format_timestamp(t, out);
        EXPECT_EQ(c.text, out);
    }
}

TEST(header, timestamps_after_2038)
{
    // 2^31 s, where a 32-bit time_t wraps to 1901, and a day in 2100.
    for (const long long seconds : {2147483648LL, 4102444800LL + 86400}) {
        std::tm t{};
        get_timestamp(0, t, static_cast<std::time_t>(seconds));
        EXPECT_EQ(seconds, static_cast<long long>(timegm(&t)) - t.tm_gmtoff) << seconds;
        EXPECT_GE(t.tm_year, 138);
    }
}

TEST(header, unit_names)
{
    const char* times[] = {"second", "minute", "hour", "day"};
    const char* periods[] = {"hour", "day", "month", "year"};
    for (int code = 0; code < 4; ++code) {
        EXPECT_STREQ(times[code], time_unit_name(code));
        EXPECT_STREQ(periods[code], period_unit_name(code));
    }
}

TEST(header, trace_setters)
{
    ::testing::internal::CaptureStdout();
    set_encode_trace(0);
    set_decode_trace(0);
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
    ::testing::internal::CaptureStdout();
    set_encode_trace(1);
    set_decode_trace(2);
    EXPECT_EQ("DEBUG_MBUS_ENCODE\nDEBUG_MBUS_DECODE\n", ::testing::internal::GetCapturedStdout());
    EXPECT_EQ(1, trace::encode);
    EXPECT_EQ(2, trace::decode);
    set_encode_trace(0);
    set_decode_trace(0);
}

} // namespace
} // namespace velkor::decode
