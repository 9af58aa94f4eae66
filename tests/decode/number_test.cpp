#include "decode/number.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode/telegram_builder.h"

namespace velkor::decode {
namespace {

using decode_testing::make_telegram;

struct number_case {
    const char* record;  // one record, alone in its telegram
    reading_kind kind;
    const char* quantity = "";
    const char* value = "";  // the number, the ISO text or the error
    const char* unit = "";
};

constexpr auto number = reading_kind::number;
constexpr auto date = reading_kind::date_time;
constexpr auto none = reading_kind::no_value;
constexpr auto text_kind = reading_kind::text;

// Expected figures are worked out by hand from the physical units.
const std::vector<number_case> cases = {
    // energy in Wh: 10^(nnn-3) Wh, as kWh
    {"04 00 E8 03 00 00", number, "energy", "0.001", "kWh"},
    {"04 03 E8 03 00 00", number, "energy", "1", "kWh"},
    {"0C 06 42 73 01 00", number, "energy", "17342", "kWh"},
    {"04 07 01 00 00 00", number, "energy", "10", "kWh"},
    // energy in J: 3.6 MJ are 1 kWh
    {"04 08 80 EE 36 00", number, "energy", "1", "kWh"},
    {"04 0E 24 00 00 00", number, "energy", "10", "kWh"},
    {"02 FB 01 05 00", number, "energy", "5000", "kWh"},      // MWh
    {"02 FB 09 02 00", number, "energy", "555.555555556", "kWh"},  // GJ
    {"04 83 3D 01 00 00 00", number, "energy", "0.293071070172", "kWh"},  // kBTU
    // volume: 10^(nnn-6) m3
    {"04 10 40 42 0F 00", number, "volume", "1", "m\xC2\xB3"},
    {"0C 13 95 82 04 00", number, "volume", "48.295", "m\xC2\xB3"},
    {"0C 14 56 34 12 00", number, "volume", "1234.56", "m\xC2\xB3"},
    {"04 17 05 00 00 00", number, "volume", "50", "m\xC2\xB3"},
    {"0C 13 34 12 00 F0", number, "volume", "-1.234", "m\xC2\xB3"},
    {"04 93 75 39 30 00 00", number, "volume", "1.2345", "m\xC2\xB3"},  // correction 10^-1
    {"02 FB 23 0A 00", number, "volume", "0.03785411784", "m\xC2\xB3"},  // US gallons
    // mass
    {"02 18 D0 07", number, "mass", "2", "kg"},
    {"02 1B 05 00", number, "mass", "5", "kg"},
    // power: W and J/h
    {"02 2B 10 27", number, "power", "10000", "W"},
    {"0B 2D 47 01 00", number, "power", "14700", "W"},
    {"04 33 10 0E 00 00", number, "power", "1000", "W"},
    // flow: m3/h, m3/min, m3/s
    {"0B 3B 82 05 00", number, "volume_flow", "0.582", "m\xC2\xB3/h"},
    {"02 43 64 00", number, "volume_flow", "0.6", "m\xC2\xB3/h"},
    {"02 4B E8 03", number, "volume_flow", "3.6", "m\xC2\xB3/h"},
    {"02 53 07 00", number, "mass_flow", "7", "kg/h"},
    // temperatures
    {"0A 5A 27 07", number, "flow_temperature", "72.7", "\xC2\xB0" "C"},
    {"0A 5E 31 04", number, "return_temperature", "43.1", "\xC2\xB0" "C"},
    {"0A 62 96 02", number, "temperature_difference", "29.6", "K"},
    {"02 65 F6 FF", number, "external_temperature", "-0.1", "\xC2\xB0" "C"},
    {"05 5B 00 00 AC 41", number, "flow_temperature", "21.5", "\xC2\xB0" "C"},
    {"02 FB 5B D4 00", number, "flow_temperature", "100", "\xC2\xB0" "C"},  // 212 F
    {"02 FB 63 12 00", number, "temperature_difference", "10", "K"},        // 18 F
    // pressure
    {"02 69 96 00", number, "pressure", "1.5", "bar"},
    // dates and times
    {"02 6C 1F 3C", date, "time_point", "2024-12-31"},
    {"04 6D 1E 08 21 3C", date, "time_point", "2025-12-01T08:30"},
    {"06 6D 3B 1E 08 21 3C 00", date, "time_point", "2025-12-01T08:30:59"},
    {"03 6D 3B 1E 08", date, "time_point", "08:30:59"},
    {"04 6D 9E 08 21 3C", none, "time_point", "invalid date"},
    {"02 6C FF FF", none, "time_point", "invalid date"},
    // durations
    {"02 20 3C 00", number, "on_time", "60", "s"},
    {"04 22 A3 9F 00 00", number, "on_time", "147121200", "s"},
    {"02 25 0A 00", number, "operating_time", "600", "s"},
    {"01 77 02", number, "actuality_duration", "172800", "s"},
    {"02 FD 74 DA 0C", number, "remaining_battery_life", "284256000", "s"},
    // electricity after VIF 0xFD
    {"02 FD 48 FC 08", number, "voltage", "230", "V"},
    {"02 FD 5A 2E 04", number, "current", "10.7", "A"},
    // every data coding: integers are two's complement at every width, BCD
    // may carry a sign nibble, variable-length data may hold BCD or binary
    {"01 13 FF", number, "volume", "-0.001", "m\xC2\xB3"},
    {"03 13 FF FF FF", number, "volume", "-0.001", "m\xC2\xB3"},
    {"06 13 FE FF FF FF FF FF", number, "volume", "-0.002", "m\xC2\xB3"},
    {"07 13 00 00 00 00 00 00 00 01", number, "volume", "72057594037927.936", "m\xC2\xB3"},
    {"0E 13 12 90 78 56 34 12", number, "volume", "123456789.012", "m\xC2\xB3"},
    {"0D 13 C2 34 12", number, "volume", "1.234", "m\xC2\xB3"},
    {"0D 13 D2 34 12", number, "volume", "-1.234", "m\xC2\xB3"},
    {"0D 13 E2 34 12", number, "volume", "4.66", "m\xC2\xB3"},
    {"04 10 01 00 00 00", number, "volume", "0.000001", "m\xC2\xB3"},
    {"04 17 00 00 00 00", number, "volume", "0", "m\xC2\xB3"},
    {"05 13 00 00 AC 41", number, "volume", "0.0215", "m\xC2\xB3"},
    {"00 13", none, "volume", "no number in the data", "m\xC2\xB3"},
    {"08 13", none, "volume", "no number in the data", "m\xC2\xB3"},
    {"0D 13 03 43 42 41", none, "volume", "no number in the data", "m\xC2\xB3"},
    {"05 13 00 00 C0 7F", none, "volume", "no number in the data", "m\xC2\xB3"},  // NaN
    // a value the meter marks as missing, one that is no number, one whose meaning a VIFE changes
    {"04 93 15 01 00 00 00", none, "volume", "No data available (undefinded value).", "m\xC2\xB3"},
    {"0C 13 FF FF FF FF", none, "volume", "no number in the data", "m\xC2\xB3"},
    {"04 93 22 01 00 00 00", text_kind},
    {"0C 78 19 73 06 00", text_kind},
    {"0F 01 02", reading_kind::manufacturer},
    {"04 FF 01 02 03 04", reading_kind::manufacturer},
};

TEST(read_record, gives_numbers_in_fixed_units_over_the_vif_ranges)
{
    for (const number_case& c : cases) {
        SCOPED_TRACE(c.record);
        const auto telegram = make_telegram(c.record);
        record_table table;
        walk_records(telegram, table);
        record_reading r;
        read_record(0, table, telegram, r);
        ASSERT_EQ(c.kind, r.kind);
        EXPECT_EQ(std::string(c.quantity), quantity_name(r.what));
        text<48> value;
        if (r.kind == number)
            format_number(r.value, value);
        else if (r.kind == date)
            value.assign(r.iso.view());
        else
            value.assign(r.error.view());
        EXPECT_EQ(std::string(c.value), value.view());
        EXPECT_EQ(std::string(c.unit), unit_name(r.unit));
    }
}

} // namespace
} // namespace velkor::decode
