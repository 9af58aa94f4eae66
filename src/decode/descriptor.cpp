// Descriptor of a record: the name of the measured quantity, from the VIF, from
// the first VIFE behind VIF 0xFD / 0xFB, or from the plain text the telegram
// carries (VIF 0x7C / 0xFC). Every table looks at the low seven bits only.
//
//   plain text, VIF 0x7C:        7C  len  text (last character first)
//   plain text, VIF 0xFC:        FC  VIFE.. len  text        (VIFEs >= 0x10)
//                                FC  len  text  VIFE..       (len < 0x10)

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

#include "decode/describe.h"

namespace velkor::decode {

namespace {

enum class word { none, time, period };

// A code range with one text for all of it (a "%s" in it takes the word of the
// code's two low bits), or one text per code from `first` on.
struct descriptor_row {
    std::uint8_t first;
    std::uint8_t last;
    const char* text;
    std::span<const char* const> each = {};
    word filler = word::none;
};

constexpr bool rows_ordered(std::span<const descriptor_row> rows)
{
    int next = 0;
    for (const descriptor_row& row : rows) {
        if (row.first < next || row.last < row.first || row.last > 0x7F)
            return false;
        if (!row.each.empty() && row.each.size() != std::size_t(row.last - row.first + 1))
            return false;
        if (row.each.empty() && row.text == nullptr)
            return false;
        next = row.last + 1;
    }
    return true;
}

constexpr descriptor_row vif_rows[] = {
    {0x00, 0x07, "Energy"},
    {0x08, 0x0F, "Energy"},
    {0x10, 0x17, "Volume"},
    {0x18, 0x1F, "Mass"},
    {0x20, 0x23, "On Time"},
    {0x24, 0x27, "Operating Time"},
    {0x28, 0x2F, "Power"},
    {0x30, 0x37, "Power"},
    {0x38, 0x3F, "Volume Flow"},
    {0x40, 0x47, "Volume Flow ext."},
    {0x48, 0x4F, "Volume Flow ext."},
    {0x50, 0x57, "Mass Flow"},
    {0x58, 0x5B, "Flow Temperature"},
    {0x5C, 0x5F, "Return Temperature"},
    {0x60, 0x63, "Temperature-Diff."},
    {0x64, 0x67, "External Temperature"},
    {0x68, 0x6B, "Pressure"},
    {0x6C, 0x6D, "Time Point"},
    {0x6E, 0x6E, "H.C.A."},
    {0x6F, 0x6F, "Unknown"},
    {0x70, 0x73, "Averaging Duration"},
    {0x74, 0x77, "Actuality Duration"},
    {0x78, 0x78, "Fabrication No"},
    {0x79, 0x79, "Identification"},
    {0x7A, 0x7A, "Bus Address"},
    {0x7B, 0x7F, "Unknown"},  // 0x7C and 0x7F are handled before the table
};
static_assert(rows_ordered(vif_rows));

constexpr const char* fd_08_22[] = {
    "Access Number",
    "Medium",
    "Manufacturer",
    "Identification",
    "Model/Version",
    "Hardware Version",
    "Firmware Version",
    "Software Version",
    "Customer Location",
    "Customer",
    "Access Code User",
    "Access Code Operator",
    "Access Code System Operator",
    "Access Code Developer",
    "Password",
    "Error Flags",
    "Error Mask",
    "Security Key",
    "Digital Output (binary)",
    "Digital Input (binary)",
    "Baudrate",
    "Response Delay Time",
    "Retry",
    "Remote Control",
    "First Storage No",
    "Last Storage No",
    "Size of Storage Block",
};

constexpr const char* fd_60_67[] = {
    "Reset Counter",
    "Cumulation Counter",
    "Control Signal",
    "Day of week",
    "Week number",
    "Time point of day change",
    "State of parameter activation",
    "Special supplier information",
};

constexpr descriptor_row fd_rows[] = {
    {0x00, 0x03, "Credit in EURO"},
    {0x04, 0x07, "Debit in EURO"},
    {0x08, 0x22, nullptr, fd_08_22},
    {0x23, 0x23, "Unknown"},
    {0x24, 0x27, "Storage Interval in %s", {}, word::time},
    {0x28, 0x28, "Storage Interval month(s)"},
    {0x29, 0x29, "Storage Interval year(s)"},
    {0x2A, 0x2A, "Operator-Specific Data"},
    {0x2B, 0x2B, "Time Point Seconds"},
    {0x2C, 0x2F, "Duration since last readout %s", {}, word::time},
    {0x30, 0x30, "Start of tariff"},
    {0x31, 0x33, "Duration of tariff"},
    {0x34, 0x37, "Period of tariff [sec to days]"},
    {0x38, 0x38, "Period of tariff months"},
    {0x39, 0x39, "Period of tariff years"},
    {0x3A, 0x3A, "dimensionless / no VIF"},
    {0x3B, 0x3B, "Data Container for Wireless M-Bus"},
    {0x3C, 0x3F, "Interval Of Data Transmission"},
    {0x40, 0x4F, "Volts"},
    {0x50, 0x5F, "Ampere"},
    {0x60, 0x67, nullptr, fd_60_67},
    {0x68, 0x6B, "Duration since last cumulation %s", {}, word::period},
    {0x6C, 0x6F, "Operating time battery %s", {}, word::period},
    {0x70, 0x70, "Date and time of battery change"},
    {0x71, 0x71, "Reception Level"},
    {0x72, 0x72, "Daylight Saving Time"},
    {0x73, 0x73, "Receive Window"},
    {0x74, 0x74, "Remaining Battery Life"},
    {0x75, 0x75, "Number of times counter stopped"},
    {0x76, 0x76, "Data Container for manufacturer-specific protocol"},
    {0x77, 0x7F, "Unknown"},
};
static_assert(rows_ordered(fd_rows));

constexpr descriptor_row fb_rows[] = {
    {0x00, 0x01, "Energy"},
    {0x02, 0x03, "Reactive Energy"},
    {0x04, 0x05, "Apparent Energy"},
    {0x06, 0x07, "Unknown"},
    {0x08, 0x09, "Energy"},
    {0x0A, 0x0B, "Unknown"},
    {0x0C, 0x0F, "Energy"},
    {0x10, 0x11, "Volume"},
    {0x12, 0x13, "Unknown"},
    {0x14, 0x17, "Reactive Power"},
    {0x18, 0x19, "Mass"},
    {0x1A, 0x1B, "Relative Humidity"},
    {0x1C, 0x1F, "Unknown"},
    {0x20, 0x23, "Volume"},
    {0x24, 0x26, "Volume Flow"},
    {0x27, 0x27, "Unknown"},
    {0x28, 0x29, "Power"},
    {0x2A, 0x2A, "Phase U-U"},
    {0x2B, 0x2B, "Phase U-I"},
    {0x2C, 0x2F, "Frequency"},
    {0x30, 0x31, "Power"},
    {0x32, 0x53, "Unknown"},
    {0x54, 0x57, "Apparent Power"},
    {0x58, 0x5B, "Flow Temperature"},
    {0x5C, 0x5F, "Return Temperature"},
    {0x60, 0x63, "Temperature-Diff."},
    {0x64, 0x67, "External Temperature"},
    {0x68, 0x6F, "Unknown"},
    {0x70, 0x77, "Cold/Warm Temp.-Limit"},
    {0x78, 0x7F, "Cumul. count max. power"},
};
static_assert(rows_ordered(fb_rows));

void describe(std::span<const descriptor_row> rows, std::uint8_t code, record_text& out)
{
    out.assign("Unknown");
    const int c = code & 0x7F;
    for (const descriptor_row& row : rows) {
        if (c < row.first || c > row.last)
            continue;
        if (!row.each.empty())
            out.assign(row.each[c - row.first]);
        else if (row.filler == word::time)
            out.format(row.text, time_unit_name(c & 3));
        else if (row.filler == word::period)
            out.format(row.text, period_unit_name(c & 3));
        else
            out.assign(row.text);
        return;
    }
}

// Bytes past the received telegram read as 0.
void plain_text_descriptor(const record_span& span, telegram_view telegram, record_text& out)
{
    out.clear();
    // 0xFC may put VIFEs (all >= 0x10) before the length byte.
    std::size_t k = 0;
    if (byte_at(telegram, span.vif_offset) == 0xFC) {
        for (std::size_t i = 0; i < span.vif_length; ++i) {
            k = i;
            if (byte_at(telegram, span.vif_offset + 1 + i) < 0x10)
                break;
        }
    }
    const std::size_t length = byte_at(telegram, span.vif_offset + 1 + k);
    const std::size_t text_at = span.vif_offset + 2 + k;
    // Of a text cut short by the telegram's end only the characters that
    // arrived are shown, still in reading order.
    const std::size_t received = text_at < telegram.size() ? std::min(length, telegram.size() - text_at) : 0;
    for (std::size_t j = received; j > 0; --j)
        out.append(static_cast<char>(telegram[text_at + j - 1]));
}

} // namespace

void vif_descriptor(std::uint8_t code, record_text& out) { describe(vif_rows, code, out); }
void vif_fd_descriptor(std::uint8_t code, record_text& out) { describe(fd_rows, code, out); }
void vif_fb_descriptor(std::uint8_t code, record_text& out) { describe(fb_rows, code, out); }

int render_descriptor(int index, const record_table& table, telegram_view telegram, record_text& descriptor)
{
    descriptor.clear();
    const record_span* entry = entry_at(index, table);
    if (!entry)
        return 1;
    const record_span& span = *entry;
    const std::uint8_t vif = byte_at(telegram, span.vif_offset);
    switch (vif) {
    case 0xFB:
        vif_fb_descriptor(byte_at(telegram, span.vif_offset + 1u), descriptor);
        return 1;
    case 0xFD:
        vif_fd_descriptor(byte_at(telegram, span.vif_offset + 1u), descriptor);
        return 1;
    case 0x7C:
    case 0xFC:
        plain_text_descriptor(span, telegram, descriptor);
        return 1;
    case 0x7F:
    case 0xFF:
        descriptor.assign("manufacturer-specific");
        return 0;
    default:
        vif_descriptor(vif, descriptor);
        return 1;
    }
}

} // namespace velkor::decode
