#pragma once
// The value text of a record by its data-field coding.

#include "decode/records.h"

namespace velkor::decode {

// 0 for a special-function record (DIF coding 0x0F, text "-"), else 1.
int render_value(int index, const record_table& table, telegram_view telegram, record_text& value);

// Replaces the text by a date, time or type K/L text when the VIF calls for
// one; 1 when it wrote a text of its own.
int render_date_time(int index, const record_table& table, telegram_view telegram, record_text& value);

// n-byte little-endian unsigned (n up to 8) in decimal; 0 gives an empty text.
void uint_to_decimal(std::span<const std::uint8_t> bytes, record_text& out);

} // namespace velkor::decode
