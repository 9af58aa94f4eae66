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

const std::string degree = "\xC2\xB0";

// 10^k as the unit texts write it, built digit by digit: 0.001 Wh, Wh, 1000 Wh.
std::string scaled(int k, const std::string& word)
{
    if (k == 0)
        return word;
    // Appended piece by piece: "0." + std::string(...) trips g++ 12's -Wrestrict at -O3.
    std::string s = k > 0 ? "1" : "0.";
    s.append(static_cast<std::size_t>(k > 0 ? k : -k - 1), '0');
    return s.append(k > 0 ? " " : "1 ").append(word);
}

// 10^k with six decimals, and with as many as it needs below 10^-6.
std::string fixed_point(int k)
{
    std::string digits = k >= 0 ? "1" : "0.";
    digits.append(static_cast<std::size_t>(k >= 0 ? k : -k - 1), '0');
    if (k >= 0)
        return digits.append(".000000");
    digits.append(1, '1');
    if (k >= -6)
        digits += std::string(static_cast<std::size_t>(6 + k), '0');
    return digits;
}

struct expected_row {
    int first;
    int last;
    std::function<std::string(int code, int index)> text;  // index = code - first
};

expected_row literal(int first, std::vector<std::string> texts)
{
    const int last = first + static_cast<int>(texts.size()) - 1;
    return {first, last, [texts](int, int i) { return texts[static_cast<std::size_t>(i)]; }};
}

// Every byte 0..255; codes without a row must give an empty unit.
template <typename Unit>
void sweep(Unit unit, const std::vector<expected_row>& rows)
{
    for (int code = 0; code < 256; ++code) {
        const int c = code & 0x7F;
        int hits = 0;
        std::string expected;
        for (const expected_row& row : rows)
            if (c >= row.first && c <= row.last)
                ++hits, expected = row.text(c, c - row.first);
        ASSERT_LE(hits, 1) << "expected rows overlap at " << code;
        guarded_text out;
        out.text.assign("stale");
        unit(static_cast<std::uint8_t>(code), out.text);
        EXPECT_EQ(expected, out.text.view()) << "code 0x" << std::hex << code;
        out.expect_intact();
    }
}

std::string time_word(int code)
{
    static const char* const words[] = {"second", "minute", "hour", "day"};
    return words[code & 3];
}

} // namespace

TEST(Unit, ScaledExamples)
{
    struct {
        std::uint8_t vif;
        std::string unit;
    } const cases[] = {
        {0x03, "Wh"},
        {0x83, "Wh"},
        {0x00, "0.001 Wh"},
        {0x06, "1000 Wh"},
        {0x07, "10000 Wh"},
        {0x13, "0.001 m3"},
        {0x10, "0.000001 m3"},
        {0x17, "10 m3"},
        {0x40, "0.0000001 m3/min"},  // "%f" alone would leave "0."
        {0x41, "0.000001 m3/min"},
        {0x5A, "0.1 " + degree + "C"},
        {0x37, "10000000 J/h"},
        {0x30, "J/h"},
        {0x22, "hour"},
        {0x08, "J"},
        {0x0C, "10000 J"},
        {0x1B, "kg"},
        {0x48, "0.000000001 m3/s"},
        {0x4F, "0.01 m3/s"},
        {0x6D, ""},
    };
    for (const auto& c : cases) {
        record_text out;
        vif_unit(c.vif, out);
        EXPECT_EQ(c.unit, out.view()) << int(c.vif);
    }
    record_text out;
    vif_unit(0x5A, out);
    EXPECT_EQ(0xC2, static_cast<std::uint8_t>(out[4]));
    EXPECT_EQ(0xB0, static_cast<std::uint8_t>(out[5]));
}

TEST(Unit, ExtensionTableExamples)
{
    struct {
        void (*table)(std::uint8_t, record_text&);
        std::uint8_t code;
        std::string unit;
    } const cases[] = {
        {vif_fd_unit, 0x02, "0.100000"},
        {vif_fd_unit, 0x49, "1.000000 V"},
        {vif_fd_unit, 0x43, "0.000001 V"},
        {vif_fd_unit, 0x40, "0.000000001 V"},  // "%f" alone would print 0.000000 V
        {vif_fd_unit, 0x50, "0.000000000001 A"},
        {vif_fd_unit, 0x9C, "Baud"},
        {vif_fb_unit, 0x10, " 100 m3"},
        {vif_fb_unit, 0x11, "1000 m3"},
        {vif_fb_unit, 0x0E, "10.0 MCal"},
        {vif_fb_unit, 0x16, "0.100 kVAR"},
        {vif_fb_unit, 0x1A, "0.1 %"},
        {nonmetric_unit, 0x83, "kBTU"},
        {nonmetric_unit, 0x13, "0.001 1k USgal"},
        {nonmetric_unit, 0x75, "0.01 " + degree + "F"},
        {nonmetric_unit, 0xFD, ""},
    };
    for (const auto& c : cases) {
        record_text out;
        c.table(c.code, out);
        EXPECT_EQ(c.unit, out.view()) << int(c.code);
    }
}

TEST(Unit, ScaleArithmetic)
{
    EXPECT_DOUBLE_EQ(1.0, power_of_ten(0));
    EXPECT_DOUBLE_EQ(1000.0, power_of_ten(3));
    EXPECT_DOUBLE_EQ(0.001, power_of_ten(-3));

    // Large factors are written out, not computed in an int.
    record_text out;
    scaled_unit(0x07, 7, -20, "W", out);
    EXPECT_EQ("1" + std::string(27, '0') + " W", out.view());
}

TEST(Unit, RenderedFromTheRecord)
{
    struct {
        const char* dif;
        const char* vif;
        std::string unit;
        int result;
    } const cases[] = {
        {"04", "13", "0.001 m3", 1},
        {"84 10", "93 22", "0.001 m3", 1},
        {"04", "FD 49", "1.000000 V", 1},
        {"02", "FB 1A", "0.1 %", 1},
        {"0D", "7C 01 41", "", 1},
        {"0D", "FC 00", "", 1},
        {"0F", "13", "", 0},
        {"1F", "13", "", 0},
        {"2F", "2F", "", 0},
    };
    for (const auto& c : cases) {
        one_record r = make_record(c.dif, c.vif, "01 02");
        record_text out("stale");
        EXPECT_EQ(c.result, render_unit(0, r.table, r.telegram, out)) << c.vif;
        EXPECT_EQ(c.unit, out.view()) << c.vif;
    }

    // VIF 0xFB as the last received byte: its code reads as 0.
    one_record r = make_record("04", "FB 1A", "");
    record_text out;
    render_unit(0, r.table, std::span(r.telegram).first(r.table.entries[0].vif_offset + 1u), out);
    EXPECT_EQ("0.1 MWh", out.view());
    EXPECT_EQ(1, render_unit(3, r.table, r.telegram, out));
    EXPECT_EQ("", out.view());
}

TEST(Unit, EveryPrimaryVifCode)
{
    auto metric = [](int mask, int offset, std::string word) {
        return [=](int c, int) { return scaled((c & mask) - offset, word); };
    };
    auto time = [](int c, int) { return time_word(c); };
    sweep(vif_unit, {
                        {0x00, 0x07, metric(7, 3, "Wh")},
                        {0x08, 0x0F, metric(7, 0, "J")},
                        {0x10, 0x17, metric(7, 6, "m3")},
                        {0x18, 0x1F, metric(7, 3, "kg")},
                        {0x20, 0x27, time},
                        {0x28, 0x2F, metric(7, 3, "W")},
                        {0x30, 0x37, metric(7, 0, "J/h")},
                        {0x38, 0x3F, metric(7, 6, "m3/h")},
                        {0x40, 0x47, metric(7, 7, "m3/min")},
                        {0x48, 0x4F, metric(7, 9, "m3/s")},
                        {0x50, 0x57, metric(7, 3, "kg/h")},
                        {0x58, 0x5F, metric(3, 3, degree + "C")},
                        {0x60, 0x63, metric(3, 3, "K")},
                        {0x64, 0x67, metric(3, 3, degree + "C")},
                        {0x68, 0x6B, metric(3, 3, "bar")},
                        {0x70, 0x77, time},
                    });
}

TEST(Unit, EveryNonMetricVifCode)
{
    auto units = [](int mask, int offset, std::string word) {
        return [=](int c, int) { return scaled((c & mask) - offset, word); };
    };
    sweep(nonmetric_unit, {
                              {0x00, 0x07, units(7, 3, "kBTU")},
                              {0x10, 0x17, units(7, 6, "1k USgal")},
                              {0x28, 0x2F, units(7, 3, "mBTU/s")},
                              {0x40, 0x47, units(7, 7, "10k USgal/min")},
                              {0x58, 0x63, units(3, 3, degree + "F")},
                              {0x74, 0x77, units(3, 3, degree + "F")},
                          });
}

TEST(Unit, EveryCodeAfterVifFd)
{
    sweep(vif_fd_unit, {
                           {0x00, 0x07, [](int c, int) { return fixed_point((c & 3) - 3); }},
                           literal(0x1C, {"Baud", "BitTimes"}),
                           {0x40, 0x4F, [](int c, int) { return fixed_point((c & 15) - 9) + " V"; }},
                           {0x50, 0x5F, [](int c, int) { return fixed_point((c & 15) - 12) + " A"; }},
                           literal(0x71, {"dBm"}),
                           literal(0x74, {"days"}),
                       });
}

TEST(Unit, EveryCodeAfterVifFb)
{
    const std::string f = degree + "F", c = degree + "C";
    sweep(vif_fb_unit,
          {
              literal(0x00, {"0.1 MWh", "1.0 MWh", "1.0 kVARh", "10.0 kVARh", "1.0 kVAh", "10.0 kVAh"}),
              literal(0x08, {"0.1 GJ", "1.0 GJ"}),
              literal(0x0C, {"0.1 MCal", "1.0 MCal", "10.0 MCal", "100.0 MCal", " 100 m3", "1000 m3"}),
              literal(0x14, {"0.001 kVAR", "0.010 kVAR", "0.100 kVAR", "1.000 kVAR", " 100 t", "1000 t", "0.1 %",
                             "1.0 %"}),
              literal(0x20, {"feet3", "0.1 feet3", "0.1 american gallon", "american gallon",
                             "0.001 american gallon/min", "american gallon/min", "american gallon/h"}),
              literal(0x28, {"0.1 MW", "1.0 MW", "0.1" + degree, "0.1" + degree, "0.001 Hz", "0.010 Hz", "0.100 Hz",
                             "1.000 Hz", "0.1 GJ/h", "1.0 GJ/h"}),
              literal(0x54, {"0.001 kVA", "0.010 kVA", "0.100 kVA", "1.000 kVA"}),
              {0x58, 0x67,
               [f](int, int i) {
                   static const char* const factors[] = {"0.001 ", "0.010 ", "0.100 ", "1.000 "};
                   return factors[i % 4] + f;
               }},
              literal(0x70, {"0.001 " + f, "0.010 " + f, "0.100 " + f, "1.000 " + f, "0.001 " + c, "0.010 " + c,
                             "0.100 " + c, "1.000 " + c}),
              literal(0x78, {"0.001 W", "0.010 W", "0.100 W", "1.000 W", "10.000 W", "100.000 W", "1000.000 W",
                             "10000.000 W"}),
          });
}

} // namespace velkor::decode
