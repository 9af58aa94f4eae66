#include "decode/value.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/telegram_builder.h"

namespace velkor::decode {
namespace {

using decode_testing::bytes;
using decode_testing::hex_bytes;
using decode_testing::make_telegram;

struct value_case {
    const char* record;  // one record, alone in its telegram
    const char* value;
    int result = 1;
};

std::string value_of(telegram_view telegram, int index, int& result)
{
    record_table table;
    walk_records(telegram, table);
    record_text value("stale");
    result = render_value(index, table, telegram, value);
    return std::string(value.view());
}

void check(const std::vector<value_case>& cases)
{
    for (const value_case& c : cases) {
        SCOPED_TRACE(c.record);
        int result = -1;
        EXPECT_EQ(value_of(make_telegram(c.record), 0, result), c.value);
        EXPECT_EQ(result, c.result);
    }
}

TEST(render_value, integers)
{
    check({
        {"00 13", " "},
        {"01 13 80", "-128"},
        {"01 13 7F", "127"},
        {"01 13 00", "0"},
        {"02 13 FF FF", "-1"},
        {"02 13 00 80", "-32768"},
        {"02 13 FF 7F", "32767"},
        {"03 13 FF FF FF", "16777215"},
        {"04 13 78 56 34 12", "305419896"},
        {"04 13 FF FF FF FF", "-1"},
        {"04 13 00 00 00 80", "-2147483648"},
        {"06 13 FF FF FF FF FF FF", "281474976710655"},
        {"06 13 00 00 00 00 00 00", "0"},
        {"07 13 00 00 00 80 00 00 00 00", "2147483648"},
        {"07 13 FF FF FF FF FF FF FF FF", "18446744073709551615"},
        {"07 13 00 00 00 00 00 00 00 80", "9223372036854775808"},
    });
}

TEST(render_value, reals_keep_their_zero_before_the_point)
{
    check({
        {"05 13 00 00 AC 41", "21.500000"},
        {"05 13 00 00 00 3F", "0.500000"},
        {"05 13 00 00 00 BF", "-0.500000"},
        {"05 13 00 00 00 00", "0.000000"},
        {"05 13 00 00 80 3F", "1.000000"},
        {"05 13 00 00 C8 C2", "-100.000000"},
    });
}

TEST(render_value, bcd_loses_leading_zeros_only)
{
    check({
        {"08 13", "0"},
        {"09 13 07", "7"},
        {"09 13 10", "10"},
        {"0A 13 00 00", "0"},
        {"0B 13 56 34 12", "123456"},
        {"0C 13 78 56 34 12", "12345678"},
        {"0C 13 34 12 00 00", "1234"},
        {"0C 13 00 00 00 00", "0"},
        {"0C 13 34 12 00 F0", "f0001234"},
        {"0E 13 12 90 78 56 34 12", "123456789012"},
        {"0E 13 00 00 00 00 01 00", "100000000"},
    });
}

TEST(render_value, variable_length)
{
    check({
        {"0D 13 03 43 42 41", "ABC"},
        {"0D 13 00", ""},
        {"0D 13 03 30 30 30", "000"},   // a text keeps its zeros
        {"0D 13 03 43 00 41", "A"},     // a zero byte ends the text
        {"0D 13 C2 34 12", "1234"},
        {"0D 13 C2 00 00", "0"},
        {"0D 13 D2 34 12", "-1234"},
        {"0D 13 E2 CD AB", "abcd"},
        {"0D 13 F7", "0"},
        {"0D 13 FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "0"},
        {"0D 13 F0 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 02", "2000000000000000000000000000001"},
    });
}

TEST(render_value, dates_and_times_keep_their_digits)
{
    check({
        {"04 6D 1E 0C 79 11", "25.01.11 12:30"},
        {"0C 6D 1E 0C 79 11", "unknown format"},
        {"02 6C 79 11", "25.01.11"},
        {"02 6C A5 13", "05.03.13"},
        {"02 6C FF FF", "31.15.127"},
        {"03 6D 00 1E 00", "00:30:00"},
        {"04 6D 05 00 61 11", "01.01.11 00:05"},
        {"06 6D 3B 3B 17 9F 2C", "31.12.20 23:59:59"},
        {"04 ED 00 1E 0C 79 11", "25.01.11 12:30"},        // VIF 0xED with a VIFE
        {"04 FD 30 1E 0C 79 11", "25.01.11 12:30"},        // start of tariff
        {"04 93 6A 1E 0C 79 11", "25.01.11 12:30"},        // date-like VIFE
        {"04 FD 6A 1E 0C 79 11", "293145630"},             // not after 0xFD
        {"04 FC 6D 01 41 1E 0C 79 11", "293145630"},       // plain text: never a date
        {"04 7C 01 41 1E 0C 79 11", "293145630"},
        {"04 FD 72 11 22 33 44", "44332211"},              // type K
        {"04 FD F2 00 44 33 22 01", "01223344"},
        {"0D FD 73 EC 01 02 03 04 05 06 07 08 09 0A 0B 0C", "0B0A0908070605040302" "01"},
        {"04 FD 73 01 02 03 04", "0000000000000000040302"},  // type L beyond the data reads 0
    });
}

TEST(render_value, special_functions)
{
    check({
        {"0F 01 02", "-", 0},
        {"1F", "-", 0},
        {"2F 2F", "-", 0},
        {"8F 00 01", "-", 0},
    });
}

TEST(render_value, reads_nothing_past_the_telegram)
{
    // The view ends inside the data: what is there is rendered, the rest reads 0.
    const bytes t = make_telegram("0C 13 78 56 34 12 04 13 78 56 34 12 0D 13 05 45 44 43 42 41");
    record_table table;
    walk_records(t, table);
    ASSERT_EQ(table.count, 3);
    struct cut_case {
        std::size_t length;
        int index;
        const char* value;
    };
    const std::vector<cut_case> cases = {
        {23, 0, "5678"}, {21, 0, "0"},   {29, 1, "22136"}, {26, 1, "0"},   {25, 1, " "},
        {37, 2, "CDE"},  {35, 2, "E"},   {33, 2, ""},   {32, 2, ""},
    };
    for (const cut_case& c : cases) {
        SCOPED_TRACE(c.length);
        const bytes cut(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(c.length));
        record_text value;
        render_value(c.index, table, cut, value);
        EXPECT_EQ(value.view(), c.value);
    }
}

TEST(render_date_time, result_tells_whether_it_wrote)
{
    struct dt_case {
        const char* record;
        int result;
        const char* value;
    };
    for (const dt_case& c : std::vector<dt_case>{{"04 6D 1E 0C 79 11", 1, "25.01.11 12:30"},
                                                 {"0C 6D 1E 0C 79 11", 0, "unknown format"},
                                                 {"04 FD 72 11 22 33 44", 1, "44332211"},
                                                 {"04 13 11 22 33 44", 0, "kept"},
                                                 {"04 7C 00 11 22 33 44", 0, "kept"}}) {
        SCOPED_TRACE(c.record);
        const bytes t = make_telegram(c.record);
        record_table table;
        walk_records(t, table);
        record_text value("kept");
        EXPECT_EQ(render_date_time(0, table, t, value), c.result);
        EXPECT_EQ(value.view(), c.value);
    }
}

TEST(uint_to_decimal, every_value_exactly)
{
    struct uint_case {
        const char* data;
        const char* text;
    };
    for (const uint_case& c : std::vector<uint_case>{
             {"", ""},
             {"00 00 00 00 00 00", ""},
             {"01", "1"},
             {"0A 00 00 00 00 00", "10"},
             {"FF FF FF FF FF FF", "281474976710655"},
             {"00 00 00 00 00 00 00 80", "9223372036854775808"},
             {"FF FF FF FF FF FF FF FF", "18446744073709551615"},
             {"FF FF FF FF FF FF FF FF 01", "18446744073709551615"},  // bytes past 8 ignored
         }) {
        SCOPED_TRACE(c.data);
        record_text out("stale");
        uint_to_decimal(hex_bytes(c.data), out);
        EXPECT_EQ(out.view(), c.text);
    }
}

} // namespace
} // namespace velkor::decode
