#include "link/search.h"

// Placeholder until the slave search lands.
namespace velkor::link {
int search_step(search_state&, int& start_flag, bus_context& bus, bus_line&, velkor::clock&,
                std::array<std::uint8_t, 8>& mask_out)
{
    start_flag = 0;
    mask_out.fill(0xFF);
    bus.clear_receive();
    return 0;
}
} // namespace velkor::link
