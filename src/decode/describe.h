#pragma once
// Descriptor, unit and extension texts of a record from the VIF/VIFE tables.

#include <cstdint>

#include "decode/records.h"

namespace velkor::decode {

// Descriptors. render_descriptor gives 0 for a manufacturer-specific VIF
// (0x7F, 0xFF; text "manufacturer-specific"), else 1.
int render_descriptor(int index, const record_table& table, telegram_view telegram, record_text& descriptor);
void vif_descriptor(std::uint8_t code, record_text& out);
void vif_fd_descriptor(std::uint8_t code, record_text& out);
void vif_fb_descriptor(std::uint8_t code, record_text& out);

// Units with their power-of-ten factor. render_unit gives 0 for a
// special-function DIF (empty unit), else 1.
int render_unit(int index, const record_table& table, telegram_view telegram, record_text& unit);
void vif_unit(std::uint8_t code, record_text& out);
void vif_fd_unit(std::uint8_t code, record_text& out);
void vif_fb_unit(std::uint8_t code, record_text& out);
void scaled_unit(std::uint8_t code, int mask, int offset, const char* word, record_text& out);
double power_of_ten(int exponent);
void nonmetric_unit(std::uint8_t vif, record_text& out);

// Extension texts: function field, device/tariff/storage, one text per VIFE.
// Gives 0 for DIF 0x0F and 0x1F, else 1. May replace the unit (VIFE 0x3D).
int render_extension(int index, const record_table& table, telegram_view telegram, record_text& extended,
                     record_text& unit);
void vife_text(std::uint8_t code, record_text& out);
void vife_fc_text(std::uint8_t code, record_text& out);

} // namespace velkor::decode
