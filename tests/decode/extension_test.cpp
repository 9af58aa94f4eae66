#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "decode/describe.h"
#include "decode/record_fixture.h"
#include "support/fake_bus.h"

namespace velkor::decode {

namespace {

using testing::bytes;
using testing::hex;

struct expected_row {
    int first;
    int last;
    std::function<std::string(int index)> text;  // index = code - first
};

expected_row literal(int first, std::vector<std::string> texts)
{
    const int last = first + static_cast<int>(texts.size()) - 1;
    return {first, last, [texts](int i) { return texts[static_cast<std::size_t>(i)]; }};
}

expected_row same(int first, int last, std::string text)
{
    return {first, last, [text](int) { return text; }};
}

expected_row with_time_word(int first, std::string prefix)
{
    return literal(first, {prefix + "second", prefix + "minute", prefix + "hour", prefix + "day"});
}

// Every byte 0..255 against rows that must cover 0x00..0x7F exactly once.
template <typename Text>
void sweep(Text text_of, const std::vector<expected_row>& rows)
{
    for (int code = 0; code < 256; ++code) {
        const int c = code & 0x7F;
        int hits = 0;
        std::string expected;
        for (const expected_row& row : rows)
            if (c >= row.first && c <= row.last)
                ++hits, expected = row.text(c - row.first);
        ASSERT_EQ(1, hits) << "expected rows cover code " << code << " " << hits << " times";
        guarded_text out;
        out.text.assign("stale");
        text_of(static_cast<std::uint8_t>(code), out.text);
        EXPECT_EQ(expected, out.text.view()) << "code 0x" << std::hex << code;
        out.expect_intact();
    }
}

const std::string fixed_part = "value actual / device 0 / tariff 0 / storage 0";

} // namespace

TEST(Extension, FunctionFieldAndDifeNumbers)
{
    struct {
        const char* dif;
        std::string extended;
    } const cases[] = {
        {"04", fixed_part},
        {"14", "value max / device 0 / tariff 0 / storage 0"},
        {"24", "value min / device 0 / tariff 0 / storage 0"},
        {"34", "value error / device 0 / tariff 0 / storage 0"},
        {"44", "value actual / device 0 / tariff 0 / storage 1"},
        {"84 12", "value actual / device 0 / tariff 1 / storage 4"},
        {"C4 41", "value actual / device 1 / tariff 0 / storage 3"},
        {"84 81 01", "value actual / device 0 / tariff 0 / storage 34"},
        // Ten DIFEs with every bit set: 10, 20 and 41 bits.
        {"C4 FF FF FF FF FF FF FF FF FF 7F", "value actual / device 1023 / tariff 1048575 / storage 2199023255551"},
    };
    for (const auto& c : cases) {
        one_record r = make_record(c.dif, "13", "01 02 03 04");
        record_text extended, unit("0.001 m3");
        EXPECT_EQ(1, render_extension(0, r.table, r.telegram, extended, unit)) << c.dif;
        EXPECT_EQ(c.extended, extended.view()) << c.dif;
    }

    for (const char* dif : {"0F", "1F"}) {
        one_record r = make_record(dif, "13", "01 02");
        record_text extended, unit;
        EXPECT_EQ(0, render_extension(0, r.table, r.telegram, extended, unit));
        EXPECT_EQ("manufacturer-specific", extended.view());
    }
}

TEST(Extension, VifeTextsAndUnitReplacement)
{
    struct {
        const char* vif;
        std::string tail;  // after the fixed part
        std::string unit;  // after render_unit and render_extension
    } const cases[] = {
        {"93 22", " / per hour", "0.001 m3"},
        {"93 FC 01", " / at Phase L1.", "0.001 m3"},
        {"93 FC 09", " / Reserved.", "0.001 m3"},
        {"83 3D", "", "kBTU"},
        {"83 BD 22", " / Reserved for alternative format / per hour", "Wh"},
        {"93 F5 29", " / Multiplicative correction factor: 0.100000 / increment per input pulse on input channel 1",
         "0.001 m3"},
        {"FD 08", "", ""},
        {"FD 8E 15", " / No data available (undefinded value).", ""},
        {"FB 8E 22", " / per hour", "10.0 MCal"},
        {"7C 03 63 62 61", " / ", ""},
        {"FC 74 02 42 41", " / Multiplicative correction factor: 0.010000", ""},
        {"FC 02 42 41 22", " / per hour", ""},
    };
    for (const auto& c : cases) {
        one_record r = make_record("04", c.vif, "01 02 03 04");
        record_text extended, unit;
        render_unit(0, r.table, r.telegram, unit);
        EXPECT_EQ(1, render_extension(0, r.table, r.telegram, extended, unit)) << c.vif;
        EXPECT_EQ(fixed_part + c.tail, extended.view()) << c.vif;
        EXPECT_EQ(c.unit, unit.view()) << c.vif;
    }
}

TEST(Extension, LongestTextFitsWhole)
{
    // Ten DIFEs of all ones, then eleven VIFEs with the longest text.
    one_record r = make_record("C4 FF FF FF FF FF FF FF FF FF 7F", "FC FF FF FF FF FF FF FF FF FF FF 7F 00", "");
    std::string expected = "value actual / device 1023 / tariff 1048575 / storage 2199023255551";
    for (int i = 0; i < 11; ++i)
        expected += " / Next VIFEs and data of this block are manufacturer specific";
    guarded_text extended, unit;
    render_extension(0, r.table, r.telegram, extended.text, unit.text);
    EXPECT_EQ(expected, extended.text.view());
    extended.expect_intact();
    unit.expect_intact();
}

TEST(Extension, ReadsNothingPastTheReceivedBytes)
{
    // The VIFE lies behind the end of the view; it must not be read.
    one_record r = make_record("04", "93 22", "");
    const auto cut = std::span(r.telegram).first(r.table.entries[0].vif_offset + 1u);
    record_text extended, unit;
    render_extension(0, r.table, cut, extended, unit);
    EXPECT_EQ(fixed_part, extended.view());

    // Plain text whose VIFEs would follow a text longer than what arrived.
    one_record p = make_record("0D", "FC 05 41 42 43 44 45 22", "");
    render_extension(0, p.table, std::span(p.telegram).first(p.table.entries[0].vif_offset + 6u), extended, unit);
    EXPECT_EQ(fixed_part, extended.view());

    for (int index : {-1, 1, 255}) {
        extended.assign("stale");
        EXPECT_EQ(1, render_extension(index, r.table, r.telegram, extended, unit));
        EXPECT_EQ("", extended.view());
    }
}

TEST(Extension, EveryVifeCode)
{
    sweep(vife_text,
          {
              literal(0x00, {"Data valid.", "Error: Too many DIFEs.", "Error: Storage number not implemented.",
                             "Error: Unit number not implemented.", "Error: Tariff number not implemented.",
                             "Error: Function not implemented.", "Error: Data class not implemented.",
                             "Error: Data size not implemented."}),
              same(0x08, 0x0A, ""),
              literal(0x0B, {"Error: Too many VIFEs.", "Error: Illegal VIF-Group.", "Error: Illegal VIF-Exponent.",
                             "Error: VIF/DIF mismatch.", "Error: Unimplemented action."}),
              same(0x10, 0x13, ""),
              literal(0x14, {"Relative Deviation.", "No data available (undefinded value).", "Data overflow.",
                             "Data underflow.", "Data error."}),
              same(0x19, 0x1B, ""),
              literal(0x1C, {"Error: Premature end of record.", "Relative Deviation.", "Compact profil with registers.",
                             "Compact profil without registers."}),
              literal(0x20, {"per second", "per minute", "per hour", "per day", "per week", "per month", "per year",
                             "per revolution/measurement"}),
              literal(0x28, {"increment per input pulse on input channel 0",
                             "increment per input pulse on input channel 1",
                             "increment per output pulse on output channel 0",
                             "increment per output pulse on output channel 1"}),
              literal(0x2C, {"per liter",
                             "per m3",
                             "per kg",
                             "per K (Kelvin)",
                             "per kWh",
                             "per GJ",
                             "per kW",
                             "per Kxl (Kelvin x Liter",
                             "per V (Volt)",
                             "per A (Ampere)",
                             "multiplied by sec",
                             "multiplied by sec/V",
                             "multiplied by sec/A",
                             "start date of",
                             "VIF contains uncorrected unit instead of corrected unit",
                             "Accumulation only if positive contributions",
                             "Accumulation of abs value only if negative contributions",
                             "Reserved for alternative format",
                             "Value at reference conditions",
                             "OBIS Declaration"}),
              literal(0x40, {"Lower limit value", "No of exceeds of lower limit",
                             "Date (/time) of begin of first lower limit exceed",
                             "Date (/time) of end of first lower limit exceed", "", "",
                             "Date (/time) of begin of last lower limit exceed",
                             "Date (/time) of end of last lower limit exceed"}),
              literal(0x48, {"Upper limit value", "No of exceeds of upper limit",
                             "Date (/time) of begin of first upper limit exceed",
                             "Date (/time) of end of first upper limit exceed", "", "",
                             "Date (/time) of begin of last upper limit exceed",
                             "Date (/time) of end of last upper limit exceed"}),
              with_time_word(0x50, "Duration of first lower limit exceed [sec...days] "),
              with_time_word(0x54, "Duration of last lower limit exceed [sec...days] "),
              with_time_word(0x58, "Duration of first upper limit exceed [sec...days] "),
              with_time_word(0x5C, "Duration of last upper limit exceed [sec...days] "),
              with_time_word(0x60, "Duration of first.. "),
              with_time_word(0x64, "Duration of last.. "),
              same(0x68, 0x6F, ""),
              literal(0x70, {"Multiplicative correction factor: 0.000001", "Multiplicative correction factor: 0.000010",
                             "Multiplicative correction factor: 0.000100", "Multiplicative correction factor: 0.001000",
                             "Multiplicative correction factor: 0.010000", "Multiplicative correction factor: 0.100000",
                             "Multiplicative correction factor: 1.000000",
                             "Multiplicative correction factor: 10.000000"}),
              literal(0x78, {"Additive correction constant: 0.001000", "Additive correction constant: 0.010000",
                             "Additive correction constant: 0.100000", "Additive correction constant: 1.000000"}),
              literal(0x7C, {"", "Multiplicative correction factor: 1000", "future value",
                             "Next VIFEs and data of this block are manufacturer specific"}),
          });
}

TEST(Extension, EveryCodeAfterVifeFc)
{
    sweep(vife_fc_text, {
                            same(0x00, 0x00, "Reserved."),
                            literal(0x01, {"at Phase L1.", "at Phase L2.", "at Phase L3.", "at Neutral (N).",
                                           "Between Phase L1 and L2.", "Between Phase L2 and L3.",
                                           "Between Phase L3 and L1."}),
                            same(0x08, 0x0F, "Reserved."),
                            same(0x10, 0x10, "Summation of the absolute +/- value."),
                            same(0x11, 0x7F, "Reserved."),
                        });
}

} // namespace velkor::decode
