#include "decode/records.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "base/trace.h"
#include "decode/telegram_builder.h"

namespace velkor::decode {
namespace {

using decode_testing::bytes;
using decode_testing::hex_bytes;
using decode_testing::make_telegram;

// DIF, VIF and data length of one record; the offsets follow from them.
using lengths = std::array<int, 3>;

std::vector<lengths> walked(const bytes& telegram, record_table& table, int& more)
{
    more = walk_records(telegram, table);
    std::vector<lengths> out;
    std::size_t offset = 19;
    for (std::size_t i = 0; i < table.count; ++i) {
        const record_span& s = table.entries[i];
        EXPECT_EQ(s.dif_offset, offset) << "record " << i;
        EXPECT_EQ(s.vif_offset, s.dif_offset + s.dif_length) << "record " << i;
        EXPECT_EQ(s.data_offset, s.vif_offset + s.vif_length) << "record " << i;
        offset = std::size_t{s.data_offset} + s.data_length;
        out.push_back({s.dif_length, s.vif_length, s.data_length});
    }
    return out;
}

struct walk_case {
    const char* name;
    const char* records;
    std::vector<lengths> expected;
    int more;
};

TEST(walk_records, splits_record_areas)
{
    const std::vector<walk_case> cases = {
        {"32-bit BCD", "0C 13 78 56 34 12", {{1, 1, 4}}, 0},
        {"DIFE and VIFE", "84 10 FD 17 01 02 03 04", {{2, 2, 4}}, 0},
        {"eleven DIF bytes", "84 80 80 80 80 80 80 80 80 80 80 13 01 02 03 04", {{11, 1, 4}}, 0},
        {"eleven VIF bytes", "01 93 80 80 80 80 80 80 80 80 80 80 07", {{1, 11, 1}}, 0},
        {"plain text", "01 7C 03 63 62 61 05", {{1, 5, 1}}, 0},
        {"plain text, empty", "01 7C 00 05", {{1, 2, 1}}, 0},
        {"plain text, last byte extended", "01 7C 02 41 C1 74 05", {{1, 5, 1}}, 0},
        {"0xFC, VIFE before text", "01 FC 74 03 63 62 61 05", {{1, 6, 1}}, 0},
        {"0xFC, VIFEs before text", "01 FC F4 3B 02 62 61 05", {{1, 6, 1}}, 0},
        {"0xFC, VIFE after text", "01 FC 03 63 62 61 74 05", {{1, 6, 1}}, 0},
        {"0xFC, empty text", "01 FC 74 00 05", {{1, 3, 1}}, 0},
        {"0xFC without length byte",
         "01 FC 74 55 20 20 20 20 20 20 20 20 20 20 20 20",
         {{1, 2, 1}, {1, 1, 0}, {1, 1, 0}, {1, 1, 0}, {1, 1, 0}, {1, 1, 0}, {1, 1, 0}},
         0},
        {"LVAR 0x05", "0D 78 05 31 32 33 34 35", {{1, 1, 6}}, 0},
        {"LVAR 0xC4", "0D 13 C4 78 56 34 12", {{1, 1, 5}}, 0},
        {"LVAR 0xF0", "0D 13 F0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01", {{1, 1, 17}}, 0},
        {"manufacturer data to the checksum", "0F 01 02 03 04 05", {{1, 1, 4}}, 0},
        {"more records follow", "1F 01 02", {{1, 1, 1}}, 1},
        {"0x8F with DIFE", "8F 00 13 01 02", {{2, 1, 2}}, 0},
        {"idle fillers", "0C 13 78 56 34 12 2F 2F 2F 2F", {{1, 1, 4}, {1, 1, 0}, {1, 1, 0}}, 0},
        {"cut by the checksum", "0C 13 78 56", {{1, 1, 4}}, 0},
        {"manufacturer-specific", "02 FF 81 02 AB CD", {{1, 3, 2}}, 0},
    };
    for (const walk_case& c : cases) {
        SCOPED_TRACE(c.name);
        record_table table;
        int more = -1;
        EXPECT_EQ(walked(make_telegram(c.records), table, more), c.expected);
        EXPECT_EQ(more, c.more);
    }
}

TEST(walk_records, idle_fillers_before_a_record_are_skipped)
{
    const std::vector<std::pair<const char*, std::vector<int>>> cases = {
        {"2F 0C 13 78 56 34 12", {20}},
        {"01 13 05 2F 2F 2F 02 5A 2C 01", {19, 25}},
        {"0C 13 78 56 34 12 2F 2F", {19, 25}},  // a run up to the checksum stays a record
        {"2F", {19}},
    };
    for (const auto& [area, offsets] : cases) {
        record_table table;
        walk_records(make_telegram(area), table);
        std::vector<int> got;
        for (std::size_t i = 0; i < table.count; ++i)
            got.push_back(table.entries[i].dif_offset);
        EXPECT_EQ(offsets, got) << area;
    }
}

TEST(walk_records, variable_length_by_lvar)
{
    const std::vector<std::pair<int, int>> cases = {
        {0x00, 1},  {0x05, 6},  {0xBF, 192}, {0xC4, 5},  {0xD2, 3},  {0xE8, 9},
        {0xF0, 17}, {0xF4, 33}, {0xF5, 49},  {0xF6, 65}, {0xF7, 8},  {0xFF, 16},
    };
    for (const auto& [lvar, length] : cases) {
        SCOPED_TRACE(lvar);
        bytes area = {0x0D, 0x13, static_cast<std::uint8_t>(lvar)};
        area.resize(area.size() + static_cast<std::size_t>(length) - 1, 0x33);
        record_table table;
        int more = 0;
        EXPECT_EQ(walked(make_telegram(area), table, more), (std::vector<lengths>{{1, 1, length}}));
    }
}

TEST(walk_records, header_only_telegram_gives_one_entry)
{
    record_table table;
    int more = 0;
    // Checksum 0x00: DIF is the checksum, VIF the stop byte.
    EXPECT_EQ(walked(make_telegram("", 0x1E), table, more), (std::vector<lengths>{{1, 1, 0}}));

    // Checksum 0xE7 extends into the stop byte; the VIF then lies past the end.
    const bytes t = make_telegram("", 0x05);
    ASSERT_EQ(t[19], 0xE7);
    EXPECT_EQ(walked(t, table, more), (std::vector<lengths>{{2, 1, 8}}));
    record_text dif, vif, data;
    render_record_hex(0, table, t, dif, vif, data);
    EXPECT_EQ(dif.view(), "E7 16 ");
    EXPECT_EQ(vif.view(), "");
    EXPECT_EQ(data.view(), "");
}

TEST(walk_records, shorter_than_a_header_still_ends)
{
    const bytes t = hex_bytes("68 03 03 68 08 05 72 0D 16");
    record_table table;
    EXPECT_EQ(walk_records(t, table), 0);
    EXPECT_EQ(table.count, 1);
}

TEST(walk_records, maximum_size_telegram)
{
    bytes area;
    for (int i = 0; i < 40; ++i) {
        const bytes r = hex_bytes("0C 13 78 56 34 12");
        area.insert(area.end(), r.begin(), r.end());
    }
    const bytes t = make_telegram(area);
    ASSERT_EQ(t[1], 255);
    ASSERT_EQ(t.size(), 261u);
    record_table table;
    int more = 0;
    EXPECT_EQ(walked(t, table, more), std::vector<lengths>(40, lengths{1, 1, 4}));
    EXPECT_EQ(table.entries[39].data_offset, 255);

    // Offsets beyond 255 are kept exactly.
    area = hex_bytes("0D 13 BF");
    area.resize(area.size() + 191, 0x41);
    for (int i = 0; i < 7; ++i) {
        const bytes r = hex_bytes("04 13 01 02 03 04");
        area.insert(area.end(), r.begin(), r.end());
    }
    const bytes r = hex_bytes("02 13 07 00");
    area.insert(area.end(), r.begin(), r.end());
    const bytes t2 = make_telegram(area);
    ASSERT_EQ(t2.size(), 261u);
    std::vector<lengths> expected = {{1, 1, 192}};
    expected.insert(expected.end(), 7, lengths{1, 1, 4});
    expected.push_back({1, 1, 2});
    EXPECT_EQ(walked(t2, table, more), expected);
    EXPECT_EQ(table.entries[8].data_offset, 257);

    record_text descriptor, unit, value, extended;
    render_record(8, table, t2, descriptor, unit, value, extended);
    EXPECT_EQ(value.view(), "7");
}

TEST(walk_records, long_record_at_the_end_ends_the_walk)
{
    // A text declared 191 characters long two bytes before the checksum of a
    // full-size telegram: it runs far past the end and must not restart the walk.
    bytes area;
    for (int i = 0; i < 39; ++i) {
        const bytes r = hex_bytes("0C 13 78 56 34 12");
        area.insert(area.end(), r.begin(), r.end());
    }
    const bytes tail = hex_bytes("0D 13 BF 41 42 43");
    area.insert(area.end(), tail.begin(), tail.end());
    const bytes t = make_telegram(area);
    ASSERT_EQ(t.size(), 261u);
    record_table table;
    EXPECT_EQ(walk_records(t, table), 0);
    ASSERT_EQ(table.count, 40);
    EXPECT_EQ(table.entries[39].data_offset, 255);
    EXPECT_EQ(table.entries[39].data_length, 192);

    // Rendered from the bytes that are there: 41 42 43, the checksum, the stop byte.
    record_text dif, vif, data;
    render_record_hex(39, table, t, dif, vif, data);
    EXPECT_EQ(data.size(), 3u * 6);
    EXPECT_EQ(data.view().substr(0, 12), "BF 41 42 43 ");
    EXPECT_EQ(data.view().substr(15), "16 ");
}

TEST(walk_records, never_stores_more_than_the_table_holds)
{
    bytes t = make_telegram("");
    t.resize(19);
    t.resize(2000, 0x2F);  // a view far longer than any receive buffer
    record_table table;
    walk_records(t, table);
    EXPECT_EQ(table.count, table.entries.size());
}

struct rendered {
    record_text descriptor, unit, value, extended;
};

rendered render(const bytes& telegram, int index)
{
    record_table table;
    walk_records(telegram, table);
    rendered r;
    render_record(index, table, telegram, r.descriptor, r.unit, r.value, r.extended);
    return r;
}

TEST(render_record, special_functions_end_the_telegram)
{
    for (const char* area : {"0F 01 02 03", "1F", "2F 2F", "8F 00 01"}) {
        SCOPED_TRACE(area);
        const rendered r = render(make_telegram(area), 0);
        EXPECT_EQ(r.descriptor.view(), "telegram end");
        EXPECT_EQ(r.value.view(), "-");
        EXPECT_EQ(r.unit.view(), "-");
        EXPECT_EQ(r.extended.view(), "-");
    }
    const rendered r = render(make_telegram("0C 13 78 56 34 12 2F 2F"), 1);
    EXPECT_EQ(r.descriptor.view(), "telegram end");
    // A filler in front of a record loses nothing of it.
    const rendered v = render(make_telegram("2F 02 5A 2C 01"), 0);
    EXPECT_EQ(v.descriptor.view(), "Flow Temperature");
    EXPECT_EQ(v.value.view(), "300");
}

TEST(render_record, manufacturer_specific_vif_as_hex)
{
    struct mfr_case {
        const char* area;
        const char* value;
        const char* extended;
    };
    const std::vector<mfr_case> cases = {
        {"02 FF 81 02 AB CD", "AB CD ", "manufacturer specific code = 81 02 "},
        {"01 7F 33", "33 ", "manufacturer specific code = "},
        {"0C FF 00 78 56 34 12", "78 56 34 12 ", "manufacturer specific code = 00 "},
        // Date-like VIFE and BCD coding do not matter: the bytes go out as they came.
        {"04 FF 66 00 00 00 00", "00 00 00 00 ", "manufacturer specific code = 66 "},
    };
    for (const mfr_case& c : cases) {
        SCOPED_TRACE(c.area);
        const rendered r = render(make_telegram(c.area), 0);
        EXPECT_EQ(r.value.view(), c.value);
        EXPECT_EQ(r.unit.view(), "-");
        EXPECT_EQ(r.extended.view(), c.extended);
    }
}

TEST(render_record, manufacturer_data_runs_past_the_end)
{
    // 64-bit data declared, two bytes left before the checksum.
    const bytes t = make_telegram("07 7F 12 34");
    const rendered r = render(t, 0);
    char tail[16];
    std::snprintf(tail, sizeof tail, "%02X 16 ", t[t.size() - 2]);
    EXPECT_EQ(r.value.view(), std::string("12 34 ") + tail);
}

TEST(render_record, long_hex_texts_are_not_cut)
{
    // Manufacturer data filling a full-size telegram: every byte up to the end.
    bytes area = hex_bytes("0F 01");
    area.resize(240, 0xA5);
    const bytes t = make_telegram(area);
    record_table table;
    walk_records(t, table);
    record_text dif, vif, data;
    render_record_hex(0, table, t, dif, vif, data);
    EXPECT_EQ(data.size(), 3u * 238);

    // A manufacturer-specific text record of 192 bytes becomes 576 characters.
    area = hex_bytes("0D 7F BF");
    area.resize(area.size() + 191, 0x5A);
    const rendered r = render(make_telegram(area), 0);
    EXPECT_EQ(r.value.size(), 3u * 192);
    EXPECT_EQ(r.value.view().substr(0, 6), "BF 5A ");
}

TEST(render_record, value_of_an_ordinary_record)
{
    const rendered r = render(make_telegram("0C 13 78 56 34 12 04 6D 1E 0C 79 11"), 1);
    EXPECT_EQ(r.value.view(), "25.01.11 12:30");
}

TEST(render_record, index_outside_the_table_renders_nothing)
{
    const bytes t = make_telegram("0C 13 78 56 34 12");
    record_table table;
    walk_records(t, table);
    for (int index : {-1, 1, 255, 1000}) {
        record_text descriptor("x"), unit("x"), value("x"), extended("x");
        render_record(index, table, t, descriptor, unit, value, extended);
        EXPECT_TRUE(descriptor.empty() && unit.empty() && value.empty() && extended.empty()) << index;
        record_text dif("x"), vif("x"), data("x");
        render_record_hex(index, table, t, dif, vif, data);
        EXPECT_TRUE(dif.empty() && vif.empty() && data.empty()) << index;
    }
}

TEST(render_record_hex, blocks_as_hex)
{
    const bytes t = make_telegram("84 10 FD 17 01 02 03 04 01 7C 02 62 61 05");
    record_table table;
    walk_records(t, table);
    record_text dif, vif, data;
    render_record_hex(0, table, t, dif, vif, data);
    EXPECT_EQ(dif.view(), "84 10 ");
    EXPECT_EQ(vif.view(), "FD 17 ");
    EXPECT_EQ(data.view(), "01 02 03 04 ");
    render_record_hex(1, table, t, dif, vif, data);
    EXPECT_EQ(dif.view(), "01 ");
    EXPECT_EQ(vif.view(), "7C 02 62 61 ");
    EXPECT_EQ(data.view(), "05 ");
}

struct decode_trace_on {
    decode_trace_on() { trace::decode = 1; }
    ~decode_trace_on() { trace::decode = 0; }
};

TEST(dump_record, prints_the_record_blocks)
{
    const bytes t = make_telegram("01 13 05 84 10 FD 17 01 02 03 04");
    record_table table;
    walk_records(t, table);
    testing::internal::CaptureStdout();
    dump_record(1, table, t);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Datenrecord 2:\nDIF/E = 84 10 \nVIF/E = FD 17 \nDATA = 01 02 03 04 \n");
}

TEST(dump_record, printed_by_render_record_only_with_the_decode_trace)
{
    const bytes t = make_telegram("0C 13 78 56 34 12");
    record_table table;
    walk_records(t, table);
    record_text descriptor, unit, value, extended;

    testing::internal::CaptureStdout();
    render_record(0, table, t, descriptor, unit, value, extended);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    decode_trace_on on;
    testing::internal::CaptureStdout();
    render_record(0, table, t, descriptor, unit, value, extended);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Datenrecord 1:\nDIF/E = 0C \nVIF/E = 13 \nDATA = 78 56 34 12 \n");
    EXPECT_EQ(value.view(), "12345678");
}

TEST(span_bytes, cut_at_the_end_of_the_telegram)
{
    const bytes t = hex_bytes("00 01 02 03 04");
    EXPECT_EQ(span_bytes(t, 1, 2).size(), 2u);
    EXPECT_EQ(span_bytes(t, 3, 9).size(), 2u);
    EXPECT_TRUE(span_bytes(t, 5, 1).empty());
    EXPECT_TRUE(span_bytes(t, 0xFFFF, 0xFFFF).empty());
}

} // namespace
} // namespace velkor::decode
