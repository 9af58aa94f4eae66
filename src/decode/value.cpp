#include "decode/value.h"

// Placeholder until the data-field coding lands.
namespace velkor::decode {
int render_value(int, const record_table&, telegram_view, record_text& value)
{
    value.clear();
    return 1;
}
int render_date_time(int, const record_table&, telegram_view, record_text&) { return 0; }
void uint_to_decimal(std::span<const std::uint8_t>, record_text& out) { out.clear(); }
} // namespace velkor::decode
