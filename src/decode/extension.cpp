// Extended text of a record: the DIF's function field, device, tariff and
// storage from the DIF block, then one text per VIFE, all joined by " / ".
//
//   DIF   bit 7 extension | bit 6 storage (lowest bit) | bits 5-4 function | bits 3-0 data
//   DIFE  bit 7 extension | bit 6 device               | bits 5-4 tariff   | bits 3-0 storage

#include <algorithm>
#include <cinttypes>
#include <span>

#include "decode/describe.h"
#include "decode/number.h"

namespace velkor::decode {

namespace {

enum class vife_kind {
    fixed,      // the text as it stands (an empty text for codes without meaning)
    each,       // one text per code from `first` on
    time_word,  // "%s" takes time_unit_name(nn)
    channel,    // "%d" takes the code's bit 0
    factor,     // "%f" takes 10^((code & mask) - offset)
};

struct vife_row {
    std::uint8_t first;
    std::uint8_t last;
    vife_kind kind;
    const char* text = nullptr;
    std::span<const char* const> each = {};
    int mask = 0;
    int offset = 0;
};

constexpr bool rows_ordered(std::span<const vife_row> rows)
{
    int next = 0;
    for (const vife_row& row : rows) {
        if (row.first < next || row.last < row.first || row.last > 0x7F)
            return false;
        if ((row.kind == vife_kind::each) != (row.each.size() == std::size_t(row.last - row.first + 1)))
            return false;
        if (row.kind != vife_kind::each && row.text == nullptr)
            return false;
        next = row.last + 1;
    }
    return true;
}

constexpr const char* vife_00_07[] = {
    "Data valid.",
    "Error: Too many DIFEs.",
    "Error: Storage number not implemented.",
    "Error: Unit number not implemented.",
    "Error: Tariff number not implemented.",
    "Error: Function not implemented.",
    "Error: Data class not implemented.",
    "Error: Data size not implemented.",
};

constexpr const char* vife_0b_0f[] = {
    "Error: Too many VIFEs.",
    "Error: Illegal VIF-Group.",
    "Error: Illegal VIF-Exponent.",
    "Error: VIF/DIF mismatch.",
    "Error: Unimplemented action.",
};

constexpr const char* vife_15_18[] = {
    "No data available (undefinded value).",
    "Data overflow.",
    "Data underflow.",
    "Data error.",
};

constexpr const char* vife_20_27[] = {
    "per second", "per minute", "per hour", "per day", "per week", "per month", "per year",
    "per revolution/measurement",
};

constexpr const char* vife_2c_3f[] = {
    "per liter",
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
    "OBIS Declaration",
};

constexpr const char* vife_40_43[] = {
    "Lower limit value",
    "No of exceeds of lower limit",
    "Date (/time) of begin of first lower limit exceed",
    "Date (/time) of end of first lower limit exceed",
};

constexpr const char* vife_46_47[] = {
    "Date (/time) of begin of last lower limit exceed",
    "Date (/time) of end of last lower limit exceed",
};

constexpr const char* vife_48_4b[] = {
    "Upper limit value",
    "No of exceeds of upper limit",
    "Date (/time) of begin of first upper limit exceed",
    "Date (/time) of end of first upper limit exceed",
};

constexpr const char* vife_4e_4f[] = {
    "Date (/time) of begin of last upper limit exceed",
    "Date (/time) of end of last upper limit exceed",
};

constexpr vife_row vife_rows[] = {
    {0x00, 0x07, vife_kind::each, nullptr, vife_00_07},
    {0x08, 0x0A, vife_kind::fixed, ""},
    {0x0B, 0x0F, vife_kind::each, nullptr, vife_0b_0f},
    {0x10, 0x13, vife_kind::fixed, ""},
    {0x14, 0x14, vife_kind::fixed, "Relative Deviation."},
    {0x15, 0x18, vife_kind::each, nullptr, vife_15_18},
    {0x19, 0x1B, vife_kind::fixed, ""},
    {0x1C, 0x1C, vife_kind::fixed, "Error: Premature end of record."},
    {0x1D, 0x1D, vife_kind::fixed, "Relative Deviation."},
    {0x1E, 0x1E, vife_kind::fixed, "Compact profil with registers."},
    {0x1F, 0x1F, vife_kind::fixed, "Compact profil without registers."},
    {0x20, 0x27, vife_kind::each, nullptr, vife_20_27},
    {0x28, 0x29, vife_kind::channel, "increment per input pulse on input channel %d"},
    {0x2A, 0x2B, vife_kind::channel, "increment per output pulse on output channel %d"},
    {0x2C, 0x3F, vife_kind::each, nullptr, vife_2c_3f},
    {0x40, 0x43, vife_kind::each, nullptr, vife_40_43},
    {0x44, 0x45, vife_kind::fixed, ""},
    {0x46, 0x47, vife_kind::each, nullptr, vife_46_47},
    {0x48, 0x4B, vife_kind::each, nullptr, vife_48_4b},
    {0x4C, 0x4D, vife_kind::fixed, ""},
    {0x4E, 0x4F, vife_kind::each, nullptr, vife_4e_4f},
    {0x50, 0x53, vife_kind::time_word, "Duration of first lower limit exceed [sec...days] %s"},
    {0x54, 0x57, vife_kind::time_word, "Duration of last lower limit exceed [sec...days] %s"},
    {0x58, 0x5B, vife_kind::time_word, "Duration of first upper limit exceed [sec...days] %s"},
    {0x5C, 0x5F, vife_kind::time_word, "Duration of last upper limit exceed [sec...days] %s"},
    {0x60, 0x63, vife_kind::time_word, "Duration of first.. %s"},
    {0x64, 0x67, vife_kind::time_word, "Duration of last.. %s"},
    {0x68, 0x6F, vife_kind::fixed, ""},
    {0x70, 0x77, vife_kind::factor, "Multiplicative correction factor: %f", {}, 7, 6},
    {0x78, 0x7B, vife_kind::factor, "Additive correction constant: %f", {}, 3, 3},
    {0x7C, 0x7C, vife_kind::fixed, ""},
    {0x7D, 0x7D, vife_kind::fixed, "Multiplicative correction factor: 1000"},
    {0x7E, 0x7E, vife_kind::fixed, "future value"},
    {0x7F, 0x7F, vife_kind::fixed, "Next VIFEs and data of this block are manufacturer specific"},
};
static_assert(rows_ordered(vife_rows));

// After a VIFE 0xFC; every other code reads "Reserved.".
constexpr vife_row vife_fc_rows[] = {
    {0x01, 0x01, vife_kind::fixed, "at Phase L1."},
    {0x02, 0x02, vife_kind::fixed, "at Phase L2."},
    {0x03, 0x03, vife_kind::fixed, "at Phase L3."},
    {0x04, 0x04, vife_kind::fixed, "at Neutral (N)."},
    {0x05, 0x05, vife_kind::fixed, "Between Phase L1 and L2."},
    {0x06, 0x06, vife_kind::fixed, "Between Phase L2 and L3."},
    {0x07, 0x07, vife_kind::fixed, "Between Phase L3 and L1."},
    {0x10, 0x10, vife_kind::fixed, "Summation of the absolute +/- value."},
};
static_assert(rows_ordered(vife_fc_rows));

constexpr const char* function_names[] = {"value actual", "value max", "value min", "value error"};

// The DIF and at most ten DIFEs: storage then takes 1 + 4 * 10 = 41 bits.
constexpr int max_difes = 10;

// The longest text: the fixed part with ten DIFEs of all ones, then eleven
// VIFEs of 59 characters each ("Next VIFEs and data ... specific").
constexpr std::size_t longest_extension =
    sizeof("value error / device 1023 / tariff 1048575 / storage 2199023255551") - 1 + 11 * (3 + 59);
static_assert(record_text::capacity() >= longest_extension);

void text_from(std::span<const vife_row> rows, std::uint8_t code, const char* otherwise, record_text& out)
{
    out.assign(otherwise);
    const int c = code & 0x7F;
    for (const vife_row& row : rows) {
        if (c < row.first || c > row.last)
            continue;
        switch (row.kind) {
        case vife_kind::fixed:
            out.assign(row.text);
            break;
        case vife_kind::each:
            out.assign(row.each[c - row.first]);
            break;
        case vife_kind::time_word:
            out.format(row.text, time_unit_name(c & 3));
            break;
        case vife_kind::channel:
            out.format(row.text, c & 1);
            break;
        case vife_kind::factor:
            out.format(row.text, power_of_ten((c & row.mask) - row.offset));
            break;
        }
        return;
    }
}

void append_piece(record_text& extended, const record_text& piece)
{
    extended.append(" / ");
    extended.append(piece.view());
}

// Plain text with VIFEs: FC VIFE.. len text, or FC len text VIFE..
void plain_text_vifes(const record_span& span, telegram_view telegram, record_text& extended)
{
    const std::uint8_t after = byte_at(telegram, span.vif_offset + 1u);
    std::size_t at = after < 0x10 ? span.vif_offset + after + 2u : span.vif_offset + 1u;
    record_text piece;
    for (int n = 0; n < 11 && at < telegram.size(); ++n, ++at) {
        const std::uint8_t code = telegram[at];
        vife_text(code, piece);
        append_piece(extended, piece);
        if ((code & 0x80) == 0)
            break;
    }
}

void vife_block(const record_span& span, telegram_view telegram, record_text& extended, record_text& unit)
{
    const std::uint8_t vif = byte_at(telegram, span.vif_offset);
    record_text piece;
    std::size_t p = 0;
    while (p < span.vif_length && span.vif_offset + p < telegram.size()) {
        const std::uint8_t code = telegram[span.vif_offset + p];
        if (code == 0xFD || code == 0xFB || code == 0xFF || code == 0x7F) {
            p += 2;  // a table switch and its code: described by the descriptor
            continue;
        }
        if (p == 0) {
            ++p;
        } else if (code == 0xFC) {
            vife_fc_text(byte_at(telegram, span.vif_offset + p + 1), piece);
            append_piece(extended, piece);
            p += 2;
        } else if (code == 0x3D) {
            nonmetric_unit(vif, unit);
            ++p;
        } else {
            vife_text(code, piece);
            append_piece(extended, piece);
            ++p;
        }
    }
}

} // namespace

data_block read_data_block(const record_span& span, telegram_view telegram)
{
    const std::uint8_t dif = byte_at(telegram, span.dif_offset);
    data_block block;
    block.function = static_cast<record_function>((dif >> 4) & 3);
    block.storage = (dif >> 6) & 1;
    // DIFE i adds its bits above those of the DIF and the DIFEs before it.
    const int difes = std::min(span.dif_length - 1, max_difes);
    for (int i = 1; i <= difes; ++i) {
        const std::uint64_t dife = byte_at(telegram, span.dif_offset + static_cast<std::size_t>(i));
        block.subunit += ((dife >> 6) & 1) << (i - 1);
        block.tariff += ((dife >> 4) & 3) << (2 * (i - 1));
        block.storage += (dife & 0x0F) << (1 + 4 * (i - 1));
    }
    return block;
}

void vife_text(std::uint8_t code, record_text& out) { text_from(vife_rows, code, "", out); }
void vife_fc_text(std::uint8_t code, record_text& out) { text_from(vife_fc_rows, code, "Reserved.", out); }

int render_extension(int index, const record_table& table, telegram_view telegram, record_text& extended,
                     record_text& unit)
{
    extended.clear();
    const record_span* entry = entry_at(index, table);
    if (!entry)
        return 1;
    const record_span& span = *entry;
    const std::uint8_t dif = byte_at(telegram, span.dif_offset);
    if (dif == 0x0F || dif == 0x1F) {
        extended.assign("manufacturer-specific");
        return 0;
    }
    const data_block block = read_data_block(span, telegram);
    extended.assign(function_names[static_cast<int>(block.function)]);
    extended.appendf(" / device %" PRIu64 " / tariff %" PRIu64 " / storage %" PRIu64, block.subunit, block.tariff,
                     block.storage);

    const std::uint8_t vif = byte_at(telegram, span.vif_offset);
    if (vif == 0x7C) {
        record_text piece;
        vife_text(0x7C, piece);
        append_piece(extended, piece);
    } else if (vif == 0xFC) {
        plain_text_vifes(span, telegram, extended);
    } else {
        vife_block(span, telegram, extended, unit);
    }
    return 1;
}

} // namespace velkor::decode
