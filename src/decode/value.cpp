#include "decode/value.h"

#include <cmath>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "decode/number.h"

namespace velkor::decode {
namespace {

// DIF data-field codings.
constexpr std::uint8_t coding_none = 0x0;
constexpr std::uint8_t coding_int8 = 0x1;
constexpr std::uint8_t coding_int16 = 0x2;
constexpr std::uint8_t coding_int24 = 0x3;
constexpr std::uint8_t coding_int32 = 0x4;
constexpr std::uint8_t coding_real32 = 0x5;
constexpr std::uint8_t coding_int48 = 0x6;
constexpr std::uint8_t coding_int64 = 0x7;
constexpr std::uint8_t coding_variable = 0xD;
constexpr std::uint8_t coding_special = 0xF;

// The data bytes b0, b1, ... of one record, cut where the telegram ends.
// A byte that is not there reads as 0.
struct record_data {
    std::span<const std::uint8_t> bytes;

    std::uint8_t operator[](std::size_t i) const { return i < bytes.size() ? bytes[i] : 0; }
    std::size_t size() const { return bytes.size(); }
};

std::uint64_t little_endian(const record_data& data, std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = (value << 8) | data[i];
    return value;
}

template <typename Number>
void append_decimal(record_text& out, Number number)
{
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, number);
    out.append(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

void append_hex_pair(record_text& out, std::uint8_t byte, const char* digits)
{
    const char pair[2] = {digits[byte >> 4], digits[byte & 0x0F]};
    out.append(std::string_view(pair, 2));
}

constexpr const char* lower_digits = "0123456789abcdef";
constexpr const char* upper_digits = "0123456789ABCDEF";

// Bytes b(last) down to b(first) as two hex digits each.
void append_hex_descending(record_text& out, const record_data& data, std::size_t first, std::size_t last,
                           const char* digits)
{
    for (std::size_t i = last + 1; i-- > first;)
        append_hex_pair(out, data[i], digits);
}

// Variable-length data: b0 is the LVAR byte. Returns true for a character
// text, which is final as it stands.
bool render_variable(const record_data& data, record_text& value)
{
    const std::uint8_t lvar = data[0];
    const std::size_t present = data.size() > 0 ? data.size() - 1 : 0;

    if (lvar <= 0xBF) {
        // Characters, last one first; a zero byte ends the text as it would a C string.
        const std::size_t n = std::min<std::size_t>(lvar, present);
        for (std::size_t i = n; i >= 1; --i) {
            if (data[i] == 0)
                break;
            value.append(static_cast<char>(data[i]));
        }
        return true;
    }

    std::size_t n = 0;
    if (lvar <= 0xEF) {
        n = lvar & 0x0F;  // BCD (0xC_, 0xD_ negative) or binary (0xE_)
        if (lvar >= 0xD0 && lvar <= 0xDF)
            value.append('-');
    } else if (lvar <= 0xF4) {
        n = 16 + 4 * (std::size_t{lvar} - 0xF0);
    } else if (lvar == 0xF5) {
        n = 48;
    } else if (lvar == 0xF6) {
        n = 64;
    }
    n = std::min(n, present);
    if (n > 0)
        append_hex_descending(value, data, 1, n, lower_digits);
    return false;
}

void render_fixed(std::uint8_t coding, const record_data& data, record_text& value)
{
    switch (coding) {
    case coding_none:
        value.assign(" ");
        break;
    case coding_int8:
        append_decimal(value, static_cast<std::int8_t>(data[0]) + 0);
        break;
    case coding_int16:
        append_decimal(value, static_cast<std::int16_t>(little_endian(data, 2)) + 0);
        break;
    case coding_int24:
        append_decimal(value, static_cast<std::uint32_t>(little_endian(data, 3)));
        break;
    case coding_int32:
        append_decimal(value, static_cast<std::int32_t>(little_endian(data, 4)));
        break;
    case coding_real32: {
        const std::uint32_t bits = static_cast<std::uint32_t>(little_endian(data, 4));
        float real;
        std::memcpy(&real, &bits, sizeof real);
        // Fixed with six decimals, as "%f" gives in the C locale; the widest
        // float needs 39 digits before the point.
        char digits[64];
        const auto result =
            std::to_chars(digits, digits + sizeof digits, static_cast<double>(real), std::chars_format::fixed, 6);
        value.append(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
        break;
    }
    case coding_int48:
        uint_to_decimal(data.bytes.first(std::min<std::size_t>(6, data.size())), value);
        break;
    case coding_int64:
        uint_to_decimal(data.bytes.first(std::min<std::size_t>(8, data.size())), value);
        break;
    default:
        break;
    }
}

// Drops leading zeros but keeps the last character.
void strip_leading_zeros(record_text& value)
{
    std::size_t n = 0;
    while (n + 1 < value.size() && value[n] == '0')
        ++n;
    value.erase_front(n);
}

bool is_date_time(std::span<const std::uint8_t> vif_block)
{
    const std::uint8_t vif = vif_block.empty() ? 0 : vif_block[0];
    if ((vif & 0x7E) == 0x6C)  // time point, date or date and time
        return true;
    if (vif == 0xFD && vif_block.size() > 1 && vif_block[1] == 0x30)  // start of tariff
        return true;
    if (vif_block.size() > 1 && vif != 0xFD && vif != 0xFB) {
        for (std::size_t i = 1; i < vif_block.size(); ++i)
            if ((vif_block[i] & 0x70) == 0x60)
                return true;
    }
    return false;
}

// Types G, J, F and I. Of the flag bits only the invalid bit of type F is
// kept (the text does not show it); summer time, weekday and week are not.
bool read_calendar(std::uint8_t coding, const record_data& b, calendar& out)
{
    const auto year = [&](std::size_t low, std::size_t high) { return (b[low] >> 5) + 8 * (b[high] >> 4); };
    out = calendar{};
    switch (coding) {
    case 0x2:  // G: date
        out = {calendar_layout::date, year(0, 1), b[1] & 0x0F, b[0] & 0x1F, 0, 0, 0, false};
        return true;
    case 0x3:  // J: time of day
        out = {calendar_layout::time, 0, 0, 0, b[2] & 0x1F, b[1] & 0x3F, b[0] & 0x3F, false};
        return true;
    case 0x4:  // F: date and time
        out = {calendar_layout::date_time, year(2, 3), b[3] & 0x0F, b[2] & 0x1F, b[1] & 0x1F, b[0] & 0x3F, 0,
               (b[0] & 0x80) != 0};
        return true;
    case 0x6:  // I: date and time with seconds
        out = {calendar_layout::date_time_seconds, year(3, 4), b[4] & 0x0F, b[3] & 0x1F, b[2] & 0x1F, b[1] & 0x3F,
               b[0] & 0x3F, false};
        return true;
    default:
        return false;
    }
}

void render_calendar(std::uint8_t coding, const record_data& b, record_text& value)
{
    calendar c;
    value.clear();
    if (!read_calendar(coding, b, c)) {
        value.assign("unknown format");
        return;
    }
    switch (c.layout) {
    case calendar_layout::date:
        value.format("%02d.%02d.%02d", c.day, c.month, c.year);
        break;
    case calendar_layout::time:
        value.format("%02d:%02d:%02d", c.hour, c.minute, c.second);
        break;
    case calendar_layout::date_time:
        value.format("%02d.%02d.%02d %02d:%02d", c.day, c.month, c.year, c.hour, c.minute);
        break;
    case calendar_layout::date_time_seconds:
        value.format("%02d.%02d.%02d %02d:%02d:%02d", c.day, c.month, c.year, c.hour, c.minute, c.second);
        break;
    }
}

// BCD digits from the last byte to the first; a top nibble F makes the number
// negative. False for any other nibble above 9.
bool bcd_number(const record_data& data, std::size_t first, std::size_t last, std::int64_t& out)
{
    std::int64_t magnitude = 0;
    bool negative = false;
    for (std::size_t i = last + 1; i-- > first;) {
        for (int shift : {4, 0}) {
            const int digit = (data[i] >> shift) & 0x0F;
            if (digit == 0x0F && i == last && shift == 4 && !negative) {
                negative = true;
                continue;
            }
            if (digit > 9)
                return false;
            magnitude = magnitude * 10 + digit;
        }
    }
    out = negative ? -magnitude : magnitude;
    return true;
}

// Little-endian two's complement of `width` bytes (1 to 8).
std::int64_t signed_integer(const record_data& data, std::size_t first, std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;)
        value = (value << 8) | data[first + i];
    if (width < 8 && (value >> (8 * width - 1)) & 1)
        value |= ~std::uint64_t{0} << (8 * width);
    return static_cast<std::int64_t>(value);
}

} // namespace

int render_value(int index, const record_table& table, telegram_view telegram, record_text& value)
{
    value.clear();
    const record_span* span = entry_at(index, table);
    if (span == nullptr)
        return 1;

    const std::uint8_t coding = byte_at(telegram, span->dif_offset) & 0x0F;
    const record_data data{span_bytes(telegram, span->data_offset, span->data_length)};

    if (coding == coding_special) {
        value.assign("-");
        return 0;
    }
    if (coding == coding_variable) {
        if (render_variable(data, value))
            return 1;
    } else if (coding & 0x08) {
        // BCD (and selection for readout, which has no bytes): a negative
        // number shows its sign nibble as the letter f.
        if (data.size() > 0)
            append_hex_descending(value, data, 0, data.size() - 1, lower_digits);
    } else {
        render_fixed(coding, data, value);
    }

    // Dates, times and type K/L texts have a fixed layout, and a real keeps
    // its zero before the point: only the plain numbers lose leading zeros.
    const bool fixed_layout = render_date_time(index, table, telegram, value) == 1;
    if (value.empty())
        value.assign("0");
    if (!fixed_layout && coding != coding_real32)
        strip_leading_zeros(value);
    return 1;
}

int render_date_time(int index, const record_table& table, telegram_view telegram, record_text& value)
{
    const record_span* span = entry_at(index, table);
    if (span == nullptr)
        return 0;
    const auto vif_block = span_bytes(telegram, span->vif_offset, span->vif_length);
    if (vif_block.empty() || vif_block[0] == 0x7C || vif_block[0] == 0xFC)
        return 0;

    const std::uint8_t coding = byte_at(telegram, span->dif_offset) & 0x0F;
    const record_data data{span_bytes(telegram, span->data_offset, span->data_length)};

    if (is_date_time(vif_block)) {
        render_calendar(coding, data, value);
        calendar unused;
        return read_calendar(coding, data, unused) ? 1 : 0;
    }
    if (vif_block[0] == 0xFD && vif_block.size() > 1) {
        const std::uint8_t code = vif_block[1] & 0x7F;
        if (code == 0x72) {  // type K: daylight saving
            value.clear();
            append_hex_descending(value, data, 0, 3, upper_digits);
            return 1;
        }
        if (code == 0x73) {  // type L: listening window management, b11 down to b1
            value.clear();
            append_hex_descending(value, data, 1, 11, upper_digits);
            return 1;
        }
    }
    return 0;
}

void uint_to_decimal(std::span<const std::uint8_t> bytes, record_text& out)
{
    out.clear();
    const record_data data{bytes};
    const std::uint64_t value = little_endian(data, std::min<std::size_t>(bytes.size(), 8));
    if (value != 0)
        append_decimal(out, value);
}

calendar_outcome record_calendar(int index, const record_table& table, telegram_view telegram, calendar& out)
{
    const record_span* span = entry_at(index, table);
    if (span == nullptr)
        return calendar_outcome::not_a_date;
    const auto vif_block = span_bytes(telegram, span->vif_offset, span->vif_length);
    if (vif_block.empty() || vif_block[0] == 0x7C || vif_block[0] == 0xFC || !is_date_time(vif_block))
        return calendar_outcome::not_a_date;
    const std::uint8_t coding = byte_at(telegram, span->dif_offset) & 0x0F;
    const record_data data{span_bytes(telegram, span->data_offset, span->data_length)};
    if (data.size() < static_cast<std::size_t>(data_field_length(coding)))
        return calendar_outcome::unknown_layout;
    return read_calendar(coding, data, out) ? calendar_outcome::date : calendar_outcome::unknown_layout;
}

bool record_raw_value(int index, const record_table& table, telegram_view telegram, raw_value& out)
{
    out = raw_value{};
    const record_span* span = entry_at(index, table);
    if (span == nullptr)
        return false;
    const std::uint8_t coding = byte_at(telegram, span->dif_offset) & 0x0F;
    const record_data data{span_bytes(telegram, span->data_offset, span->data_length)};
    // Data cut short by the telegram's end are no number.
    const auto have = [&](std::size_t n) { return n > 0 && data.size() >= n && span->data_length >= n; };

    switch (coding) {
    case coding_int8:
    case coding_int16:
    case coding_int24:
    case coding_int32:
    case coding_int48:
    case coding_int64: {
        const auto width = static_cast<std::size_t>(data_field_length(coding));
        if (!have(width))
            return false;
        out.integer = signed_integer(data, 0, width);
        return true;
    }
    case coding_real32: {
        if (!have(4))
            return false;
        const std::uint32_t bits = static_cast<std::uint32_t>(little_endian(data, 4));
        float real;
        std::memcpy(&real, &bits, sizeof real);
        if (!std::isfinite(real))
            return false;
        out.is_real = true;
        out.real = real;
        return true;
    }
    case 0x9:
    case 0xA:
    case 0xB:
    case 0xC:
    case 0xE: {
        const auto width = static_cast<std::size_t>(data_field_length(coding));
        return have(width) && bcd_number(data, 0, width - 1, out.integer);
    }
    case coding_variable: {
        const std::uint8_t lvar = data[0];
        const std::size_t n = lvar & 0x0F;
        if (lvar < 0xC0 || lvar > 0xEF || n == 0 || !have(n + 1))
            return false;
        if (lvar >= 0xE0) {
            if (n > 8)
                return false;
            out.integer = signed_integer(data, 1, n);
            return true;
        }
        if (n > 9 || !bcd_number(data, 1, n, out.integer))  // 18 digits fit
            return false;
        if (lvar >= 0xD0)
            out.integer = -out.integer;
        return true;
    }
    default:
        return false;  // no data, selection for readout, special functions
    }
}

} // namespace velkor::decode
