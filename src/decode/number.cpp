// A record as a number in the fixed unit of its quantity. The quantity and the
// scale come from the unit tables; the VIFEs may ask for the non-metric table
// or a correction factor, mark the value as bad, or change what the value
// means (per hour, a limit, a phase, ...), in which case it is no plain
// reading and stays text.

#include "decode/number.h"

#include <charconv>
#include <cstdio>

#include "decode/describe.h"

namespace velkor::decode {

namespace {

constexpr const char* quantity_names[] = {
    "",
    "energy",
    "volume",
    "mass",
    "power",
    "volume_flow",
    "mass_flow",
    "flow_temperature",
    "return_temperature",
    "external_temperature",
    "temperature_difference",
    "temperature_limit",
    "pressure",
    "on_time",
    "operating_time",
    "averaging_duration",
    "actuality_duration",
    "time_point",
    "hca",
    "credit",
    "debit",
    "voltage",
    "current",
    "frequency",
    "reactive_energy",
    "apparent_energy",
    "reactive_power",
    "apparent_power",
    "relative_humidity",
    "phase_angle",
    "reception_level",
    "remaining_battery_life",
    "baud_rate",
    "response_delay",
};
static_assert(std::size(quantity_names) == static_cast<std::size_t>(quantity::response_delay) + 1);

constexpr const char* unit_names[] = {
    "",     "kWh", "m\xC2\xB3", "kg",  "W",    "m\xC2\xB3/h", "kg/h", "\xC2\xB0" "C", "K",   "bar", "s",  "V",
    "A",    "Hz",  "kvarh",     "kVAh", "var", "VA",          "%",    "\xC2\xB0",     "dBm", "EUR", "Bd", "bit times",
};
static_assert(std::size(unit_names) == static_cast<std::size_t>(base_unit::bit_times) + 1);

constexpr const char* function_names[] = {"instantaneous", "maximum", "minimum", "error"};

// Beyond these the exact form would print an unreasonable string of zeros.
constexpr int exact_exponent_limit = 24;

double decimal_power(int exponent)
{
    double factor = 1;
    for (int i = 0; i < (exponent < 0 ? -exponent : exponent); ++i)
        factor *= 10;
    return exponent < 0 ? 1 / factor : factor;
}

enum class vife_effect { none, meaning_changed };

// The VIFEs, walked as the extension text walks them. Returns what the number
// must know: a non-metric unit, a correction, an error mark or a change of
// meaning.
vife_effect read_vifes(const record_span& span, telegram_view telegram, measure& m, bool& known, int& correction,
                       record_reading& out)
{
    const std::uint8_t vif = byte_at(telegram, span.vif_offset);
    vife_effect effect = vife_effect::none;
    std::size_t p = 0;
    while (p < span.vif_length && span.vif_offset + p < telegram.size()) {
        const std::uint8_t c = telegram[span.vif_offset + p];
        if (c == 0xFD || c == 0xFB || c == 0xFF || c == 0x7F) {
            p += 2;
            continue;
        }
        ++p;
        if (p == 1)
            continue;  // the VIF itself
        const int code = c & 0x7F;
        if (c == 0xFC) {
            effect = vife_effect::meaning_changed;  // a phase or a summation
            ++p;
        } else if (c == 0x3D) {
            known = nonmetric_measure(vif, m);
        } else if (code >= 0x70 && code <= 0x77) {
            correction += (code & 7) - 6;
        } else if (code == 0x7D) {
            correction += 3;
        } else if ((code >= 0x01 && code <= 0x0F) || (code >= 0x15 && code <= 0x18) || code == 0x1C) {
            record_text why;
            vife_text(c, why);
            out.error.assign(why.view());
        } else if (code != 0x00) {
            effect = vife_effect::meaning_changed;
        }
    }
    return effect;
}

// Years 81..99 are of the last century, 0..80 of this one; the 7-bit field
// holds nothing above 99 that is a year.
bool iso_date(const calendar& c, text<32>& out)
{
    const bool has_date = c.layout != calendar_layout::time;
    const bool has_time = c.layout != calendar_layout::date;
    if (c.invalid)
        return false;
    if (has_date && (c.year > 99 || c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31))
        return false;
    if (has_time && (c.hour > 23 || c.minute > 59 || c.second > 59))
        return false;
    const int year = c.year <= 80 ? 2000 + c.year : 1900 + c.year;
    switch (c.layout) {
    case calendar_layout::date:
        out.format("%04d-%02d-%02d", year, c.month, c.day);
        break;
    case calendar_layout::time:
        out.format("%02d:%02d:%02d", c.hour, c.minute, c.second);
        break;
    case calendar_layout::date_time:
        out.format("%04d-%02d-%02dT%02d:%02d", year, c.month, c.day, c.hour, c.minute);
        break;
    case calendar_layout::date_time_seconds:
        out.format("%04d-%02d-%02dT%02d:%02d:%02d", year, c.month, c.day, c.hour, c.minute, c.second);
        break;
    }
    return true;
}

} // namespace

void read_record(int index, const record_table& table, telegram_view telegram, record_reading& out)
{
    out = record_reading{};
    const record_span* span = entry_at(index, table);
    if (span == nullptr)
        return;
    const std::uint8_t dif = byte_at(telegram, span->dif_offset);
    out.block = read_data_block(*span, telegram);
    if ((dif & 0x0F) == 0x0F) {
        // Manufacturer data behind DIF 0x0F / 0x1F; fillers carry nothing.
        const bool data = (dif == 0x0F || dif == 0x1F) && span->data_length > 0;
        out.kind = data ? reading_kind::manufacturer : reading_kind::none;
        return;
    }
    const std::uint8_t vif = byte_at(telegram, span->vif_offset);
    const std::uint8_t code = byte_at(telegram, span->vif_offset + 1u);
    if (vif == 0x7F || vif == 0xFF) {
        out.kind = reading_kind::manufacturer;
        return;
    }
    out.kind = reading_kind::text;
    if (vif == 0x7C || vif == 0xFC)
        return;  // a quantity named by the meter's own text

    measure m;
    bool known = vif == 0xFB ? vif_fb_measure(code, m) : vif == 0xFD ? vif_fd_measure(code, m) : vif_measure(vif, m);
    int correction = 0;
    const vife_effect effect = read_vifes(*span, telegram, m, known, correction, out);
    const bool plain = known && effect == vife_effect::none;

    // A date is a date whatever it is the date of.
    calendar date;
    switch (record_calendar(index, table, telegram, date)) {
    case calendar_outcome::date:
        if (plain)
            out.what = m.what;
        out.kind = reading_kind::date_time;
        if (out.error.empty() && !iso_date(date, out.iso))
            out.error.assign("invalid date");
        if (!out.error.empty())
            out.kind = reading_kind::no_value;
        return;
    case calendar_outcome::unknown_layout:
        return;
    case calendar_outcome::not_a_date:
        break;
    }
    if (!plain)
        return;
    m.exponent += correction;
    out.what = m.what;
    out.unit = m.unit;

    out.kind = reading_kind::no_value;
    if (!out.error.empty())
        return;
    raw_value raw;
    if (!record_raw_value(index, table, telegram, raw)) {
        out.error.assign("no number in the data");
        return;
    }
    out.kind = reading_kind::number;
    number_value& v = out.value;
    const bool decimal = m.factor == 1 && m.shift == 0;
    if (!raw.is_real && decimal && m.exponent >= -exact_exponent_limit && m.exponent <= exact_exponent_limit) {
        v.exact = true;
        v.digits = raw.integer;
        v.exponent = m.exponent;
        return;
    }
    v.exact = false;
    // A real has about seven significant digits; a conversion keeps twelve.
    v.precision = raw.is_real ? 7 : 12;
    const double base = raw.is_real ? raw.real : static_cast<double>(raw.integer);
    v.approx = base * decimal_power(m.exponent) * m.factor + m.shift;
}

void format_number(const number_value& value, text<48>& out)
{
    out.clear();
    if (!value.exact) {
        out.format("%.*g", value.precision, value.approx);
        return;
    }
    char digits[24];
    const std::uint64_t magnitude = value.digits < 0 ? 0 - static_cast<std::uint64_t>(value.digits)
                                                     : static_cast<std::uint64_t>(value.digits);
    const auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
    const std::string_view d(digits, static_cast<std::size_t>(end - digits));
    if (value.digits < 0)
        out.append('-');
    if (value.exponent >= 0 || magnitude == 0) {
        out.append(d);
        if (magnitude != 0)
            for (int i = 0; i < value.exponent; ++i)
                out.append('0');
        return;
    }
    const auto places = static_cast<std::size_t>(-value.exponent);
    if (d.size() <= places) {
        out.append("0.");
        for (std::size_t i = d.size(); i < places; ++i)
            out.append('0');
        out.append(d);
    } else {
        out.append(d.substr(0, d.size() - places));
        out.append('.');
        out.append(d.substr(d.size() - places));
    }
    while (out[out.size() - 1] == '0')
        out.truncate(out.size() - 1);
    if (out[out.size() - 1] == '.')
        out.truncate(out.size() - 1);
}

const char* quantity_name(quantity what) { return quantity_names[static_cast<std::size_t>(what)]; }
const char* unit_name(base_unit unit) { return unit_names[static_cast<std::size_t>(unit)]; }
const char* function_name(record_function function) { return function_names[static_cast<std::size_t>(function)]; }

} // namespace velkor::decode
