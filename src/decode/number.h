#pragma once
// A record as a number: its quantity in one fixed unit whatever scale the
// meter chose (energy always in kWh, volume in m3, ...). The unit tables that
// give the unit texts carry, row by row, what the number needs: quantity,
// unit and the power of ten (with a factor where the unit is no decimal
// multiple of the fixed one).

#include <cstdint>

#include "decode/records.h"

namespace velkor::decode {

enum class quantity : std::uint8_t {
    none,
    energy,
    volume,
    mass,
    power,
    volume_flow,
    mass_flow,
    flow_temperature,
    return_temperature,
    external_temperature,
    temperature_difference,
    temperature_limit,
    pressure,
    on_time,
    operating_time,
    averaging_duration,
    actuality_duration,
    time_point,
    hca,
    credit,
    debit,
    voltage,
    current,
    frequency,
    reactive_energy,
    apparent_energy,
    reactive_power,
    apparent_power,
    relative_humidity,
    phase_angle,
    reception_level,
    remaining_battery_life,
    baud_rate,
    response_delay,
};

enum class base_unit : std::uint8_t {
    none, kWh, m3, kg, W, m3_per_h, kg_per_h, celsius, kelvin, bar, s, V, A, Hz, kvarh, kVAh, var, VA,
    percent, degree, dBm, EUR, Bd, bit_times,
};

// value = raw * 10^exponent * factor + shift
struct measure {
    quantity what = quantity::none;
    base_unit unit = base_unit::none;
    int exponent = 0;
    double factor = 1;
    double shift = 0;
};

// The measure of a code in the primary VIF table, the tables after VIF 0xFD
// and 0xFB, and the non-metric table (by the record's VIF); false for a code
// that gives no number.
bool vif_measure(std::uint8_t code, measure& out);
bool vif_fd_measure(std::uint8_t code, measure& out);
bool vif_fb_measure(std::uint8_t code, measure& out);
bool nonmetric_measure(std::uint8_t vif, measure& out);

enum class record_function : std::uint8_t { instantaneous, maximum, minimum, error };

// What the DIF and its DIFEs say of a record.
struct data_block {
    record_function function = record_function::instantaneous;
    std::uint64_t storage = 0;
    std::uint64_t tariff = 0;
    std::uint64_t subunit = 0;
};
data_block read_data_block(const record_span& span, telegram_view telegram);

// The data bytes as a number before any scaling.
struct raw_value {
    bool is_real = false;
    std::int64_t integer = 0;
    double real = 0;
};
// False when the data hold no number: characters, no data, a selection, a BCD
// digit above 9, a real that is not finite, a binary number over 8 bytes.
bool record_raw_value(int index, const record_table& table, telegram_view telegram, raw_value& out);

// A date or time field of a record (types G, J, F, I).
enum class calendar_layout : std::uint8_t { date, time, date_time, date_time_seconds };
struct calendar {
    calendar_layout layout = calendar_layout::date;
    int year = 0;  // the 7-bit field as sent, no century
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool invalid = false;  // the meter's own invalid flag (type F)
};
enum class calendar_outcome : std::uint8_t { not_a_date, date, unknown_layout };
calendar_outcome record_calendar(int index, const record_table& table, telegram_view telegram, calendar& out);

enum class reading_kind : std::uint8_t {
    none,          // special functions: fillers, "more records follow"
    number,        // value in `unit`
    no_value,      // a quantity whose value the meter marks as missing or bad (`error` says why)
    date_time,     // ISO 8601 in `iso`
    text,          // everything else: the record's descriptor and value texts stand
    manufacturer,  // manufacturer-specific data, as hex
};

struct number_value {
    bool exact = true;       // digits * 10^exponent, printed without rounding
    std::int64_t digits = 0;
    int exponent = 0;
    double approx = 0;       // otherwise: rounded to `precision` significant digits
    int precision = 12;
};

struct record_reading {
    reading_kind kind = reading_kind::none;
    quantity what = quantity::none;
    base_unit unit = base_unit::none;
    data_block block;
    number_value value;
    text<32> iso;
    text<64> error;
};

void read_record(int index, const record_table& table, telegram_view telegram, record_reading& out);

// JSON-ready number text: "1234.56", "-0.5", "17342", "2.77777777778e-05".
void format_number(const number_value& value, text<48>& out);

// "energy", "flow_temperature", ...; "" for none.
const char* quantity_name(quantity what);
// "kWh", "m³", "°C", ...; "" for none.
const char* unit_name(base_unit unit);
// "instantaneous", "maximum", "minimum", "error".
const char* function_name(record_function function);

} // namespace velkor::decode
