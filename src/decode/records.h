#pragma once
// The data records of a telegram: where each lies (the walk) and each record
// rendered as texts (GET_DATA) or as hex (GET_STRUCT_DATA).

#include <array>
#include <cstdint>

#include "base/text.h"
#include "decode/header.h"

namespace velkor::decode {

// Room for the longest text a record can give: its data as hex when it spans a
// whole receive buffer (3 characters a byte).
inline constexpr std::size_t record_text_size = 3 * 512 + 4;
using record_text = text<record_text_size>;

// Offsets count from the first start byte; wide enough for any telegram.
struct record_span {
    std::uint16_t dif_offset = 0;
    std::uint16_t dif_length = 0;
    std::uint16_t vif_offset = 0;
    std::uint16_t vif_length = 0;
    std::uint16_t data_offset = 0;
    std::uint16_t data_length = 0;
};

struct record_table {
    std::array<record_span, 255> entries{};
    std::uint16_t count = 0;
};

struct decoded_record {
    std::int32_t tel = 0;
    std::int32_t more_follows = 0;
    std::int32_t rec = 0;
    std::int32_t record_count = 0;
    record_text descriptor;
    record_text value;
    record_text unit;
    record_text extended;
};

struct struct_record {
    std::int32_t tel = 0;
    std::int32_t more_follows = 0;
    std::int32_t rec = 0;
    std::int32_t record_count = 0;
    record_text dif;
    record_text vif;
    record_text data;
};

// Bytes of the data field by the DIF's low nibble (variable length and special
// functions are measured by the walk).
int data_field_length(std::uint8_t dif);

// Fills the table from offset 19 on; returns 1 when a record with DIF 0x1F
// announces more telegrams, else 0. The first record is always walked.
int walk_records(telegram_view telegram, record_table& table);

void render_record(int index, const record_table& table, telegram_view telegram, record_text& descriptor,
                   record_text& unit, record_text& value, record_text& extended);
void render_record_hex(int index, const record_table& table, telegram_view telegram, record_text& dif,
                       record_text& vif, record_text& data);
void dump_record(int index, const record_table& table, telegram_view telegram);

// Every read of a record goes through these: an entry outside the table is
// nullptr, and a byte past the telegram's end reads as 0.
inline const record_span* entry_at(int index, const record_table& table)
{
    if (index < 0 || index >= table.count || static_cast<std::size_t>(index) >= table.entries.size())
        return nullptr;
    return &table.entries[static_cast<std::size_t>(index)];
}

inline std::uint8_t byte_at(telegram_view telegram, std::size_t offset)
{
    return offset < telegram.size() ? telegram[offset] : 0;
}

// The bytes of a span within the telegram, cut where the telegram ends.
std::span<const std::uint8_t> span_bytes(telegram_view telegram, std::uint16_t offset, std::uint16_t length);

} // namespace velkor::decode
