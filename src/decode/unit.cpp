// Unit of a record together with its power-of-ten factor: VIF 0x13 reads as
// "0.001 m3" and the value stays the raw counter. Scale fields as in the VIF:
// nnn = the three low bits, nn = two, n = one, nnnn = four; bit 7 is ignored.
// The degree sign is UTF-8, "\xC2\xB0".
//
// Each row also says what the value is as a number: the quantity, the fixed
// unit of that quantity and how the row's unit converts to it (a power of ten
// on top of the row's own scale, a factor, a shift).

#include <algorithm>
#include <span>

#include "decode/describe.h"
#include "decode/number.h"

namespace velkor::decode {

namespace {

enum class unit_kind {
    scaled,       // scaled_unit of the field, offset and word
    time_word,    // the word time_unit_name(nn) alone
    fixed,        // the text as it stands
    fixed_point,  // 10^((code & mask) - offset) as "%f", then the text
    formatted,    // 10^((code & mask) - offset) through the printf format
};

struct unit_row {
    std::uint8_t first;
    std::uint8_t last;
    unit_kind kind;
    int mask = 0;
    int offset = 0;
    const char* text = nullptr;
    measure number = {};  // exponent: from the row's unit to the fixed one
};

constexpr bool rows_ordered(std::span<const unit_row> rows)
{
    int next = 0;
    for (const unit_row& row : rows) {
        if (row.first < next || row.last < row.first || row.last > 0x7F)
            return false;
        if (row.kind != unit_kind::time_word && row.text == nullptr)
            return false;
        next = row.last + 1;
    }
    return true;
}

// Conversions to the fixed units.
constexpr double kwh_per_joule = 1 / 3.6e6;
constexpr double m3_per_cubic_foot = 0.028316846592;
constexpr double m3_per_us_gallon = 0.003785411784;
constexpr double kwh_per_kbtu = 0.29307107017222;  // 1055.05585262 kJ
constexpr double fahrenheit_step = 5.0 / 9.0;
constexpr double fahrenheit_zero = -32 * fahrenheit_step;

constexpr measure in(quantity what, base_unit unit, int exponent = 0, double factor = 1, double shift = 0)
{
    return {what, unit, exponent, factor, shift};
}
constexpr measure fahrenheit(quantity what) { return in(what, base_unit::celsius, 0, fahrenheit_step, fahrenheit_zero); }

// Every code without a row has no unit. Rows with an empty text give no unit
// text either but a number.
constexpr unit_row vif_rows[] = {
    {0x00, 0x07, unit_kind::scaled, 7, 3, "Wh", in(quantity::energy, base_unit::kWh, -3)},
    {0x08, 0x0F, unit_kind::scaled, 7, 0, "J", in(quantity::energy, base_unit::kWh, 0, kwh_per_joule)},
    {0x10, 0x17, unit_kind::scaled, 7, 6, "m3", in(quantity::volume, base_unit::m3)},
    {0x18, 0x1F, unit_kind::scaled, 7, 3, "kg", in(quantity::mass, base_unit::kg)},
    {0x20, 0x23, unit_kind::time_word, 0, 0, nullptr, in(quantity::on_time, base_unit::s)},
    {0x24, 0x27, unit_kind::time_word, 0, 0, nullptr, in(quantity::operating_time, base_unit::s)},
    {0x28, 0x2F, unit_kind::scaled, 7, 3, "W", in(quantity::power, base_unit::W)},
    {0x30, 0x37, unit_kind::scaled, 7, 0, "J/h", in(quantity::power, base_unit::W, 0, 1 / 3600.0)},
    {0x38, 0x3F, unit_kind::scaled, 7, 6, "m3/h", in(quantity::volume_flow, base_unit::m3_per_h)},
    {0x40, 0x47, unit_kind::scaled, 7, 7, "m3/min", in(quantity::volume_flow, base_unit::m3_per_h, 0, 60)},
    {0x48, 0x4F, unit_kind::scaled, 7, 9, "m3/s", in(quantity::volume_flow, base_unit::m3_per_h, 0, 3600)},
    {0x50, 0x57, unit_kind::scaled, 7, 3, "kg/h", in(quantity::mass_flow, base_unit::kg_per_h)},
    {0x58, 0x5B, unit_kind::scaled, 3, 3, "\xC2\xB0" "C", in(quantity::flow_temperature, base_unit::celsius)},
    {0x5C, 0x5F, unit_kind::scaled, 3, 3, "\xC2\xB0" "C", in(quantity::return_temperature, base_unit::celsius)},
    {0x60, 0x63, unit_kind::scaled, 3, 3, "K", in(quantity::temperature_difference, base_unit::kelvin)},
    {0x64, 0x67, unit_kind::scaled, 3, 3, "\xC2\xB0" "C", in(quantity::external_temperature, base_unit::celsius)},
    {0x68, 0x6B, unit_kind::scaled, 3, 3, "bar", in(quantity::pressure, base_unit::bar)},
    {0x6C, 0x6D, unit_kind::fixed, 0, 0, "", in(quantity::time_point, base_unit::none)},
    {0x6E, 0x6E, unit_kind::fixed, 0, 0, "", in(quantity::hca, base_unit::none)},
    {0x70, 0x73, unit_kind::time_word, 0, 0, nullptr, in(quantity::averaging_duration, base_unit::s)},
    {0x74, 0x77, unit_kind::time_word, 0, 0, nullptr, in(quantity::actuality_duration, base_unit::s)},
};
static_assert(rows_ordered(vif_rows));

constexpr unit_row fd_rows[] = {
    {0x00, 0x03, unit_kind::fixed_point, 3, 3, "", in(quantity::credit, base_unit::EUR)},
    {0x04, 0x07, unit_kind::fixed_point, 3, 3, "", in(quantity::debit, base_unit::EUR)},
    {0x1C, 0x1C, unit_kind::fixed, 0, 0, "Baud", in(quantity::baud_rate, base_unit::Bd)},
    {0x1D, 0x1D, unit_kind::fixed, 0, 0, "BitTimes", in(quantity::response_delay, base_unit::bit_times)},
    {0x40, 0x4F, unit_kind::fixed_point, 0xF, 9, " V", in(quantity::voltage, base_unit::V)},
    {0x50, 0x5F, unit_kind::fixed_point, 0xF, 12, " A", in(quantity::current, base_unit::A)},
    {0x71, 0x71, unit_kind::fixed, 0, 0, "dBm", in(quantity::reception_level, base_unit::dBm)},
    {0x74, 0x74, unit_kind::fixed, 0, 0, "days", in(quantity::remaining_battery_life, base_unit::s, 0, 86400)},
};
static_assert(rows_ordered(fd_rows));

constexpr unit_row fb_rows[] = {
    {0x00, 0x01, unit_kind::formatted, 1, 1, "%1.1f MWh", in(quantity::energy, base_unit::kWh, 3)},
    {0x02, 0x03, unit_kind::formatted, 1, 0, "%2.1f kVARh", in(quantity::reactive_energy, base_unit::kvarh)},
    {0x04, 0x05, unit_kind::formatted, 1, 0, "%2.1f kVAh", in(quantity::apparent_energy, base_unit::kVAh)},
    {0x08, 0x09, unit_kind::formatted, 1, 1, "%1.1f GJ", in(quantity::energy, base_unit::kWh, 9, kwh_per_joule)},
    {0x0C, 0x0F, unit_kind::formatted, 3, 1, "%3.1f MCal", in(quantity::energy, base_unit::kWh, 0, 1.163)},
    {0x10, 0x11, unit_kind::formatted, 1, -2, "%4.0f m3", in(quantity::volume, base_unit::m3)},
    {0x14, 0x17, unit_kind::formatted, 3, 3, "%1.3f kVAR", in(quantity::reactive_power, base_unit::var, 3)},
    {0x18, 0x19, unit_kind::formatted, 1, -2, "%4.0f t", in(quantity::mass, base_unit::kg, 3)},
    {0x1A, 0x1B, unit_kind::formatted, 1, 1, "%3.1f %%", in(quantity::relative_humidity, base_unit::percent)},
    {0x20, 0x20, unit_kind::fixed, 0, 0, "feet3", in(quantity::volume, base_unit::m3, 0, m3_per_cubic_foot)},
    {0x21, 0x21, unit_kind::fixed, 0, 0, "0.1 feet3", in(quantity::volume, base_unit::m3, -1, m3_per_cubic_foot)},
    {0x22, 0x22, unit_kind::fixed, 0, 0, "0.1 american gallon", in(quantity::volume, base_unit::m3, -1, m3_per_us_gallon)},
    {0x23, 0x23, unit_kind::fixed, 0, 0, "american gallon", in(quantity::volume, base_unit::m3, 0, m3_per_us_gallon)},
    {0x24, 0x24, unit_kind::fixed, 0, 0, "0.001 american gallon/min",
     in(quantity::volume_flow, base_unit::m3_per_h, -3, 60 * m3_per_us_gallon)},
    {0x25, 0x25, unit_kind::fixed, 0, 0, "american gallon/min",
     in(quantity::volume_flow, base_unit::m3_per_h, 0, 60 * m3_per_us_gallon)},
    {0x26, 0x26, unit_kind::fixed, 0, 0, "american gallon/h", in(quantity::volume_flow, base_unit::m3_per_h, 0, m3_per_us_gallon)},
    {0x28, 0x29, unit_kind::formatted, 1, 1, "%1.1f MW", in(quantity::power, base_unit::W, 6)},
    {0x2A, 0x2B, unit_kind::fixed, 0, 0, "0.1\xC2\xB0", in(quantity::phase_angle, base_unit::degree, -1)},
    {0x2C, 0x2F, unit_kind::formatted, 3, 3, "%1.3f Hz", in(quantity::frequency, base_unit::Hz)},
    {0x30, 0x31, unit_kind::formatted, 1, 1, "%1.1f GJ/h", in(quantity::power, base_unit::W, 9, 1 / 3600.0)},
    {0x54, 0x57, unit_kind::formatted, 3, 3, "%1.3f kVA", in(quantity::apparent_power, base_unit::VA, 3)},
    {0x58, 0x5B, unit_kind::formatted, 3, 3, "%1.3f \xC2\xB0" "F", fahrenheit(quantity::flow_temperature)},
    {0x5C, 0x5F, unit_kind::formatted, 3, 3, "%1.3f \xC2\xB0" "F", fahrenheit(quantity::return_temperature)},
    {0x60, 0x63, unit_kind::formatted, 3, 3, "%1.3f \xC2\xB0" "F",
     in(quantity::temperature_difference, base_unit::kelvin, 0, fahrenheit_step)},
    {0x64, 0x67, unit_kind::formatted, 3, 3, "%1.3f \xC2\xB0" "F", fahrenheit(quantity::external_temperature)},
    {0x70, 0x73, unit_kind::formatted, 3, 3, "%1.3f \xC2\xB0" "F", fahrenheit(quantity::temperature_limit)},
    {0x74, 0x77, unit_kind::formatted, 3, 3, "%1.3f \xC2\xB0" "C", in(quantity::temperature_limit, base_unit::celsius)},
    {0x78, 0x7F, unit_kind::formatted, 7, 3, "%5.3f W"},
};
static_assert(rows_ordered(fb_rows));

// Selected by the record's own VIF when a VIFE 0x3D asks for non-metric units.
constexpr unit_row nonmetric_rows[] = {
    {0x00, 0x07, unit_kind::scaled, 7, 3, "kBTU", in(quantity::energy, base_unit::kWh, 0, kwh_per_kbtu)},
    {0x10, 0x17, unit_kind::scaled, 7, 6, "1k USgal", in(quantity::volume, base_unit::m3, 3, m3_per_us_gallon)},
    {0x28, 0x2F, unit_kind::scaled, 7, 3, "mBTU/s", in(quantity::power, base_unit::W, 0, kwh_per_kbtu * 3.6)},
    {0x40, 0x47, unit_kind::scaled, 7, 7, "10k USgal/min",
     in(quantity::volume_flow, base_unit::m3_per_h, 4, 60 * m3_per_us_gallon)},
    {0x58, 0x5B, unit_kind::scaled, 3, 3, "\xC2\xB0" "F", fahrenheit(quantity::flow_temperature)},
    {0x5C, 0x5F, unit_kind::scaled, 3, 3, "\xC2\xB0" "F", fahrenheit(quantity::return_temperature)},
    {0x60, 0x63, unit_kind::scaled, 3, 3, "\xC2\xB0" "F", in(quantity::temperature_difference, base_unit::kelvin, 0, fahrenheit_step)},
    {0x74, 0x77, unit_kind::scaled, 3, 3, "\xC2\xB0" "F"},
};
static_assert(rows_ordered(nonmetric_rows));

// "%f" keeps six decimals, which would print every factor below 10^-6 as
// zero; those get as many decimals as their exponent needs.
void append_factor(int exponent, record_text& out)
{
    if (exponent < -6)
        out.appendf("%.*f", -exponent, power_of_ten(exponent));
    else
        out.appendf("%f", power_of_ten(exponent));
}

void unit_from(std::span<const unit_row> rows, std::uint8_t code, record_text& out)
{
    out.clear();
    const int c = code & 0x7F;
    for (const unit_row& row : rows) {
        if (c < row.first || c > row.last)
            continue;
        const int exponent = (c & row.mask) - row.offset;
        switch (row.kind) {
        case unit_kind::scaled:
            scaled_unit(code, row.mask, row.offset, row.text, out);
            break;
        case unit_kind::time_word:
            out.assign(time_unit_name(c & 3));
            break;
        case unit_kind::fixed:
            out.assign(row.text);
            break;
        case unit_kind::fixed_point:
            append_factor(exponent, out);
            out.append(row.text);
            break;
        case unit_kind::formatted:
            out.format(row.text, power_of_ten(exponent));
            break;
        }
        return;
    }
}

const unit_row* row_of(std::span<const unit_row> rows, std::uint8_t code)
{
    const int c = code & 0x7F;
    for (const unit_row& row : rows)
        if (c >= row.first && c <= row.last)
            return &row;
    return nullptr;
}

// Seconds of the words "second", "minute", "hour", "day".
constexpr double seconds_of_word[] = {1, 60, 3600, 86400};

bool measure_from(std::span<const unit_row> rows, std::uint8_t code, measure& out)
{
    const unit_row* row = row_of(rows, code);
    if (row == nullptr || row->number.what == quantity::none)
        return false;
    const int c = code & 0x7F;
    out = row->number;
    switch (row->kind) {
    case unit_kind::time_word:
        out.factor *= seconds_of_word[c & 3];
        break;
    case unit_kind::fixed:
        break;
    case unit_kind::scaled:
    case unit_kind::fixed_point:
    case unit_kind::formatted:
        out.exponent += (c & row->mask) - row->offset;
        break;
    }
    return true;
}

} // namespace

double power_of_ten(int exponent)
{
    double factor = 1.0;
    for (int i = 0; i < exponent; ++i)
        factor *= 10;
    for (int i = 0; i > exponent; --i)
        factor *= 0.1;
    return factor;
}

void scaled_unit(std::uint8_t code, int mask, int offset, const char* word, record_text& out)
{
    out.clear();
    // The tables keep the exponent within -9..7; the bound only stops a stray
    // argument from spinning.
    constexpr int largest = 64;
    const int exponent = std::clamp((code & mask) - std::clamp(offset, -largest, largest), -largest, largest);
    if (exponent < 0) {
        append_factor(exponent, out);
        while (out.size() > 0 && out[out.size() - 1] == '0')
            out.truncate(out.size() - 1);
        out.append(' ');
    } else if (exponent > 0) {
        // 10^k written out as an integer cannot overflow.
        out.append('1');
        for (int i = 0; i < exponent; ++i)
            out.append('0');
        out.append(' ');
    }
    out.append(word != nullptr ? word : "");
}

void vif_unit(std::uint8_t code, record_text& out) { unit_from(vif_rows, code, out); }
void vif_fd_unit(std::uint8_t code, record_text& out) { unit_from(fd_rows, code, out); }
void vif_fb_unit(std::uint8_t code, record_text& out) { unit_from(fb_rows, code, out); }
void nonmetric_unit(std::uint8_t vif, record_text& out) { unit_from(nonmetric_rows, vif, out); }

bool vif_measure(std::uint8_t code, measure& out) { return measure_from(vif_rows, code, out); }
bool vif_fd_measure(std::uint8_t code, measure& out) { return measure_from(fd_rows, code, out); }
bool vif_fb_measure(std::uint8_t code, measure& out) { return measure_from(fb_rows, code, out); }
bool nonmetric_measure(std::uint8_t vif, measure& out) { return measure_from(nonmetric_rows, vif, out); }

int render_unit(int index, const record_table& table, telegram_view telegram, record_text& unit)
{
    unit.clear();
    const record_span* entry = entry_at(index, table);
    if (!entry)
        return 1;
    const record_span& span = *entry;
    if ((byte_at(telegram, span.dif_offset) & 0x0F) == 0x0F)
        return 0;
    const std::uint8_t vif = byte_at(telegram, span.vif_offset);
    if (vif == 0xFB)
        vif_fb_unit(byte_at(telegram, span.vif_offset + 1u), unit);
    else if (vif == 0xFD)
        vif_fd_unit(byte_at(telegram, span.vif_offset + 1u), unit);
    else
        vif_unit(vif, unit);
    return 1;
}

} // namespace velkor::decode
