#include "decode/records.h"

#include <algorithm>
#include <cstdio>

#include "base/convert.h"
#include "base/trace.h"
#include "decode/describe.h"
#include "decode/value.h"

namespace velkor::decode {
namespace {

// Wire layout of the record area.
constexpr std::size_t first_record_offset = 19;  // after the fixed header
constexpr std::size_t trailer_bytes = 2;         // checksum and stop byte
constexpr std::size_t max_block_reads = 11;      // DIF or VIF and up to ten extensions

constexpr std::uint8_t extension_bit = 0x80;
constexpr std::uint8_t dif_more_records = 0x1F;
constexpr std::uint8_t dif_idle_filler = 0x2F;
constexpr std::uint8_t vif_plain_text = 0x7C;
constexpr std::uint8_t vif_plain_text_ext = 0xFC;

// Offsets are kept in 16 bits. No receive buffer comes near this; a longer view
// is walked only up to here, so every offset the walk stores still fits.
constexpr std::size_t max_walk_length = 0xF000;

// The telegram as the walk reads it: bytes past its end read as 0, which
// has the extension bit clear and so closes any block that runs off the end.
struct walk_view {
    telegram_view bytes;
    std::size_t length;

    bool has(std::size_t pos) const { return pos < length; }
    std::uint8_t at(std::size_t pos) const { return pos < length ? bytes[pos] : 0; }
};

// Reads from `first` until a byte without extension bit, `reads_left` reads at
// most; returns the offset after the block.
std::size_t block_end(const walk_view& t, std::size_t first, std::size_t reads_left)
{
    std::size_t pos = first;
    while (reads_left > 1 && (t.at(pos) & extension_bit)) {
        ++pos;
        --reads_left;
    }
    return pos + 1;
}

// Where the first read of a VIF block lands. For a plain-text VIF the block
// carries a length byte and the text (last character first); the read that
// would take the VIF takes the last text byte (VIF, [VIFEs,] length, text) or
// the first VIFE behind the text (0xFC, length, text, VIFEs) instead.
std::size_t vif_first_read(const walk_view& t, std::size_t vif)
{
    const std::uint8_t code = t.at(vif);
    if (code == vif_plain_text) {
        const std::size_t length_pos = vif + 1;
        return length_pos + t.at(length_pos);
    }
    if (code != vif_plain_text_ext)
        return vif;
    const std::uint8_t next = t.at(vif + 1);
    if (next < 0x10)
        return vif + 2 + next;
    // VIFEs first: the length byte is the first byte below 0x10 among the
    // eleven after the first VIFE.
    for (std::size_t i = 0; i < max_block_reads; ++i) {
        const std::size_t pos = vif + 2 + i;
        if (!t.has(pos))
            break;
        if (t.at(pos) < 0x10)
            return pos + t.at(pos);
    }
    return vif;  // no length byte: an ordinary VIF block
}

std::size_t lvar_data_length(std::uint8_t lvar)
{
    if (lvar <= 0xBF)
        return std::size_t{lvar} + 1;  // characters
    if (lvar >= 0xF0 && lvar <= 0xF4)
        return 1 + 4 * (std::size_t{lvar} - 0xEC);
    if (lvar == 0xF5)
        return 49;
    if (lvar == 0xF6)
        return 65;
    return std::size_t{lvar & 0x0Fu} + 1;
}

std::size_t data_length_at(const walk_view& t, std::uint8_t dif, std::size_t data_offset)
{
    switch (dif & 0x0F) {
    case 0x0D:
        return lvar_data_length(t.at(data_offset));
    case 0x0F:
        // Idle filler and the other special codes carry nothing; manufacturer
        // data (0x0F, 0x1F) runs to the checksum.
        if ((dif & 0x7F) > 0x1F || data_offset + trailer_bytes > t.length)
            return 0;
        return t.length - trailer_bytes - data_offset;
    default:
        return static_cast<std::size_t>(data_field_length(dif));
    }
}

std::span<const std::uint8_t> bytes_at(telegram_view telegram, std::size_t offset, std::size_t length)
{
    if (offset >= telegram.size())
        return {};
    return telegram.subspan(offset, std::min(length, telegram.size() - offset));
}

} // namespace

int data_field_length(std::uint8_t dif)
{
    // Bytes per data-field coding 0x0 .. 0xF; 0xD and 0xF are measured by the walk.
    static constexpr std::uint8_t lengths[16] = {0, 1, 2, 3, 4, 4, 6, 8, 0, 1, 2, 3, 4, 0, 6, 0};
    return lengths[dif & 0x0F];
}

int walk_records(telegram_view telegram, record_table& table)
{
    const walk_view t{telegram, std::min(telegram.size(), max_walk_length)};
    table.count = 0;
    int more_follows = 0;
    std::size_t offset = first_record_offset;

    // The end test follows each record, so even a header-only telegram gives
    // one entry (its DIF is the checksum). Every record takes at least two
    // bytes, so the walk always ends.
    do {
        // Idle fillers in front of a further record are padding, not a record:
        // taken as one, the filler would swallow the next DIF as its VIF. A run
        // that reaches the checksum stays a record and reads "telegram end".
        std::size_t next = offset;
        while (next + trailer_bytes < t.length && t.at(next) == dif_idle_filler)
            ++next;
        if (next + trailer_bytes < t.length)
            offset = next;

        record_span& span = table.entries[table.count];
        const std::uint8_t dif = t.at(offset);

        const std::size_t vif = block_end(t, offset, max_block_reads);
        const std::size_t data = block_end(t, vif_first_read(t, vif), max_block_reads);
        const std::size_t data_length = data_length_at(t, dif, data);

        span.dif_offset = static_cast<std::uint16_t>(offset);
        span.dif_length = static_cast<std::uint16_t>(vif - offset);
        span.vif_offset = static_cast<std::uint16_t>(vif);
        span.vif_length = static_cast<std::uint16_t>(data - vif);
        span.data_offset = static_cast<std::uint16_t>(data);
        span.data_length = static_cast<std::uint16_t>(data_length);
        ++table.count;

        if (dif == dif_more_records)
            more_follows = 1;
        offset = data + data_length;
    } while (offset + trailer_bytes < t.length && table.count < table.entries.size());

    return more_follows;
}

void render_record(int index, const record_table& table, telegram_view telegram, record_text& descriptor,
                   record_text& unit, record_text& value, record_text& extended)
{
    descriptor.clear();
    unit.clear();
    value.clear();
    extended.clear();
    const record_span* span = entry_at(index, table);
    if (span == nullptr)
        return;

    if (render_value(index, table, telegram, value) == 0) {
        // Special functions: idle filler, manufacturer data, more records.
        descriptor.assign("telegram end");
        unit.assign("-");
        extended.assign("-");
        return;
    }

    if (render_descriptor(index, table, telegram, descriptor) == 0) {
        // Manufacturer-specific VIF: its data and VIFEs mean nothing to us, so
        // they go out as they came.
        conv::hex_string(value, bytes_at(telegram, span->data_offset, span->data_length));
        unit.assign("-");
        extended.assign("manufacturer specific code = ");
        if (span->vif_length > 0)
            conv::append_hex(extended,
                             bytes_at(telegram, std::size_t{span->vif_offset} + 1, std::size_t{span->vif_length} - 1));
        return;
    }

    render_unit(index, table, telegram, unit);
    render_extension(index, table, telegram, extended, unit);

    if (trace::decode)
        dump_record(index, table, telegram);
}

void render_record_hex(int index, const record_table& table, telegram_view telegram, record_text& dif,
                       record_text& vif, record_text& data)
{
    dif.clear();
    vif.clear();
    data.clear();
    const record_span* span = entry_at(index, table);
    if (span == nullptr)
        return;
    conv::hex_string(dif, bytes_at(telegram, span->dif_offset, span->dif_length));
    conv::hex_string(vif, bytes_at(telegram, span->vif_offset, span->vif_length));
    conv::hex_string(data, bytes_at(telegram, span->data_offset, span->data_length));
}

void dump_record(int index, const record_table& table, telegram_view telegram)
{
    const record_span* span = entry_at(index, table);
    if (span == nullptr)
        return;
    record_text dif;
    record_text vif;
    record_text data;
    render_record_hex(index, table, telegram, dif, vif, data);
    std::printf("Datenrecord %d:\nDIF/E = %s\nVIF/E = %s\nDATA = %s\n", index + 1, dif.c_str(), vif.c_str(),
                data.c_str());
}

std::span<const std::uint8_t> span_bytes(telegram_view telegram, std::uint16_t offset, std::uint16_t length)
{
    return bytes_at(telegram, offset, length);
}

} // namespace velkor::decode
