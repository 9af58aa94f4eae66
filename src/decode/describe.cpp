#include "decode/describe.h"

// Placeholder until the description tables land.
namespace velkor::decode {
int render_descriptor(int, const record_table&, telegram_view, record_text& d)
{
    d.clear();
    return 1;
}
void vif_descriptor(std::uint8_t, record_text& out) { out.assign("Unknown"); }
void vif_fd_descriptor(std::uint8_t, record_text& out) { out.assign("Unknown"); }
void vif_fb_descriptor(std::uint8_t, record_text& out) { out.assign("Unknown"); }
int render_unit(int, const record_table&, telegram_view, record_text& u)
{
    u.clear();
    return 1;
}
void vif_unit(std::uint8_t, record_text& out) { out.clear(); }
void vif_fd_unit(std::uint8_t, record_text& out) { out.clear(); }
void vif_fb_unit(std::uint8_t, record_text& out) { out.clear(); }
void scaled_unit(std::uint8_t, int, int, const char*, record_text& out) { out.clear(); }
double power_of_ten(int) { return 1.0; }
void nonmetric_unit(std::uint8_t, record_text& out) { out.clear(); }
int render_extension(int, const record_table&, telegram_view, record_text& e, record_text&)
{
    e.clear();
    return 1;
}
void vife_text(std::uint8_t, record_text& out) { out.clear(); }
void vife_fc_text(std::uint8_t, record_text& out) { out.clear(); }
} // namespace velkor::decode
