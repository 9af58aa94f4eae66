#include "decode/records.h"

// Placeholder until the record decoder lands.
namespace velkor::decode {
int data_field_length(std::uint8_t) { return 0; }
int walk_records(telegram_view, record_table& table)
{
    table.count = 0;
    return 0;
}
void render_record(int, const record_table&, telegram_view, record_text&, record_text&, record_text&, record_text&) {}
void render_record_hex(int, const record_table&, telegram_view, record_text&, record_text&, record_text&) {}
void dump_record(int, const record_table&, telegram_view) {}
std::span<const std::uint8_t> span_bytes(telegram_view telegram, std::uint16_t offset, std::uint16_t length)
{
    if (offset >= telegram.size())
        return {};
    const std::size_t n = std::min<std::size_t>(length, telegram.size() - offset);
    return telegram.subspan(offset, n);
}
} // namespace velkor::decode
