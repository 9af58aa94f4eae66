#include <gtest/gtest.h>

#include <cstring>
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
    const char* text;
};

// Checks every byte 0..255 against rows that must cover 0x00..0x7F exactly once.
template <typename Describe>
void sweep(Describe describe, const std::vector<expected_row>& rows)
{
    for (int code = 0; code < 256; ++code) {
        int hits = 0;
        std::string expected;
        for (const expected_row& row : rows)
            if ((code & 0x7F) >= row.first && (code & 0x7F) <= row.last)
                ++hits, expected = row.text;
        ASSERT_EQ(1, hits) << "expected rows cover code " << code << " " << hits << " times";
        guarded_text out;
        describe(static_cast<std::uint8_t>(code), out.text);
        EXPECT_EQ(expected, out.text.view()) << "code 0x" << std::hex << code;
        out.expect_intact();
    }
}

} // namespace

TEST(Descriptor, RecordsByVifKind)
{
    struct {
        const char* vif;
        const char* descriptor;
        int result;
    } const cases[] = {
        {"13", "Volume", 1},
        {"93 00", "Volume", 1},
        {"7B", "Unknown", 1},
        {"7D", "Unknown", 1},
        {"7E", "Unknown", 1},
        {"FE 00", "Unknown", 1},
        {"7F", "manufacturer-specific", 0},
        {"FF 81 02", "manufacturer-specific", 0},
        {"FD 71", "Reception Level", 1},
        {"FD 76", "Data Container for manufacturer-specific protocol", 1},
        {"FD 77", "Unknown", 1},
        {"FD 31", "Duration of tariff", 1},
        {"FD 30", "Start of tariff", 1},
        {"FD A4 00", "Storage Interval in second", 1},
        {"FD 6D", "Operating time battery day", 1},
        {"FB 0E", "Energy", 1},
        {"FB 32", "Unknown", 1},
        {"7C 03 63 62 61", "abc", 1},
        {"FC 74 02 42 41", "AB", 1},
        {"FC 02 42 41 74", "AB", 1},
        {"FC 00", "", 1},
        {"7C 00", "", 1},
    };
    for (const auto& c : cases) {
        one_record r = make_record("04", c.vif, "01 02 03 04");
        record_text out("stale");
        EXPECT_EQ(c.result, render_descriptor(0, r.table, r.telegram, out)) << c.vif;
        EXPECT_EQ(c.descriptor, out.view()) << c.vif;
    }
}

TEST(Descriptor, ReadsNothingPastTheReceivedBytes)
{
    // Plain text of five characters ("hello" stored backwards), of which the
    // telegram brings only two; the bytes behind the view must not be read.
    one_record r = make_record("0D", "7C 05 6F 6C 6C 65 68", "");
    const std::size_t cut = r.table.entries[0].vif_offset + 4u;
    record_text out;
    EXPECT_EQ(1, render_descriptor(0, r.table, std::span(r.telegram).first(cut), out));
    EXPECT_EQ("lo", out.view());

    // The length byte itself is missing.
    EXPECT_EQ(1, render_descriptor(0, r.table, std::span(r.telegram).first(cut - 3), out));
    EXPECT_EQ("", out.view());

    // VIF 0xFD as the last received byte: its code reads as 0.
    one_record fd = make_record("04", "FD 71", "");
    EXPECT_EQ(1, render_descriptor(0, fd.table, std::span(fd.telegram).first(fd.table.entries[0].vif_offset + 1u), out));
    EXPECT_EQ("Credit in EURO", out.view());

    // Entries outside the table give an empty text.
    for (int index : {-1, 1, 255, 1000}) {
        out.assign("stale");
        EXPECT_EQ(1, render_descriptor(index, r.table, r.telegram, out));
        EXPECT_EQ("", out.view());
    }
}

TEST(Descriptor, EveryPrimaryVifCode)
{
    sweep(vif_descriptor, {
                              {0x00, 0x0F, "Energy"},
                              {0x10, 0x17, "Volume"},
                              {0x18, 0x1F, "Mass"},
                              {0x20, 0x23, "On Time"},
                              {0x24, 0x27, "Operating Time"},
                              {0x28, 0x37, "Power"},
                              {0x38, 0x3F, "Volume Flow"},
                              {0x40, 0x4F, "Volume Flow ext."},
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
                              {0x7B, 0x7F, "Unknown"},
                          });
}

TEST(Descriptor, EveryCodeAfterVifFd)
{
    sweep(vif_fd_descriptor, {
                                 {0x00, 0x03, "Credit in EURO"},
                                 {0x04, 0x07, "Debit in EURO"},
                                 {0x08, 0x08, "Access Number"},
                                 {0x09, 0x09, "Medium"},
                                 {0x0A, 0x0A, "Manufacturer"},
                                 {0x0B, 0x0B, "Identification"},
                                 {0x0C, 0x0C, "Model/Version"},
                                 {0x0D, 0x0D, "Hardware Version"},
                                 {0x0E, 0x0E, "Firmware Version"},
                                 {0x0F, 0x0F, "Software Version"},
                                 {0x10, 0x10, "Customer Location"},
                                 {0x11, 0x11, "Customer"},
                                 {0x12, 0x12, "Access Code User"},
                                 {0x13, 0x13, "Access Code Operator"},
                                 {0x14, 0x14, "Access Code System Operator"},
                                 {0x15, 0x15, "Access Code Developer"},
                                 {0x16, 0x16, "Password"},
                                 {0x17, 0x17, "Error Flags"},
                                 {0x18, 0x18, "Error Mask"},
                                 {0x19, 0x19, "Security Key"},
                                 {0x1A, 0x1A, "Digital Output (binary)"},
                                 {0x1B, 0x1B, "Digital Input (binary)"},
                                 {0x1C, 0x1C, "Baudrate"},
                                 {0x1D, 0x1D, "Response Delay Time"},
                                 {0x1E, 0x1E, "Retry"},
                                 {0x1F, 0x1F, "Remote Control"},
                                 {0x20, 0x20, "First Storage No"},
                                 {0x21, 0x21, "Last Storage No"},
                                 {0x22, 0x22, "Size of Storage Block"},
                                 {0x23, 0x23, "Unknown"},
                                 {0x24, 0x24, "Storage Interval in second"},
                                 {0x25, 0x25, "Storage Interval in minute"},
                                 {0x26, 0x26, "Storage Interval in hour"},
                                 {0x27, 0x27, "Storage Interval in day"},
                                 {0x28, 0x28, "Storage Interval month(s)"},
                                 {0x29, 0x29, "Storage Interval year(s)"},
                                 {0x2A, 0x2A, "Operator-Specific Data"},
                                 {0x2B, 0x2B, "Time Point Seconds"},
                                 {0x2C, 0x2C, "Duration since last readout second"},
                                 {0x2D, 0x2D, "Duration since last readout minute"},
                                 {0x2E, 0x2E, "Duration since last readout hour"},
                                 {0x2F, 0x2F, "Duration since last readout day"},
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
                                 {0x60, 0x60, "Reset Counter"},
                                 {0x61, 0x61, "Cumulation Counter"},
                                 {0x62, 0x62, "Control Signal"},
                                 {0x63, 0x63, "Day of week"},
                                 {0x64, 0x64, "Week number"},
                                 {0x65, 0x65, "Time point of day change"},
                                 {0x66, 0x66, "State of parameter activation"},
                                 {0x67, 0x67, "Special supplier information"},
                                 {0x68, 0x68, "Duration since last cumulation hour"},
                                 {0x69, 0x69, "Duration since last cumulation day"},
                                 {0x6A, 0x6A, "Duration since last cumulation month"},
                                 {0x6B, 0x6B, "Duration since last cumulation year"},
                                 {0x6C, 0x6C, "Operating time battery hour"},
                                 {0x6D, 0x6D, "Operating time battery day"},
                                 {0x6E, 0x6E, "Operating time battery month"},
                                 {0x6F, 0x6F, "Operating time battery year"},
                                 {0x70, 0x70, "Date and time of battery change"},
                                 {0x71, 0x71, "Reception Level"},
                                 {0x72, 0x72, "Daylight Saving Time"},
                                 {0x73, 0x73, "Receive Window"},
                                 {0x74, 0x74, "Remaining Battery Life"},
                                 {0x75, 0x75, "Number of times counter stopped"},
                                 {0x76, 0x76, "Data Container for manufacturer-specific protocol"},
                                 {0x77, 0x7F, "Unknown"},
                             });
}

TEST(Descriptor, EveryCodeAfterVifFb)
{
    sweep(vif_fb_descriptor, {
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
                             });
}

} // namespace velkor::decode
